// Clearing the store: every day file and companion removed on the worker thread, today's empty
// file reopened, requests during a clear ignored, writes refused while it runs.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "storetestsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace StoreTest;

namespace {
const QDate today(2024, 1, 15);

// Makes a file impossible to delete (even for root) for the lifetime of the object.
class Undeletable
{
public:
    explicit Undeletable(const QString &path)
        : path(path)
    {
        made = QProcess::execute("chattr", {"+i", path}) == 0;
    }
    ~Undeletable()
    {
        if (made)
            QProcess::execute("chattr", {"-i", path});
    }
    bool made = false;

private:
    QString path;
};
} // namespace

class TestStoreClear : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void clearRemovesEveryFile();
    void fileThatCannotBeRemoved();
    void secondRequestIsIgnored();
    void writesRefusedWhileClearing();
    void queuedSampleDoesNotRunInsideClear();

private:
    QString path(const QDate &date) const
    {
        return QDir(dir->path()).filePath(dayKey(date) + ".db");
    }
    QStringList filesInDir() const
    {
        return QDir(dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<FrozenClock> clock;
    QScopedPointer<CurveDataDB> store;
};

void TestStoreClear::init()
{
    dir.reset(new QTemporaryDir);
    clock.reset(new FrozenClock(localMs(today, QTime(10, 0))));
    store.reset(new CurveDataDB(dir->path()));
}

void TestStoreClear::cleanup()
{
    store.reset();
    clock.reset();
    dir.reset();
}

void TestStoreClear::clearRemovesEveryFile()
{
    const int id = store->registerCurve("101");
    store->insertData(id, localMs(today, QTime(9, 0)), 1.0);
    {
        SqliteFile older(path(today.addDays(-2)), true);
        createFixedTables(older);
    }
    // Yesterday's file is held open by another connection in WAL mode, companions and all.
    SqliteFile held(path(today.addDays(-1)), true);
    QCOMPARE(held.scalar("PRAGMA journal_mode = WAL"), QStringLiteral("wal"));
    createFixedTables(held);
    QVERIFY(held.exec("INSERT INTO curve_info (name) VALUES ('x')"));
    QVERIFY(QFile::exists(path(today.addDays(-1)) + "-wal"));
    QVERIFY(QFile::exists(path(today.addDays(-1)) + "-shm"));
    // Three day files, and the WAL companions of today's (open in the store) and yesterday's.
    QCOMPARE(filesInDir().size(), 7);

    QSignalSpy finished(store.data(), &CurveDataDB::sigClearFinished);
    store->clearAllData();
    QVERIFY(store->isClearing());
    QVERIFY(finished.wait(10000));
    QVERIFY(!store->isClearing());

    QCOMPARE(filesInDir().filter(".db").first(), dayKey(today) + ".db");
    QVERIFY(!filesInDir().contains(dayKey(today.addDays(-1)) + ".db-wal"));
    {
        SqliteFile fresh(path(today));
        QCOMPARE(fresh.tableNames(),
                 (QStringList{"batch_metadata", "curve_info", "curve_metadata"}));
        QCOMPARE(fresh.scalar("SELECT count(*) FROM curve_info"), QStringLiteral("0"));
        QCOMPARE(fresh.scalar("SELECT count(*) FROM batch_metadata"), QStringLiteral("0"));
        QCOMPARE(fresh.scalar("SELECT count(*) FROM curve_metadata"), QStringLiteral("0"));
    }
    QVERIFY(store->getCurveNames().isEmpty());
    QCOMPARE(store->registerCurve("205"), 1);
    store.reset();
    QCOMPARE(filesInDir(), QStringList{dayKey(today) + ".db"});
}

void TestStoreClear::fileThatCannotBeRemoved()
{
    const QString stuck = path(today.addDays(-4));
    {
        SqliteFile older(stuck, true);
        createFixedTables(older);
    }
    Undeletable guard(stuck);
    if (!guard.made)
        QSKIP("chattr +i is not available here");
    LogRecorder log;
    QSignalSpy finished(store.data(), &CurveDataDB::sigClearFinished);
    store->clearAllData();
    QVERIFY(finished.wait(15000));
    QCOMPARE(log.count("多次重试后仍无法删除文件（可能被其他进程占用）:"), 1);
    QVERIFY(log.messages().filter("多次重试后仍无法删除文件").first().contains(stuck));
    store.reset();
    QCOMPARE(filesInDir(), (QStringList{dayKey(today.addDays(-4)) + ".db", dayKey(today) + ".db"}));
}

void TestStoreClear::secondRequestIsIgnored()
{
    QSignalSpy finished(store.data(), &CurveDataDB::sigClearFinished);
    store->clearAllData();
    store->clearAllData();
    QVERIFY(finished.wait(10000));
    QTest::qWait(1500);
    QCOMPARE(finished.count(), 1);
    // A request after the clear has ended is a new clear.
    store->clearAllData();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.count(), 2);
}

void TestStoreClear::writesRefusedWhileClearing()
{
    const int id = store->registerCurve("101");
    QSignalSpy finished(store.data(), &CurveDataDB::sigClearFinished);
    store->clearAllData();

    LogRecorder log;
    store->insertData(id, localMs(today, QTime(9, 30)), 5.0);
    QCOMPARE(store->registerCurve("102"), -1);
    QCOMPARE(log.count("数据库已关闭，尝试重新打开..."), 1);
    QCOMPARE(log.count("重新打开失败! 错误: 连接无效"), 1);
    QVERIFY(store->getConnection(path(today)).isNull());
    QVERIFY(log.count("正在清理数据库，禁止打开新连接：") >= 1);
    QCOMPARE(ConnectionPool::instance()->threadConnectionCount(), 0);

    QVERIFY(finished.wait(10000));
    SqliteFile fresh(path(today));
    QCOMPARE(fresh.tableNames().size(), 3);
    QCOMPARE(fresh.scalar("SELECT count(*) FROM curve_info"), QStringLiteral("0"));
}

void TestStoreClear::queuedSampleDoesNotRunInsideClear()
{
    const int id = store->registerCurve("101");
    bool ran = false;
    bool ranWhileClearing = false;
    QMetaObject::invokeMethod(
        this,
        [&] {
            ran = true;
            ranWhileClearing = store->isClearing();
            store->insertData(id, localMs(today, QTime(9, 45)), 1.0);
        },
        Qt::QueuedConnection);
    QSignalSpy finished(store.data(), &CurveDataDB::sigClearFinished);
    store->clearAllData();
    QVERIFY(!ran);
    QVERIFY(finished.wait(10000));
    QVERIFY(ran);
    QVERIFY(ranWhileClearing); // it ran from the event loop, after clearAllData returned
}

QTEST_GUILESS_MAIN(TestStoreClear)
#include "tst_storeclear.moc"
