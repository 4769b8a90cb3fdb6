#include "trendstyle.h"

#include <QPainter>
#include <QPen>
#include <QPixmap>

#include <qwt_date.h>
#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_grid.h>
#include <qwt_scale_widget.h>

#include <cmath>

namespace {
const QColor textColour(0xD3, 0xD3, 0xD3);
const QColor gridColour(0x3A, 0x3A, 0x3A);
const QColor accentColour(39, 158, 212);
} // namespace

QColor TrendStyle::curveColour(int index)
{
    const double golden = 0.381966011250105;
    const double hue = std::fmod(0.58 + index * golden, 1.0);
    // Every third colour a little darker and every fifth less saturated: hue alone runs out of
    // clearly different steps long before ninety curves.
    const double value = (index % 3 == 2) ? 0.78 : 0.96;
    const double saturation = (index % 5 == 4) ? 0.45 : 0.72;
    return QColor::fromHsvF(hue, saturation, value);
}

QString TrendStyle::styleSheet()
{
    return QStringLiteral(
        "TrendPlot, QwtPlot { background-color: #2B2B2B; color: #D3D3D3; }"
        "QwtPlotCanvas { background-color: #171717; border: 1px solid #3C3C3C; }"
        "QwtScaleWidget { background-color: transparent; color: #D3D3D3; }"
        "QwtLegend, QwtLegend QScrollArea, QwtLegend QWidget { background-color: #2B2B2B; "
        "border: none; }"
        "QwtLegendLabel { color: #D3D3D3; }"
        // The window's own sheet gives every widget inside it a background.
        "QLabel { background-color: transparent; border: none; }"
        "QLabel#trendStatus { color: #9A9A9A; }");
}

void TrendStyle::applyTo(QwtPlot *plot)
{
    plot->setAutoFillBackground(true);
    plot->setCanvasBackground(QColor(0x17, 0x17, 0x17));

    auto *engine = new QwtDateScaleEngine(Qt::LocalTime);
    plot->setAxisScaleEngine(QwtPlot::xBottom, engine);
    auto *timeDraw = new QwtDateScaleDraw(Qt::LocalTime);
    timeDraw->setDateFormat(QwtDate::Millisecond, QStringLiteral("hh:mm:ss.zzz"));
    timeDraw->setDateFormat(QwtDate::Second, QStringLiteral("hh:mm:ss"));
    timeDraw->setDateFormat(QwtDate::Minute, QStringLiteral("hh:mm\nMM-dd"));
    timeDraw->setDateFormat(QwtDate::Hour, QStringLiteral("hh:mm\nMM-dd"));
    timeDraw->setDateFormat(QwtDate::Day, QStringLiteral("MM-dd\nyyyy"));
    timeDraw->setDateFormat(QwtDate::Week, QStringLiteral("MM-dd\nyyyy"));
    timeDraw->setDateFormat(QwtDate::Month, QStringLiteral("yyyy-MM"));
    timeDraw->setDateFormat(QwtDate::Year, QStringLiteral("yyyy"));
    plot->setAxisScaleDraw(QwtPlot::xBottom, timeDraw);
    plot->setAxisMaxMinor(QwtPlot::xBottom, 4);

    for (const int axis : {int(QwtPlot::xBottom), int(QwtPlot::yLeft)}) {
        QwtScaleWidget *scale = plot->axisWidget(axis);
        QPalette palette = scale->palette();
        palette.setColor(QPalette::WindowText, textColour);
        palette.setColor(QPalette::Text, textColour);
        scale->setPalette(palette);
        QFont font = scale->font();
        font.setPointSize(9);
        scale->setFont(font);
    }

    auto *grid = new QwtPlotGrid;
    grid->setMajorPen(QPen(gridColour, 0, Qt::DotLine));
    grid->enableXMin(false);
    grid->enableYMin(false);
    grid->attach(plot);
}

void TrendStyle::applyToLegend(QwtLegend *legend)
{
    // The entry of a shown curve is drawn as a pressed button; these are the colours of its
    // frame.
    QPalette palette = legend->palette();
    palette.setColor(QPalette::Light, QColor(0x4A, 0x4A, 0x4A));
    palette.setColor(QPalette::Midlight, QColor(0x3C, 0x3C, 0x3C));
    palette.setColor(QPalette::Dark, QColor(0x1E, 0x1E, 0x1E));
    palette.setColor(QPalette::Mid, QColor(0x2B, 0x2B, 0x2B));
    palette.setColor(QPalette::Shadow, QColor(0x12, 0x12, 0x12));
    legend->setPalette(palette);
    QFont font = legend->font();
    font.setPointSize(9);
    legend->setFont(font);
}

QIcon TrendStyle::tabIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(textColour, 2));
    painter.drawLine(4, 4, 4, 28);
    painter.drawLine(4, 28, 29, 28);
    painter.setPen(QPen(accentColour, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF trend[] = {{6, 22}, {11, 15}, {15, 19}, {20, 9}, {24, 13}, {29, 6}};
    painter.drawPolyline(trend, int(sizeof(trend) / sizeof(trend[0])));
    painter.end();
    return QIcon(pixmap);
}
