// Part files at the 1 000 000-row boundary: exactly one million rows, one more, and a second
// part that cannot be created. One store of 1 000 001 samples serves every case.
#include "csvexportfromdbthread.h"
#include "csvpartfile.h"
#include "curvedatadb.h"
#include "exporttestsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <memory>

using namespace ExportTest;

namespace {

const QDate day(2024, 10, 27); // the day summer time ends: 02:00-03:00 comes twice
constexpr int sampleCount = 1000001;
constexpr qint64 spacingMs = 40;

qint64 timeOf(int i)
{
    return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch() + 1000 + qint64(i) * spacingMs;
}

double valueOf(int i)
{
    return (i % 2 ? -1.0 : 1.0) * (i * 0.001 + 1.0 / (i + 3));
}

QByteArray headerOnly(const QByteArray &part)
{
    // BOM, five header lines and the column header.
    int end = 0;
    for (int line = 0; line < 6; ++line)
        end = part.indexOf('\n', end) + 1;
    return part.left(end);
}

} // namespace

class TestCsvExportParts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void exactlyOneMillionRows();
    void oneMillionAndOneRows();
    void secondPartThatCannotBeCreated();

private:
    std::unique_ptr<TestStore> s;
    qint64 clockAt = 0;
};

void TestCsvExportParts::initTestCase()
{
    clockAt = QDateTime(day, QTime(23, 0)).toMSecsSinceEpoch();
    s = std::make_unique<TestStore>(timeOf(0), QStringList{QStringLiteral("101")});
    QList<Sample> samples;
    samples.reserve(sampleCount);
    for (int i = 0; i < sampleCount; ++i)
        samples.append({1, timeOf(i), valueOf(i)});
    QElapsedTimer timer;
    timer.start();
    QVERIFY(s->writeInOneTransaction(samples, clockAt));
    qInfo() << "wrote" << sampleCount << "samples in" << timer.elapsed() << "ms";
}

void TestCsvExportParts::cleanupTestCase()
{
    s.reset();
}

void TestCsvExportParts::exactlyOneMillionRows()
{
    const QString base = QDir(s->exportDir()).filePath(QStringLiteral("A1_Trace.csv"));
    const qint64 end = timeOf(999999);
    CsvExportFromDBThread thread(s->store(), {1}, base, QStringLiteral(","), headerFields(),
                                 timeOf(0), end);
    const ExportOutcome out = runExport(thread, 600000);
    QCOMPARE(out.result, ExportResult::Success);
    QCOMPARE(out.files.size(), 2);
    QVERIFY(out.files.at(0).contains(QStringLiteral("A1_Trace_1_")));
    QVERIFY(out.files.at(1).contains(QStringLiteral("A1_Trace_2_")));

    const QList<QByteArray> expected = referenceExport(
        s->dataDir(), {QStringLiteral("101")}, timeOf(0), end, QStringLiteral(","), headerFields());
    QCOMPARE(expected.size(), 2);
    const QByteArray part1 = readFile(out.files.at(0));
    QCOMPARE(part1.count('\n'), 6 + 1000000);
    QVERIFY(part1.contains("\n1000000,2024-10-27 "));
    QString diff = lineDiff(part1, expected.at(0));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    // The first part is full; the second holds the header lines only, and is kept.
    const QByteArray part2 = readFile(out.files.at(1));
    QCOMPARE(part2, headerOnly(part1));
    diff = lineDiff(part2, expected.at(1));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    for (const QString &file : out.files)
        QVERIFY(QFile::remove(file));
}

void TestCsvExportParts::oneMillionAndOneRows()
{
    const QString base = QDir(s->exportDir()).filePath(QStringLiteral("A1_Trace.csv"));
    const qint64 end = timeOf(1000000);
    CsvExportFromDBThread thread(s->store(), {1}, base, QStringLiteral("\t"), headerFields(),
                                 timeOf(0), end);
    const ExportOutcome out = runExport(thread, 600000);
    QCOMPARE(out.result, ExportResult::Success);
    QCOMPARE(out.files.size(), 2);

    const QByteArray part2 = readFile(out.files.at(1));
    QVERIFY(part2.startsWith("\xEF\xBB\xBF"));
    QList<QByteArray> lines = part2.mid(3).split('\n');
    QVERIFY(lines.takeLast().isEmpty());
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines.at(5), QByteArray("编号\t时间\t101\t"));
    const QByteArray time = QDateTime::fromMSecsSinceEpoch(end)
                                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                .toUtf8();
    QCOMPARE(lines.at(6),
             "1000001\t" + time + "\t" + QString::number(valueOf(1000000), 'E', 15).toUtf8());

    const QList<QByteArray> expected =
        referenceExport(s->dataDir(), {QStringLiteral("101")}, timeOf(0), end, QStringLiteral("\t"),
                        headerFields());
    QCOMPARE(expected.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QString diff = lineDiff(readFile(out.files.at(i)), expected.at(i));
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }
    for (const QString &file : out.files)
        QVERIFY(QFile::remove(file));
}

void TestCsvExportParts::secondPartThatCannotBeCreated()
{
    const QString base = QDir(s->exportDir()).filePath(QStringLiteral("B2_Trace.csv"));
    // The store clock is frozen, so the name part 2 will get is known: a folder takes it.
    const QString part2 = numberedFilePath(base, 2);
    QVERIFY(QDir().mkpath(part2));
    LogCapture log;
    CsvExportFromDBThread thread(s->store(), {1}, base, QStringLiteral(";"), headerFields(),
                                 timeOf(0), timeOf(1000000));
    const ExportOutcome out = runExport(thread, 600000);
    QCOMPARE(out.result, ExportResult::FileError);
    QVERIFY(out.files.isEmpty());
    QCOMPARE(log.count({QStringLiteral("[导出线程] 创建CSV分片失败："), part2}), 1);
    QCOMPARE(log.count({QStringLiteral("无法创建CSV文件:"), part2}), 1);
    // Part 1 is gone; only the folder that blocked part 2 is left.
    QCOMPARE(filesIn(s->exportDir(), QString()), QStringList{});
    QVERIFY(QDir(part2).exists());
}

QTEST_GUILESS_MAIN(TestCsvExportParts)
#include "tst_csvexport_parts.moc"
