// One channel's curve on the trend plot: drawn as a thin line by the plot's raster item, shown
// in the legend as a bold colour swatch so that ninety entries stay readable.
#pragma once

#include <qwt_plot_curve.h>

class TrendCurve : public QwtPlotCurve
{
public:
    TrendCurve(const QString &title, const QColor &colour);

    // True (the default): the raster item draws this curve and the curve itself draws nothing.
    // False: Qwt's own line drawing, kept for comparing the two.
    void setDrawnByRaster(bool on) { drawnByRaster = on; }
    bool isDrawnByRaster() const { return drawnByRaster; }

    QwtGraphic legendIcon(int index, const QSizeF &size) const override;

protected:
    void drawSeries(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                    const QRectF &canvasRect, int from, int to) const override;

private:
    bool drawnByRaster = true;
};
