// The trend plot page: live curves of the run's channels, the stored recording once it ends.
#include "mainwidget.h"

#include "processvalues.h"
#include "trendplot.h"

QWidget *MainWidget::buildTrendPage()
{
    trendPlot = new TrendPlot;
    // The plot shrinks with the window; its axes and legend must not widen the window beyond
    // the size the host gives it.
    trendPlot->setMinimumSize(1, 1);
    return trendPlot;
}

void MainWidget::showCurvesOnTrend()
{
    if (trendPlot)
        trendPlot->setCurves(channelSeries);
}

void MainWidget::showScanOnTrend()
{
    if (trendPlot)
        trendPlot->refresh();
}

void MainWidget::showRecordingOnTrend()
{
    // Not while the window is going away: nobody would see it.
    if (trendPlot && curveStore && !closing)
        trendPlot->showRecording(curveStore);
}
