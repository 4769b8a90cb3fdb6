#include "trendrasteritem.h"

#include "trendcurve.h"

#include <QPainter>

#include <qwt_plot.h>

#include <cmath>

TrendRasterItem::TrendRasterItem()
    : QwtPlotItem(QwtText(QStringLiteral("curves")))
{
    setItemAttribute(QwtPlotItem::Legend, false);
    setItemAttribute(QwtPlotItem::AutoScale, false);
    // Where the curves would be: above the grid.
    setZ(20.0);
}

void TrendRasterItem::draw(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                           const QRectF &canvasRect) const
{
    if (!plot())
        return;
    const QSize size(int(std::ceil(canvasRect.width())), int(std::ceil(canvasRect.height())));
    if (size.isEmpty())
        return;
    raster.begin(size);
    for (QwtPlotItem *item : plot()->itemList(QwtPlotItem::Rtti_PlotCurve)) {
        auto *curve = dynamic_cast<TrendCurve *>(item);
        if (!curve || !curve->isVisible() || !curve->isDrawnByRaster() || !curve->data())
            continue;
        raster.drawCurve(*curve->data(), xMap, yMap, canvasRect.topLeft(),
                         curve->pen().color().rgba());
    }
    painter->drawImage(canvasRect.topLeft(), raster.image());
}
