// What the plot draws of a channel while it is being logged: the channel's window of recent
// samples, reduced per pixel column to the visible span. The series is shared with the window,
// so it outlives a new run's replacement for as long as the plot still shows it.
#ifndef DATALOGGER_LIVECURVEDATA_H
#define DATALOGGER_LIVECURVEDATA_H

#include "columnreducer.h"

#include <QPointF>
#include <QRectF>
#include <QVector>

#include <qwt_series_data.h>

#include <memory>

class CurveSeriesData;

class LiveCurveData : public QwtSeriesData<QPointF>
{
public:
    explicit LiveCurveData(std::shared_ptr<CurveSeriesData> series);

    const std::shared_ptr<CurveSeriesData> &series() const { return source; }
    // Time of the oldest and newest sample in the window; false when it is empty.
    bool timeRange(qint64 *oldest, qint64 *newest) const;
    // Reduces the window's samples in [start, end] to the given number of columns.
    void update(qint64 start, qint64 end, int columns);

    size_t size() const override;
    QPointF sample(size_t i) const override;
    QRectF boundingRect() const override;

private:
    std::shared_ptr<CurveSeriesData> source;
    ColumnReducer reducer;
    QVector<QPointF> points;
    QRectF bounds;
};

#endif
