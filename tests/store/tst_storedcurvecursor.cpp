// Stored-curve cursors over real stores around the spring change to summer time: tables across
// day files in time order, range ends, missing files, a slice stored in two files, a slice
// stored ahead of the clock, ids that differ between day files, damaged and closed tables, a
// clearing store, per-thread connections and a late sample written after midnight while
// yesterday's file is read.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "shardcalendar.h"
#include "storedcurvecursor.h"
#include "storereaderscope.h"
#include "storeschema.h"
#include "storetestsupport.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QSqlDriver>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <mutex>

using namespace StoreTest;

namespace {

// Saturday before, Sunday of and Monday after the spring change to summer time in Berlin.
const QDate day1(2024, 3, 30);
const QDate day2(2024, 3, 31);
const QDate day3(2024, 4, 1);

qint64 at(const QDate &d, int h, int m = 0, int s = 0, int ms = 0)
{
    return localMs(d, QTime(h, m, s, ms));
}

struct Sample
{
    int curveId;
    qint64 time;
    double value;
};

// A store of its own in a temporary directory under a frozen clock. Samples are written through
// insertData with the clock at each sample's time, as a recording writes them.
class Recording
{
public:
    // Curves are registered in the order given (ids 1, 2, ...).
    Recording(qint64 startMs, const QStringList &curveNames)
        : clock(startMs)
    {
        db = std::make_unique<CurveDataDB>(dir.path());
        for (const QString &name : curveNames)
            db->registerCurve(name);
    }
    ~Recording() { db.reset(); }

    CurveDataDB *store() const { return db.get(); }
    QString pathOf(const QDate &d) const { return dayFilePath(db->dataDirectory(), dayKey(d)); }
    void setClock(qint64 ms) { clock.set(ms); }
    // In time order; afterwards the clock stands at clockAfter (if given).
    void write(QList<Sample> samples, qint64 clockAfter = -1)
    {
        std::stable_sort(samples.begin(), samples.end(),
                         [](const Sample &a, const Sample &b) { return a.time < b.time; });
        for (const Sample &s : qAsConst(samples)) {
            clock.set(s.time);
            db->insertData(s.curveId, s.time, s.value);
        }
        if (clockAfter >= 0)
            clock.set(clockAfter);
    }

private:
    QTemporaryDir dir;
    FrozenClock clock;
    std::unique_ptr<CurveDataDB> db;
};

struct Read
{
    QList<qint64> times;
    QList<double> values;
};

Read readAll(StoredCurveCursor &cursor)
{
    Read read;
    while (cursor.hasRow()) {
        read.times.append(cursor.timestamp());
        read.values.append(cursor.value());
        cursor.advance();
    }
    return read;
}

// Messages that contain every fragment.
int count(const LogRecorder &log, const QStringList &fragments)
{
    int n = 0;
    for (const QString &message : log.messages()) {
        bool all = true;
        for (const QString &fragment : fragments)
            all = all && message.contains(fragment);
        n += all ? 1 : 0;
    }
    return n;
}

const QString curve101 = QStringLiteral("101");

} // namespace

class TestStoredCurveCursor : public QObject
{
    Q_OBJECT

private slots:
    void readsThreeDayFilesInTimeOrder();
    void rangeEndsAreInclusive_data();
    void rangeEndsAreInclusive();
    void missingDayFiles();
    void sliceStoredAheadOfTheClockIsRead();
    void sliceInTwoFilesIsReadOnceFromItsOwnDay();
    void idsThatDifferBetweenDayFilesKeepTimeOrder();
    void tableThatIsGoneIsSkippedAndReported();
    void tableWithRowsOnlyOutsideTheRangeIsStepped();
    void queryClosedUnderTheCursorMovesOn();
    void clearingStoreGivesNoConnection();
    void cursorOnAnotherThreadUsesConnectionsOfItsOwn();
    void lateSampleIsStoredWhileYesterdayIsRead();
};

void TestStoredCurveCursor::readsThreeDayFilesInTimeOrder()
{
    Recording r(at(day1, 0, 0, 1), {curve101, QStringLiteral("102")});
    QList<Sample> samples;
    QList<qint64> expected;
    // Every 100 minutes over three days, odd milliseconds included; the other curve in between.
    for (qint64 t = at(day1, 0, 5); t < at(day3, 23, 59); t += 100 * 60000 + 7) {
        samples.append({1, t, double(t % 1000) / 8.0});
        samples.append({2, t + 1, -1.0});
        expected.append(t);
    }
    r.write(samples, at(day3, 23, 59, 30));

    for (const auto order : {StoredCurveCursor::Order::Time, StoredCurveCursor::Order::Stored}) {
        LogRecorder log;
        StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day3, 23, 59, 59, 999),
                                 order);
        const QStringList tables = cursor.tableNames();
        QCOMPARE(tables.size(), 12); // four slices a day, three days
        QVERIFY(std::is_sorted(tables.cbegin(), tables.cend()));
        for (const QString &table : tables)
            QVERIFY2(table.startsWith(QLatin1String("curve_1_batch_")), qPrintable(table));
        QVERIFY(cursor.hasRow());
        // Counted before a row is read and again after all were: every table wholly inside.
        QCOMPARE(cursor.rowCount(), qint64(expected.size()));
        const Read read = readAll(cursor);
        QCOMPARE(read.times, expected);
        QCOMPARE(cursor.rowCount(), qint64(expected.size()));
        for (int i = 0; i < read.times.size(); ++i)
            QCOMPARE(read.values.at(i), double(read.times.at(i) % 1000) / 8.0);
        QVERIFY(!cursor.hasRow());
        QVERIFY(!cursor.advance());
        QVERIFY(cursor.isComplete());
        QCOMPARE(count(log, {QStringLiteral("[初始化查询] 曲线 101"),
                             QStringLiteral("所有分片表已处理完毕")}),
                 1);
        qint64 first = 0;
        qint64 last = 0;
        QVERIFY(cursor.extent(&first, &last));
        QCOMPARE(first, expected.first());
        QCOMPARE(last, expected.last());
        cursor.close();
        QVERIFY(cursor.currentFile().isEmpty());
    }
}

void TestStoredCurveCursor::rangeEndsAreInclusive_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<QList<qint64>>("expected");
    const qint64 a = at(day1, 5, 59, 59, 999); // last millisecond of the first slice
    const qint64 b = at(day1, 6);
    const qint64 c = at(day2, 0);
    const qint64 d = at(day2, 0, 0, 0, 1);
    QTest::newRow("exact ends") << a << c << QList<qint64>{a, b, c};
    QTest::newRow("one ms inside") << a + 1 << c - 1 << QList<qint64>{b};
    QTest::newRow("single instant") << b << b << QList<qint64>{b};
    QTest::newRow("end at start of next day") << b << d << QList<qint64>{b, c, d};
    QTest::newRow("end before start") << c << b << QList<qint64>{};
}

void TestStoredCurveCursor::rangeEndsAreInclusive()
{
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(QList<qint64>, expected);
    Recording r(at(day1, 0), {curve101});
    QList<Sample> samples;
    for (const qint64 t :
         {at(day1, 5, 59, 59, 999), at(day1, 6), at(day2, 0), at(day2, 0, 0, 0, 1)})
        samples.append({1, t, 1.0});
    r.write(samples, at(day2, 12));
    // Stored order reads a slice partly inside the range through the range, as time order does.
    for (const auto order : {StoredCurveCursor::Order::Time, StoredCurveCursor::Order::Stored}) {
        StoredCurveCursor cursor(r.store(), curve101, start, end, order);
        // Slices reaching past the range are counted through it, not whole.
        QCOMPARE(cursor.rowCount(), qint64(expected.size()));
        QCOMPARE(readAll(cursor).times, expected);
    }
}

void TestStoredCurveCursor::missingDayFiles()
{
    Recording r(at(day1, 0), {curve101});
    r.write({{1, at(day1, 10), 1.0}, {1, at(day2, 10), 2.0}, {1, at(day3, 10), 3.0}}, at(day3, 12));
    const QString middle = r.pathOf(day2);
    ConnectionPool::instance()->closeConnection(middle);
    QVERIFY(QFile::remove(middle));

    StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day3, 23));
    QCOMPARE(readAll(cursor).values, (QList<double>{1.0, 3.0}));
    QVERIFY(cursor.isComplete());
    // No file is made for a day that has none.
    QVERIFY(!QFile::exists(middle));

    LogRecorder log;
    StoredCurveCursor inGap(r.store(), curve101, at(day2, 1), at(day2, 23));
    QVERIFY(!inGap.hasRow());
    QVERIFY(inGap.tableNames().isEmpty());
    QVERIFY(!QFile::exists(middle));
    QCOMPARE(count(log, {QStringLiteral("[Cursor初始化] 曲线 101 未获取到任何分片表")}), 1);

    StoredCurveCursor beforeAll(r.store(), curve101, at(day1.addDays(-5), 0),
                                at(day1.addDays(-3), 0));
    QVERIFY(!beforeAll.hasRow());
    QCOMPARE(count(log, {QStringLiteral("[获取分片表] 曲线 101 时间范围内无有效数据库文件")}), 1);
}

void TestStoredCurveCursor::sliceStoredAheadOfTheClockIsRead()
{
    // A sample stamped in the future goes to today's file, into a table named after its own
    // date; that date's file never comes to exist.
    Recording r(at(day1, 12), {curve101});
    r.write({{1, at(day1, 11), 1.0}});
    r.store()->insertData(1, at(day2, 10), 2.0);
    r.store()->insertData(1, at(day2, 10, 30), 2.5);
    r.setClock(at(day3, 8));
    QVERIFY(!QFile::exists(r.pathOf(day2)));

    StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day2, 23));
    QCOMPARE(cursor.tableNames().size(), 2);
    QCOMPARE(readAll(cursor).values, (QList<double>{1.0, 2.0, 2.5}));
    // Also when the range holds only the future slice's own day.
    StoredCurveCursor ownDay(r.store(), curve101, at(day2, 0), at(day2, 23));
    QCOMPARE(readAll(ownDay).values, (QList<double>{2.0, 2.5}));
}

void TestStoredCurveCursor::sliceInTwoFilesIsReadOnceFromItsOwnDay()
{
    Recording r(at(day1, 12), {curve101});
    r.store()->insertData(1, at(day2, 8), 8.0); // future: into day 1's file
    r.write({{1, at(day2, 7, 30), 7.0}}, at(day3, 8));
    for (const auto order : {StoredCurveCursor::Order::Time, StoredCurveCursor::Order::Stored}) {
        StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day2, 23), order);
        QCOMPARE(cursor.tableNames().size(), 1);
        QCOMPARE(cursor.currentFile(), r.pathOf(day2));
        QCOMPARE(cursor.rowCount(), qint64(1));
        QCOMPARE(readAll(cursor).values, QList<double>{7.0});
    }
}

void TestStoredCurveCursor::idsThatDifferBetweenDayFilesKeepTimeOrder()
{
    // Day 1 written by the store: "101" is id 1, "102" id 2. Day 2 written by hand with "102" as
    // id 10 and "101" as id 2: table names no longer sort in time order ("curve_10_" first).
    Recording r(at(day1, 0), {curve101, QStringLiteral("102")});
    r.write({{1, at(day1, 20), 1.0}, {2, at(day1, 21), -1.0}}, at(day1, 23));
    {
        SqliteFile db(r.pathOf(day2), true);
        createFixedTables(db);
        QVERIFY(db.exec("INSERT INTO curve_info (curve_id, name) VALUES (2, '101'), (10, '102')"));
        const qint64 slice = at(day2, 0);
        for (const int id : {2, 10}) {
            const QString table = batchTableName(id, batchNameOfTime(slice));
            QVERIFY(db.exec(QString::fromLatin1(StoreSql::createBatchTable).arg(table)));
            QVERIFY(db.exec(QString::fromLatin1(StoreSql::createBatchIndex).arg(table)));
            QVERIFY(db.exec(QStringLiteral("INSERT INTO batch_metadata (curve_id, batch_start, "
                                           "batch_end, table_name) VALUES (%1, %2, %3, '%4')")
                                .arg(id)
                                .arg(slice)
                                .arg(slice + batchLengthMs - 1)
                                .arg(table)));
            QVERIFY(db.exec(QStringLiteral("INSERT INTO \"%1\" (curve_id, timestamp, value) "
                                           "VALUES (%2, %3, %4)")
                                .arg(table)
                                .arg(id)
                                .arg(slice + 3600000)
                                .arg(id == 2 ? 2.0 : -2.0)));
        }
    }
    r.setClock(at(day3, 8));

    StoredCurveCursor a(r.store(), curve101, at(day1, 0), at(day2, 23));
    QCOMPARE(readAll(a).values, (QList<double>{1.0, 2.0}));
    StoredCurveCursor b(r.store(), QStringLiteral("102"), at(day1, 0), at(day2, 23));
    QCOMPARE(b.tableNames().first(), batchTableName(2, batchNameOfTime(at(day1, 21))));
    QCOMPARE(b.tableNames().last(), batchTableName(10, batchNameOfTime(at(day2, 0))));
    QCOMPARE(readAll(b).times, (QList<qint64>{at(day1, 21), at(day2, 1)}));
}

void TestStoredCurveCursor::tableThatIsGoneIsSkippedAndReported()
{
    Recording r(at(day1, 0), {curve101});
    r.write({{1, at(day1, 1), 1.0}, {1, at(day1, 7), 2.0}, {1, at(day1, 13), 3.0}}, at(day1, 23));
    // The middle slice's metadata row stays, the table itself is gone (a damaged file).
    const QString gone = batchTableName(1, batchNameOfTime(at(day1, 7)));
    ConnectionPool::instance()->closeAllConnections();
    {
        SqliteFile db(r.pathOf(day1));
        QVERIFY(db.exec(QStringLiteral("DROP TABLE \"%1\"").arg(gone)));
    }
    LogRecorder log;
    StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day1, 23));
    QCOMPARE(cursor.tableNames().size(), 3);
    QVERIFY(cursor.isComplete());
    // A count that cannot be had is no count.
    QCOMPARE(cursor.rowCount(), qint64(-1));
    QCOMPARE(readAll(cursor).values, (QList<double>{1.0, 3.0}));
    QVERIFY(!cursor.isComplete());
    QCOMPARE(count(log, {QStringLiteral("[初始化查询] SQL执行失败："), gone}), 1);
}

void TestStoredCurveCursor::tableWithRowsOnlyOutsideTheRangeIsStepped()
{
    Recording r(at(day1, 0), {curve101});
    r.write({{1, at(day1, 1), 1.0}, {1, at(day1, 5), 5.0}, {1, at(day1, 7), 7.0}}, at(day1, 23));
    LogRecorder log;
    StoredCurveCursor cursor(r.store(), curve101, at(day1, 5, 30), at(day1, 23));
    QCOMPARE(cursor.tableNames().size(), 2);
    QVERIFY(cursor.hasRow());
    QCOMPARE(cursor.value(), 7.0);
    QVERIFY(!cursor.advance());
    QVERIFY(cursor.isComplete());
    QCOMPARE(count(log, {QStringLiteral("[初始化查询] 分片表"), cursor.tableNames().first(),
                         QStringLiteral("无匹配数据（时间范围/曲线ID过滤后为空）")}),
             1);
}

void TestStoredCurveCursor::queryClosedUnderTheCursorMovesOn()
{
    Recording r(at(day1, 0), {curve101});
    r.write({{1, at(day1, 1), 1.0}, {1, at(day1, 2), 2.0}, {1, at(day2, 1), 3.0}}, at(day2, 12));
    StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day2, 23));
    QVERIFY(cursor.hasRow());
    QCOMPARE(cursor.value(), 1.0);
    // The pool closes the file under the open statement (as eviction or expiry would): the
    // statement is finished first, so that it is never stepped after its connection is gone.
    LogRecorder log;
    ConnectionPool::instance()->closeConnection(cursor.currentFile());
    QVERIFY(cursor.advance());
    QCOMPARE(count(log, {QStringLiteral("[获取数据] 查询已失效，切换到下一个分片表")}), 1);
    // The rest of the closed table is given up, and said so; the next table follows.
    QCOMPARE(cursor.value(), 3.0);
    QVERIFY(!cursor.isComplete());
    QVERIFY(!cursor.advance());
}

void TestStoredCurveCursor::clearingStoreGivesNoConnection()
{
    Recording r(at(day1, 0), {curve101});
    r.write({{1, at(day1, 1), 1.0}}, at(day1, 12));
    QSignalSpy cleared(r.store(), &CurveDataDB::sigClearFinished);
    r.store()->clearAllData();
    LogRecorder log;
    StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day1, 23));
    QVERIFY(!cursor.hasRow());
    QVERIFY(!cursor.isComplete());
    QVERIFY(cursor.tableNames().isEmpty());
    QVERIFY(count(log, {QStringLiteral("[获取分片表] 曲线 101 打开数据库"),
                        QStringLiteral("失败（openDb返回空）")}) >= 1);
    QVERIFY(cleared.wait(10000));
    // The store's clear thread may still be ending after its signal (its quit is queued to
    // this thread); the store deletes it as its child, which must not happen while it runs.
    for (QThread *child : r.store()->findChildren<QThread *>()) {
        const QPointer<QThread> worker(child);
        QTRY_VERIFY_WITH_TIMEOUT(!worker || worker->isFinished(), 10000);
    }
}

void TestStoredCurveCursor::cursorOnAnotherThreadUsesConnectionsOfItsOwn()
{
    Recording r(at(day1, 0), {curve101});
    r.write({{1, at(day1, 1), 1.0}, {1, at(day1, 2), 2.0}}, at(day1, 12));
    const QString path = r.pathOf(day1);
    // This thread's own connection to the day file.
    const QSharedPointer<QSqlDatabase> mine = r.store()->getConnection(path);
    QVERIFY(mine && mine->isOpen());
    const QString myName = mine->connectionName();
    const int before = ConnectionPool::instance()->connectionCount();

    QString theirName;
    bool ownThread = false;
    QList<double> values;
    int pooledWhileReading = 0;
    const bool ran = runOnThread([&] {
        StoreReaderScope connections;
        StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day1, 23));
        theirName = ConnectionPool::instance()->connectionNameOf(cursor.currentFile());
        const QSqlDatabase theirs = QSqlDatabase::database(theirName, false);
        ownThread = theirs.driver() && theirs.driver()->thread() == QThread::currentThread();
        pooledWhileReading = ConnectionPool::instance()->connectionCount();
        values = readAll(cursor).values;
    });
    QVERIFY(ran);

    QCOMPARE(values, (QList<double>{1.0, 2.0}));
    QVERIFY(ownThread);
    QVERIFY(!theirName.isEmpty());
    QVERIFY(theirName != myName);
    QVERIFY(pooledWhileReading > before);
    QCOMPARE(ConnectionPool::instance()->connectionCount(), before);
    QCOMPARE(ConnectionPool::instance()->connectionNameOf(path), myName);
    QVERIFY(mine->isOpen());
}

// After midnight the samples of the scan under way reach yesterday's file; a reader standing on
// a row of that file (the publisher between two channels, an export) must not hold them off.
void TestStoredCurveCursor::lateSampleIsStoredWhileYesterdayIsRead()
{
    // The recording starts just after midnight (a logger restarted then): yesterday's file is
    // opened for the first time after midnight.
    Recording r(at(day2, 0, 0, 5), {curve101});
    QVERIFY(r.store()->insertData(1, at(day1, 23, 59, 50), 1.0));

    Gate standing;
    Gate written;
    double firstValue = 0.0;
    QThread *reader = QThread::create([&] {
        StoreReaderScope connections;
        StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day2, 23));
        firstValue = cursor.hasRow() ? cursor.value() : -1.0;
        standing.open();
        written.waitOpen();
    });
    reader->start();
    QVERIFY(standing.waitOpen());
    const bool stored = r.store()->insertData(1, at(day1, 23, 59, 59), 2.0);
    written.open();
    QVERIFY(reader->wait(30000));
    delete reader;

    QCOMPARE(firstValue, 1.0);
    QVERIFY(stored);
    StoredCurveCursor cursor(r.store(), curve101, at(day1, 0), at(day2, 23));
    QCOMPARE(readAll(cursor).values, (QList<double>{1.0, 2.0}));
}

QTEST_GUILESS_MAIN(TestStoredCurveCursor)
#include "tst_storedcurvecursor.moc"
