#include "trendcurve.h"

#include <QPainter>
#include <QPen>

#include <qwt_graphic.h>

TrendCurve::TrendCurve(const QString &title, const QColor &colour)
    : QwtPlotCurve(title)
{
    // A cosmetic one-pixel pen without antialiasing: the cheapest line the painter draws.
    setPen(colour, 0.0);
    setRenderHint(QwtPlotItem::RenderAntialiased, false);
    setLegendIconSize(QSize(18, 10));
}

QwtGraphic TrendCurve::legendIcon(int index, const QSizeF &size) const
{
    Q_UNUSED(index);
    QwtGraphic icon;
    icon.setDefaultSize(size);
    icon.setRenderHint(QwtGraphic::RenderPensUnscaled, true);
    QPainter painter(&icon);
    const double y = size.height() / 2.0;
    painter.setPen(QPen(pen().color(), 3.0, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(1.0, y), QPointF(size.width() - 1.0, y));
    return icon;
}
