// The live curves' reduction, followed scan by scan against columns summed up from scratch out
// of the window: windows that drop their oldest samples, views that follow or stay zoomed,
// readings a plot cannot show, a clock that goes back, and the ladder of column widths.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "livecurvedata.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <map>
#include <memory>

namespace {

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0 && a < 0) ? 1 : 0);
}

// What the columns of width w over [start, end] must show for the series' window: per column
// its lowest and highest plottable sample (the earliest of equals), in time order.
QVector<QPointF> expectedPoints(const CurveSeriesData &series, qint64 start, qint64 end, qint64 w)
{
    struct Column
    {
        qint64 minTime, maxTime;
        double minValue, maxValue;
    };
    std::map<qint64, Column> columns;
    for (size_t i = 0; i < series.size(); ++i) {
        const QPointF p = series.sample(i);
        const double v = p.y();
        if (!std::isfinite(v) || std::fabs(v) >= 9.9e37)
            continue;
        const qint64 t = qint64(p.x());
        const qint64 k = floorDiv(t, w);
        if (k < floorDiv(start, w) || k > floorDiv(end, w))
            continue;
        auto it = columns.find(k);
        if (it == columns.end()) {
            columns.emplace(k, Column{t, t, v, v});
            continue;
        }
        Column &c = it->second;
        if (v < c.minValue || (v == c.minValue && t < c.minTime))
            c = Column{t, c.maxTime, v, c.maxValue};
        if (v > c.maxValue || (v == c.maxValue && t < c.maxTime))
            c = Column{c.minTime, t, c.minValue, v};
    }
    QVector<QPointF> points;
    for (const auto &entry : columns) {
        const Column &c = entry.second;
        if (c.minTime == c.maxTime) {
            points << QPointF(c.minTime, c.minValue);
        } else if (c.minTime < c.maxTime) {
            points << QPointF(c.minTime, c.minValue) << QPointF(c.maxTime, c.maxValue);
        } else {
            points << QPointF(c.maxTime, c.maxValue) << QPointF(c.minTime, c.minValue);
        }
    }
    return points;
}

QVector<QPointF> pointsOf(const LiveCurveData &data)
{
    QVector<QPointF> points;
    for (size_t i = 0; i < data.size(); ++i)
        points << data.sample(i);
    return points;
}

} // namespace

class TestLiveCurveData : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void columnWidthLadder_data();
    void columnWidthLadder();
    void followsScanByScan_data();
    void followsScanByScan();
    void widthIsKeptWhileTheSpanWobbles();
    void emptyWindowDrawsNothing();

private:
    std::shared_ptr<CurveSeriesData> newSeries(int capacity);

    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<CurveDataDB> store;
    int curves = 0;
};

void TestLiveCurveData::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    store.reset(new CurveDataDB(dir->path()));
}

void TestLiveCurveData::cleanup()
{
    store.reset();
    ConnectionPool::instance()->closeAllConnections();
    dir.reset();
}

std::shared_ptr<CurveSeriesData> TestLiveCurveData::newSeries(int capacity)
{
    auto series = std::make_shared<CurveSeriesData>(QString::number(101 + curves++), store.data());
    series->setWindowCapacity(capacity);
    return series;
}

void TestLiveCurveData::columnWidthLadder_data()
{
    QTest::addColumn<qint64>("span");
    QTest::addColumn<int>("columns");
    QTest::newRow("below a ms per column") << qint64(500) << 1000;
    QTest::newRow("exactly one") << qint64(1000) << 1000;
    QTest::newRow("a minute on 800") << qint64(60000) << 800;
    QTest::newRow("a day on 1000") << qint64(86400000) << 1000;
    QTest::newRow("hundred days on 1171") << qint64(8640000000) << 1171;
    QTest::newRow("zero columns") << qint64(5000) << 0;
    QTest::newRow("empty span") << qint64(0) << 1000;
}

void TestLiveCurveData::columnWidthLadder()
{
    QFETCH(qint64, span);
    QFETCH(int, columns);
    const qint64 w = LiveCurveData::columnWidthFor(span, columns);
    const double raw = double(std::max<qint64>(span, 1)) / std::max(columns, 1);
    QVERIFY(w >= 1);
    // At least as wide as asked (so no more columns than pixels), at most a quarter step more.
    QVERIFY2(w >= std::floor(raw) || w == 1, qPrintable(QString::number(w)));
    QVERIFY2(w <= std::ceil(raw * 1.19) + 1, qPrintable(QString::number(w)));
    // A step of the ladder: the same width for every span that asks for it.
    QCOMPARE(LiveCurveData::columnWidthFor(w * std::max(columns, 1), columns), w);
}

void TestLiveCurveData::followsScanByScan_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("scans");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("zoomed");
    QTest::addColumn<bool>("clockJumps");
    QTest::newRow("filling, then dropping") << 300 << 700 << 120 << false << false;
    QTest::newRow("more samples than columns") << 500 << 900 << 40 << false << false;
    QTest::newRow("zoomed into the middle") << 400 << 600 << 100 << true << false;
    QTest::newRow("clock goes back now and then") << 300 << 500 << 80 << false << true;
}

void TestLiveCurveData::followsScanByScan()
{
    QFETCH(int, capacity);
    QFETCH(int, scans);
    QFETCH(int, columns);
    QFETCH(bool, zoomed);
    QFETCH(bool, clockJumps);
    const auto series = newSeries(capacity);
    LiveCurveData data(series);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 86400000;
    const qint64 zoomStart = t0 + qint64(scans / 3) * 1000;
    const qint64 zoomEnd = zoomStart + 60000;
    int rebuildsChecked = 0;
    for (int i = 0; i < scans; ++i) {
        qint64 t = t0 + qint64(i) * 1000 + (i * 37) % 400;
        if (clockJumps && i % 97 == 96)
            t -= 5000;
        double v = std::sin(i / 23.0) * 10 + (i % 7);
        if (i % 61 == 0)
            v = 9.9e37;
        if (i % 89 == 0)
            v = std::numeric_limits<double>::quiet_NaN();
        series->addSample(double(t), v);
        // Several scans may arrive between two updates, as while the plot is hidden.
        if (i % 5 == 3)
            continue;
        qint64 start = zoomStart;
        qint64 end = zoomEnd;
        if (!zoomed)
            QVERIFY(data.timeRange(&start, &end) || series->size() == 0);
        data.update(start, end, columns);
        const QVector<QPointF> expected = expectedPoints(*series, start, end, data.columnWidth());
        QCOMPARE(pointsOf(data), expected);
        ++rebuildsChecked;
        if (!expected.isEmpty()) {
            QCOMPARE(data.boundingRect().left(), expected.first().x());
            QCOMPARE(data.boundingRect().right(), expected.last().x());
        }
    }
    QVERIFY(rebuildsChecked > scans / 2);
    QCOMPARE(int(series->size()), std::min(capacity, scans));

    // The window shrinks: the columns follow.
    series->setWindowCapacity(capacity / 3);
    qint64 start = zoomStart, end = zoomEnd;
    if (!zoomed)
        QVERIFY(data.timeRange(&start, &end));
    data.update(start, end, columns);
    QCOMPARE(pointsOf(data), expectedPoints(*series, start, end, data.columnWidth()));
}

void TestLiveCurveData::widthIsKeptWhileTheSpanWobbles()
{
    const auto series = newSeries(100);
    for (int i = 0; i < 100; ++i)
        series->addSample(double(1000000 + i * 1000), i);
    LiveCurveData data(series);
    // A span right at a step of the ladder.
    const qint64 w = LiveCurveData::columnWidthFor(100000, 100);
    data.update(0, w * 100 - 1, 100);
    QCOMPARE(data.columnWidth(), w);
    data.update(0, w * 100 + 1, 100);
    QCOMPARE(data.columnWidth(), w);
    data.update(0, w * 100 - 3, 100);
    QCOMPARE(data.columnWidth(), w);
    // A span twice as long moves up the ladder.
    data.update(0, w * 200, 100);
    QVERIFY(data.columnWidth() > w);
    QCOMPARE(pointsOf(data), expectedPoints(*series, 0, w * 200, data.columnWidth()));
}

void TestLiveCurveData::emptyWindowDrawsNothing()
{
    LiveCurveData none(nullptr);
    qint64 a = 0, b = 0;
    QVERIFY(!none.timeRange(&a, &b));
    none.update(0, 1000, 10);
    QCOMPARE(none.size(), size_t(0));
    QVERIFY(!none.boundingRect().isValid());

    const auto series = newSeries(10);
    LiveCurveData data(series);
    data.update(0, 1000, 10);
    QCOMPARE(data.size(), size_t(0));
    // Only readings a plot cannot show: still nothing to draw.
    series->addSample(500, 9.9e37);
    data.update(0, 1000, 10);
    QCOMPARE(data.size(), size_t(0));
    series->addSample(600, 1.0);
    data.update(0, 1000, 10);
    QCOMPARE(pointsOf(data), QVector<QPointF>({QPointF(600, 1.0)}));
}

QTEST_GUILESS_MAIN(TestLiveCurveData)
#include "tst_livecurvedata.moc"
