// One channel's curve on the trend plot: a thin line on the canvas, a bold colour swatch in
// the legend so that ninety entries stay readable.
#ifndef DATALOGGER_TRENDCURVE_H
#define DATALOGGER_TRENDCURVE_H

#include <qwt_plot_curve.h>

class TrendCurve : public QwtPlotCurve
{
public:
    TrendCurve(const QString &title, const QColor &colour);

    QwtGraphic legendIcon(int index, const QSizeF &size) const override;
};

#endif
