#include "trendpicker.h"

#include <QColor>
#include <QDateTime>
#include <QPen>

#include <qwt_picker_machine.h>
#include <qwt_plot.h>
#include <qwt_text.h>

TrendPicker::TrendPicker(QWidget *canvas)
    : QwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::RectRubberBand,
                    QwtPicker::AlwaysOn, canvas)
{
    setStateMachine(new QwtPickerDragRectMachine);
    setRubberBandPen(QPen(QColor(39, 158, 212), 1, Qt::DashLine));
    setTrackerPen(QPen(QColor(0xD3, 0xD3, 0xD3)));
}

QwtText TrendPicker::trackerTextF(const QPointF &position) const
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(qint64(position.x()));
    QwtText text(time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QLatin1Char('\n') +
                 QString::number(position.y(), 'g', 6));
    text.setColor(QColor(0xD3, 0xD3, 0xD3));
    text.setBackgroundBrush(QColor(0x17, 0x17, 0x17, 200));
    return text;
}
