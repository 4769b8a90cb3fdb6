#include "livecurvedata.h"

#include "curveseriesdata.h"

#include <cmath>

LiveCurveData::LiveCurveData(std::shared_ptr<CurveSeriesData> series)
    : source(std::move(series))
    , bounds(1.0, 1.0, -2.0, -2.0)
{
}

bool LiveCurveData::timeRange(qint64 *oldest, qint64 *newest) const
{
    if (!source || source->size() == 0)
        return false;
    // Scans arrive in time order, so the window's ends are its oldest and newest samples.
    const double first = source->sample(0).x();
    const double last = source->sample(source->size() - 1).x();
    if (!std::isfinite(first) || !std::isfinite(last))
        return false;
    *oldest = qint64(qMin(first, last));
    *newest = qint64(qMax(first, last));
    return true;
}

void LiveCurveData::update(qint64 start, qint64 end, int columns)
{
    reducer.reset(start, end, columns);
    if (source) {
        const size_t n = source->size();
        for (size_t i = 0; i < n; ++i) {
            const QPointF p = source->sample(i);
            if (std::isfinite(p.x()))
                reducer.add(qint64(p.x()), p.y());
        }
    }
    points = reducer.points();
    if (reducer.sampleCount() == 0) {
        bounds = QRectF(1.0, 1.0, -2.0, -2.0);
        return;
    }
    bounds = QRectF(QPointF(points.first().x(), reducer.minimum()),
                    QPointF(points.last().x(), reducer.maximum()));
}

size_t LiveCurveData::size() const
{
    return size_t(points.size());
}

QPointF LiveCurveData::sample(size_t i) const
{
    return points.at(int(i));
}

QRectF LiveCurveData::boundingRect() const
{
    return bounds;
}
