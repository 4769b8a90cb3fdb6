// Shard cursors over real stores: tables across day files, the fallback lookup, missing files,
// range ends, invalidated queries, a clearing store and per-thread connections.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "exporttestsupport.h"
#include "shardcursor.h"
#include "trackedquery.h"

#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QSqlDriver>
#include <QThread>
#include <QtTest>
#include <mutex>

#include <sqlite3.h>

using namespace ExportTest;

namespace {

// Saturday before, Sunday of and Monday after the spring change to summer time in Berlin.
const QDate day1(2024, 3, 30);
const QDate day2(2024, 3, 31);
const QDate day3(2024, 4, 1);

qint64 at(const QDate &d, int h, int m = 0, int s = 0, int ms = 0)
{
    return localMs(d, QTime(h, m, s, ms));
}

struct Read
{
    QList<qint64> times;
    QList<double> values;
};

Read readAll(ShardCursor &cursor)
{
    Read read;
    while (cursor.hasRow) {
        read.times.append(cursor.timestamp);
        read.values.append(cursor.value);
        cursor.advance();
    }
    return read;
}

bool dropTable(const QString &dbPath, const QString &table)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(dbPath.toUtf8().constData(), &db) == SQLITE_OK;
    const QByteArray sql = QStringLiteral("DROP TABLE \"%1\"").arg(table).toUtf8();
    ok = ok && sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

} // namespace

class TestShardCursor : public QObject
{
    Q_OBJECT

private slots:
    void readsThreeDayFilesInTimeOrder();
    void rangeEndsAreInclusive_data();
    void rangeEndsAreInclusive();
    void missingDayFileOfTheWholeRange();
    void missingDayFileInTheMiddle();
    void tableFoundOnlyByTheFallback();
    void tableThatNoFileHoldsIsSkipped();
    void tableNamedInTwoFilesIsListedOnce();
    void tableWithRowsOnlyOutsideTheRangeIsStepped();
    void queryClosedUnderTheCursorMovesOn();
    void clearingStoreGivesNoConnection();
    void cursorOnAnotherThreadUsesConnectionsOfItsOwn();
};

void TestShardCursor::readsThreeDayFilesInTimeOrder()
{
    TestStore s(at(day1, 0, 0, 1), {QStringLiteral("101"), QStringLiteral("102")});
    QList<Sample> samples;
    QList<qint64> expected;
    // Every 100 minutes over three days, odd milliseconds included; the other curve in between.
    for (qint64 t = at(day1, 0, 5); t < at(day3, 23, 59); t += 100 * 60000 + 7) {
        samples.append({1, t, double(t % 1000) / 8.0});
        samples.append({2, t + 1, -1.0});
        expected.append(t);
    }
    s.write(samples, at(day3, 23, 59, 30));

    LogCapture log;
    ShardCursor cursor(1, s.store(), at(day1, 0), at(day3, 23, 59, 59, 999));
    QCOMPARE(cursor.tables.size(), 12); // four slices a day, three days
    QVERIFY(std::is_sorted(cursor.tables.cbegin(), cursor.tables.cend()));
    for (const QString &table : qAsConst(cursor.tables))
        QVERIFY2(table.startsWith(QLatin1String("curve_1_batch_")), qPrintable(table));
    QVERIFY(cursor.hasRow);
    const Read read = readAll(cursor);
    QCOMPARE(read.times, expected);
    for (int i = 0; i < read.times.size(); ++i)
        QCOMPARE(read.values.at(i), double(read.times.at(i) % 1000) / 8.0);
    QVERIFY(!cursor.hasRow);
    QVERIFY(!cursor.advance());
    QVERIFY(log.count({QStringLiteral("[初始化查询] 曲线 1"),
                       QStringLiteral("所有分片表已处理完毕")}) >= 1);
    cursor.close();
    QVERIFY(!cursor.connection);
}

void TestShardCursor::rangeEndsAreInclusive_data()
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
}

void TestShardCursor::rangeEndsAreInclusive()
{
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(QList<qint64>, expected);
    TestStore s(at(day1, 0), {QStringLiteral("101")});
    QList<Sample> samples;
    for (const qint64 t :
         {at(day1, 5, 59, 59, 999), at(day1, 6), at(day2, 0), at(day2, 0, 0, 0, 1)})
        samples.append({1, t, 1.0});
    s.write(samples, at(day2, 12));
    ShardCursor cursor(1, s.store(), start, end);
    QCOMPARE(readAll(cursor).times, expected);
}

void TestShardCursor::missingDayFileOfTheWholeRange()
{
    TestStore s(at(day1, 9), {QStringLiteral("101")});
    s.write({{1, at(day1, 10), 1.0}}, at(day3, 12));
    LogCapture log;
    ShardCursor cursor(1, s.store(), at(day2, 1), at(day2, 23));
    QVERIFY(!cursor.hasRow);
    QVERIFY(cursor.tables.isEmpty());
    QCOMPARE(log.count({QStringLiteral("[获取分片表] 曲线 1 数据库不存在："),
                        s.store()->dbPathForDate(QStringLiteral("20240331"))}),
             1);
    QCOMPARE(log.count({QStringLiteral("[获取分片表] 曲线 1 时间范围内无有效数据库文件")}), 1);
    QCOMPARE(log.count({QStringLiteral("[Cursor初始化] 曲线 1 未获取到任何分片表")}), 1);
}

void TestShardCursor::missingDayFileInTheMiddle()
{
    TestStore s(at(day1, 0), {QStringLiteral("101")});
    s.write({{1, at(day1, 10), 1.0}, {1, at(day2, 10), 2.0}, {1, at(day3, 10), 3.0}}, at(day3, 12));
    const QString middle = s.store()->dbPathForDate(QStringLiteral("20240331"));
    ConnectionPool::instance()->closeConnection(middle);
    QVERIFY(QFile::remove(middle));

    LogCapture log;
    ShardCursor cursor(1, s.store(), at(day1, 0), at(day3, 23));
    const Read read = readAll(cursor);
    QCOMPARE(read.values, (QList<double>{1.0, 3.0}));
    QCOMPARE(log.count({QStringLiteral("数据库不存在："), middle}), 1);
}

void TestShardCursor::tableFoundOnlyByTheFallback()
{
    // A sample stamped in the future goes to today's file, into a table named after its own
    // date; once that date has come without a file of its own, only the fallback finds it.
    TestStore s(at(day1, 12), {QStringLiteral("101")});
    s.write({{1, at(day1, 11), 1.0}});
    s.store()->insertData(1, at(day2, 10), 2.0);
    s.store()->insertData(1, at(day2, 10, 30), 2.5);
    s.setClock(at(day3, 8));
    const QString day2Path = s.store()->dbPathForDate(QStringLiteral("20240331"));
    QVERIFY(!QFile::exists(day2Path));

    LogCapture log;
    ShardCursor cursor(1, s.store(), at(day1, 0), at(day2, 23));
    QCOMPARE(cursor.tables.size(), 2);
    const Read read = readAll(cursor);
    QCOMPARE(read.values, (QList<double>{1.0, 2.0, 2.5}));
    QCOMPARE(log.count({QStringLiteral("[初始化查询] 日期 20240331 对应的数据库"), day2Path,
                        QStringLiteral("不存在，启动兜底方案")}),
             1);
    QCOMPARE(log.count({QStringLiteral("[初始化查询] 兜底方案找到表"), cursor.tables.last(),
                        s.store()->dbPathForDate(QStringLiteral("20240330"))}),
             1);
}

void TestShardCursor::tableThatNoFileHoldsIsSkipped()
{
    TestStore s(at(day1, 12), {QStringLiteral("101")});
    s.write({{1, at(day1, 11), 1.0}, {1, at(day1, 19), 3.0}});
    s.store()->insertData(1, at(day2, 10), 2.0);
    s.setClock(at(day3, 8));
    // The future table's metadata row stays, the table itself is gone (a damaged file).
    const QString day1Path = s.store()->dbPathForDate(QStringLiteral("20240330"));
    ShardCursor probe(1, s.store(), at(day1, 0), at(day2, 23));
    QCOMPARE(probe.tables.size(), 3);
    const QString future = probe.tables.last();
    probe.close();
    ConnectionPool::instance()->closeAllConnections();
    QVERIFY(dropTable(day1Path, future));

    LogCapture log;
    ShardCursor cursor(1, s.store(), at(day1, 0), at(day2, 23));
    QCOMPARE(readAll(cursor).values, (QList<double>{1.0, 3.0}));
    QCOMPARE(log.count({QStringLiteral("[初始化查询] 未找到分片表"), future,
                        QStringLiteral("对应的数据库，跳过该表")}),
             1);
}

void TestShardCursor::tableNamedInTwoFilesIsListedOnce()
{
    TestStore s(at(day1, 12), {QStringLiteral("101")});
    s.store()->insertData(1, at(day2, 8), 8.0); // future: into day 1's file
    s.write({{1, at(day2, 7, 30), 7.0}}, at(day3, 8));
    ShardCursor cursor(1, s.store(), at(day1, 0), at(day2, 23));
    QCOMPARE(cursor.tables.size(), 1);
    QCOMPARE(cursor.tables.removeDuplicates(), 0);
    // The copy in the file of the table's own date is the one read.
    QCOMPARE(readAll(cursor).values, QList<double>{7.0});
}

void TestShardCursor::tableWithRowsOnlyOutsideTheRangeIsStepped()
{
    TestStore s(at(day1, 0), {QStringLiteral("101")});
    s.write({{1, at(day1, 1), 1.0}, {1, at(day1, 5), 5.0}, {1, at(day1, 7), 7.0}}, at(day1, 23));
    LogCapture log;
    ShardCursor cursor(1, s.store(), at(day1, 5, 30), at(day1, 23));
    QCOMPARE(cursor.tables.size(), 2);
    QVERIFY(cursor.hasRow);
    QCOMPARE(cursor.value, 7.0);
    QCOMPARE(cursor.nextTableIndex, 2);
    QCOMPARE(log.count({QStringLiteral("[初始化查询] 分片表"), cursor.tables.first(),
                        QStringLiteral("无匹配数据（时间范围/曲线ID过滤后为空）")}),
             1);
}

void TestShardCursor::queryClosedUnderTheCursorMovesOn()
{
    TestStore s(at(day1, 0), {QStringLiteral("101")});
    s.write({{1, at(day1, 1), 1.0}, {1, at(day1, 2), 2.0}, {1, at(day2, 1), 3.0}}, at(day2, 12));
    ShardCursor cursor(1, s.store(), at(day1, 0), at(day2, 23));
    QVERIFY(cursor.hasRow);
    QCOMPARE(cursor.value, 1.0);
    // The pool closes the file under the open query (as eviction or expiry would).
    LogCapture log;
    ConnectionPool::instance()->closeConnection(cursor.connection->databaseName());
    QVERIFY(cursor.advance());
    QCOMPARE(log.count({QStringLiteral("[获取数据] 查询已失效，切换到下一个分片表")}), 1);
    // The rest of the closed table is given up; the next table follows.
    QCOMPARE(cursor.value, 3.0);
    QVERIFY(!cursor.advance());
}

void TestShardCursor::clearingStoreGivesNoConnection()
{
    TestStore s(at(day1, 0), {QStringLiteral("101")});
    s.write({{1, at(day1, 1), 1.0}}, at(day1, 12));
    QSignalSpy cleared(s.store(), &CurveDataDB::sigClearFinished);
    s.store()->clearAllData();
    LogCapture log;
    ShardCursor cursor(1, s.store(), at(day1, 0), at(day1, 23));
    QVERIFY(!cursor.hasRow);
    QVERIFY(log.count({QStringLiteral("[获取分片表] 曲线 1 打开数据库"),
                       QStringLiteral("失败（openDb返回空）")}) >= 1);
    QVERIFY(cleared.wait(10000));
    // The store's clear thread may still be ending after its signal (its quit is queued to
    // this thread); the store deletes it as its child, which must not happen while it runs.
    for (QThread *child : s.store()->findChildren<QThread *>()) {
        const QPointer<QThread> worker(child);
        QTRY_VERIFY_WITH_TIMEOUT(!worker || worker->isFinished(), 10000);
    }
}

void TestShardCursor::cursorOnAnotherThreadUsesConnectionsOfItsOwn()
{
    TestStore s(at(day1, 0), {QStringLiteral("101")});
    s.write({{1, at(day1, 1), 1.0}, {1, at(day1, 2), 2.0}}, at(day1, 12));
    const QString path = s.store()->dbPathForDate(QStringLiteral("20240330"));
    // This thread's own connection to the day file.
    const QSharedPointer<QSqlDatabase> mine = s.store()->getConnection(path);
    QVERIFY(mine && mine->isOpen());
    const QString myName = mine->connectionName();
    const int before = ConnectionPool::instance()->connectionCount();

    QString theirName;
    bool ownThread = false;
    QList<double> values;
    int pooledWhileReading = 0;
    // Held by the worker while it runs and taken here after wait(): a hand-over the thread
    // sanitizer can see, which QThread::wait() alone is not.
    std::mutex handOver;
    QThread *worker = QThread::create([&] {
        std::lock_guard<std::mutex> hold(handOver);
        ShardCursor cursor(1, s.store(), at(day1, 0), at(day1, 23));
        if (cursor.connection) {
            theirName = cursor.connection->connectionName();
            ownThread = cursor.connection->driver()->thread() == QThread::currentThread();
        }
        pooledWhileReading = ConnectionPool::instance()->connectionCount();
        values = readAll(cursor).values;
        cursor.close();
        ConnectionPool::instance()->releaseThreadConnections();
    });
    worker->start();
    QVERIFY(worker->wait(30000));
    delete worker;
    std::lock_guard<std::mutex> handedOver(handOver);

    QCOMPARE(values, (QList<double>{1.0, 2.0}));
    QVERIFY(ownThread);
    QVERIFY(!theirName.isEmpty());
    QVERIFY(theirName != myName);
    QVERIFY(pooledWhileReading > before);
    QCOMPARE(ConnectionPool::instance()->connectionCount(), before);
    QCOMPARE(ConnectionPool::instance()->connectionNameOf(path), myName);
    QVERIFY(mine->isOpen());
}

QTEST_GUILESS_MAIN(TestShardCursor)
#include "tst_shardcursor.moc"
