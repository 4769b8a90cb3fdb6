// The trend plot page: one curve per logged channel over local clock time, with a legend whose
// entries hide and show their curve, wheel and rectangle zoom, panning and a reset of the view.
// While logging it draws each channel's window of recent samples and follows the newest; once
// logging has ended it draws the whole stored recording, reduced to the plot's width on a
// thread of its own, and reads a zoomed span again at full detail.
#pragma once

#include "trendreduction.h"

#include <QMap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <qwt_interval.h>

#include <memory>

class CurveDataDB;
class CurveSeriesData;
class LiveCurveData;
class QLabel;
class QPushButton;
class QwtLegend;
class QwtPlot;
class QwtPlotCurve;
class QwtPlotPanner;
class RecordingReadBack;
class TrendPicker;

class TrendPlot : public QWidget
{
    Q_OBJECT
public:
    enum class Mode
    {
        Empty,     // no run yet
        Live,      // drawing the channels' recent samples
        Recording, // drawing the stored recording
    };

    explicit TrendPlot(QWidget *parent = nullptr);
    ~TrendPlot() override;

    // A new run: one curve per series (channel number -> series), drawn live from now on.
    void setCurves(const QMap<int, std::shared_ptr<CurveSeriesData>> &series);
    // One scan has arrived: follows the newest samples and repaints once (later, if hidden).
    void refresh();
    // Logging has ended: reads the whole recording of the curves back from the store.
    void showRecording(CurveDataDB *store);
    // Back to following the newest samples, or to the whole recording; values scaled to fit.
    void resetView();

    // Zooms the time axis by factor (below 1: in) around the time at; what the wheel does.
    void zoomTime(double factor, double at);
    // Zooms the value axis by factor around the value at; the wheel with Shift held.
    void zoomValues(double factor, double at);
    // Shows the rectangle (times on x, values on y); what a dragged rectangle does.
    void zoomToRect(const QRectF &rect);
    // Shifts the view by a share of its width and height; what the panner does by dragging.
    void panBy(double timeShare, double valueShare);
    // Shows a curve or hides it, as its legend entry does.
    void setChannelVisible(int channel, bool visible);

    Mode mode() const { return currentMode; }
    // The view follows the data (newest samples, or the whole recording): not zoomed or panned.
    bool isFollowing() const { return !userView; }
    bool isReading() const;
    QwtPlot *plot() const { return plotWidget; }
    QwtLegend *legend() const { return legendWidget; }
    QwtPlotCurve *curveOf(int channel) const { return curves.value(channel); }
    QList<int> channels() const { return curves.keys(); }
    QwtInterval timeSpan() const;
    QwtInterval valueSpan() const;
    // The span of the stored recording once it has been read; invalid before.
    QwtInterval recordingSpan() const;
    // The last reduction drawn from the store (the whole recording or a zoomed span).
    const TrendReduction &shownReduction() const { return shown; }
    // Pixel columns the curves are reduced to: the canvas width.
    int columns() const;

signals:
    // The whole recording has been read back and drawn.
    void recordingShown();
    // A zoomed span has been read again and drawn.
    void detailShown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void clearCurves();
    QwtPlotCurve *addCurve(int channel, const QString &title);
    void updateLive();
    void requestWhole();
    void requestDetail();
    void onReduced(const TrendReduction &result);
    void showReduction(const TrendReduction &result);
    void userChangedView();
    void onLegendChecked(const QVariant &itemInfo, bool on, int index);
    void markLegend(QwtPlotCurve *curve, bool visible);
    void setTimeAxis(qint64 start, qint64 end);
    void replotOrDefer();
    void setStatus(const QString &text);

    QwtPlot *plotWidget = nullptr;
    QwtLegend *legendWidget = nullptr;
    TrendPicker *picker = nullptr;
    QwtPlotPanner *panner = nullptr;
    QPushButton *resetButton = nullptr;
    QLabel *statusLabel = nullptr;

    Mode currentMode = Mode::Empty;
    bool userView = false;
    bool dirty = false;
    QMap<int, QwtPlotCurve *> curves;
    QMap<int, LiveCurveData *> live; // owned by their curves
    QMap<int, QString> curveNames;   // channel -> curve name in the store

    QPointer<RecordingReadBack> readBack;
    TrendReduction overview;
    bool haveOverview = false;
    TrendReduction shown;
    QTimer detailTimer;
    int shownColumns = 0;
};
