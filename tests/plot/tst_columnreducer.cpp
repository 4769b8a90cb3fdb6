// The min/max-per-column reduction on its own: columns at the span's edges, samples in any
// order, spikes, values a plot cannot show, and spans from one millisecond to centuries.
#include "columnreducer.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace {

struct Sample
{
    qint64 time;
    double value;
};

// Per column, from all samples: count, min and max, independent of the reducer.
struct Truth
{
    int count = 0;
    double low = 0;
    double high = 0;
};

QVector<Truth> truthOf(const QVector<Sample> &samples, qint64 start, qint64 end, int columns)
{
    QVector<Truth> truth(columns);
    const long double length = (long double)(end) - (long double)(start) + 1;
    for (const Sample &s : samples) {
        if (s.time < start || s.time > end || !std::isfinite(s.value) ||
            std::fabs(s.value) >= 9.9e37)
            continue;
        const int column = std::min(
            columns - 1, int(((long double)(s.time) - (long double)(start)) * columns / length));
        Truth &t = truth[column];
        t.low = t.count ? std::min(t.low, s.value) : s.value;
        t.high = t.count ? std::max(t.high, s.value) : s.value;
        ++t.count;
    }
    return truth;
}

} // namespace

class TestColumnReducer : public QObject
{
    Q_OBJECT
private slots:
    void plottableValues_data();
    void plottableValues();
    void columnsOfTimes_data();
    void columnsOfTimes();
    void emptySpanGivesNothing();
    void reducedColumnsKeepEveryExtreme_data();
    void reducedColumnsKeepEveryExtreme();
    void fewSamplesComeBackUnchanged();
    void orderOfSamplesDoesNotMatter();
    void spikesStayVisible();
    void unplottableValuesAreLeftOut();
    void equalValuesAreDrawnOnce();
    void resetStartsOver();
};

void TestColumnReducer::plottableValues_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("plottable");
    QTest::newRow("zero") << 0.0 << true;
    QTest::newRow("negative") << -123.5 << true;
    QTest::newRow("largest below marker") << 9.89e37 << true;
    QTest::newRow("overload marker") << 9.9e37 << false;
    QTest::newRow("negative marker") << -9.9e37 << false;
    QTest::newRow("above marker") << 1e300 << false;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << false;
    QTest::newRow("inf") << std::numeric_limits<double>::infinity() << false;
    QTest::newRow("-inf") << -std::numeric_limits<double>::infinity() << false;
    QTest::newRow("denormal") << std::numeric_limits<double>::denorm_min() << true;
}

void TestColumnReducer::plottableValues()
{
    QFETCH(double, value);
    QFETCH(bool, plottable);
    QCOMPARE(isPlottableValue(value), plottable);
}

void TestColumnReducer::columnsOfTimes_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<int>("columns");
    QTest::addColumn<qint64>("time");
    QTest::addColumn<int>("column");
    const qint64 day = 86400000;
    const qint64 t0 = 1705276800000; // a midnight in January 2024 (UTC)
    QTest::newRow("first ms") << t0 << t0 + day - 1 << 1000 << t0 << 0;
    QTest::newRow("last ms") << t0 << t0 + day - 1 << 1000 << t0 + day - 1 << 999;
    QTest::newRow("column boundary") << t0 << t0 + day - 1 << 1000 << t0 + 86400 << 1;
    QTest::newRow("just before boundary") << t0 << t0 + day - 1 << 1000 << t0 + 86399 << 0;
    QTest::newRow("more columns than ms") << t0 << t0 + 9 << 1000 << t0 + 9 << 900;
    QTest::newRow("one ms span") << t0 << t0 << 1000 << t0 << 0;
    QTest::newRow("one column") << t0 << t0 + day << 1 << t0 + day << 0;
    QTest::newRow("zero columns clamp to one") << t0 << t0 + day << 0 << t0 + day << 0;
    QTest::newRow("too many columns clamp")
        << t0 << t0 + day << 1000000 << t0 + day << ColumnReducer::maxColumns - 1;
    QTest::newRow("before the epoch") << -day << qint64(-1) << 24 << -day / 2 << 12;
    QTest::newRow("whole time range") << std::numeric_limits<qint64>::min()
                                      << std::numeric_limits<qint64>::max() << 4 << qint64(0) << 2;
    QTest::newRow("century") << t0 << t0 + 36500 * day << 16384 << t0 + 36500 * day << 16383;
}

void TestColumnReducer::columnsOfTimes()
{
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(int, columns);
    QFETCH(qint64, time);
    QFETCH(int, column);
    ColumnReducer reducer(start, end, columns);
    QCOMPARE(reducer.columnOf(time), column);
    reducer.add(time, 1.5);
    QCOMPARE(reducer.sampleCount(), qint64(1));
    QCOMPARE(reducer.points(), QVector<QPointF>({QPointF(double(time), 1.5)}));
}

void TestColumnReducer::emptySpanGivesNothing()
{
    ColumnReducer unset;
    unset.add(0, 1.0);
    QCOMPARE(unset.sampleCount(), qint64(0));
    QVERIFY(unset.points().isEmpty());

    ColumnReducer reducer(1000, 2000, 10);
    reducer.add(999, 1.0);
    reducer.add(2001, 1.0);
    QCOMPARE(reducer.sampleCount(), qint64(0));
    QVERIFY(reducer.points().isEmpty());
    // An end before the start is a span of one millisecond at the start.
    ColumnReducer backwards(5000, 10, 10);
    QCOMPARE(backwards.end(), qint64(5000));
    backwards.add(5000, 2.0);
    backwards.add(10, 3.0);
    QCOMPARE(backwards.sampleCount(), qint64(1));
}

void TestColumnReducer::reducedColumnsKeepEveryExtreme_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("stepMs");
    QTest::newRow("day at 1 Hz into 1000") << 86400 << 1000 << 1000;
    QTest::newRow("uneven columns") << 10007 << 333 << 1000;
    QTest::newRow("fewer samples than columns") << 300 << 1000 << 1000;
    QTest::newRow("dense ms") << 50000 << 7 << 1;
}

void TestColumnReducer::reducedColumnsKeepEveryExtreme()
{
    QFETCH(int, samples);
    QFETCH(int, columns);
    QFETCH(int, stepMs);
    std::mt19937 random(samples);
    std::normal_distribution<double> noise(0.0, 1.0);
    QVector<Sample> data;
    const qint64 start = 1705276800000;
    double walk = 0;
    for (int i = 0; i < samples; ++i) {
        walk += noise(random);
        data.append({start + qint64(i) * stepMs, walk});
    }
    const qint64 end = start + qint64(samples - 1) * stepMs;
    ColumnReducer reducer(start, end, columns);
    for (const Sample &s : data)
        reducer.add(s.time, s.value);

    const QVector<Truth> truth = truthOf(data, start, end, columns);
    const QVector<QPointF> points = reducer.points();
    QVERIFY(points.size() <= 2 * columns);
    QVERIFY(std::is_sorted(points.begin(), points.end(),
                           [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); }));
    // Every point is one of the samples, and per column the points reach the true extremes.
    QVector<Truth> drawn(columns);
    for (const QPointF &p : points) {
        const qint64 t = qint64(p.x());
        QVERIFY((t - start) % stepMs == 0);
        QCOMPARE(p.y(), data.at(int((t - start) / stepMs)).value);
        Truth &d = drawn[reducer.columnOf(t)];
        d.low = d.count ? std::min(d.low, p.y()) : p.y();
        d.high = d.count ? std::max(d.high, p.y()) : p.y();
        ++d.count;
    }
    for (int c = 0; c < columns; ++c) {
        QCOMPARE(drawn[c].count > 0, truth[c].count > 0);
        if (truth[c].count == 0)
            continue;
        QCOMPARE(drawn[c].low, truth[c].low);
        QCOMPARE(drawn[c].high, truth[c].high);
    }
    const auto [low, high] =
        std::minmax_element(data.begin(), data.end(),
                            [](const Sample &a, const Sample &b) { return a.value < b.value; });
    QCOMPARE(reducer.minimum(), low->value);
    QCOMPARE(reducer.maximum(), high->value);
    QCOMPARE(reducer.sampleCount(), qint64(samples));
}

void TestColumnReducer::fewSamplesComeBackUnchanged()
{
    // Up to one sample per column: the points are the samples themselves, full detail.
    ColumnReducer reducer(0, 599999, 1000);
    QVector<QPointF> expected;
    for (int i = 0; i < 600; ++i) {
        reducer.add(qint64(i) * 1000, std::sin(i * 0.1));
        expected.append(QPointF(i * 1000.0, std::sin(i * 0.1)));
    }
    QCOMPARE(reducer.points(), expected);
}

void TestColumnReducer::orderOfSamplesDoesNotMatter()
{
    QVector<Sample> data;
    for (int i = 0; i < 20000; ++i)
        data.append({qint64(i) * 250, std::fmod(i * 0.618, 7.0) - (i % 13 == 0 ? 5 : 0)});
    ColumnReducer ordered(0, 19999 * 250, 97);
    for (const Sample &s : data)
        ordered.add(s.time, s.value);
    std::mt19937 random(7);
    std::shuffle(data.begin(), data.end(), random);
    ColumnReducer shuffled(0, 19999 * 250, 97);
    for (const Sample &s : data)
        shuffled.add(s.time, s.value);
    QCOMPARE(shuffled.points(), ordered.points());
    QCOMPARE(shuffled.minimum(), ordered.minimum());
    QCOMPARE(shuffled.maximum(), ordered.maximum());
}

void TestColumnReducer::spikesStayVisible()
{
    // A day at one sample per second onto 1000 columns, flat but for two lone samples.
    ColumnReducer reducer(0, 86399999, 1000);
    for (int i = 0; i < 86400; ++i) {
        double v = 1.0;
        if (i == 40001)
            v = 500.0;
        if (i == 70003)
            v = -500.0;
        reducer.add(qint64(i) * 1000, v);
    }
    const QVector<QPointF> points = reducer.points();
    QVERIFY(points.contains(QPointF(40001000.0, 500.0)));
    QVERIFY(points.contains(QPointF(70003000.0, -500.0)));
    // A flat column is drawn with one point, the spikes' columns with two.
    QCOMPARE(points.size(), 1000 + 2);
}

void TestColumnReducer::unplottableValuesAreLeftOut()
{
    ColumnReducer reducer(0, 9999, 10);
    reducer.add(0, 9.9e37);
    reducer.add(1000, 2.0);
    reducer.add(2000, std::numeric_limits<double>::quiet_NaN());
    reducer.add(3000, -std::numeric_limits<double>::infinity());
    reducer.add(4000, -1.0);
    reducer.add(5000, -9.9e37);
    QCOMPARE(reducer.sampleCount(), qint64(2));
    QCOMPARE(reducer.minimum(), -1.0);
    QCOMPARE(reducer.maximum(), 2.0);
    QCOMPARE(reducer.points(), QVector<QPointF>({QPointF(1000, 2.0), QPointF(4000, -1.0)}));
}

void TestColumnReducer::equalValuesAreDrawnOnce()
{
    ColumnReducer reducer(0, 99, 1);
    for (int t = 99; t >= 0; --t)
        reducer.add(t, 3.0);
    // The lowest and the highest of a flat column are one sample: its earliest.
    QCOMPARE(reducer.points(), QVector<QPointF>({QPointF(0, 3.0)}));
    // Lowest after highest in time: still drawn in time order.
    ColumnReducer falling(0, 99, 1);
    falling.add(10, 5.0);
    falling.add(50, 1.0);
    falling.add(30, 2.0);
    QCOMPARE(falling.points(), QVector<QPointF>({QPointF(10, 5.0), QPointF(50, 1.0)}));
}

void TestColumnReducer::resetStartsOver()
{
    ColumnReducer reducer(0, 999, 10);
    reducer.add(5, 100.0);
    reducer.reset(1000, 1999, 5);
    QCOMPARE(reducer.sampleCount(), qint64(0));
    QVERIFY(reducer.points().isEmpty());
    reducer.add(1500, -2.0);
    QCOMPARE(reducer.minimum(), -2.0);
    QCOMPARE(reducer.maximum(), -2.0);
    QCOMPARE(reducer.columnCount(), 5);
}

QTEST_GUILESS_MAIN(TestColumnReducer)
#include "tst_columnreducer.moc"
