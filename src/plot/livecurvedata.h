// What the plot draws of a channel while it is being logged: the channel's window of recent
// samples, reduced to columns about one pixel wide over the visible span. The columns are
// aligned to whole multiples of their width in time, so from one scan to the next only the
// samples added to or dropped from the window are looked at. The series is shared with the
// window, so it outlives a new run's replacement for as long as the plot still shows it.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QVector>

#include <qwt_series_data.h>

#include <deque>
#include <memory>

class CurveSeriesData;

class LiveCurveData : public QwtArraySeriesData<QPointF>
{
public:
    explicit LiveCurveData(std::shared_ptr<CurveSeriesData> series);

    const std::shared_ptr<CurveSeriesData> &series() const { return source; }
    // Time of the oldest and newest sample in the window; false when it is empty.
    bool timeRange(qint64 *oldest, qint64 *newest) const;
    // Reduces the window's samples in [start, end] to at most about `columns` columns.
    void update(qint64 start, qint64 end, int columns);
    // Width of a column in ms after the last update; 0 before.
    qint64 columnWidth() const { return width; }
    // Width for a span over a number of pixel columns: the smallest step of a ladder of
    // quarter powers of two at least span / columns wide (1 ms at least).
    static qint64 columnWidthFor(qint64 spanMs, int columns);

    QRectF boundingRect() const override;

private:
    struct Column
    {
        qint64 index; // start time / width
        qint64 minTime, maxTime;
        double minValue, maxValue;
    };

    void rebuild();
    // The number-th sample the series has taken (counting from 0).
    void take(qint64 number, const QPointF &sample);
    void add(qint64 time, double value);
    // The window has dropped its oldest samples: so do the columns.
    void forgetDropped();

    std::shared_ptr<CurveSeriesData> source;
    std::deque<Column> cells; // columns holding samples, ascending
    qint64 width = 0;
    qint64 firstIndex = 0; // columns before this one are not kept
    qint64 seenCount = 0;  // samples the series had taken at the last update
    qint64 seenDropped = 0;
    qint64 newestTime = 0;
    // While fewer samples than this have been dropped, the window is not in time order.
    qint64 disorderedUntil = 0;
    QRectF bounds;
};
