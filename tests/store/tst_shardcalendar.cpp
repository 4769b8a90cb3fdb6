// Calendar of the store in the zone of the TZ variable this process runs under: slice edges,
// midnight, the daylight-saving change days of the zone, names and file keys.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "shardcalendar.h"
#include "storetestsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

using namespace StoreTest;

class TestShardCalendar : public QObject
{
    Q_OBJECT
private slots:
    void sliceEdges_data();
    void sliceEdges();
    void changeDays();
    void berlinChangeDayNames_data();
    void berlinChangeDayNames();
    void dateKeyAroundMidnight_data();
    void dateKeyAroundMidnight();
    void dateKeyOfFile_data();
    void dateKeyOfFile();
    void tableNamesAndPrefixes();
    void storePaths();
};

void TestShardCalendar::sliceEdges_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QTime>("start");
    QTest::addColumn<QString>("name");
    const QString d = QStringLiteral("20240115");
    auto name = [&](const char *s, const char *e) {
        return QStringLiteral("batch_%1_%2_%1_%3")
            .arg(d, QString::fromLatin1(s), QString::fromLatin1(e));
    };
    QTest::newRow("midnight") << QTime(0, 0) << QTime(0, 0) << name("000000", "055959");
    QTest::newRow("05:59:59.999") << QTime(5, 59, 59, 999) << QTime(0, 0)
                                  << name("000000", "055959");
    QTest::newRow("06:00") << QTime(6, 0) << QTime(6, 0) << name("060000", "115959");
    QTest::newRow("07:30") << QTime(7, 30) << QTime(6, 0) << name("060000", "115959");
    QTest::newRow("11:59:59.999") << QTime(11, 59, 59, 999) << QTime(6, 0)
                                  << name("060000", "115959");
    QTest::newRow("12:00") << QTime(12, 0) << QTime(12, 0) << name("120000", "175959");
    QTest::newRow("18:00") << QTime(18, 0) << QTime(18, 0) << name("180000", "235959");
    QTest::newRow("23:59:59.999") << QTime(23, 59, 59, 999) << QTime(18, 0)
                                  << name("180000", "235959");
}

void TestShardCalendar::sliceEdges()
{
    QFETCH(QTime, time);
    QFETCH(QTime, start);
    QFETCH(QString, name);
    const QDate day(2024, 1, 15);
    const qint64 t = localMs(day, time);
    const qint64 s = batchStartTime(t);
    QCOMPARE(s, localMs(day, start));
    QCOMPARE(batchNameOfTime(t), name);
    QCOMPARE(formatBatchTime(s), day.toString("yyyyMMdd") + "_" + start.toString("HHmmss"));
}

// Every day of the year on which the zone changes its offset (none in zones without daylight
// saving; then an ordinary day stands in). On each, the slices must cover the day without gap
// or overlap, each holding its own samples, all starting on that date.
void TestShardCalendar::changeDays()
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    QList<QDate> days;
    const auto transitions = zone.transitions(QDateTime(QDate(2024, 1, 1), QTime(0, 0)),
                                              QDateTime(QDate(2024, 12, 31), QTime(0, 0)));
    for (const auto &transition : transitions)
        days.append(transition.atUtc.toLocalTime().date());
    if (days.isEmpty())
        days.append(QDate(2024, 6, 1));
    if (qgetenv("TZ") == "Europe/Berlin")
        QCOMPARE(days, (QList<QDate>{QDate(2024, 3, 31), QDate(2024, 10, 27)}));

    for (const QDate &day : qAsConst(days)) {
        const qint64 midnight = localMs(day, QTime(0, 0));
        const qint64 nextMidnight = localMs(day.addDays(1), QTime(0, 0));
        QCOMPARE(batchStartTime(midnight), midnight);
        QCOMPARE(batchStartTime(nextMidnight - 1) <= nextMidnight - 1, true);
        qint64 previousStart = midnight;
        for (qint64 t = midnight; t < nextMidnight; t += 60000) {
            for (qint64 probe : {t, t + 59999}) {
                const qint64 s = batchStartTime(probe);
                QVERIFY2(s <= probe && probe <= s + batchLengthMs - 1,
                         qPrintable(QDateTime::fromMSecsSinceEpoch(probe).toString()));
                QCOMPARE(QDateTime::fromMSecsSinceEpoch(s).date(), day);
                QCOMPARE(batchNameOfTime(probe),
                         QStringLiteral("batch_%1_%2")
                             .arg(formatBatchTime(s), formatBatchTime(s + batchLengthMs - 1)));
                QVERIFY(s == previousStart || s == previousStart + batchLengthMs);
                previousStart = s;
            }
        }
    }
}

// On Berlin's change days the slices are six hours of elapsed time from local midnight, so the
// wall-clock names of the later slices are an hour off: the names are pinned here because
// stored table names depend on them.
void TestShardCalendar::berlinChangeDayNames_data()
{
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("name");
    QTest::newRow("spring 01:59") << QDate(2024, 3, 31) << QTime(1, 59, 59, 999)
                                  << "batch_20240331_000000_20240331_065959";
    QTest::newRow("spring 06:59") << QDate(2024, 3, 31) << QTime(6, 59, 59, 999)
                                  << "batch_20240331_000000_20240331_065959";
    QTest::newRow("spring 07:00") << QDate(2024, 3, 31) << QTime(7, 0)
                                  << "batch_20240331_070000_20240331_125959";
    QTest::newRow("spring 23:59") << QDate(2024, 3, 31) << QTime(23, 59, 59, 999)
                                  << "batch_20240331_190000_20240401_005959";
    QTest::newRow("autumn 01:59") << QDate(2024, 10, 27) << QTime(1, 59)
                                  << "batch_20241027_000000_20241027_045959";
    QTest::newRow("autumn 05:00") << QDate(2024, 10, 27) << QTime(5, 0)
                                  << "batch_20241027_050000_20241027_105959";
    QTest::newRow("autumn 23:00") << QDate(2024, 10, 27) << QTime(23, 0)
                                  << "batch_20241027_230000_20241028_045959";
    QTest::newRow("autumn 23:59") << QDate(2024, 10, 27) << QTime(23, 59, 59, 999)
                                  << "batch_20241027_230000_20241028_045959";
}

void TestShardCalendar::berlinChangeDayNames()
{
    if (qgetenv("TZ") != "Europe/Berlin")
        QSKIP("names pinned for Europe/Berlin only");
    QFETCH(QDate, day);
    QFETCH(QTime, time);
    QFETCH(QString, name);
    QCOMPARE(batchNameOfTime(localMs(day, time)), name);
}

void TestShardCalendar::dateKeyAroundMidnight_data()
{
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QTime>("now");
    QTest::addColumn<QDate>("sampleDay");
    QTest::addColumn<QTime>("sampleTime");
    QTest::addColumn<QDate>("keyDay");
    const QDate d(2024, 1, 15);
    QTest::newRow("before midnight, written after")
        << d.addDays(1) << QTime(0, 0, 0, 500) << d << QTime(23, 59, 59, 999) << d;
    QTest::newRow("first ms of the day")
        << d.addDays(1) << QTime(0, 0, 0, 500) << d.addDays(1) << QTime(0, 0) << d.addDays(1);
    QTest::newRow("future goes to today")
        << d << QTime(23, 59, 59) << d.addDays(1) << QTime(0, 0, 1) << d;
    QTest::newRow("far future goes to today")
        << d << QTime(8, 0) << d.addDays(40) << QTime(8, 0) << d;
    QTest::newRow("last year") << d << QTime(8, 0) << d.addYears(-1) << QTime(12, 0)
                               << d.addYears(-1);
    QTest::newRow("spring change day") << QDate(2024, 4, 1) << QTime(0, 0, 1) << QDate(2024, 3, 31)
                                       << QTime(23, 59, 59, 999) << QDate(2024, 3, 31);
    QTest::newRow("autumn change day") << QDate(2024, 10, 27) << QTime(3, 30) << QDate(2024, 10, 27)
                                       << QTime(2, 30) << QDate(2024, 10, 27);
}

void TestShardCalendar::dateKeyAroundMidnight()
{
    QFETCH(QDate, day);
    QFETCH(QTime, now);
    QFETCH(QDate, sampleDay);
    QFETCH(QTime, sampleTime);
    QFETCH(QDate, keyDay);
    FrozenClock clock(localMs(day, now));
    QCOMPARE(dateKeyForTime(localMs(sampleDay, sampleTime)), dayKey(keyDay));
}

void TestShardCalendar::dateKeyOfFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("key");
    QTest::newRow("day file") << "20240115.db"
                              << "20240115";
    QTest::newRow("with directory") << "/data/SN1_Data/20240115.db"
                                    << "20240115";
    QTest::newRow("seven digits") << "2024011.db"
                                  << "";
    QTest::newRow("nine digits") << "202401150.db"
                                 << "";
    QTest::newRow("not a date") << "backup.db"
                                << "";
    QTest::newRow("two suffixes") << "20240115.old.db"
                                  << "";
    QTest::newRow("letter inside") << "2024o115.db"
                                   << "";
    QTest::newRow("no suffix") << "20240115"
                               << "20240115";
}

void TestShardCalendar::dateKeyOfFile()
{
    QFETCH(QString, path);
    QFETCH(QString, key);
    QCOMPARE(ConnectionPool::dateKeyOfFile(path), key);
}

void TestShardCalendar::tableNamesAndPrefixes()
{
    const QString table =
        batchTableName(12, QStringLiteral("batch_20240115_000000_20240115_055959"));
    QCOMPARE(table, QStringLiteral("curve_12_batch_20240115_000000_20240115_055959"));
    QVERIFY(!table.startsWith(QStringLiteral("curve_1_")));
    QVERIFY(table.startsWith(QStringLiteral("curve_12_")));
}

void TestShardCalendar::storePaths()
{
    QTemporaryDir dir;
    FrozenClock clock(localMs(QDate(2024, 1, 15), QTime(7, 30)));
    const QString dataDir = dir.path() + QStringLiteral("/");
    CurveDataDB store(dataDir);
    const QString expected = QDir(dir.path()).filePath(QStringLiteral("20240115.db"));
    QCOMPARE(QDir::cleanPath(dayFilePath(dataDir, QStringLiteral("20240115"))), expected);
    QCOMPARE(QDir::cleanPath(store.currentDatabasePath()), expected);
    // A time ahead of the clock belongs to today's file, an earlier one to its own day's.
    QCOMPARE(QDir::cleanPath(dayFilePath(
                 dataDir, dateKeyForTime(localMs(QDate(2024, 1, 16), QTime(1, 0))))),
             expected);
    QCOMPARE(QDir::cleanPath(dayFilePath(
                 dataDir, dateKeyForTime(localMs(QDate(2024, 1, 14), QTime(23, 0))))),
             QDir(dir.path()).filePath(QStringLiteral("20240114.db")));
    QVERIFY(!dayFilePath(dataDir, QStringLiteral("20240115")).contains(QStringLiteral("//")));
    QVERIFY(!store.currentDatabasePath().contains(QStringLiteral("//")));
}

QTEST_GUILESS_MAIN(TestShardCalendar)
#include "tst_shardcalendar.moc"
