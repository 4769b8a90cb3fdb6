#include "livecurvedata.h"

#include "columnreducer.h"
#include "curveseriesdata.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// A column width is kept while the wanted width stays within this band around it, so that a
// span wobbling at a step of the ladder does not rebuild the columns at every scan.
constexpr double keepAbove = 1.02;
constexpr double keepBelow = 1.25;

} // namespace

LiveCurveData::LiveCurveData(std::shared_ptr<CurveSeriesData> series)
    : source(std::move(series))
    , bounds(1.0, 1.0, -2.0, -2.0)
{
}

qint64 LiveCurveData::columnWidthFor(qint64 spanMs, int columns)
{
    const double raw = double(std::max<qint64>(spanMs, 1)) / std::max(columns, 1);
    if (raw <= 1.0)
        return 1;
    // The smallest rung at least raw wide, rungs rounded to whole ms as they are used.
    int step = int(std::floor(4.0 * std::log2(raw))) - 1;
    while (double(std::llround(std::exp2(step / 4.0))) < raw)
        ++step;
    return std::max<qint64>(1, std::llround(std::exp2(step / 4.0)));
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
    if (end < start)
        std::swap(start, end);
    const qint64 span =
        (end - start < std::numeric_limits<qint64>::max()) ? end - start + 1 : end - start;
    const double wanted = double(std::max<qint64>(span, 1)) / std::max(columns, 1);
    qint64 newWidth = width;
    if (width <= 0 || wanted > width * keepAbove || wanted * keepBelow < width)
        newWidth = columnWidthFor(span, columns);
    const qint64 first = floorDiv(start, newWidth);
    const qint64 last = floorDiv(end, newWidth);

    const qint64 count = source ? source->count() : 0;
    const qint64 held = source ? qint64(source->size()) : 0;
    const qint64 dropped = count - held;
    const qint64 added = count - seenCount;
    // Anything that cannot be followed step by step starts over: another width, columns
    // wanted before the ones kept, or more new samples than the window still holds.
    const bool restart = newWidth != width || first < firstIndex || added < 0 || added > held ||
                         dropped < seenDropped;
    width = newWidth;
    firstIndex = first;
    // Dropping the oldest samples column by column needs a window in time order; one that is
    // not (the clock went back) is summed up again until the sample out of order has left it.
    if (restart || (dropped > seenDropped && dropped < disorderedUntil)) {
        rebuild();
    } else {
        if (dropped > seenDropped)
            forgetDropped();
        while (!cells.empty() && cells.front().index < firstIndex)
            cells.pop_front();
        for (qint64 i = held - added; i < held; ++i)
            take(dropped + i, source->sample(size_t(i)));
    }
    seenCount = count;
    seenDropped = dropped;

    d_samples.clear();
    double low = 0;
    double high = 0;
    for (const Column &c : cells) {
        if (c.index > last)
            break;
        low = d_samples.isEmpty() ? c.minValue : std::min(low, c.minValue);
        high = d_samples.isEmpty() ? c.maxValue : std::max(high, c.maxValue);
        appendColumnPoints(d_samples, c.minTime, c.minValue, c.maxTime, c.maxValue);
    }
    if (d_samples.isEmpty())
        bounds = QRectF(1.0, 1.0, -2.0, -2.0);
    else
        bounds = QRectF(QPointF(d_samples.first().x(), low), QPointF(d_samples.last().x(), high));
}

void LiveCurveData::rebuild()
{
    cells.clear();
    disorderedUntil = 0;
    newestTime = std::numeric_limits<qint64>::min();
    if (!source)
        return;
    const qint64 held = qint64(source->size());
    const qint64 dropped = qint64(source->count()) - held;
    for (qint64 i = 0; i < held; ++i)
        take(dropped + i, source->sample(size_t(i)));
}

void LiveCurveData::take(qint64 number, const QPointF &p)
{
    if (!std::isfinite(p.x()))
        return;
    const qint64 time = qint64(p.x());
    if (time < newestTime)
        disorderedUntil = number + 1;
    else
        newestTime = time;
    add(time, p.y());
}

void LiveCurveData::add(qint64 time, double value)
{
    if (!isPlottableValue(value))
        return;
    const qint64 index = floorDiv(time, width);
    if (index < firstIndex)
        return;
    auto merge = [time, value](Column &c) {
        if (value < c.minValue || (value == c.minValue && time < c.minTime)) {
            c.minValue = value;
            c.minTime = time;
        }
        if (value > c.maxValue || (value == c.maxValue && time < c.maxTime)) {
            c.maxValue = value;
            c.maxTime = time;
        }
    };
    const Column fresh{index, time, time, value, value};
    if (cells.empty() || index > cells.back().index) {
        cells.push_back(fresh);
        return;
    }
    if (index == cells.back().index) {
        merge(cells.back());
        return;
    }
    // A sample older than the newest column: the clock went back. Rare, so a search will do.
    auto at = std::lower_bound(cells.begin(), cells.end(), index,
                               [](const Column &c, qint64 i) { return c.index < i; });
    if (at != cells.end() && at->index == index)
        merge(*at);
    else
        cells.insert(at, fresh);
}

void LiveCurveData::forgetDropped()
{
    qint64 oldest = 0;
    qint64 newest = 0;
    if (!timeRange(&oldest, &newest)) {
        cells.clear();
        return;
    }
    const qint64 index = floorDiv(oldest, width);
    while (!cells.empty() && cells.front().index < index)
        cells.pop_front();
    if (cells.empty() || cells.front().index != index)
        return;
    // The column of the oldest sample may still hold samples the window has dropped: it is
    // summed up again from the samples that are left in it.
    cells.pop_front();
    std::deque<Column> rest;
    rest.swap(cells);
    const size_t held = source->size();
    for (size_t i = 0; i < held; ++i) {
        const QPointF p = source->sample(i);
        if (!std::isfinite(p.x()))
            continue;
        if (floorDiv(qint64(p.x()), width) != index)
            break;
        add(qint64(p.x()), p.y());
    }
    for (const Column &c : rest)
        cells.push_back(c);
}

QRectF LiveCurveData::boundingRect() const
{
    return bounds;
}
