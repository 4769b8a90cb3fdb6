#include "columnreducer.h"

#include "readingvalue.h"

#include <algorithm>
#include <cmath>
#include <limits>

bool isPlottableValue(double value)
{
    // Drawn, the overload value would squash every real curve into a flat line.
    return ReadingValue::isMeasured(value);
}

ColumnReducer::ColumnReducer(qint64 start, qint64 end, int columns)
{
    reset(start, end, columns);
}

void ColumnReducer::reset(qint64 start, qint64 end, int columnCount)
{
    spanStart = start;
    spanEnd = std::max(start, end);
    // The span's length in ms, inclusive, in unsigned arithmetic: only a span over every
    // possible time wraps to 0, and that one is given the largest length there is.
    const quint64 length = quint64(spanEnd) - quint64(spanStart) + 1;
    spanLength = length == 0 ? std::numeric_limits<quint64>::max() : length;
    columns = std::clamp(columnCount, 1, maxColumns);
    cells.assign(size_t(columns), Column());
    samples = 0;
    lowest = 0;
    highest = 0;
}

int ColumnReducer::columnOf(qint64 time) const
{
    const quint64 offset = quint64(time) - quint64(spanStart);
    // offset * columns fits 64 bits while the offset is below 2^48 ms (about 8900 years);
    // beyond that floating point is exact enough for a pixel column.
    if (offset < (quint64(1) << 48))
        return int(std::min<quint64>(offset * quint64(columns) / spanLength, quint64(columns - 1)));
    const double share = double(offset) / double(spanLength);
    return std::clamp(int(share * columns), 0, columns - 1);
}

void ColumnReducer::addInSpan(qint64 time, double value)
{
    Column &c = cells[size_t(columnOf(time))];
    if (c.count == 0) {
        c.minTime = c.maxTime = time;
        c.minValue = c.maxValue = value;
    } else {
        // Of equal values the earliest stands for them, whatever order they came in.
        if (value < c.minValue || (value == c.minValue && time < c.minTime)) {
            c.minValue = value;
            c.minTime = time;
        }
        if (value > c.maxValue || (value == c.maxValue && time < c.maxTime)) {
            c.maxValue = value;
            c.maxTime = time;
        }
    }
    ++c.count;
    if (samples == 0) {
        lowest = highest = value;
    } else {
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    }
    ++samples;
}

QVector<QPointF> ColumnReducer::points() const
{
    QVector<QPointF> out;
    out.reserve(int(std::min<qint64>(samples, qint64(columns) * 2)));
    for (const Column &c : cells) {
        if (c.count == 0)
            continue;
        // A column is one pixel wide: its lowest and highest sample, in time order, paint the
        // same pixels as all of its samples, and the lines to the neighbouring columns stay
        // within the neighbours' own ranges.
        appendColumnPoints(out, c.minTime, c.minValue, c.maxTime, c.maxValue);
    }
    return out;
}
