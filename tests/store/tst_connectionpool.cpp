// Connection pool on real day files: PRAGMAs, the 30-file limit, validation, expiry, closes that
// leave no write-ahead log, no re-entrancy while closing, and connections kept per thread.
#include "connectionpool.h"
#include "querymanager.h"
#include "storetestsupport.h"
#include "trackedquery.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace StoreTest;

namespace {
const QDate today(2024, 1, 15);

bool companionsExist(const QString &path)
{
    return QFile::exists(path + "-wal") || QFile::exists(path + "-shm");
}

} // namespace

class TestConnectionPool : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void emptyPathGivesNull();
    void connectionNameFormat();
    void todaysFileUsesWalAndClosesWithout();
    void earlierFileUsesRollbackJournal();
    void thirtyOneFiles();
    void equalTimesEvictFirstPath();
    void connectionThatStopsAnsweringIsReplaced();
    void expiryAfterOneDay();
    void closeDoesNotReenter();
    void queriesFinishedBeforeClose();
    void createTablesReportsEachFailure();
    void secondThreadGetsItsOwnConnection();
    void threadConnectionsReleasedWhenThreadEnds();
    void closeFromOtherThreadLeavesOwnersConnection();

private:
    QString file(const QDate &date) const
    {
        return QDir(dir->path()).filePath(dayKey(date) + ".db");
    }
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<FrozenClock> clock;
};

void TestConnectionPool::init()
{
    dir.reset(new QTemporaryDir);
    clock.reset(new FrozenClock(localMs(today, QTime(9, 0))));
}

void TestConnectionPool::cleanup()
{
    ConnectionPool::instance()->closeAllConnections();
    QCOMPARE(ConnectionPool::instance()->connectionCount(), 0);
    clock.reset();
    dir.reset();
}

void TestConnectionPool::emptyPathGivesNull()
{
    LogRecorder log;
    QVERIFY(ConnectionPool::instance()->getConnection(QString()).isNull());
    QCOMPARE(log.count("数据库路径不能为空!"), 1);
    QCOMPARE(ConnectionPool::instance()->connectionCount(), 0);
}

void TestConnectionPool::connectionNameFormat()
{
    const QString path = file(today);
    auto first = ConnectionPool::instance()->getConnection(path);
    QVERIFY(first && first->isOpen());
    const QString md5 = QString::fromLatin1(
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Md5).toHex().left(8));
    QRegularExpression pattern("^curve_db_" + md5 + "_\\{[0-9a-f]{15}$");
    QVERIFY2(pattern.match(first->connectionName()).hasMatch(),
             qPrintable(first->connectionName()));
    const QString firstName = first->connectionName();
    first.reset();
    ConnectionPool::instance()->closeConnection(path);
    auto second = ConnectionPool::instance()->getConnection(path);
    QVERIFY(second->connectionName() != firstName);
}

void TestConnectionPool::todaysFileUsesWalAndClosesWithout()
{
    const QString path = file(today);
    {
        auto db = ConnectionPool::instance()->getConnection(path);
        QVERIFY(db && db->isOpen());
        TrackedQuery q(*db);
        QVERIFY(q.exec("PRAGMA journal_mode"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("wal"));
        QVERIFY(ConnectionPool::createTables(*db));
        TrackedQuery insert(*db);
        QVERIFY(insert.exec("INSERT INTO curve_info (name) VALUES ('101')"));
    }
    QVERIFY(QFile::exists(path + "-wal"));
    ConnectionPool::instance()->closeConnection(path);
    QVERIFY(!ConnectionPool::instance()->isPooled(path));
    QVERIFY(!companionsExist(path));
    SqliteFile reader(path);
    QCOMPARE(reader.scalar("PRAGMA journal_mode"), QStringLiteral("delete"));
    QCOMPARE(reader.scalar("SELECT name FROM curve_info"), QStringLiteral("101"));
    QCOMPARE(sqliteShell(path, "SELECT count(*) FROM curve_info;").trimmed(), QStringLiteral("1"));
}

void TestConnectionPool::earlierFileUsesRollbackJournal()
{
    // Yesterday's file may still take the last samples of the day: it stays in WAL mode.
    {
        auto yesterday = ConnectionPool::instance()->getConnection(file(today.addDays(-1)));
        QVERIFY(yesterday && yesterday->isOpen());
        TrackedQuery q(*yesterday);
        QVERIFY(q.exec("PRAGMA journal_mode") && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("wal"));
    }
    const QString path = file(today.addDays(-2));
    auto db = ConnectionPool::instance()->getConnection(path);
    QVERIFY(db && db->isOpen());
    TrackedQuery q(*db);
    QVERIFY(q.exec("PRAGMA journal_mode") && q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("delete"));
    QVERIFY(q.exec("PRAGMA synchronous") && q.next());
    QCOMPARE(q.value(0).toInt(), 0);
    QVERIFY(q.exec("PRAGMA foreign_keys") && q.next());
    QCOMPARE(q.value(0).toInt(), 1);
}

void TestConnectionPool::thirtyOneFiles()
{
    ConnectionPool *pool = ConnectionPool::instance();
    QStringList paths;
    for (int i = 0; i < 31; ++i)
        paths.append(file(today.addDays(-40 + i)));
    for (int i = 0; i < 30; ++i) {
        QVERIFY(pool->getConnection(paths[i]));
        clock->advance(1);
    }
    QCOMPARE(pool->threadConnectionCount(), 30);
    // The first file was used again, so the second is now the least recently used.
    pool->touchConnection(paths[0]);
    clock->advance(1);
    QVERIFY(pool->getConnection(paths[30]));
    QCOMPARE(pool->threadConnectionCount(), 30);
    QVERIFY(pool->isPooled(paths[0]));
    QVERIFY(!pool->isPooled(paths[1]));
    QVERIFY(pool->isPooled(paths[30]));
    QVERIFY(!companionsExist(paths[1]));
    // The evicted file opens again, evicting the next oldest.
    QVERIFY(pool->getConnection(paths[1]));
    QVERIFY(!pool->isPooled(paths[2]));
    QCOMPARE(pool->threadConnectionCount(), 30);
}

void TestConnectionPool::equalTimesEvictFirstPath()
{
    ConnectionPool *pool = ConnectionPool::instance();
    QStringList paths;
    for (int i = 0; i < 31; ++i)
        paths.append(
            QDir(dir->path()).filePath(QStringLiteral("f%1.db").arg(i, 2, 10, QChar('0'))));
    for (int i = 29; i >= 0; --i)
        QVERIFY(pool->getConnection(paths[i]));
    QVERIFY(pool->getConnection(paths[30]));
    QVERIFY(!pool->isPooled(paths[0]));
    QVERIFY(pool->isPooled(paths[1]));
}

void TestConnectionPool::connectionThatStopsAnsweringIsReplaced()
{
    ConnectionPool *pool = ConnectionPool::instance();
    const QString path = file(today);
    auto db = pool->getConnection(path);
    const QString oldName = db->connectionName();
    // Closed behind the pool's back: "SELECT 1" no longer answers.
    db->close();
    db.reset();
    LogRecorder log;
    auto fresh = pool->getConnection(path);
    QVERIFY(fresh && fresh->isOpen());
    QVERIFY(fresh->connectionName() != oldName);
    QVERIFY(!QSqlDatabase::contains(oldName));
    QCOMPARE(log.count("连接无效，重新创建："), 1);
    QVERIFY(ConnectionPool::pingConnection(*fresh));
}

void TestConnectionPool::expiryAfterOneDay()
{
    ConnectionPool *pool = ConnectionPool::instance();
    const QString path = file(today);
    const QString other = file(today.addDays(-1));
    {
        auto db = pool->getConnection(path);
        QVERIFY(ConnectionPool::createTables(*db));
    }
    clock->advance(1000);
    QVERIFY(pool->getConnection(other));
    const QString name = pool->connectionNameOf(path);

    clock->advance(ConnectionPool::expiryIdleMs - 1000);
    LogRecorder log;
    pool->cleanExpiredConnections();
    QVERIFY(pool->isPooled(path));
    QCOMPARE(log.count("连接池清理超时连接数： 0"), 1);

    clock->advance(1);
    pool->cleanExpiredConnections();
    QVERIFY(!pool->isPooled(path));
    QVERIFY(pool->isPooled(other));
    QVERIFY(!QSqlDatabase::contains(name));
    QVERIFY(!companionsExist(path));
    QCOMPARE(log.count("准备移除超时连接："), 1);
    QCOMPARE(log.count("已从连接池移除连接："), 1);
    QCOMPARE(log.count("连接池清理超时连接数： 1"), 1);
    QCOMPARE(SqliteFile(path).scalar("PRAGMA journal_mode"), QStringLiteral("delete"));
}

// A queued call that reaches the pool (a sample arriving from the scan thread) must not run
// while a close is in progress: the pool's lock is held there and the call would deadlock.
void TestConnectionPool::closeDoesNotReenter()
{
    ConnectionPool *pool = ConnectionPool::instance();
    for (int i = 0; i < 30; ++i) {
        QVERIFY(pool->getConnection(file(today.addDays(-i))));
        clock->advance(1);
    }
    bool insideClose = false;
    bool ranInsideClose = false;
    bool ran = false;
    QSharedPointer<QSqlDatabase> fromQueued;
    QMetaObject::invokeMethod(
        this,
        [&] {
            ran = true;
            ranInsideClose = insideClose;
            if (!insideClose)
                fromQueued = pool->getConnection(file(today));
        },
        Qt::QueuedConnection);

    insideClose = true;
    QVERIFY(pool->getConnection(file(today.addDays(-31)))); // evicts one
    pool->closeConnection(file(today.addDays(-5)));
    pool->closeAllConnections();
    insideClose = false;

    QVERIFY(!ran);
    QCoreApplication::processEvents();
    QVERIFY(ran);
    QVERIFY(!ranInsideClose);
    QVERIFY(fromQueued && fromQueued->isOpen());
}

void TestConnectionPool::queriesFinishedBeforeClose()
{
    ConnectionPool *pool = ConnectionPool::instance();
    const QString path = file(today);
    auto db = pool->getConnection(path);
    QVERIFY(ConnectionPool::createTables(*db));
    TrackedQuery fill(*db);
    for (int i = 0; i < 5; ++i)
        QVERIFY(fill.exec(QStringLiteral("INSERT INTO curve_info (name) VALUES ('%1')").arg(i)));
    fill.finish();
    const QString name = db->connectionName();
    auto *reading = new TrackedQuery(*db);
    QVERIFY(reading->exec("SELECT name FROM curve_info"));
    QVERIFY(reading->next());
    QVERIFY(reading->isActive());
    QCOMPARE(QueryManager::instance()->queryCount(name), 2);
    db.reset();

    // The open read would keep the file in WAL mode; the close finishes it first.
    pool->closeConnection(path);
    QVERIFY(!reading->isActive());
    QCOMPARE(QueryManager::instance()->queryCount(name), 0);
    QVERIFY(!companionsExist(path));
    QCOMPARE(SqliteFile(path).scalar("PRAGMA journal_mode"), QStringLiteral("delete"));
    delete reading; // after its connection is gone: must not crash or re-register
    QCOMPARE(QueryManager::instance()->queryCount(name), 0);
}

void TestConnectionPool::createTablesReportsEachFailure()
{
    QSqlDatabase closed;
    QVERIFY(!ConnectionPool::createTables(closed));

    const QString path = file(today.addDays(-3));
    {
        SqliteFile raw(path, true);
        QVERIFY(raw.exec("CREATE TABLE other (x INTEGER)"));
        QVERIFY(raw.exec("CREATE INDEX batch_metadata ON other (x)"));
    }
    auto db = ConnectionPool::instance()->getConnection(path);
    LogRecorder log;
    QVERIFY(!ConnectionPool::createTables(*db));
    QCOMPARE(log.count("创建batch_metadata表失败:"), 1);
    QCOMPARE(log.count("创建curve_info表失败:"), 0);
    const QStringList tables = SqliteFile(path).tableNames();
    QVERIFY(tables.contains("curve_info"));
    QVERIFY(tables.contains("curve_metadata"));
    QVERIFY(!tables.contains("batch_metadata"));
}

void TestConnectionPool::secondThreadGetsItsOwnConnection()
{
    ConnectionPool *pool = ConnectionPool::instance();
    const QString path = file(today);
    auto mine = pool->getConnection(path);
    QVERIFY(ConnectionPool::createTables(*mine));
    {
        TrackedQuery insert(*mine);
        QVERIFY(insert.exec("INSERT INTO curve_info (name) VALUES ('205')"));
    }
    QString workerName;
    QString workerRead;
    bool workerPooledBeforeRelease = false;
    int countAfterRelease = -1;
    QVERIFY(runOnThread([&] {
        auto theirs = ConnectionPool::instance()->getConnection(path);
        if (!theirs)
            return;
        workerName = theirs->connectionName();
        {
            TrackedQuery q(*theirs);
            if (q.exec("SELECT name FROM curve_info") && q.next())
                workerRead = q.value(0).toString();
        }
        theirs.reset();
        workerPooledBeforeRelease = ConnectionPool::instance()->isPooled(path);
        ConnectionPool::instance()->releaseThreadConnections();
        countAfterRelease = ConnectionPool::instance()->threadConnectionCount();
    }));
    QVERIFY(!workerName.isEmpty());
    QVERIFY(workerName != mine->connectionName());
    QCOMPARE(workerRead, QStringLiteral("205"));
    QVERIFY(workerPooledBeforeRelease);
    QCOMPARE(countAfterRelease, 0);
    QVERIFY(!QSqlDatabase::contains(workerName));
    QCOMPARE(pool->connectionCount(), 1);
    QVERIFY(mine->isOpen() && ConnectionPool::pingConnection(*mine));
}

void TestConnectionPool::threadConnectionsReleasedWhenThreadEnds()
{
    ConnectionPool *pool = ConnectionPool::instance();
    QString workerName;
    QVERIFY(runOnThread([&] {
        auto theirs = ConnectionPool::instance()->getConnection(file(today.addDays(-2)));
        if (theirs)
            workerName = theirs->connectionName();
        // No release: the end of the thread gives the connection back.
    }));
    QVERIFY(!workerName.isEmpty());
    QCOMPARE(pool->connectionCount(), 0);
    QVERIFY(!QSqlDatabase::contains(workerName));
}

void TestConnectionPool::closeFromOtherThreadLeavesOwnersConnection()
{
    ConnectionPool *pool = ConnectionPool::instance();
    const QString path = file(today);
    {
        auto mine = pool->getConnection(path);
        QVERIFY(ConnectionPool::createTables(*mine));
    }
    Gate opened, closedByMain, done;
    bool readAfterForeignClose = false;
    QString firstName, secondName;
    QThread *worker = QThread::create([&] {
        auto theirs = ConnectionPool::instance()->getConnection(path);
        firstName = theirs ? theirs->connectionName() : QString();
        opened.open();
        closedByMain.waitOpen();
        if (theirs) {
            // Still this thread's connection: nobody else may close it under us.
            TrackedQuery q(*theirs);
            readAfterForeignClose = q.exec("SELECT count(*) FROM curve_info") && q.next();
        }
        theirs.reset();
        auto again = ConnectionPool::instance()->getConnection(path);
        secondName = again ? again->connectionName() : QString();
        again.reset();
        done.open();
    });
    worker->start();
    QVERIFY(opened.waitOpen());
    pool->closeConnection(path);
    QVERIFY(!pool->isPooled(path));
    closedByMain.open();
    QVERIFY(worker->wait(30000));
    delete worker;
    QVERIFY(done.waitOpen());
    QVERIFY(readAfterForeignClose);
    QVERIFY(!firstName.isEmpty());
    // The close asked for by the main thread was carried out by the owner at its next call.
    QVERIFY(secondName != firstName && !secondName.isEmpty());
    QVERIFY(!QSqlDatabase::contains(firstName));
    QVERIFY(!QSqlDatabase::contains(secondName));
    QCOMPARE(pool->connectionCount(), 0);
    QVERIFY(!companionsExist(path));
}

QTEST_GUILESS_MAIN(TestConnectionPool)
#include "tst_connectionpool.moc"
