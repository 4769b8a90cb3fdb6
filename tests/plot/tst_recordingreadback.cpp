// Reading stored recordings back for the plot, on real day files: the extremes and counts of
// the raw rows, a day of ten curves reduced for a 1000-pixel plot, spans across midnight and
// slices at full detail, ids that differ between day files, and the thread it runs on.
#include "columnreducer.h"
#include "connectionpool.h"
#include "curvedatadb.h"
#include "recordingreadback.h"
#include "recordingreducer.h"
#include "shardcalendar.h"
#include "storeclock.h"
#include "storedrecording.h"
#include "storeschema.h"
#include "storetestsupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>

using namespace PlotTest;
using namespace StoreTest;

namespace {

const QDate firstDay(2024, 3, 14);

// What the day files hold for one curve, read with the plain sqlite3 API. Values come back as
// SQLite's text, 15 digits: they are compared within QCOMPARE's tolerance for doubles.
struct RawCurve
{
    qint64 rows = 0;
    double low = 0;
    double high = 0;
    qint64 first = 0;
    qint64 last = 0;
};

RawCurve rawCurve(const QString &dir, const QString &name, qint64 start = 0,
                  qint64 end = std::numeric_limits<qint64>::max())
{
    RawCurve raw;
    bool any = false;
    for (const QString &file : QDir(dir).entryList({QStringLiteral("*.db")}, QDir::Files)) {
        SqliteFile db(QDir(dir).filePath(file));
        const QString id = db.scalar(
            QStringLiteral("SELECT curve_id FROM curve_info WHERE name = '%1'").arg(name));
        if (id.isEmpty())
            continue;
        for (const QString &table : db.tableNames()) {
            if (!table.startsWith(QStringLiteral("curve_%1_").arg(id)))
                continue;
            const QList<QStringList> rows = db.rows(
                QStringLiteral("SELECT COUNT(*), MIN(value), MAX(value), "
                               "MIN(timestamp), "
                               "MAX(timestamp) FROM \"%1\" WHERE timestamp BETWEEN %2 AND %3")
                    .arg(table)
                    .arg(start)
                    .arg(end));
            if (rows.isEmpty() || rows.first().at(0).toLongLong() == 0)
                continue;
            const QStringList &r = rows.first();
            const double low = r.at(1).toDouble();
            const double high = r.at(2).toDouble();
            raw.low = any ? std::min(raw.low, low) : low;
            raw.high = any ? std::max(raw.high, high) : high;
            raw.first = any ? std::min(raw.first, r.at(3).toLongLong()) : r.at(3).toLongLong();
            raw.last = any ? std::max(raw.last, r.at(4).toLongLong()) : r.at(4).toLongLong();
            raw.rows += r.at(0).toLongLong();
            any = true;
        }
    }
    return raw;
}

// Rows of one curve in a span, in time order.
QVector<QPointF> rawRows(const QString &dir, const QString &name, qint64 start, qint64 end)
{
    QVector<QPointF> points;
    for (const QString &file : QDir(dir).entryList({QStringLiteral("*.db")}, QDir::Files)) {
        SqliteFile db(QDir(dir).filePath(file));
        const QString id = db.scalar(
            QStringLiteral("SELECT curve_id FROM curve_info WHERE name = '%1'").arg(name));
        if (id.isEmpty())
            continue;
        for (const QString &table : db.tableNames()) {
            if (!table.startsWith(QStringLiteral("curve_%1_").arg(id)))
                continue;
            for (const QStringList &r :
                 db.rows(QStringLiteral("SELECT timestamp, value FROM \"%1\" WHERE timestamp "
                                        "BETWEEN %2 AND %3")
                             .arg(table)
                             .arg(start)
                             .arg(end)))
                points.append(QPointF(r.at(0).toDouble(), r.at(1).toDouble()));
        }
    }
    std::sort(points.begin(), points.end(),
              [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
    return points;
}

// The reader on a thread of its own, as the plot runs it. A std::thread, whose join the thread
// sanitizer sees as the hand-over of the result (QThread::wait happens inside Qt, unseen).
TrendReduction readOnThread(CurveDataDB *store, const TrendRequest &request)
{
    TrendReduction result;
    std::thread thread([&] { result = RecordingReducer(store).read(request); });
    thread.join();
    return result;
}

QStringList names(int count)
{
    QStringList list;
    for (int c = 0; c < count; ++c)
        list << QString::number(101 + c);
    return list;
}

} // namespace

class TestRecordingReadBack : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dayOfTenCurvesReducedForAThousandPixels();
    void spanReadsEveryRowInIt_data();
    void spanReadsEveryRowInIt();
    void curvesAreFoundByNameInEveryDayFile();
    void unplottableValuesAreLeftOut();
    void nothingStoredGivesAnEmptyCompleteAnswer();
    void refusesToRunOnTheStoresThread();
    void storeBeingClearedGivesAnIncompleteAnswer();
    void clearDuringAReadStopsItBeforeFilesGo();
    void onlyTheNewestRequestIsReported();
    void destroyedDuringAReadEndsItsThread();

private:
    QString dataDir() const { return dir->filePath(QStringLiteral("data")); }
    // A store on dataDir for reading, its clock after the recording.
    CurveDataDB *openStore();

    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<FrozenClock> clock;
    QScopedPointer<CurveDataDB> store;
};

void TestRecordingReadBack::initTestCase()
{
    registerTrendTypes();
}

void TestRecordingReadBack::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    clock.reset(new FrozenClock(localMs(firstDay.addDays(5), QTime(9, 0))));
}

void TestRecordingReadBack::cleanup()
{
    store.reset();
    ConnectionPool::instance()->closeAllConnections();
    clock.reset();
    dir.reset();
}

CurveDataDB *TestRecordingReadBack::openStore()
{
    clock->set(localMs(firstDay.addDays(5), QTime(9, 0)));
    store.reset(new CurveDataDB(dataDir()));
    return store.data();
}

void TestRecordingReadBack::dayOfTenCurvesReducedForAThousandPixels()
{
    // 24 hours at one sample per second from noon to noon: two day files, five slices.
    RecordingShape shape;
    shape.curveNames = names(10);
    shape.start = localMs(firstDay, QTime(12, 0));
    shape.samples = 86400;
    QVERIFY(writeRecording(dataDir(), shape));

    TrendRequest request;
    request.curveNames = shape.curveNames;
    request.columns = 1000;
    const TrendReduction result = readOnThread(openStore(), request);
    QVERIFY(result.complete);
    QVERIFY(result.wholeRecording);
    QCOMPARE(result.rowsRead, qint64(864000));
    QCOMPARE(result.start, shape.start);
    QCOMPARE(result.end, sampleTime(shape, 86399));
    QCOMPARE(result.curves.size(), 10);

    ColumnReducer columns(result.start, result.end, 1000);
    for (int c = 0; c < 10; ++c) {
        const CurveReduction &curve = result.curves.at(c);
        const RawCurve raw = rawCurve(dataDir(), curve.name);
        QCOMPARE(curve.name, shape.curveNames.at(c));
        QCOMPARE(curve.samples, raw.rows);
        QCOMPARE(curve.minimum, raw.low);
        QCOMPARE(curve.maximum, raw.high);
        QVERIFY(curve.points.size() <= 2000);
        QVERIFY(curve.points.size() >= 1000);
        QVERIFY(std::is_sorted(curve.points.begin(), curve.points.end(),
                               [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); }));
        // Every spike is among the points drawn, and every point is a stored sample.
        int spikes = 0;
        for (int i = 0; i < shape.samples; ++i) {
            if ((i + 131 * c) % 20011 != 0 && (i + 17 * c) % 30011 != 0)
                continue;
            QVERIFY2(
                curve.points.contains(QPointF(double(sampleTime(shape, i)), recordedValue(c, i))),
                qPrintable(QStringLiteral("spike at sample %1").arg(i)));
            ++spikes;
        }
        QVERIFY(spikes >= 5);
        const auto highest =
            std::max_element(curve.points.begin(), curve.points.end(),
                             [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); });
        QCOMPARE(highest->y(), raw.high);
        for (int k = 0; k < curve.points.size(); k += 97) {
            const QPointF &p = curve.points.at(k);
            const int i = int((qint64(p.x()) - shape.start) / 1000);
            QCOMPARE(p.y(), recordedValue(c, i));
        }
    }

    // Two curves checked column by column against the rows grouped by SQLite itself.
    for (int c : {0, 7}) {
        const CurveReduction &curve = result.curves.at(c);
        QMap<int, QPair<double, double>> drawn;
        for (const QPointF &p : curve.points) {
            const int column = columns.columnOf(qint64(p.x()));
            auto it = drawn.find(column);
            if (it == drawn.end())
                drawn.insert(column, qMakePair(p.y(), p.y()));
            else
                *it = qMakePair(std::min(it->first, p.y()), std::max(it->second, p.y()));
        }
        QCOMPARE(drawn.size(), 1000);
        const QVector<QPointF> rows = rawRows(dataDir(), curve.name, result.start, result.end);
        QCOMPARE(rows.size(), 86400);
        QMap<int, QPair<double, double>> truth;
        for (const QPointF &p : rows) {
            const int column = columns.columnOf(qint64(p.x()));
            auto it = truth.find(column);
            if (it == truth.end())
                truth.insert(column, qMakePair(p.y(), p.y()));
            else
                *it = qMakePair(std::min(it->first, p.y()), std::max(it->second, p.y()));
        }
        QCOMPARE(drawn.keys(), truth.keys());
        for (auto it = truth.cbegin(); it != truth.cend(); ++it) {
            QCOMPARE(drawn.value(it.key()).first, it.value().first);
            QCOMPARE(drawn.value(it.key()).second, it.value().second);
        }
    }
    // The reading thread's connections were handed back.
    QCOMPARE(ConnectionPool::instance()->connectionCount(),
             ConnectionPool::instance()->threadConnectionCount());
}

void TestRecordingReadBack::spanReadsEveryRowInIt_data()
{
    QTest::addColumn<QTime>("from");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("dayOffset");
    QTest::newRow("ten minutes in a slice") << QTime(14, 5, 0) << 600 << 0;
    QTest::newRow("across midnight") << QTime(23, 59, 0) << 121 << 0;
    QTest::newRow("across a slice start") << QTime(5, 58, 30) << 240 << 1;
    QTest::newRow("one sample") << QTime(3, 0, 0) << 1 << 1;
    QTest::newRow("before the recording") << QTime(11, 0, 0) << 600 << 0;
}

void TestRecordingReadBack::spanReadsEveryRowInIt()
{
    QFETCH(QTime, from);
    QFETCH(int, seconds);
    QFETCH(int, dayOffset);
    RecordingShape shape;
    shape.curveNames = names(3);
    shape.start = localMs(firstDay, QTime(12, 0));
    shape.stepMs = 1000;
    shape.samples = 86400;
    QVERIFY(writeRecording(dataDir(), shape));

    TrendRequest request;
    request.curveNames = shape.curveNames;
    request.wholeRecording = false;
    request.start = localMs(firstDay.addDays(dayOffset), from);
    request.end = request.start + qint64(seconds) * 1000 - 1;
    request.columns = 1000;
    const TrendReduction result = readOnThread(openStore(), request);
    QVERIFY(result.complete);
    QCOMPARE(result.start, request.start);
    QCOMPARE(result.end, request.end);
    for (const CurveReduction &curve : result.curves) {
        // No more samples than columns: the points are the rows themselves.
        const QVector<QPointF> rows = rawRows(dataDir(), curve.name, request.start, request.end);
        QCOMPARE(curve.points, rows);
        QCOMPARE(curve.samples, qint64(rows.size()));
    }
    if (from == QTime(11, 0, 0))
        QVERIFY(result.isEmpty());
    else
        QCOMPARE(result.curves.first().samples, qint64(seconds));
}

void TestRecordingReadBack::curvesAreFoundByNameInEveryDayFile()
{
    // The first day registers 101 then 102; a second day file written by hand registers them
    // the other way round, so the same name has different ids in the two files.
    RecordingShape shape;
    shape.curveNames = names(2);
    shape.start = localMs(firstDay, QTime(20, 0));
    shape.samples = 3600;
    QVERIFY(writeRecording(dataDir(), shape));

    const QString second = QDir(dataDir()).filePath(dayKey(firstDay.addDays(1)) + ".db");
    {
        SqliteFile db(second, true);
        createFixedTables(db);
        QVERIFY(db.exec("INSERT INTO curve_info (name) VALUES ('102'), ('101')"));
        const qint64 slice = localMs(firstDay.addDays(1), QTime(0, 0));
        for (int id : {1, 2}) {
            const QString table =
                QStringLiteral("curve_%1_%2").arg(id).arg(batchNameOfTime(slice));
            QVERIFY(db.exec(QString::fromLatin1(StoreSql::createBatchTable).arg(table)));
            QVERIFY(db.exec(QString::fromLatin1(StoreSql::createBatchIndex).arg(table)));
            QVERIFY(db.exec(QStringLiteral("INSERT INTO batch_metadata (curve_id, batch_start, "
                                           "batch_end, table_name) VALUES (%1, %2, %3, '%4')")
                                .arg(id)
                                .arg(slice)
                                .arg(slice + 21599999)
                                .arg(table)));
            // Curve 102 (id 1 here) reads 1000, curve 101 (id 2) reads -1000.
            QVERIFY(db.exec(QStringLiteral("INSERT INTO \"%1\" (curve_id, timestamp, value) "
                                           "VALUES (%2, %3, %4)")
                                .arg(table)
                                .arg(id)
                                .arg(slice + 3600000)
                                .arg(id == 1 ? 1000 : -1000)));
        }
    }

    TrendRequest request;
    request.curveNames = shape.curveNames;
    request.columns = 500;
    const TrendReduction result = readOnThread(openStore(), request);
    QVERIFY(result.complete);
    QCOMPARE(result.end, localMs(firstDay.addDays(1), QTime(1, 0)));
    QCOMPARE(result.curves.at(0).name, QStringLiteral("101"));
    QCOMPARE(result.curves.at(0).minimum, -1000.0);
    QCOMPARE(result.curves.at(0).samples, qint64(3601));
    QCOMPARE(result.curves.at(1).maximum, 1000.0);
    QCOMPARE(result.curves.at(1).samples, qint64(3601));
}

void TestRecordingReadBack::unplottableValuesAreLeftOut()
{
    RecordingShape shape;
    shape.curveNames = names(1);
    shape.start = localMs(firstDay, QTime(8, 0));
    shape.samples = 100;
    shape.value = [](int, int i) {
        if (i == 10)
            return 9.9e37;
        if (i == 20)
            return -std::numeric_limits<double>::infinity();
        return double(i);
    };
    QVERIFY(writeRecording(dataDir(), shape));
    TrendRequest request;
    request.curveNames = shape.curveNames;
    const TrendReduction result = readOnThread(openStore(), request);
    QVERIFY(result.complete);
    QCOMPARE(result.rowsRead, qint64(100));
    QCOMPARE(result.curves.first().samples, qint64(98));
    QCOMPARE(result.curves.first().minimum, 0.0);
    QCOMPARE(result.curves.first().maximum, 99.0);
}

void TestRecordingReadBack::nothingStoredGivesAnEmptyCompleteAnswer()
{
    CurveDataDB *db = openStore();
    QVERIFY(db->registerCurve(QStringLiteral("101")) > 0);
    TrendRequest request;
    request.curveNames = QStringList{QStringLiteral("101"), QStringLiteral("999")};
    TrendReduction result = readOnThread(db, request);
    QVERIFY(result.complete);
    QVERIFY(result.isEmpty());
    QCOMPARE(result.curves.size(), 2);
    QCOMPARE(result.curves.at(1).name, QStringLiteral("999"));
    QVERIFY(result.end < result.start);

    request.wholeRecording = false;
    request.start = 5000;
    request.end = 4000;
    result = readOnThread(db, request);
    QVERIFY(result.complete);
    QVERIFY(result.isEmpty());
}

void TestRecordingReadBack::refusesToRunOnTheStoresThread()
{
    RecordingShape shape;
    shape.curveNames = names(1);
    shape.start = localMs(firstDay, QTime(8, 0));
    shape.samples = 10;
    QVERIFY(writeRecording(dataDir(), shape));
    CurveDataDB *db = openStore();
    const QString current = db->currentDatabasePath();
    QVERIFY(ConnectionPool::instance()->isPooled(current));

    LogRecorder log;
    TrendRequest request;
    request.curveNames = shape.curveNames;
    const TrendReduction result = RecordingReducer(db).read(request);
    QVERIFY(!result.complete);
    QVERIFY(result.isEmpty());
    QCOMPARE(log.count(QStringLiteral("曲线回读不能在数据库线程中运行")), 1);
    // The store's own connection is still there and writes still land.
    QVERIFY(ConnectionPool::instance()->isPooled(current));
    const int id = db->registerCurve(QStringLiteral("101"));
    db->insertData(id, StoreClock::nowMs(), 4.5);
    QCOMPARE(db->curveMetadataOf(id).maxValue, 4.5);
}

void TestRecordingReadBack::storeBeingClearedGivesAnIncompleteAnswer()
{
    RecordingShape shape;
    shape.curveNames = names(2);
    shape.start = localMs(firstDay, QTime(8, 0));
    shape.samples = 1000;
    QVERIFY(writeRecording(dataDir(), shape));
    CurveDataDB *db = openStore();
    QSignalSpy cleared(db, &CurveDataDB::sigClearFinished);
    db->clearAllData();
    QVERIFY(db->isClearing());
    TrendRequest request;
    request.curveNames = shape.curveNames;
    const TrendReduction result = readOnThread(db, request);
    QVERIFY(!result.complete);
    QVERIFY(result.isEmpty());
    QVERIFY(cleared.wait(10000));
    // Cleared: the recording is gone, and reading says so completely.
    const TrendReduction after = readOnThread(db, request);
    QVERIFY(after.complete);
    QVERIFY(after.isEmpty());
}

void TestRecordingReadBack::clearDuringAReadStopsItBeforeFilesGo()
{
    RecordingShape shape;
    shape.curveNames = names(10);
    shape.start = localMs(firstDay, QTime(0, 0));
    shape.samples = 43200;
    QVERIFY(writeRecording(dataDir(), shape));
    CurveDataDB *db = openStore();
    RecordingReadBack readBack(db);
    QSignalSpy reduced(&readBack, &RecordingReadBack::reduced);
    QSignalSpy cleared(db, &CurveDataDB::sigClearFinished);
    TrendRequest whole;
    whole.curveNames = shape.curveNames;
    readBack.request(whole);
    QElapsedTimer sinceClear;
    sinceClear.start();
    db->clearAllData();
    // The read gives up and hands its connections back well before the day files are deleted
    // (a second after the clear was asked for).
    QVERIFY(reduced.wait(5000));
    QVERIFY(sinceClear.elapsed() < 900);
    QVERIFY(cleared.isEmpty());
    QVERIFY(!reduced.first().first().value<TrendReduction>().complete);
    QTRY_COMPARE_WITH_TIMEOUT(ConnectionPool::instance()->connectionCount(),
                              ConnectionPool::instance()->threadConnectionCount(), 500);
    QVERIFY(cleared.isEmpty());
    QVERIFY(cleared.wait(10000));
}

void TestRecordingReadBack::onlyTheNewestRequestIsReported()
{
    RecordingShape shape;
    shape.curveNames = names(4);
    shape.start = localMs(firstDay, QTime(0, 0));
    shape.samples = 40000;
    QVERIFY(writeRecording(dataDir(), shape));
    RecordingReadBack readBack(openStore());
    QSignalSpy reduced(&readBack, &RecordingReadBack::reduced);

    TrendRequest whole;
    whole.curveNames = shape.curveNames;
    TrendRequest span = whole;
    span.wholeRecording = false;
    span.start = shape.start + 1000000;
    span.end = shape.start + 1099999;
    readBack.request(whole);
    readBack.request(whole);
    const int newest = readBack.request(span);
    QVERIFY(readBack.isBusy());
    QVERIFY(reduced.wait(10000));
    QTRY_VERIFY(!readBack.isBusy());
    QTest::qWait(100);
    QCOMPARE(reduced.count(), 1);
    const TrendReduction result = reduced.first().first().value<TrendReduction>();
    QCOMPARE(result.requestId, newest);
    QVERIFY(result.complete);
    QVERIFY(!result.wholeRecording);
    QCOMPARE(result.curves.first().samples, qint64(100));

    // Cancelled: nothing more is reported.
    readBack.request(whole);
    readBack.cancel();
    QTRY_VERIFY(!readBack.isBusy());
    QTest::qWait(100);
    QCOMPARE(reduced.count(), 1);
}

void TestRecordingReadBack::destroyedDuringAReadEndsItsThread()
{
    RecordingShape shape;
    shape.curveNames = names(10);
    shape.start = localMs(firstDay, QTime(0, 0));
    shape.samples = 43200;
    QVERIFY(writeRecording(dataDir(), shape));
    CurveDataDB *db = openStore();
    const int ownConnections = ConnectionPool::instance()->threadConnectionCount();
    QElapsedTimer timer;
    timer.start();
    {
        RecordingReadBack readBack(db);
        TrendRequest whole;
        whole.curveNames = shape.curveNames;
        readBack.request(whole);
        QTest::qWait(20);
    }
    // Abandoned at once rather than waited for; its connections are gone with it.
    QVERIFY(timer.elapsed() < 3000);
    QCOMPARE(ConnectionPool::instance()->connectionCount(), ownConnections);
}

QTEST_GUILESS_MAIN(TestRecordingReadBack)
#include "tst_recordingreadback.moc"
