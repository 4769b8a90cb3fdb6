// Logging across local midnight with the store clock moved by the test, on ordinary days and
// on the daylight-saving change days of the zone in TZ.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "shardcalendar.h"
#include "storetestsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace StoreTest;

class TestDayRollover : public QObject
{
    Q_OBJECT
private slots:
    void rollover_data();
    void rollover();
    void registrationAfterMidnightSwitches();
    void scanAfterMidnightSwitches();
    void newDayFileNumberingCurvesOtherwise();
};

void TestDayRollover::rollover_data()
{
    QTest::addColumn<QDate>("day");
    QTest::newRow("ordinary") << QDate(2024, 1, 15);
    QTest::newRow("eve of spring change") << QDate(2024, 3, 30);
    QTest::newRow("spring change (Europe)") << QDate(2024, 3, 31);
    QTest::newRow("spring change (America)") << QDate(2024, 3, 10);
    QTest::newRow("autumn change (Europe)") << QDate(2024, 10, 27);
    QTest::newRow("year end") << QDate(2024, 12, 31);
}

void TestDayRollover::rollover()
{
    QFETCH(QDate, day);
    const QDate next = day.addDays(1);
    QTemporaryDir dir;
    const auto path = [&](const QDate &d) { return QDir(dir.path()).filePath(dayKey(d) + ".db"); };
    FrozenClock clock(localMs(day, QTime(23, 59, 59)));
    {
        CurveDataDB store(dir.path());
        const int a = store.registerCurve("101");
        const int b = store.registerCurve("102");
        const qint64 beforeMidnight = localMs(day, QTime(23, 59, 58));
        store.insertData(a, beforeMidnight, 1.0);
        QCOMPARE(store.currentDatabasePath(), path(day));

        // Midnight passes; the first write is a sample stamped before it.
        clock.set(localMs(next, QTime(0, 0, 1)));
        const qint64 late = localMs(day, QTime(23, 59, 59, 500));
        store.insertData(b, late, 2.0);
        QCOMPARE(store.currentDatabasePath(), path(next));
        QVERIFY(QFile::exists(path(next)));

        const QString lateTable = batchTableName(b, batchNameOfTime(late));
        SqliteFile dayFile(path(day));
        QCOMPARE(dayFile.rows("SELECT curve_id, timestamp, value FROM \"" + lateTable + "\""),
                 (QList<QStringList>{{QString::number(b), QString::number(late), "2.0"}}));
        QCOMPARE(dayFile.rows("SELECT curve_id, min_time, max_time FROM curve_metadata ORDER BY "
                              "curve_id"),
                 (QList<QStringList>{
                     {QString::number(a), QString::number(beforeMidnight),
                      QString::number(beforeMidnight)},
                     {QString::number(b), QString::number(late), QString::number(late)}}));

        // The new day's file holds the fixed tables and the curves under the same ids.
        SqliteFile nextFile(path(next));
        QCOMPARE(nextFile.rows("SELECT curve_id, name FROM curve_info ORDER BY curve_id"),
                 (QList<QStringList>{{QString::number(a), "101"}, {QString::number(b), "102"}}));
        QCOMPARE(nextFile.scalar("SELECT count(*) FROM batch_metadata"), QStringLiteral("0"));
        QCOMPARE(nextFile.scalar("SELECT count(*) FROM curve_metadata"), QStringLiteral("0"));

        const qint64 firstOfNext = localMs(next, QTime(0, 0, 0, 500));
        store.insertData(a, firstOfNext, 3.0);
        QCOMPARE(nextFile.rows("SELECT curve_id, min_time, max_value FROM curve_metadata"),
                 (QList<QStringList>{{QString::number(a), QString::number(firstOfNext), "3.0"}}));
        const QString firstTable = nextFile.scalar("SELECT table_name FROM batch_metadata");
        QCOMPARE(firstTable, batchTableName(a, batchNameOfTime(firstOfNext)));
        QVERIFY(firstTable.startsWith(
            batchTableName(a, QStringLiteral("batch_%1_000000_").arg(dayKey(next)))));

        // Another straggler from the day before: its file again, today's rows untouched.
        store.insertData(a, localMs(day, QTime(23, 59, 59, 900)), -1.0);
        QCOMPARE(nextFile.rows("SELECT curve_id, min_time, min_value FROM curve_metadata"),
                 (QList<QStringList>{{QString::number(a), QString::number(firstOfNext), "3.0"}}));
        QCOMPARE(dayFile.scalar(QStringLiteral("SELECT min_value FROM curve_metadata WHERE "
                                               "curve_id = %1")
                                    .arg(a)),
                 QStringLiteral("-1.0"));
        QCOMPARE(store.getCurveNames(), (QMap<int, QString>{{a, "101"}, {b, "102"}}));
    }
    // With the store gone, both files are closed cleanly.
    QVERIFY(!QFile::exists(path(day) + "-wal"));
    QVERIFY(!QFile::exists(path(next) + "-wal"));
    QCOMPARE(ConnectionPool::instance()->connectionCount(), 0);
}

void TestDayRollover::registrationAfterMidnightSwitches()
{
    QTemporaryDir dir;
    const QDate day(2024, 10, 27);
    FrozenClock clock(localMs(day, QTime(23, 0)));
    CurveDataDB store(dir.path());
    QCOMPARE(store.registerCurve("101"), 1);
    QCOMPARE(store.registerCurve("102"), 2);
    clock.set(localMs(day.addDays(1), QTime(0, 0)));
    QCOMPARE(store.registerCurve("103"), 3);
    const QString nextPath = QDir(dir.path()).filePath(dayKey(day.addDays(1)) + ".db");
    QCOMPARE(store.currentDatabasePath(), nextPath);
    QCOMPARE(SqliteFile(nextPath).rows("SELECT curve_id, name FROM curve_info ORDER BY curve_id"),
             (QList<QStringList>{{"1", "101"}, {"2", "102"}, {"3", "103"}}));
}

// The first scan after midnight, before any sample of it is stored, already works in the new
// day's file, where the known curves are registered.
void TestDayRollover::scanAfterMidnightSwitches()
{
    QTemporaryDir dir;
    const QDate day(2024, 3, 31);
    FrozenClock clock(localMs(day, QTime(22, 0)));
    CurveDataDB store(dir.path());
    store.registerCurve("101");
    clock.set(localMs(day.addDays(1), QTime(0, 5)));
    QVERIFY(store.beginScan());
    QVERIFY(store.endScan(true));
    const QString nextPath = QDir(dir.path()).filePath(dayKey(day.addDays(1)) + ".db");
    QCOMPARE(store.currentDatabasePath(), nextPath);
    QCOMPARE(SqliteFile(nextPath).scalar("SELECT name FROM curve_info"), QStringLiteral("101"));
}

// The next day's file was made before the logger reached midnight, by another program opening
// the data set or by a registration that failed there, and numbers the curves its own way:
// every sample after midnight is still stored under its own channel's name.
void TestDayRollover::newDayFileNumberingCurvesOtherwise()
{
    QTemporaryDir dir;
    const QDate day(2024, 6, 3);
    FrozenClock clock(localMs(day, QTime(23, 59, 50)));
    CurveDataDB store(dir.path());
    const int a = store.registerCurve("309");
    const int b = store.registerCurve("310");
    QVERIFY(store.insertData(a, localMs(day, QTime(23, 59, 50)), 309.0));

    const QString nextPath = QDir(dir.path()).filePath(dayKey(day.addDays(1)) + ".db");
    {
        SqliteFile other(nextPath, true);
        QVERIFY(other.exec("CREATE TABLE curve_info ( curve_id INTEGER PRIMARY KEY AUTOINCREMENT, "
                           "name TEXT NOT NULL UNIQUE )"));
        QVERIFY(other.exec("INSERT INTO curve_info (name) VALUES ('310'), ('309')"));
    }
    clock.set(localMs(day.addDays(1), QTime(0, 0, 1)));
    const qint64 after = localMs(day.addDays(1), QTime(0, 0, 0, 500));
    QVERIFY(store.insertData(a, after, 309.004));
    QVERIFY(store.insertData(b, after, 310.004));

    SqliteFile next(nextPath);
    const QString byName = QStringLiteral(
        "SELECT name, table_name FROM curve_info JOIN batch_metadata USING (curve_id) "
        "ORDER BY name");
    const QList<QStringList> tables = next.rows(byName);
    QCOMPARE(tables.size(), 2);
    for (const QStringList &table : tables)
        QCOMPARE(next.rows("SELECT value FROM \"" + table.at(1) + "\""),
                 (QList<QStringList>{{table.at(0) + ".004"}}));
    QCOMPARE(next.rows("SELECT name, min_value FROM curve_info JOIN curve_metadata USING "
                       "(curve_id) ORDER BY name"),
             (QList<QStringList>{{"309", "309.004"}, {"310", "310.004"}}));
    QCOMPARE(store.getCurveNames(), (QMap<int, QString>{{a, "309"}, {b, "310"}}));
}

QTEST_GUILESS_MAIN(TestDayRollover)
#include "tst_dayrollover.moc"
