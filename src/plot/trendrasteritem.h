// The plot item that draws every visible trend curve at once through a CurveRaster and puts
// the result on the canvas in one image; the curves themselves draw nothing.
#pragma once

#include "curveraster.h"

#include <qwt_plot_item.h>

class TrendRasterItem : public QwtPlotItem
{
public:
    static constexpr int rttiValue = QwtPlotItem::Rtti_PlotUserItem + 17;

    TrendRasterItem();
    int rtti() const override { return rttiValue; }
    void draw(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
              const QRectF &canvasRect) const override;

private:
    mutable CurveRaster raster;
};
