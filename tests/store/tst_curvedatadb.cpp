// The store on real day files: schema as the sqlite3 shell sees it, registration, batch tables,
// extremes (a real 0 included), and samples routed to an earlier day file.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "shardcalendar.h"
#include "storetestsupport.h"
#include "trackedquery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

using namespace StoreTest;

namespace {
const QDate today(2024, 1, 15);
const QDate yesterday = today.addDays(-1);
} // namespace

class TestCurveDataDB : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void schemaAsTheShellSeesIt();
    void registerSameNameTwice();
    void registrationIntoFileWithoutTables();
    void registrationIntoEmptyFile();
    void batchTablesCreatedPerSlice();
    void duplicateTimestampKeepsFirstValue();
    void foreignKeysRefuseUnknownCurve();
    void zeroIsARealExtreme_data();
    void zeroIsARealExtreme();
    void storedZeroSurvivesReload();
    void nullMetadataLoadsAsEmpty();
    void routedSampleUsesIdOfItsFile();
    void routedSampleUpdatesOnlyItsFile();
    void routedSampleIntoFileWithoutTables();
    void futureSampleGoesToTodaysFile();
    void restartedStoreWidensStoredExtremes();
    void currentConnectionThatStopsAnsweringIsReplaced();
    void unusableDataDirectoryIsReported();
    void fullFileSystemFailsInsertsAndKeepsTheFileWhole();

private:
    QString path(const QDate &date) const
    {
        return QDir(dir->path()).filePath(dayKey(date) + ".db");
    }
    void openStore() { store.reset(new CurveDataDB(dir->path())); }
    void closeStore() { store.reset(); }

    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<FrozenClock> clock;
    QScopedPointer<CurveDataDB> store;
};

void TestCurveDataDB::init()
{
    dir.reset(new QTemporaryDir);
    clock.reset(new FrozenClock(localMs(today, QTime(9, 0))));
    openStore();
}

void TestCurveDataDB::cleanup()
{
    closeStore();
    QCOMPARE(ConnectionPool::instance()->connectionCount(), 0);
    clock.reset();
    dir.reset();
}

void TestCurveDataDB::schemaAsTheShellSeesIt()
{
    const int id = store->registerCurve("101");
    QCOMPARE(id, 1);
    store->insertData(id, localMs(today, QTime(6, 0)), 1.25);
    closeStore();
    const QString table = "curve_1_batch_20240115_060000_20240115_115959";
    const QString expected =
        "CREATE TABLE curve_info ( curve_id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL "
        "UNIQUE );\n"
        "CREATE TABLE sqlite_sequence(name,seq);\n"
        "CREATE TABLE batch_metadata ( id INTEGER PRIMARY KEY AUTOINCREMENT, curve_id INTEGER NOT "
        "NULL, batch_start INTEGER NOT NULL, batch_end INTEGER NOT NULL, table_name TEXT NOT NULL, "
        "FOREIGN KEY(curve_id) REFERENCES curve_info(curve_id), UNIQUE(curve_id, table_name) );\n"
        "CREATE TABLE curve_metadata ( curve_id INTEGER PRIMARY KEY, min_time INTEGER, max_time "
        "INTEGER, min_value REAL, max_value REAL, FOREIGN KEY(curve_id) REFERENCES "
        "curve_info(curve_id) );\n"
        // The shell prints a quoted table name with "IF NOT EXISTS" (the stored text has none).
        "CREATE TABLE IF NOT EXISTS \"" +
        table +
        "\" ( id INTEGER PRIMARY KEY AUTOINCREMENT, curve_id INTEGER "
        "NOT NULL, timestamp INTEGER NOT NULL, value REAL NOT NULL, UNIQUE(curve_id, timestamp), "
        "FOREIGN KEY(curve_id) REFERENCES curve_info(curve_id) );\n"
        "CREATE INDEX idx_" +
        table + "_curve_time ON \"" + table + "\" (curve_id, timestamp);\n";
    QCOMPARE(sqliteShell(path(today), ".schema"), expected);
    QCOMPARE(SqliteFile(path(today))
                 .scalar("SELECT sql FROM sqlite_master WHERE name = '" + table + "'"),
             "CREATE TABLE \"" + table +
                 "\" ( id INTEGER PRIMARY KEY AUTOINCREMENT, curve_id INTEGER "
                 "NOT NULL, timestamp INTEGER NOT NULL, value REAL NOT NULL, UNIQUE(curve_id, "
                 "timestamp), "
                 "FOREIGN KEY(curve_id) REFERENCES curve_info(curve_id) )");
    QCOMPARE(sqliteShell(path(today), "PRAGMA integrity_check;").trimmed(), QStringLiteral("ok"));
    QCOMPARE(sqliteShell(path(today), "SELECT curve_id, timestamp, value FROM \"" + table + "\";")
                 .trimmed(),
             QStringLiteral("1|%1|1.25").arg(localMs(today, QTime(6, 0))));
    QVERIFY(!QFile::exists(path(today) + "-wal"));
}

void TestCurveDataDB::registerSameNameTwice()
{
    const int first = store->registerCurve("101");
    const int second = store->registerCurve("102");
    QCOMPARE(store->registerCurve("101"), first);
    QVERIFY(second != first);
    QCOMPARE(SqliteFile(path(today)).scalar("SELECT count(*) FROM curve_info"),
             QStringLiteral("2"));
    QCOMPARE(store->getCurveNames(), (QMap<int, QString>{{first, "101"}, {second, "102"}}));
}

void TestCurveDataDB::registrationIntoFileWithoutTables()
{
    {
        SqliteFile raw(path(today));
        QVERIFY(raw.exec("DROP TABLE curve_metadata"));
        QVERIFY(raw.exec("DROP TABLE batch_metadata"));
        QVERIFY(raw.exec("DROP TABLE curve_info"));
        QVERIFY(!raw.tableNames().contains("curve_info"));
    }
    LogRecorder log;
    const int id = store->registerCurve("305");
    QCOMPARE(id, 1);
    SqliteFile raw(path(today));
    const QStringList tables = raw.tableNames();
    QVERIFY(tables.contains("curve_info") && tables.contains("batch_metadata") &&
            tables.contains("curve_metadata"));
    QCOMPARE(raw.scalar("SELECT name FROM curve_info WHERE curve_id = 1"), QStringLiteral("305"));
    QCOMPARE(log.count("重新初始化后仍无法注册曲线:"), 0);
}

void TestCurveDataDB::registrationIntoEmptyFile()
{
    closeStore();
    QFile::remove(path(today));
    QFile empty(path(today));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    openStore();
    QCOMPARE(store->registerCurve("101"), 1);
    QCOMPARE(SqliteFile(path(today)).scalar("SELECT name FROM curve_info"), QStringLiteral("101"));
}

void TestCurveDataDB::batchTablesCreatedPerSlice()
{
    const int id = store->registerCurve("101");
    const qint64 six = localMs(today, QTime(6, 0));
    store->insertData(id, six, 1.0);
    const QString table = "curve_1_batch_20240115_060000_20240115_115959";
    SqliteFile raw(path(today));
    QVERIFY(raw.tableNames().contains(table));
    QCOMPARE(raw.scalar("SELECT count(*) FROM sqlite_master WHERE type='index' AND name='idx_" +
                        table + "_curve_time'"),
             QStringLiteral("1"));
    QCOMPARE(
        raw.rows("SELECT curve_id, batch_start, batch_end, table_name FROM batch_metadata"),
        (QList<QStringList>{{"1", QString::number(six),
                             QString::number(localMs(today, QTime(11, 59, 59, 999))), table}}));

    store->insertData(id, localMs(today, QTime(11, 59, 59, 999)), 2.0);
    QCOMPARE(raw.scalar("SELECT count(*) FROM batch_metadata"), QStringLiteral("1"));
    QCOMPARE(raw.scalar("SELECT count(*) FROM \"" + table + "\""), QStringLiteral("2"));

    store->insertData(id, localMs(today, QTime(12, 0)), 3.0);
    QCOMPARE(raw.scalar("SELECT count(*) FROM batch_metadata"), QStringLiteral("2"));
    QVERIFY(raw.tableNames().contains("curve_1_batch_20240115_120000_20240115_175959"));
    QCOMPARE(raw.scalar("SELECT batch_start FROM batch_metadata ORDER BY batch_start DESC"),
             QString::number(localMs(today, QTime(12, 0))));
}

void TestCurveDataDB::duplicateTimestampKeepsFirstValue()
{
    const int id = store->registerCurve("101");
    const qint64 t = localMs(today, QTime(8, 0));
    store->insertData(id, t, 1.0);
    store->insertData(id, t, 9.0);
    SqliteFile raw(path(today));
    QCOMPARE(raw.rows("SELECT value FROM curve_1_batch_20240115_060000_20240115_115959"),
             (QList<QStringList>{{"1.0"}}));
    // The ignored value never reached the table, so it is not the curve's maximum either.
    QCOMPARE(raw.scalar("SELECT max_value FROM curve_metadata WHERE curve_id = 1"),
             QStringLiteral("1.0"));
}

void TestCurveDataDB::foreignKeysRefuseUnknownCurve()
{
    store->registerCurve("101");
    auto db = store->getConnection(path(today));
    QVERIFY(db && db->isOpen());
    TrackedQuery q(*db);
    QVERIFY(!q.exec("INSERT INTO batch_metadata (curve_id, batch_start, batch_end, table_name) "
                    "VALUES (999, 0, 1, 'curve_999_x')"));
    QVERIFY(q.lastError().text().contains("FOREIGN KEY"));
    QVERIFY(q.exec("INSERT INTO batch_metadata (curve_id, batch_start, batch_end, table_name) "
                   "VALUES (1, 0, 1, 'curve_1_x')"));
}

void TestCurveDataDB::zeroIsARealExtreme_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QString>("minValue");
    QTest::addColumn<QString>("maxValue");
    QTest::addColumn<int>("firstStored");
    QTest::addColumn<int>("lastStored");
    QTest::newRow("first sample 0") << QList<double>{0.0, 5.0} << "0.0"
                                    << "5.0" << 0 << 1;
    QTest::newRow("0 in the middle") << QList<double>{5.0, 0.0, 3.0} << "0.0"
                                     << "5.0" << 0 << 2;
    QTest::newRow("negative then 0") << QList<double>{-1.0, 0.0} << "-1.0"
                                     << "0.0" << 0 << 1;
    QTest::newRow("all 0") << QList<double>{0.0, 0.0} << "0.0"
                           << "0.0" << 0 << 1;
    // SQLite turns NaN into NULL, which "value REAL NOT NULL" refuses: not stored, not counted.
    QTest::newRow("NaN not stored") << QList<double>{qQNaN(), 2.0, qQNaN()} << "2.0"
                                    << "2.0" << 1 << 1;
}

void TestCurveDataDB::zeroIsARealExtreme()
{
    QFETCH(QList<double>, values);
    QFETCH(QString, minValue);
    QFETCH(QString, maxValue);
    QFETCH(int, firstStored);
    QFETCH(int, lastStored);
    const int id = store->registerCurve("101");
    const qint64 t0 = localMs(today, QTime(7, 0));
    qint64 t = t0;
    for (double v : values)
        store->insertData(id, t++, v);
    SqliteFile raw(path(today));
    const QList<QStringList> rows = raw.rows(
        "SELECT min_value, max_value, min_time, max_time FROM curve_metadata WHERE curve_id = 1");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0], minValue);
    QCOMPARE(rows[0][1], maxValue);
    QCOMPARE(rows[0][2], QString::number(t0 + firstStored));
    QCOMPARE(rows[0][3], QString::number(t0 + lastStored));
}

void TestCurveDataDB::storedZeroSurvivesReload()
{
    int id = store->registerCurve("101");
    store->insertData(id, localMs(today, QTime(7, 0)), 0.0);
    store->insertData(id, localMs(today, QTime(7, 1)), 2.0);
    closeStore();
    openStore();
    id = store->registerCurve("101");
    QCOMPARE(store->curveMetadataOf(id).minValue, 0.0);
    store->insertData(id, localMs(today, QTime(7, 2)), 5.0);
    SqliteFile raw(path(today));
    QCOMPARE(raw.rows("SELECT min_value, max_value FROM curve_metadata WHERE curve_id = 1"),
             (QList<QStringList>{{"0.0", "5.0"}}));
}

void TestCurveDataDB::nullMetadataLoadsAsEmpty()
{
    store->registerCurve("101");
    closeStore();
    {
        SqliteFile raw(path(today));
        QVERIFY(raw.exec("INSERT INTO curve_metadata VALUES (1, NULL, NULL, NULL, NULL)"));
    }
    openStore();
    const DBCurveMetadata loaded = store->curveMetadataOf(1);
    QCOMPARE(loaded.minTime, DBCurveMetadata::emptyMinTime);
    QCOMPARE(loaded.maxTime, DBCurveMetadata::emptyMaxTime);
    QCOMPARE(loaded.minValue, DBCurveMetadata::emptyMinValue);
    QCOMPARE(loaded.maxValue, DBCurveMetadata::emptyMaxValue);
    const qint64 t = localMs(today, QTime(8, 0));
    store->insertData(1, t, 3.0);
    QCOMPARE(SqliteFile(path(today)).rows("SELECT * FROM curve_metadata"),
             (QList<QStringList>{{"1", QString::number(t), QString::number(t), "3.0", "3.0"}}));
}

// Yesterday's file knows the curves in another order: "a" has id 2 there, 1 today.
void TestCurveDataDB::routedSampleUsesIdOfItsFile()
{
    closeStore();
    {
        SqliteFile raw(path(yesterday), true);
        createFixedTables(raw);
        QVERIFY(raw.exec("INSERT INTO curve_info (name) VALUES ('b')"));
        QVERIFY(raw.exec("INSERT INTO curve_info (name) VALUES ('a')"));
    }
    openStore();
    const int a = store->registerCurve("a");
    const int b = store->registerCurve("b");
    const int c = store->registerCurve("c");
    QCOMPARE(a, 1);
    QCOMPARE(b, 2);
    const qint64 t = localMs(yesterday, QTime(12, 30));
    store->insertData(a, t, 4.5);
    store->insertData(c, t, 7.5);

    SqliteFile raw(path(yesterday));
    const QString batch = "batch_20240114_120000_20240114_175959";
    QCOMPARE(raw.rows("SELECT curve_id, value FROM curve_2_" + batch),
             (QList<QStringList>{{"2", "4.5"}}));
    QVERIFY(!raw.tableNames().contains("curve_1_" + batch));
    // "c" was unknown there: it is registered by name and gets that file's next id.
    QCOMPARE(raw.scalar("SELECT curve_id FROM curve_info WHERE name = 'c'"), QStringLiteral("3"));
    QCOMPARE(raw.rows("SELECT curve_id, value FROM curve_3_" + batch),
             (QList<QStringList>{{"3", "7.5"}}));
    QCOMPARE(raw.rows("SELECT curve_id, table_name FROM batch_metadata ORDER BY curve_id"),
             (QList<QStringList>{{"2", "curve_2_" + batch}, {"3", "curve_3_" + batch}}));
    QCOMPARE(store->getCurveNames(), (QMap<int, QString>{{1, "a"}, {2, "b"}, {3, "c"}}));
}

void TestCurveDataDB::routedSampleUpdatesOnlyItsFile()
{
    const int a = store->registerCurve("a");
    store->registerCurve("b");
    store->insertData(a, localMs(today, QTime(7, 0)), 10.0);
    store->insertData(a, localMs(today, QTime(8, 0)), 20.0);
    const QList<QStringList> todayBefore =
        SqliteFile(path(today)).rows("SELECT * FROM curve_metadata ORDER BY curve_id");
    const DBCurveMetadata memoryBefore = store->curveMetadataOf(a);
    const QList<QStringList> batchesBefore =
        SqliteFile(path(today)).rows("SELECT * FROM batch_metadata ORDER BY id");

    const qint64 late = localMs(yesterday, QTime(23, 0));
    store->insertData(a, late, -7.0);

    QCOMPARE(SqliteFile(path(today)).rows("SELECT * FROM curve_metadata ORDER BY curve_id"),
             todayBefore);
    const DBCurveMetadata memoryAfter = store->curveMetadataOf(a);
    QCOMPARE(memoryAfter.minValue, memoryBefore.minValue);
    QCOMPARE(memoryAfter.maxValue, memoryBefore.maxValue);
    QCOMPARE(memoryAfter.minTime, memoryBefore.minTime);
    QCOMPARE(SqliteFile(path(today)).rows("SELECT * FROM batch_metadata ORDER BY id"),
             batchesBefore);
    QCOMPARE(store->getCurveNames(), (QMap<int, QString>{{1, "a"}, {2, "b"}}));
    QCOMPARE(
        SqliteFile(path(yesterday)).rows("SELECT * FROM curve_metadata"),
        (QList<QStringList>{{"1", QString::number(late), QString::number(late), "-7.0", "-7.0"}}));

    // The next sample of today still widens today's extremes from where they were.
    store->insertData(a, localMs(today, QTime(8, 30)), 5.0);
    QCOMPARE(SqliteFile(path(today))
                 .rows("SELECT min_value, max_value FROM curve_metadata WHERE "
                       "curve_id = 1"),
             (QList<QStringList>{{"5.0", "20.0"}}));
}

void TestCurveDataDB::routedSampleIntoFileWithoutTables()
{
    const QDate old = today.addDays(-3);
    {
        QFile empty(path(old));
        QVERIFY(empty.open(QIODevice::WriteOnly));
    }
    const int id = store->registerCurve("101");
    store->insertData(id, localMs(old, QTime(19, 0)), 1.5);
    QCOMPARE(SqliteFile(path(old)).scalar(
                 "SELECT value FROM curve_1_batch_20240112_180000_20240112_235959"),
             QStringLiteral("1.5"));
}

void TestCurveDataDB::futureSampleGoesToTodaysFile()
{
    const int id = store->registerCurve("101");
    store->insertData(id, localMs(today.addDays(1), QTime(1, 0)), 2.5);
    QVERIFY(!QFile::exists(path(today.addDays(1))));
    QCOMPARE(SqliteFile(path(today))
                 .scalar("SELECT value FROM curve_1_batch_20240116_000000_20240116_055959"),
             QStringLiteral("2.5"));
}

void TestCurveDataDB::restartedStoreWidensStoredExtremes()
{
    const int id = store->registerCurve("101");
    store->insertData(id, localMs(today, QTime(7, 0)), 4.0);
    closeStore();
    openStore();
    QCOMPARE(store->currentDatabasePath(), path(today));
    // Today's file is opened again and the curve is found where it was.
    QCOMPARE(store->registerCurve("101"), id);
    store->insertData(id, localMs(today, QTime(7, 1)), 6.0);
    QCOMPARE(SqliteFile(path(today)).rows("SELECT min_value, max_value FROM curve_metadata"),
             (QList<QStringList>{{"4.0", "6.0"}}));
}

void TestCurveDataDB::currentConnectionThatStopsAnsweringIsReplaced()
{
    const int id = store->registerCurve("101");
    store->insertData(id, localMs(today, QTime(7, 0)), 1.0);
    {
        // The store's own handle, closed behind its back (as the pool's expiry would).
        auto db = store->getConnection(path(today));
        db->close();
    }
    store->insertData(id, localMs(today, QTime(7, 1)), 2.0);
    store->insertData(id, localMs(today, QTime(7, 2)), 3.0);
    SqliteFile raw(path(today));
    QCOMPARE(raw.scalar("SELECT count(*) FROM curve_1_batch_20240115_060000_20240115_115959"),
             QStringLiteral("3"));
    QCOMPARE(raw.rows("SELECT min_value, max_value FROM curve_metadata"),
             (QList<QStringList>{{"1.0", "3.0"}}));
    QCOMPARE(raw.scalar("SELECT count(*) FROM curve_info"), QStringLiteral("1"));
}

// A store that cannot be created says why, and recovers once the obstacle is gone.
void TestCurveDataDB::unusableDataDirectoryIsReported()
{
    const QString blocked = QDir(dir->path()).filePath("SN1_Data");
    QFile plain(blocked);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    {
        LogRecorder log;
        CurveDataDB other(blocked);
        QVERIFY(!other.ensureUsable());
        QVERIFY2(other.lastError().contains("不是文件夹"), qPrintable(other.lastError()));
        QCOMPARE(other.registerCurve("101"), -1);
        QVERIFY(QFile::remove(blocked));
        QVERIFY(other.ensureUsable());
        const int id = other.registerCurve("101");
        QVERIFY(id > 0);
        QVERIFY(other.insertData(id, localMs(today, QTime(9, 0)), 1.0));
    }
    {
        LogRecorder log;
        CurveDataDB tooLong(QDir(dir->path()).filePath(QString(300, 'S') + "_Data"));
        QVERIFY(!tooLong.ensureUsable());
        QCOMPARE(tooLong.lastError(), QString::fromLocal8Bit(strerror(ENAMETOOLONG)));
        QCOMPARE(tooLong.registerCurve("101"), -1);
    }
}

// The file system fills up mid-run (a file-size limit stands in for a full disk): inserts
// report failure instead of pretending, and what was stored stays whole and consistent.
void TestCurveDataDB::fullFileSystemFailsInsertsAndKeepsTheFileWhole()
{
    const int id = store->registerCurve("101");
    const qint64 start = localMs(today, QTime(7, 0));
    int stored = 0;
    for (; stored < 50; ++stored)
        QVERIFY(store->insertData(id, start + stored * 1000, stored));
    // Closed and opened again, so that the file's size below is all there is of it.
    closeStore();
    openStore();
    QCOMPARE(store->registerCurve("101"), id);

    struct rlimit before;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = before;
    limit.rlim_cur = QFileInfo(path(today)).size() + 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    int failed = 0;
    {
        LogRecorder log;
        for (int i = 0; i < 2000 && failed == 0; ++i) {
            if (store->insertData(id, start + (50 + i) * 1000, 50 + i))
                ++stored;
            else
                ++failed;
        }
        QVERIFY(!store->lastError().isEmpty());
    }
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &before), 0);
    signal(SIGXFSZ, previousHandler);
    QCOMPARE(failed, 1);
    closeStore();

    SqliteFile raw(path(today));
    QCOMPARE(raw.scalar("PRAGMA integrity_check"), QStringLiteral("ok"));
    QCOMPARE(raw.scalar("SELECT count(*) FROM curve_1_batch_20240115_060000_20240115_115959"),
             QString::number(stored));
    QCOMPARE(raw.rows("SELECT max_time, max_value FROM curve_metadata"),
             (QList<QStringList>{{QString::number(start + (stored - 1) * 1000),
                                  QString::number(stored - 1) + ".0"}}));
}

QTEST_GUILESS_MAIN(TestCurveDataDB)
#include "tst_curvedatadb.moc"
