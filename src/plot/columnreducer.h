// Min/max per pixel column of one curve over a time span: for every column its lowest and its
// highest sample, so that a line drawn through them covers the same pixels as the line through
// all samples, spikes included. Samples may come in any order. No widgets here.
#pragma once

#include <QPointF>
#include <QVector>
#include <QtGlobal>

#include <vector>

// Values a plot can show: measured values (finite and below the overload value).
bool isPlottableValue(double value);

// Appends a column's lowest and highest sample in time order (once when they are one sample).
inline void appendColumnPoints(QVector<QPointF> &out, qint64 minTime, double minValue,
                               qint64 maxTime, double maxValue)
{
    if (minTime == maxTime) {
        out.append(QPointF(double(minTime), minValue));
    } else if (minTime < maxTime) {
        out.append(QPointF(double(minTime), minValue));
        out.append(QPointF(double(maxTime), maxValue));
    } else {
        out.append(QPointF(double(maxTime), maxValue));
        out.append(QPointF(double(minTime), minValue));
    }
}

class ColumnReducer
{
public:
    static constexpr int maxColumns = 16384;

    ColumnReducer() = default;
    // Columns split [start, end] (both inclusive, ms) evenly; clamped to 1..maxColumns.
    ColumnReducer(qint64 start, qint64 end, int columns);
    // Starts over on a new span, keeping the memory.
    void reset(qint64 start, qint64 end, int columns);

    // Samples outside the span and values that are not plottable are left out.
    void add(qint64 time, double value)
    {
        if (time < spanStart || time > spanEnd || !isPlottableValue(value))
            return;
        addInSpan(time, value);
    }

    qint64 start() const { return spanStart; }
    qint64 end() const { return spanEnd; }
    int columnCount() const { return columns; }
    // Samples taken in; extremes of their values (meaningless while sampleCount() is 0).
    qint64 sampleCount() const { return samples; }
    double minimum() const { return lowest; }
    double maximum() const { return highest; }
    // Column of a time inside the span.
    int columnOf(qint64 time) const;

    // Per column the lowest and the highest sample in time order (one when they are the same
    // sample); x is the time in ms.
    QVector<QPointF> points() const;

private:
    struct Column
    {
        qint64 count = 0;
        qint64 minTime = 0, maxTime = 0;
        double minValue = 0, maxValue = 0;
    };

    void addInSpan(qint64 time, double value);

    qint64 spanStart = 0;
    qint64 spanEnd = -1; // an empty span until reset
    quint64 spanLength = 0;
    int columns = 0;
    std::vector<Column> cells;
    qint64 samples = 0;
    double lowest = 0;
    double highest = 0;
};
