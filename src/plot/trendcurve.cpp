#include "trendcurve.h"

#include <QPainter>
#include <QPen>

#include <qwt_graphic.h>

TrendCurve::TrendCurve(const QString &title, const QColor &colour)
    : QwtPlotCurve(title)
{
    // One pixel wide, no antialiasing: how the raster item draws it, and the cheapest line for
    // the painter when Qwt draws it.
    setPen(colour, 0.0);
    setRenderHint(QwtPlotItem::RenderAntialiased, false);
    setLegendIconSize(QSize(18, 10));
}

void TrendCurve::drawSeries(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                            const QRectF &canvasRect, int from, int to) const
{
    if (!drawnByRaster)
        QwtPlotCurve::drawSeries(painter, xMap, yMap, canvasRect, from, to);
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
