// A day file's registry as the writer and the cursors both read it, on real files: a curve's id
// by name where day files number the curves differently, a file without a registry, extremes
// with NULL columns, and a curve's batch tables in a range.
#include "curvedatadb.h"
#include "curveregistry.h"
#include "storetestsupport.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using namespace StoreTest;

namespace {
const QDate today(2024, 1, 15);
const QDate yesterday = today.addDays(-1);

// A connection of the test's own to a day file, outside the store's pool.
class PlainConnection
{
public:
    explicit PlainConnection(const QString &path)
        : name(QStringLiteral("registry_test_%1").arg(++count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
    }
    ~PlainConnection()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

private:
    static int count;
    const QString name;
};
int PlainConnection::count = 0;
} // namespace

class TestCurveRegistry : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void lookupFindsTheIdOfEachFile();
    void lookupWithoutRegistryFailsWithCause();
    void metadataRowsKeepNullApartFromZero();
    void metadataOfFileWithoutTableIsEmpty();
    void batchesKeepToTheirCurve();
    void batchesInRange_data();
    void batchesInRange();
    void batchesOfDeadConnectionAreNone();

private:
    QString path(const QDate &date) const
    {
        return QDir(dir->path()).filePath(dayKey(date) + ".db");
    }

    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<FrozenClock> clock;
    QScopedPointer<CurveDataDB> store;
};

void TestCurveRegistry::init()
{
    dir.reset(new QTemporaryDir);
    clock.reset(new FrozenClock(localMs(today, QTime(9, 0))));
    store.reset(new CurveDataDB(dir->path()));
}

void TestCurveRegistry::cleanup()
{
    store.reset();
    clock.reset();
    dir.reset();
}

// Yesterday's file was written by a run that met the curves in the other order: the same name
// has another id there, and a sample of "a" routed there must land under "a"'s id of that file.
void TestCurveRegistry::lookupFindsTheIdOfEachFile()
{
    store.reset();
    {
        SqliteFile raw(path(yesterday), true);
        createFixedTables(raw);
        QVERIFY(raw.exec("INSERT INTO curve_info (name) VALUES ('b')"));
        QVERIFY(raw.exec("INSERT INTO curve_info (name) VALUES ('a')"));
    }
    store.reset(new CurveDataDB(dir->path()));
    QCOMPARE(store->registerCurve("a"), 1);
    QCOMPARE(store->registerCurve("b"), 2);
    QVERIFY(store->insertData(1, localMs(yesterday, QTime(20, 0)), 4.5));

    PlainConnection old(path(yesterday));
    PlainConnection current(path(today));
    int id = 0;
    QString error;
    QVERIFY(CurveRegistry::lookupCurveId(old.db(), "a", &id, &error));
    QCOMPARE(id, 2);
    QVERIFY(CurveRegistry::lookupCurveId(current.db(), "a", &id, &error));
    QCOMPARE(id, 1);
    QVERIFY(CurveRegistry::lookupCurveId(old.db(), "b", &id, &error));
    QCOMPARE(id, 1);
    // A name not registered there is no failure.
    QVERIFY(CurveRegistry::lookupCurveId(old.db(), "c", &id, &error));
    QCOMPARE(id, -1);
    QVERIFY(error.isEmpty());
    QCOMPARE(SqliteFile(path(yesterday))
                 .rows("SELECT curve_id, value FROM curve_2_batch_20240114_180000_20240114_235959"),
             (QList<QStringList>{{"2", "4.5"}}));
}

// The writer tells a missing registry (it then makes the tables and tries again) from a name
// that is not there by this failure and its cause.
void TestCurveRegistry::lookupWithoutRegistryFailsWithCause()
{
    const QString bare = path(today.addDays(-5));
    {
        QFile empty(bare);
        QVERIFY(empty.open(QIODevice::WriteOnly));
    }
    PlainConnection connection(bare);
    QVERIFY(connection.db().isOpen());
    int id = 7;
    QString error;
    QVERIFY(!CurveRegistry::lookupCurveId(connection.db(), "a", &id, &error));
    QVERIFY2(error.contains("no such table"), qPrintable(error));
    QCOMPARE(id, 7);
}

void TestCurveRegistry::metadataRowsKeepNullApartFromZero()
{
    store.reset();
    {
        SqliteFile raw(path(today), true);
        createFixedTables(raw);
        for (const char *name : {"a", "b", "c", "d"})
            QVERIFY(raw.exec(QStringLiteral("INSERT INTO curve_info (name) VALUES ('%1')")
                                 .arg(QLatin1String(name))));
        QVERIFY(raw.exec("INSERT INTO curve_metadata VALUES (1, NULL, NULL, NULL, NULL)"));
        QVERIFY(raw.exec("INSERT INTO curve_metadata VALUES (2, 0, 0, 0.0, 0.0)"));
        QVERIFY(raw.exec("INSERT INTO curve_metadata VALUES (3, -5, 9, -1.5, 2.5)"));
        // Only the time known (a file written by an older run).
        QVERIFY(raw.exec("INSERT INTO curve_metadata VALUES (4, 10, 20, NULL, NULL)"));
    }
    PlainConnection connection(path(today));
    const QMap<int, DBCurveMetadata> rows = CurveRegistry::readCurveMetadata(connection.db());
    QCOMPARE(rows.keys(), (QList<int>{1, 2, 3, 4}));

    const DBCurveMetadata none = rows.value(1);
    QCOMPARE(none.minTime, DBCurveMetadata::emptyMinTime);
    QCOMPARE(none.maxTime, DBCurveMetadata::emptyMaxTime);
    QCOMPARE(none.minValue, DBCurveMetadata::emptyMinValue);
    QCOMPARE(none.maxValue, DBCurveMetadata::emptyMaxValue);

    const DBCurveMetadata zero = rows.value(2);
    QCOMPARE(zero.minTime, qint64(0));
    QCOMPARE(zero.maxTime, qint64(0));
    QCOMPARE(zero.minValue, 0.0);
    QCOMPARE(zero.maxValue, 0.0);

    const DBCurveMetadata some = rows.value(3);
    QCOMPARE(some.minTime, qint64(-5));
    QCOMPARE(some.maxTime, qint64(9));
    QCOMPARE(some.minValue, -1.5);
    QCOMPARE(some.maxValue, 2.5);

    const DBCurveMetadata timeOnly = rows.value(4);
    QCOMPARE(timeOnly.minTime, qint64(10));
    QCOMPARE(timeOnly.maxTime, qint64(20));
    QCOMPARE(timeOnly.minValue, DBCurveMetadata::emptyMinValue);
    QCOMPARE(timeOnly.maxValue, DBCurveMetadata::emptyMaxValue);
}

void TestCurveRegistry::metadataOfFileWithoutTableIsEmpty()
{
    const QString bare = path(today.addDays(-5));
    {
        QFile empty(bare);
        QVERIFY(empty.open(QIODevice::WriteOnly));
    }
    PlainConnection connection(bare);
    QVERIFY(connection.db().isOpen());
    QVERIFY(CurveRegistry::readCurveMetadata(connection.db()).isEmpty());
}

void TestCurveRegistry::batchesKeepToTheirCurve()
{
    for (int i = 1; i <= 12; ++i)
        QCOMPARE(store->registerCurve(QString::number(100 + i)), i);
    const qint64 t = localMs(today, QTime(6, 30));
    store->insertData(1, t, 1.0);
    store->insertData(12, t, 12.0);
    const QString table12 = "curve_12_batch_20240115_060000_20240115_115959";
    {
        SqliteFile raw(path(today));
        // A row that claims curve 12's table for curve 1.
        QVERIFY(raw.exec(QStringLiteral("INSERT INTO batch_metadata (curve_id, batch_start, "
                                        "batch_end, table_name) VALUES (1, %1, %2, '%3')")
                             .arg(localMs(today, QTime(6, 0)))
                             .arg(localMs(today, QTime(11, 59, 59, 999)))
                             .arg(table12)));
    }
    auto db = store->getConnection(path(today));
    const qint64 from = localMs(today, QTime(0, 0));
    const qint64 to = localMs(today, QTime(23, 59, 59, 999));
    const QList<DBBatchInfo> one = CurveRegistry::batchesInRange(*db, 1, from, to);
    QCOMPARE(one.size(), 1);
    QCOMPARE(one[0].tableName, QStringLiteral("curve_1_batch_20240115_060000_20240115_115959"));
    const QList<DBBatchInfo> twelve = CurveRegistry::batchesInRange(*db, 12, from, to);
    QCOMPARE(twelve.size(), 1);
    QCOMPARE(twelve[0].tableName, table12);
}

void TestCurveRegistry::batchesInRange_data()
{
    QTest::addColumn<QTime>("from");
    QTest::addColumn<QTime>("to");
    QTest::addColumn<int>("found");
    // The stored batch spans 06:00:00.000 to 11:59:59.999.
    QTest::newRow("start inside") << QTime(5, 0) << QTime(6, 0) << 1;
    QTest::newRow("end inside") << QTime(11, 59, 59, 999) << QTime(13, 0) << 1;
    QTest::newRow("batch spans range") << QTime(7, 0) << QTime(8, 0) << 1;
    QTest::newRow("range spans batch") << QTime(1, 0) << QTime(20, 0) << 1;
    QTest::newRow("just before") << QTime(0, 0) << QTime(5, 59, 59, 999) << 0;
    QTest::newRow("just after") << QTime(12, 0) << QTime(23, 0) << 0;
}

void TestCurveRegistry::batchesInRange()
{
    QFETCH(QTime, from);
    QFETCH(QTime, to);
    QFETCH(int, found);
    const int id = store->registerCurve("101");
    store->insertData(id, localMs(today, QTime(9, 0)), 1.0);
    auto db = store->getConnection(path(today));
    QCOMPARE(CurveRegistry::batchesInRange(*db, id, localMs(today, from), localMs(today, to)).size(), found);
}

void TestCurveRegistry::batchesOfDeadConnectionAreNone()
{
    LogRecorder log;
    QVERIFY(CurveRegistry::batchesInRange(QSqlDatabase(), 1, 0, 1).isEmpty());
    QCOMPARE(log.count("外部数据库连接无效"), 1);
}

QTEST_GUILESS_MAIN(TestCurveRegistry)
#include "tst_curveregistry.moc"
