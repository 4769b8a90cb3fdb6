// Curve series on a real store: statistics, NaN, truncated times, a failed registration, and
// the bounded window of recent samples that a plot reads.
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "storetestsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cfloat>
#include <cmath>

using namespace StoreTest;

namespace {
const QDate today(2024, 1, 15);
} // namespace

class TestCurveSeriesData : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstSampleSetsEverything();
    void statistics_data();
    void statistics();
    void nanIsNeitherStoredNorCounted();
    void fractionalTimeIsTruncated();
    void failedRegistration();
    void windowStaysBounded();
    void boundingRectSkipsNonFinite();
    void shrinkingWindowKeepsNewest();

private:
    QString todayPath() const { return QDir(dir->path()).filePath(dayKey(today) + ".db"); }
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<FrozenClock> clock;
    QScopedPointer<CurveDataDB> store;
};

void TestCurveSeriesData::init()
{
    dir.reset(new QTemporaryDir);
    clock.reset(new FrozenClock(localMs(today, QTime(12, 0))));
    store.reset(new CurveDataDB(dir->path()));
}

void TestCurveSeriesData::cleanup()
{
    store.reset();
    clock.reset();
    dir.reset();
}

void TestCurveSeriesData::firstSampleSetsEverything()
{
    CurveSeriesData series("101", store.data());
    QCOMPARE(series.count(), 0);
    QCOMPARE(series.minimum(), DBL_MAX);
    QCOMPARE(series.maximum(), -DBL_MAX);
    QCOMPARE(series.lastValue(), 0.0);
    QVERIFY(series.lastTimeText().isEmpty());
    const qint64 t = localMs(today, QTime(10, 20, 30, 456));
    series.addSample(double(t), -3.25);
    QCOMPARE(series.count(), 1);
    QCOMPARE(series.minimum(), -3.25);
    QCOMPARE(series.maximum(), -3.25);
    QCOMPARE(series.average(), -3.25);
    QCOMPARE(series.lastValue(), -3.25);
    QCOMPARE(series.lastTimeText(), QStringLiteral("2024-01-15 10:20:30"));
    QCOMPARE(SqliteFile(todayPath())
                 .rows("SELECT timestamp, value FROM "
                       "curve_1_batch_20240115_060000_20240115_115959"),
             (QList<QStringList>{{QString::number(t), "-3.25"}}));
}

void TestCurveSeriesData::statistics_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("average");
    QTest::newRow("rising") << QList<double>{1, 2, 3, 4} << 1.0 << 4.0 << 2.5;
    QTest::newRow("zero minimum") << QList<double>{0, 5, 1} << 0.0 << 5.0 << 2.0;
    QTest::newRow("invalid reading") << QList<double>{1, 9.9e37} << 1.0 << 9.9e37 << 4.95e37;
    QTest::newRow("negative") << QList<double>{-1, -5, -3} << -5.0 << -1.0 << -3.0;
}

void TestCurveSeriesData::statistics()
{
    QFETCH(QList<double>, values);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, average);
    CurveSeriesData series("101", store.data());
    qint64 t = localMs(today, QTime(11, 0));
    for (double v : values)
        series.addSample(double(t += 1000), v);
    QCOMPARE(series.count(), values.size());
    QCOMPARE(series.minimum(), minimum);
    QCOMPARE(series.maximum(), maximum);
    QCOMPARE(series.average(), average);
    QCOMPARE(series.lastValue(), values.last());
    QCOMPARE(int(series.size()), values.size());
}

// The value column cannot hold NaN: such a reading is refused before the store and counts
// nowhere, so the statistics stay those of the stored samples.
void TestCurveSeriesData::nanIsNeitherStoredNorCounted()
{
    using Result = CurveSeriesData::SampleResult;
    CurveSeriesData series("101", store.data());
    const qint64 t = localMs(today, QTime(11, 0));
    QCOMPARE(series.addSample(double(t), 2.0), Result::Stored);
    QCOMPARE(series.addSample(double(t + 1000), qQNaN()), Result::NotANumber);
    QCOMPARE(series.count(), 1);
    QCOMPARE(series.minimum(), 2.0);
    QCOMPARE(series.maximum(), 2.0);
    QCOMPARE(series.average(), 2.0);
    QCOMPARE(series.lastValue(), 2.0);
    QCOMPARE(series.addSample(double(t + 2000), 1.0), Result::Stored);
    QCOMPARE(series.minimum(), 1.0);
    QCOMPARE(series.average(), 1.5);
}

void TestCurveSeriesData::fractionalTimeIsTruncated()
{
    CurveSeriesData series("101", store.data());
    const qint64 t = localMs(today, QTime(9, 15, 0, 999));
    series.addSample(double(t) + 0.9, 4.0);
    series.addSample(12.9, 5.0);
    QCOMPARE(series.lastTimeText(),
             QDateTime::fromMSecsSinceEpoch(12).toString("yyyy-MM-dd hh:mm:ss"));
    QCOMPARE(SqliteFile(todayPath())
                 .scalar("SELECT timestamp FROM "
                         "curve_1_batch_20240115_060000_20240115_115959"),
             QString::number(t));
    // 12 ms after the epoch is a local date of its own (1970), in a day file of its own.
    const QString epochFile =
        QDir(dir->path()).filePath(QDateTime::fromMSecsSinceEpoch(12).toString("yyyyMMdd") + ".db");
    const QList<QStringList> rows =
        SqliteFile(epochFile).rows("SELECT table_name FROM batch_metadata");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(SqliteFile(epochFile).scalar("SELECT timestamp FROM \"" + rows[0][0] + "\""),
             QStringLiteral("12"));
}

void TestCurveSeriesData::failedRegistration()
{
    // A data directory that cannot exist: its parent is a plain file.
    QFile blocker(QDir(dir->path()).filePath("plainfile"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LogRecorder log;
    CurveDataDB broken(QDir(dir->path()).filePath("plainfile/SN_Data"));
    CurveSeriesData series("101", &broken);
    QCOMPARE(series.curveId(), -1);
    QCOMPARE(log.count("曲线注册失败，无法生成有效curve_id"), 1);
    series.addSample(double(localMs(today, QTime(10, 0))), 7.0);
    QCOMPARE(series.count(), 0);
    QCOMPARE(series.minimum(), DBL_MAX);
    QCOMPARE(series.maximum(), -DBL_MAX);
    QCOMPARE(series.average(), 0.0);
    QCOMPARE(int(series.size()), 0);
    QVERIFY(series.lastTimeText().isEmpty());

    CurveSeriesData noStore("102", static_cast<CurveDataDB *>(nullptr));
    QCOMPARE(noStore.curveId(), -1);
    noStore.addSample(1.0, 1.0);
    QCOMPARE(noStore.count(), 0);
}

void TestCurveSeriesData::windowStaysBounded()
{
    CurveSeriesData series("101", store.data());
    QCOMPARE(series.windowCapacity(), CurveSeriesData::defaultWindowCapacity);
    series.setWindowCapacity(100);
    const qint64 t0 = localMs(today, QTime(10, 0));
    for (int i = 0; i < 250; ++i)
        series.addSample(double(t0 + i), i);
    QCOMPARE(series.count(), 250);
    QCOMPARE(int(series.size()), 100);
    QCOMPARE(series.sample(0), QPointF(double(t0 + 150), 150.0));
    QCOMPARE(series.sample(99), QPointF(double(t0 + 249), 249.0));
    QCOMPARE(series.sample(100), QPointF());
    QCOMPARE(series.boundingRect(),
             QRectF(QPointF(double(t0 + 150), 150.0), QPointF(double(t0 + 249), 249.0)));
    // Statistics cover every sample, not just the window.
    QCOMPARE(series.minimum(), 0.0);
    QCOMPARE(SqliteFile(todayPath())
                 .scalar("SELECT count(*) FROM curve_1_batch_20240115_060000_20240115_115959"),
             QStringLiteral("250"));
}

void TestCurveSeriesData::boundingRectSkipsNonFinite()
{
    CurveSeriesData series("101", store.data());
    QVERIFY(!series.boundingRect().isValid());
    const qint64 t0 = localMs(today, QTime(10, 0));
    series.addSample(double(t0), qQNaN());
    QVERIFY(!series.boundingRect().isValid());
    series.addSample(double(t0 + 10), 3.0);
    series.addSample(double(t0 + 20), qInf());
    series.addSample(double(t0 + 30), -1.0);
    QCOMPARE(series.boundingRect(),
             QRectF(QPointF(double(t0 + 10), -1.0), QPointF(double(t0 + 30), 3.0)));
    series.setRectOfInterest(QRectF(0, 0, 10, 10));
    QCOMPARE(series.rectOfInterest(), QRectF(0, 0, 10, 10));
}

void TestCurveSeriesData::shrinkingWindowKeepsNewest()
{
    CurveSeriesData series("101", store.data());
    series.setWindowCapacity(5);
    const qint64 t0 = localMs(today, QTime(10, 0));
    for (int i = 0; i < 7; ++i)
        series.addSample(double(t0 + i), i);
    series.setWindowCapacity(3);
    QCOMPARE(int(series.size()), 3);
    QCOMPARE(series.sample(0).y(), 4.0);
    QCOMPARE(series.sample(2).y(), 6.0);
    series.addSample(double(t0 + 7), 7.0);
    QCOMPARE(series.sample(0).y(), 5.0);
    QCOMPARE(series.sample(2).y(), 7.0);
    series.setWindowCapacity(10);
    series.addSample(double(t0 + 8), 8.0);
    QCOMPARE(int(series.size()), 4);
    QCOMPARE(series.sample(3).y(), 8.0);
}

QTEST_GUILESS_MAIN(TestCurveSeriesData)
#include "tst_curveseriesdata.moc"
