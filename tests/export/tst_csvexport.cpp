// The export thread end to end over real stores: exact file bytes, column choice and order,
// every outcome, stopping, failing writes, and the threads whose connections it reads through.
#include "connectionpool.h"
#include "csvexportfromdbthread.h"
#include "curvedatadb.h"
#include "exporttestsupport.h"
#include "shardcalendar.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

#include <ctime>

#include <cmath>
#include <csignal>
#include <limits>
#include <mutex>
#include <random>

using namespace ExportTest;

namespace {

const QDate day1(2024, 3, 30); // before, on and after the spring change to summer time
const QDate day2(2024, 3, 31);
const QDate day3(2024, 4, 1);
const QDate golden(2025, 1, 15);

qint64 at(const QDate &d, int h, int m = 0, int s = 0, int ms = 0)
{
    return localMs(d, QTime(h, m, s, ms));
}

QString basePath(const TestStore &s)
{
    return QDir(s.exportDir()).filePath(QStringLiteral("A1_Trace.csv"));
}

// One curve with n samples a second apart from 08:00 of day 1.
QList<Sample> evenSamples(int curveId, int n, qint64 from)
{
    QList<Sample> samples;
    for (int i = 0; i < n; ++i)
        samples.append({curveId, from + qint64(i) * 1000, 0.5 * i - 7.0});
    return samples;
}

// Lowers the process's file size limit while alive; writes past it fail with EFBIG.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = bytes;
        ok = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
    bool ok = false;

private:
    rlimit saved{};
};

} // namespace

class TestCsvExport : public QObject
{
    Q_OBJECT

private slots:
    void goldenBytes_data();
    void goldenBytes();
    void headerTimesAcrossAClockChange_data();
    void headerTimesAcrossAClockChange();
    void matchesStraightforwardExport();
    void byteOrderMarkAndLineEnds();
    void columnsFollowAscendingIds();
    void requestedIdTheStoreLacksIsLeftOut();
    void nothingToExport_data();
    void nothingToExport();
    void noStoreIsDatabaseError();
    void folderThatCannotBeMadeIsFileError();
    void stopMidExport();
    void stopJustAfterTheLastRow();
    void failingWritesAreWriteErrors_data();
    void failingWritesAreWriteErrors();
    void partRemovedDuringExportIsWriteError();
    void readsThroughConnectionsOfItsOwnWhileTheStoreWrites();
    void secondStartIsRefused();
};

void TestCsvExport::goldenBytes_data()
{
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("goldenFile");
    QTest::newRow("comma") << QStringLiteral(",") << QStringLiteral("two_curves_comma.csv");
    QTest::newRow("semicolon") << QStringLiteral(";") << QStringLiteral("two_curves_semicolon.csv");
    QTest::newRow("tab") << QStringLiteral("\t") << QStringLiteral("two_curves_tab.csv");
}

void TestCsvExport::goldenBytes()
{
    QFETCH(QString, separator);
    QFETCH(QString, goldenFile);
    TestStore s(at(golden, 10, 29), {QStringLiteral("101"), QStringLiteral("102")});
    s.write({{1, at(golden, 10, 30, 0, 123), 1.5},
             {1, at(golden, 10, 30, 1, 500), 2.0},
             {1, at(golden, 10, 30, 2, 999), -0.001},
             {2, at(golden, 10, 30, 0, 200), -0.25},
             {2, at(golden, 10, 30, 1, 600), 3.0},
             {2, at(golden, 10, 30, 2, 700), 1e-300},
             {2, at(golden, 10, 30, 3, 800), 123456.789},
             {2, at(golden, 10, 30, 4, 900), -9.9e37}},
            at(golden, 10, 45));

    CsvExportFromDBThread thread(s.store(), {1, 2}, basePath(s), separator, headerFields(),
                                 at(golden, 10, 30), at(golden, 10, 40, 1, 456));
    const ExportOutcome out = runExport(thread);
    QVERIFY(out.finished);
    QCOMPARE(out.resultCount, 1);
    QCOMPARE(out.result, ExportResult::Success);
    // Part 1 is named from the base name, the part number and the time the part was opened.
    const QString part1 =
        QDir(s.exportDir()).filePath(QStringLiteral("A1_Trace_1_20250115104500.csv"));
    QCOMPARE(out.files, QStringList{part1});
    QCOMPARE(filesIn(s.exportDir()), QStringList{part1});
    QVERIFY(!QFile::exists(basePath(s)));

    const QByteArray expected = readFile(goldenPath(goldenFile));
    QVERIFY(!expected.isEmpty());
    const QString diff = lineDiff(readFile(part1), expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// A recording across a clock change: the header writes start and end each in the offset of its
// own instant, in the zone the process runs in.
void TestCsvExport::headerTimesAcrossAClockChange_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("startUtc");
    QTest::addColumn<QString>("endUtc");
    QTest::addColumn<QString>("startText");
    QTest::addColumn<QString>("endText");
    // 02:00 CET becomes 03:00 CEST.
    QTest::newRow("spring") << QByteArray("Europe/Berlin") << "2024-03-31T00:59:59.900Z"
                            << "2024-03-31T01:00:00.100Z"
                            << "2024 03 31 01 59 59 900"
                            << "2024 03 31 03 00 00 100";
    // 03:00 CEST becomes 02:00 CET: an hour apart, the same wall-clock time.
    QTest::newRow("autumn") << QByteArray("Europe/Berlin") << "2024-10-27T00:30:00.000Z"
                            << "2024-10-27T01:30:00.000Z"
                            << "2024 10 27 02 30 00 000"
                            << "2024 10 27 02 30 00 000";
    // 02:00 EST becomes 03:00 EDT; the start a day before, across midnight.
    QTest::newRow("other zone") << QByteArray("America/New_York") << "2024-03-10T04:59:59.000Z"
                                << "2024-03-10T07:00:00.000Z"
                                << "2024 03 09 23 59 59 000"
                                << "2024 03 10 03 00 00 000";
}

void TestCsvExport::headerTimesAcrossAClockChange()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, startUtc);
    QFETCH(QString, endUtc);
    QFETCH(QString, startText);
    QFETCH(QString, endText);

    const QByteArray zoneBefore = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    const auto restoreZone = qScopeGuard([&zoneBefore] {
        qputenv("TZ", zoneBefore);
        tzset();
    });

    TestStore s(at(day1, 7), {QStringLiteral("101")});
    s.write(evenSamples(1, 3, at(day1, 8)), at(day1, 9));
    CsvHeader header = headerFields();
    header.startMs = QDateTime::fromString(startUtc, Qt::ISODateWithMs).toMSecsSinceEpoch();
    header.endMs = QDateTime::fromString(endUtc, Qt::ISODateWithMs).toMSecsSinceEpoch();
    QVERIFY(header.startMs > 0 && header.endMs >= header.startMs);
    CsvExportFromDBThread thread(s.store(), {1}, basePath(s), QStringLiteral(","), header,
                                 at(day1, 0), at(day1, 23));
    const ExportOutcome out = runExport(thread);
    QCOMPARE(out.result, ExportResult::Success);
    QCOMPARE(out.files.size(), 1);
    const QList<QByteArray> lines = readFile(out.files.first()).split('\n');
    QVERIFY(lines.size() > 5);
    QCOMPARE(QString::fromUtf8(lines.at(3)), QStringLiteral("开始时间,%1").arg(startText));
    QCOMPARE(QString::fromUtf8(lines.at(4)), QStringLiteral("结束时间,%1").arg(endText));
}

void TestCsvExport::matchesStraightforwardExport()
{
    // Three curves of unequal length over three day files (one of them 23 hours long), values
    // of every kind, rows in ascending time across table and file boundaries.
    const QStringList names{QStringLiteral("101"), QStringLiteral("102"), QStringLiteral("203")};
    TestStore s(at(day1, 0), names);
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> reading(-20.0, 20.0);
    const double specials[] = {0.0,
                               -0.0,
                               1234567890123456.5, // exact tie at the 16th digit
                               -515718121532132.25,
                               9.9e37,
                               std::numeric_limits<double>::denorm_min(),
                               std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               1e-5,
                               -123.456};
    QList<Sample> samples;
    int i = 0;
    for (qint64 t = at(day1, 0, 0, 1); t < at(day3, 23, 58); t += 97 * 1000 + 13, ++i) {
        const double v = (i % 17 == 0) ? specials[(i / 17) % 11] : reading(random);
        samples.append({1, t, v});
        if (i % 3 != 0)
            samples.append({2, t + 250, -v / 3.0});
        if (i < 900)
            samples.append({3, t + 500, std::ldexp(double(i) + 0.5, 40 - i % 80)});
    }
    s.write(samples, at(day3, 23, 59));

    const qint64 start = at(day1, 3, 17, 5, 1);
    const qint64 end = at(day3, 20, 2, 2, 2);
    CsvExportFromDBThread thread(s.store(), {3, 1, 2}, basePath(s), QStringLiteral(","),
                                 headerFields(), start, end);
    QList<QPair<qint64, qint64>> progress;
    connect(&thread, &CsvExportFromDBThread::exportProgress, this,
            [&progress](qint64 rows, qint64 total) {
                progress.append({rows, total});
            });
    const ExportOutcome out = runExport(thread);
    QCOMPARE(out.result, ExportResult::Success);
    QCOMPARE(out.files.size(), 1);

    const QList<QByteArray> expected =
        referenceExport(s.dataDir(), names, start, end, QStringLiteral(","), headerFields());
    QCOMPARE(expected.size(), 1);
    QVERIFY(expected.first().count('\n') > 2000);
    // The total is counted before the first row (partial slices at both ends, three files,
    // curves of unequal length) and is the rows written.
    const qint64 rows = expected.first().count('\n') - 6;
    QVERIFY(progress.size() >= 2);
    QCOMPARE(progress.first(), qMakePair(qint64(0), rows));
    QCOMPARE(progress.last(), qMakePair(rows, rows));
    for (int i = 1; i < progress.size(); ++i)
        QVERIFY(progress.at(i).first > progress.at(i - 1).first && progress.at(i).second == rows);
    const QString diff = lineDiff(readFile(out.files.first()), expected.first());
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestCsvExport::byteOrderMarkAndLineEnds()
{
    TestStore s(at(day1, 7), {QStringLiteral("101"), QStringLiteral("102")});
    s.write(evenSamples(1, 4, at(day1, 8)) + evenSamples(2, 2, at(day1, 8)), at(day1, 9));
    for (const QString &separator :
         {QStringLiteral(","), QStringLiteral(";"), QStringLiteral("\t")}) {
        CsvExportFromDBThread thread(s.store(), {1, 2}, basePath(s), separator, headerFields(),
                                     at(day1, 0), at(day1, 23));
        const ExportOutcome out = runExport(thread);
        QCOMPARE(out.result, ExportResult::Success);
        const QByteArray bytes = readFile(out.files.first());
        QVERIFY(QFile::remove(out.files.first()));

        QCOMPARE(bytes.left(3), QByteArray("\xEF\xBB\xBF"));
        QCOMPARE(bytes.indexOf("\xEF\xBB\xBF", 1), -1);
        QCOMPARE(bytes.count('\r'), 0);
        QVERIFY(bytes.endsWith('\n'));
        QList<QByteArray> lines = bytes.mid(3).split('\n');
        QVERIFY(lines.takeLast().isEmpty());
        QCOMPARE(lines.size(), 6 + 4);
        const QByteArray sep = separator.toUtf8();
        for (int i = 0; i < 5; ++i)
            QCOMPARE(lines.at(i).count(sep), 1); // label, separator, value
        QCOMPARE(lines.at(2), QByteArray("序列号：") + sep + "A1");
        QCOMPARE(lines.at(5), QByteArray("编号") + sep + "时间" + sep + "101" + sep + "102" + sep);
        // No separator after the last cell: only an empty last cell leaves one at the end.
        for (int i = 6; i < lines.size(); ++i)
            QCOMPARE(lines.at(i).count(sep), 3);
        QVERIFY(!lines.at(6).endsWith(sep));
        QVERIFY(!lines.at(7).endsWith(sep));
        QCOMPARE(lines.at(9), QByteArray("4") + sep + "2024-03-30 08:00:03" + sep +
                                  "-5.500000000000000E+00" + sep);
    }
}

void TestCsvExport::columnsFollowAscendingIds()
{
    TestStore s(at(day1, 7), {QStringLiteral("101"), QStringLiteral("102"), QStringLiteral("103"),
                              QStringLiteral("104"), QStringLiteral("105")});
    QList<Sample> samples;
    for (int id = 1; id <= 5; ++id)
        samples.append({id, at(day1, 8, 0, id), double(id)});
    s.write(samples, at(day1, 9));
    CsvExportFromDBThread thread(s.store(), {5, 2}, basePath(s), QStringLiteral(","),
                                 headerFields(), at(day1, 0), at(day1, 23));
    const ExportOutcome out = runExport(thread);
    QCOMPARE(out.result, ExportResult::Success);
    const QList<QByteArray> lines = readFile(out.files.first()).split('\n');
    QCOMPARE(lines.at(5), QByteArray("编号,时间,102,105,"));
    // The time column is the first column's curve, 102.
    QCOMPARE(lines.at(6),
             QByteArray("1,2024-03-30 08:00:02,2.000000000000000E+00,5.000000000000000E+00"));
}

void TestCsvExport::requestedIdTheStoreLacksIsLeftOut()
{
    TestStore s(at(day1, 7), {QStringLiteral("101"), QStringLiteral("102")});
    s.write(evenSamples(1, 3, at(day1, 8)) + evenSamples(2, 3, at(day1, 8)), at(day1, 9));
    LogCapture log;
    CsvExportFromDBThread thread(s.store(), {99, 2}, basePath(s), QStringLiteral(","),
                                 headerFields(), at(day1, 0), at(day1, 23));
    const ExportOutcome out = runExport(thread);
    QCOMPARE(out.result, ExportResult::Success);
    const QList<QByteArray> lines = readFile(out.files.first()).split('\n');
    QCOMPARE(lines.at(5), QByteArray("编号,时间,102,"));
    QCOMPARE(lines.at(6), QByteArray("1,2024-03-30 08:00:00,-7.000000000000000E+00"));
    QCOMPARE(log.count({QStringLiteral("99")}), 0);
    QCOMPARE(log.count({QStringLiteral("[导出线程]"), QStringLiteral("不存在")}), 0);
}

void TestCsvExport::nothingToExport_data()
{
    QTest::addColumn<QStringList>("curves");
    QTest::addColumn<QList<int>>("requested");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<QString>("message");
    const QStringList two{QStringLiteral("101"), QStringLiteral("102")};
    QTest::newRow("nothing requested")
        << two << QList<int>{} << at(day1, 0) << QStringLiteral("[导出线程] 未选中任何曲线");
    QTest::newRow("store without curves") << QStringList{} << QList<int>{1} << at(day1, 0)
                                          << QStringLiteral("[导出线程] CurveDataDB中无任何曲线");
    QTest::newRow("none of them stored")
        << two << QList<int>{3, 12} << at(day1, 0)
        << QStringLiteral("[导出线程] 选中的曲线在CurveDataDB中不存在");
    QTest::newRow("no row in the range")
        << two << QList<int>{1, 2} << at(day1, 9)
        << QStringLiteral("[导出线程] 所有选中曲线均无有效数据（游标初始化失败）");
}

void TestCsvExport::nothingToExport()
{
    QFETCH(QStringList, curves);
    QFETCH(QList<int>, requested);
    QFETCH(qint64, start);
    QFETCH(QString, message);
    TestStore s(at(day1, 7), curves);
    if (!curves.isEmpty())
        s.write(evenSamples(1, 3, at(day1, 8)) + evenSamples(2, 3, at(day1, 8)), at(day1, 10));
    LogCapture log;
    CsvExportFromDBThread thread(s.store(), requested, basePath(s), QStringLiteral(","),
                                 headerFields(), start, at(day1, 23));
    const ExportOutcome out = runExport(thread);
    QVERIFY(out.finished);
    QCOMPARE(out.resultCount, 1);
    QCOMPARE(out.result, ExportResult::NoData);
    QVERIFY(out.files.isEmpty());
    QCOMPARE(log.count({message}), 1);
    QVERIFY(filesIn(s.exportDir(), QString()).isEmpty());
    QVERIFY(!thread.isExporting());
}

void TestCsvExport::noStoreIsDatabaseError()
{
    QTemporaryDir dir;
    LogCapture log;
    CsvExportFromDBThread thread(nullptr, {1}, dir.filePath(QStringLiteral("x.csv")),
                                 QStringLiteral(","), headerFields(), 0, 1000);
    const ExportOutcome out = runExport(thread);
    QCOMPARE(out.result, ExportResult::DatabaseError);
    QVERIFY(out.files.isEmpty());
    QCOMPARE(log.count({QStringLiteral("[导出线程] CurveDataDB实例为空")}), 1);
}

void TestCsvExport::folderThatCannotBeMadeIsFileError()
{
    TestStore s(at(day1, 7), {QStringLiteral("101")});
    s.write(evenSamples(1, 3, at(day1, 8)), at(day1, 9));
    // A plain file stands where the folder would have to be.
    const QString blocker = QDir(s.exportDir()).filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    LogCapture log;
    CsvExportFromDBThread thread(s.store(), {1}, blocker + QStringLiteral("/sub/A1_Trace.csv"),
                                 QStringLiteral(","), headerFields(), at(day1, 0), at(day1, 23));
    const ExportOutcome out = runExport(thread);
    QCOMPARE(out.result, ExportResult::FileError);
    QVERIFY(out.files.isEmpty());
    QCOMPARE(log.count({QStringLiteral("无法创建目标目录:")}), 1);
    QCOMPARE(
        log.count({QStringLiteral("[导出线程] 创建CSV文件失败："), QStringLiteral("A1_Trace_1_")}),
        1);
    QCOMPARE(filesIn(s.exportDir(), QString()), QStringList{blocker});
}

void TestCsvExport::stopMidExport()
{
    TestStore s(at(day1, 7), {QStringLiteral("101")});
    s.write(evenSamples(1, 3000, at(day1, 8)), at(day1, 10));
    LogCapture log;
    CsvExportFromDBThread thread(s.store(), {1}, basePath(s), QStringLiteral(","), headerFields(),
                                 at(day1, 0), at(day1, 23));
    std::mutex seenMutex;
    QList<qint64> processed;
    QList<qint64> totals;
    // Runs on the export thread, between rows. Holding it up at the start makes the first
    // report after that fall due at the first look, after row 1024 (the first rows are then
    // written and flushed).
    connect(
        &thread, &CsvExportFromDBThread::exportProgress, &thread,
        [&](qint64 rows, qint64 total) {
            {
                std::lock_guard<std::mutex> lock(seenMutex);
                processed.append(rows);
                totals.append(total);
            }
            if (rows == 0)
                QThread::msleep(CsvExportFromDBThread::progressIntervalMs + 50);
            else
                thread.stopExport();
        },
        Qt::DirectConnection);
    const ExportOutcome out = runExport(thread);
    QCOMPARE(out.result, ExportResult::Cancelled);
    QVERIFY(out.files.isEmpty());
    QVERIFY(filesIn(s.exportDir(), QString()).isEmpty());
    QCOMPARE(log.count({QStringLiteral("[导出线程] 收到停止信号，终止导出")}), 1);
    std::lock_guard<std::mutex> lock(seenMutex);
    QCOMPARE(processed, (QList<qint64>{0, CsvExportFromDBThread::progressCheckRows}));
    QCOMPARE(totals, (QList<qint64>{3000, 3000}));
}

void TestCsvExport::stopJustAfterTheLastRow()
{
    TestStore s(at(day1, 7), {QStringLiteral("101")});
    s.write(evenSamples(1, 99, at(day1, 8)), at(day1, 9));
    for (const bool stop : {false, true}) {
        CsvExportFromDBThread thread(s.store(), {1}, basePath(s), QStringLiteral(","),
                                     headerFields(), at(day1, 0), at(day1, 23));
        // Progress follows row 99, the last: the stop lands before the loop's next test.
        connect(
            &thread, &CsvExportFromDBThread::exportProgress, &thread,
            [&thread, stop](qint64 rows, qint64) {
                if (stop && rows == 99)
                    thread.stopExport();
            },
            Qt::DirectConnection);
        const ExportOutcome out = runExport(thread);
        if (!stop) {
            QCOMPARE(out.result, ExportResult::Success);
            QCOMPARE(readFile(out.files.first()).count('\n'), 6 + 99);
            QVERIFY(QFile::remove(out.files.first()));
        } else {
            QCOMPARE(out.result, ExportResult::Cancelled);
            QVERIFY(out.files.isEmpty());
            QVERIFY(filesIn(s.exportDir(), QString()).isEmpty());
        }
    }
}

void TestCsvExport::failingWritesAreWriteErrors_data()
{
    QTest::addColumn<int>("limitBytes");
    QTest::newRow("header does not fit") << 100;
    QTest::newRow("rows do not fit") << 64 * 1024;
}

void TestCsvExport::failingWritesAreWriteErrors()
{
    QFETCH(int, limitBytes);
    TestStore s(at(day1, 7), {QStringLiteral("101")});
    s.write(evenSamples(1, 5000, at(day1, 8)), at(day1, 10));
    LogCapture log;
    CsvExportFromDBThread thread(s.store(), {1}, basePath(s), QStringLiteral(","), headerFields(),
                                 at(day1, 0), at(day1, 23));
    ExportOutcome out;
    {
        // A full disk, for real: the kernel refuses writes past the limit (EFBIG).
        FileSizeLimit limit{rlim_t(limitBytes)};
        QVERIFY(limit.ok);
        out = runExport(thread);
    }
    QCOMPARE(out.result, ExportResult::WriteError);
    QVERIFY(out.files.isEmpty());
    QVERIFY(filesIn(s.exportDir(), QString()).isEmpty());
    QCOMPARE(
        log.count({QStringLiteral("[导出线程] 写入CSV文件失败："), QStringLiteral("A1_Trace_1_")}),
        1);
}

void TestCsvExport::partRemovedDuringExportIsWriteError()
{
    TestStore s(at(day1, 7), {QStringLiteral("101")});
    s.write(evenSamples(1, 3000, at(day1, 8)), at(day1, 10));
    LogCapture log;
    CsvExportFromDBThread thread(s.store(), {1}, basePath(s), QStringLiteral(","), headerFields(),
                                 at(day1, 0), at(day1, 23));
    std::mutex removedMutex;
    bool removed = false;
    const QString exportDir = s.exportDir();
    connect(
        &thread, &CsvExportFromDBThread::exportProgress, &thread,
        [&](qint64 rows, qint64) {
            if (rows != 0)
                return;
            const QStringList parts = filesIn(exportDir);
            std::lock_guard<std::mutex> lock(removedMutex);
            removed = parts.size() == 1 && QFile::remove(parts.first());
        },
        Qt::DirectConnection);
    const ExportOutcome out = runExport(thread);
    {
        std::lock_guard<std::mutex> lock(removedMutex);
        QVERIFY(removed);
    }
    QCOMPARE(out.result, ExportResult::WriteError);
    QVERIFY(out.files.isEmpty());
    QVERIFY(filesIn(s.exportDir(), QString()).isEmpty());
    QCOMPARE(log.count({QStringLiteral("[导出线程] 写入CSV文件失败：")}), 1);
}

void TestCsvExport::readsThroughConnectionsOfItsOwnWhileTheStoreWrites()
{
    const QStringList names{QStringLiteral("101"), QStringLiteral("102")};
    TestStore s(at(day1, 0), names);
    QList<Sample> samples;
    for (qint64 t = at(day1, 0, 0, 1); t < at(day3, 11); t += 20000) {
        samples.append({1, t, double(t % 9973)});
        samples.append({2, t + 7, double(t % 997) / 7.0});
    }
    s.write(samples, at(day3, 12));

    // The GUI thread's own connections to every day file, open all along.
    QMap<QString, QString> mine;
    QList<QSharedPointer<QSqlDatabase>> held;
    for (const QString &key :
         {QStringLiteral("20240330"), QStringLiteral("20240331"), QStringLiteral("20240401")}) {
        const QString path = dayFilePath(s.store()->dataDirectory(), key);
        held.append(s.store()->getConnection(path));
        QVERIFY(held.last() && held.last()->isOpen());
        mine.insert(path, held.last()->connectionName());
    }
    const int pooledBefore = ConnectionPool::instance()->connectionCount();

    const qint64 start = at(day1, 0);
    const qint64 end = at(day3, 11);
    CsvExportFromDBThread thread(s.store(), {1, 2}, basePath(s), QStringLiteral(";"),
                                 headerFields(), start, end);
    // Meanwhile the recording goes on in today's file, after the exported range.
    qint64 next = at(day3, 12);
    int written = 0;
    QTimer writer;
    connect(&writer, &QTimer::timeout, s.store(), [&] {
        s.store()->insertData(1, next, 1.0);
        s.store()->insertData(2, next, 2.0);
        next += 500;
        ++written;
    });
    writer.start(0);
    const ExportOutcome out = runExport(thread);
    writer.stop();

    QCOMPARE(out.result, ExportResult::Success);
    QVERIFY(written > 0);
    const QList<QByteArray> expected =
        referenceExport(s.dataDir(), names, start, end, QStringLiteral(";"), headerFields());
    const QString diff = lineDiff(readFile(out.files.first()), expected.first());
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    // Nothing of the GUI thread's was touched; the export's own connections are gone again.
    for (auto it = mine.cbegin(); it != mine.cend(); ++it)
        QCOMPARE(ConnectionPool::instance()->connectionNameOf(it.key()), it.value());
    for (const auto &connection : qAsConst(held))
        QVERIFY(connection->isOpen());
    QCOMPARE(ConnectionPool::instance()->connectionCount(), pooledBefore);
}

void TestCsvExport::secondStartIsRefused()
{
    TestStore s(at(day1, 7), {QStringLiteral("101")});
    s.write(evenSamples(1, 3000, at(day1, 8)), at(day1, 10));
    LogCapture log;
    CsvExportFromDBThread thread(s.store(), {1}, basePath(s), QStringLiteral(","), headerFields(),
                                 at(day1, 0), at(day1, 23));
    int results = 0;
    connect(&thread, &CsvExportFromDBThread::exportFinished, this, [&] { ++results; });
    thread.startExport();
    QVERIFY(thread.isExporting());
    thread.startExport();
    QCOMPARE(log.count({QStringLiteral("[导出线程] 已在运行中，无需重复启动")}), 1);
    QTRY_COMPARE_WITH_TIMEOUT(results, 1, 60000);
    QVERIFY(thread.wait(10000));
    QCoreApplication::processEvents();
    QCOMPARE(results, 1);
    QVERIFY(!thread.isExporting());
}

QTEST_GUILESS_MAIN(TestCsvExport)
#include "tst_csvexport.moc"
