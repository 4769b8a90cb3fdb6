// A second thread (as the CSV export) reading the store while the GUI thread writes: it gets
// connections of its own, never the GUI thread's, and gives them back when done.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "curveregistry.h"
#include "shardcalendar.h"
#include "storedcurvecursor.h"
#include "storereaderscope.h"
#include "storetestsupport.h"
#include "trackedquery.h"

#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace StoreTest;

namespace {
const QDate today(2024, 1, 15);
} // namespace

class TestStoreThreads : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readerGetsItsOwnConnection();
    void readsWhileGuiThreadWrites();
    void readerScopeReleasesWhenTheReaderLeavesEarly();
    void readerScopeEndedElsewhereSparesThatThread();
    void readerRefusedWhileClearing();
    void rowsAndMetadataAreNeverSeenApart();
    void twoStoresRegisterTheSameCurves();

private:
    QString todayPath() const { return QDir(dir->path()).filePath(dayKey(today) + ".db"); }
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<FrozenClock> clock;
    QScopedPointer<CurveDataDB> store;
};

void TestStoreThreads::init()
{
    dir.reset(new QTemporaryDir);
    clock.reset(new FrozenClock(localMs(today, QTime(20, 0))));
    store.reset(new CurveDataDB(dir->path()));
}

void TestStoreThreads::cleanup()
{
    store.reset();
    QCOMPARE(ConnectionPool::instance()->connectionCount(), 0);
    clock.reset();
    dir.reset();
}

void TestStoreThreads::readerGetsItsOwnConnection()
{
    const int id = store->registerCurve("101");
    const qint64 start = localMs(today, QTime(6, 0));
    for (int i = 0; i < 100; ++i)
        store->insertData(id, start + i * 1000, i);
    const QString guiName = ConnectionPool::instance()->connectionNameOf(todayPath());
    QVERIFY(!guiName.isEmpty());

    QString readerName;
    QList<DBBatchInfo> batches;
    int rows = -1;
    int heldAfterRelease = -1;
    QVERIFY(runOnThread([&] {
        {
            StoreReaderScope connections;
            auto db = store->getConnection(todayPath());
            if (!db)
                return;
            readerName = db->connectionName();
            batches = CurveRegistry::batchesInRange(*db, id, start, start + 100000);
            if (!batches.isEmpty()) {
                TrackedQuery q(*db);
                if (q.exec("SELECT count(*) FROM \"" + batches.first().tableName + "\"") &&
                    q.next())
                    rows = q.value(0).toInt();
            }
        }
        heldAfterRelease = ConnectionPool::instance()->threadConnectionCount();
    }));

    QVERIFY(!readerName.isEmpty());
    QVERIFY(readerName != guiName);
    QCOMPARE(batches.size(), 1);
    QCOMPARE(rows, 100);
    QCOMPARE(heldAfterRelease, 0);
    QVERIFY(!QSqlDatabase::contains(readerName));
    // The GUI thread's connection was neither handed out nor closed.
    QCOMPARE(ConnectionPool::instance()->connectionNameOf(todayPath()), guiName);
    store->insertData(id, start + 200000, 1.0);
    QCOMPARE(SqliteFile(todayPath())
                 .scalar("SELECT count(*) FROM \"" + batches.first().tableName + "\""),
             QStringLiteral("101"));
}

void TestStoreThreads::readsWhileGuiThreadWrites()
{
    const int a = store->registerCurve("101");
    const int b = store->registerCurve("102");
    const qint64 start = localMs(today, QTime(11, 59, 50));
    std::atomic<bool> writing{true};
    std::atomic<int> readerFailures{0};
    std::atomic<int> readerRounds{0};
    int lastSeen = 0;
    QThread *reader = QThread::create([&] {
        while (writing.load()) {
            auto db = store->getConnection(todayPath());
            if (!db) {
                ++readerFailures;
                continue;
            }
            const QMap<int, QString> names = store->getCurveNames();
            if (names.size() != 2)
                ++readerFailures;
            int seen = 0;
            for (const DBBatchInfo &batch :
                 CurveRegistry::batchesInRange(*db, a, start, start + 3600000)) {
                TrackedQuery q(*db);
                if (!q.exec("SELECT count(*) FROM \"" + batch.tableName + "\"") || !q.next())
                    ++readerFailures;
                else
                    seen += q.value(0).toInt();
            }
            if (seen < lastSeen)
                ++readerFailures; // rows never disappear
            lastSeen = seen;
            ++readerRounds;
        }
    });
    reader->start();
    // Crosses the 12:00 slice boundary, so tables are created while the reader reads.
    for (int i = 0; i < 400; ++i) {
        store->insertData(a, start + i * 100, i);
        store->insertData(b, start + i * 100, -i);
    }
    while (readerRounds.load() < 3)
        QThread::msleep(1);
    writing = false;
    QVERIFY(reader->wait(30000));
    delete reader;
    QCOMPARE(readerFailures.load(), 0);
    QVERIFY(readerRounds.load() >= 3);
    SqliteFile raw(todayPath());
    QCOMPARE(raw.scalar("SELECT count(*) FROM batch_metadata"), QStringLiteral("4"));
    QCOMPARE(raw.rows("SELECT min_value, max_value FROM curve_metadata WHERE curve_id = 2"),
             (QList<QStringList>{{"-399.0", "0.0"}}));
}

// A reader that stops in the middle (an export cancelled, a read-back no longer wanted) while
// its cursor still stands on a row of yesterday's file: its connections to both day files are
// closed as the scope ends, before the thread does, and the GUI thread's stay.
void TestStoreThreads::readerScopeReleasesWhenTheReaderLeavesEarly()
{
    const int id = store->registerCurve("101");
    const qint64 evening = localMs(today.addDays(-1), QTime(22, 0));
    for (int i = 0; i < 20; ++i) {
        QVERIFY(store->insertData(id, evening + i * 1000, i));
        QVERIFY(store->insertData(id, localMs(today, QTime(6, 0)) + i * 1000, 100 + i));
    }
    const QString guiName = ConnectionPool::instance()->connectionNameOf(todayPath());
    QVERIFY(!guiName.isEmpty());

    int heldWhileReading = -1;
    int heldAfterScope = -1;
    double stoppedAt = -1.0;
    QVERIFY(runOnThread([&] {
        const auto readUntil = [&](double stop) {
            StoreReaderScope connections;
            StoredCurveCursor cursor(store.data(), "101", evening, localMs(today, QTime(12, 0)));
            for (; cursor.hasRow(); cursor.advance()) {
                if (cursor.value() >= stop) {
                    // Both day files have been opened by now.
                    heldWhileReading = ConnectionPool::instance()->threadConnectionCount();
                    stoppedAt = cursor.value();
                    return;
                }
            }
        };
        readUntil(105.0);
        heldAfterScope = ConnectionPool::instance()->threadConnectionCount();
    }));
    QCOMPARE(stoppedAt, 105.0);
    QCOMPARE(heldWhileReading, 2);
    QCOMPARE(heldAfterScope, 0);
    QCOMPARE(ConnectionPool::instance()->connectionNameOf(todayPath()), guiName);
    QVERIFY(store->insertData(id, localMs(today, QTime(7, 0)), 1.0));
}

// A scope that a reader thread made but another thread ends (its owner deleted elsewhere) must
// not close the connections of the thread it ends on: on the GUI thread those are the store's.
void TestStoreThreads::readerScopeEndedElsewhereSparesThatThread()
{
    const int id = store->registerCurve("101");
    QVERIFY(store->insertData(id, localMs(today, QTime(6, 0)), 1.0));
    const QString guiName = ConnectionPool::instance()->connectionNameOf(todayPath());
    QVERIFY(!guiName.isEmpty());
    const int heldBefore = ConnectionPool::instance()->threadConnectionCount();

    std::unique_ptr<StoreReaderScope> made;
    QVERIFY(runOnThread([&] { made = std::make_unique<StoreReaderScope>(); }));
    made.reset();

    QCOMPARE(ConnectionPool::instance()->threadConnectionCount(), heldBefore);
    QCOMPARE(ConnectionPool::instance()->connectionNameOf(todayPath()), guiName);
    QVERIFY(store->insertData(id, localMs(today, QTime(6, 1)), 2.0));
    QCOMPARE(SqliteFile(todayPath())
                 .scalar("SELECT count(*) FROM curve_1_batch_20240115_060000_20240115_115959"),
             QStringLiteral("2"));
}

void TestStoreThreads::readerRefusedWhileClearing()
{
    QSignalSpy finished(store.data(), &CurveDataDB::sigClearFinished);
    store->clearAllData();
    bool refused = false;
    QVERIFY(runOnThread([&] { refused = store->getConnection(todayPath()).isNull(); }));
    QVERIFY(refused);
    QVERIFY(finished.wait(10000));
}

// A reader (or a power cut) at any instant sees each sample together with its metadata: the
// newest row's time and the curve's max_time always agree in one snapshot of the file.
void TestStoreThreads::rowsAndMetadataAreNeverSeenApart()
{
    const int id = store->registerCurve("101");
    const qint64 start = localMs(today, QTime(6, 0));
    QVERIFY(store->insertData(id, start, 0));
    std::atomic<bool> writing{true};
    std::atomic<int> snapshots{0};
    std::atomic<int> apart{0};
    QString firstApart;
    const QString file = todayPath();
    std::thread reader([&] {
        SqliteFile raw(file);
        while (writing.load()) {
            raw.exec("BEGIN");
            const QString newest = raw.scalar(
                "SELECT max(timestamp) FROM curve_1_batch_20240115_060000_20240115_115959");
            const QString recorded =
                raw.scalar("SELECT max_time FROM curve_metadata WHERE curve_id = 1");
            raw.exec("COMMIT");
            ++snapshots;
            if (newest != recorded && apart++ == 0)
                firstApart = newest + " vs " + recorded;
        }
    });
    auto joinReader = qScopeGuard([&] {
        writing = false;
        reader.join();
    });
    for (int i = 1; i < 1500; ++i)
        QVERIFY(store->insertData(id, start + i * 1000, i));
    joinReader.dismiss();
    writing = false;
    reader.join();
    QVERIFY2(apart == 0, qPrintable(QString("%1 of %2 snapshots apart, first: %3")
                                        .arg(apart.load())
                                        .arg(snapshots.load())
                                        .arg(firstApart)));
    QVERIFY(snapshots > 10);
}

// A logger and a second program exporting its data set both reach a new day's file and
// register the same curves there: whichever inserts a name first, the other finds it.
void TestStoreThreads::twoStoresRegisterTheSameCurves()
{
    QStringList names;
    for (int channel = 101; channel <= 400; ++channel)
        names << QString::number(channel);
    // The two meet somewhere in the middle; a few rounds make it likely they collide on a name.
    for (int round = 0; round < 6; ++round) {
        QTemporaryDir roundDir;
        CurveDataDB first(roundDir.path());
        QStringList refused;
        QStringList otherRefused;
        Gate go;
        QThread *other = QThread::create([&] {
            CurveDataDB second(roundDir.path());
            go.waitOpen();
            for (auto it = names.crbegin(); it != names.crend(); ++it)
                if (second.registerCurve(*it) < 0)
                    otherRefused << *it;
        });
        other->start();
        go.open();
        for (const QString &name : names)
            if (first.registerCurve(name) < 0)
                refused << name;
        QVERIFY(other->wait(60000));
        delete other;
        QCOMPARE(refused, QStringList());
        QCOMPARE(otherRefused, QStringList());
        QCOMPARE(first.getCurveNames().size(), names.size());
    }
}

QTEST_GUILESS_MAIN(TestStoreThreads)
#include "tst_storethreads.moc"
