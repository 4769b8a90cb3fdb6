// Exports N curves x M samples spread over three day files with CsvExportFromDBThread and, in
// the same run, dumps the same curves with the sqlite3 shell (`sqlite3 -csv`, one query per
// curve). Prints rows and values per second, MB per second and the export's peak memory, and
// the ratio of the shell's time to the export's.
//   export_bench [--curves N] [--samples M] [--repeat R] [--data DIR] [--keep]
// The data set is built once per directory (batch tables through the store's API, rows with a
// prepared statement) and reused when --data names a directory that holds it. The export runs
// in a child process of this program so that its peak memory is its own.
#include "connectionpool.h"
#include "csvexportfromdbthread.h"
#include "curvedatadb.h"
#include "shardcalendar.h"
#include "storeclock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const QDate firstDay(2024, 1, 15);
const QDate lastDay(2024, 1, 17);

qint64 localMs(const QDate &d, const QTime &t)
{
    return QDateTime(d, t).toMSecsSinceEpoch();
}

// Samples from 08:00 of the first day to 20:00 of the third: 60 hours over three day files.
qint64 stampOf(int i, int samples)
{
    const qint64 span = 60LL * 3600 * 1000;
    return localMs(firstDay, QTime(8, 0)) + qint64(i) * span / samples;
}

double valueOf(int curve, int i)
{
    return 20.0 + curve + 0.001 * (i % 5000) - 1.0 / (i + 7);
}

qint64 rangeStart()
{
    return localMs(firstDay, QTime(0, 0));
}

qint64 rangeEnd()
{
    return localMs(lastDay, QTime(23, 59, 59, 999));
}

QString curveName(int c)
{
    return QString::number(101 + c);
}

QString tableOf(int curveId, qint64 t)
{
    return QStringLiteral("curve_%1_%2").arg(curveId).arg(batchNameOfTime(t));
}

QString dayPath(const QString &dir, const QDate &d)
{
    return QDir(dir).filePath(d.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".db"));
}

bool buildDataSet(const QString &dir, int curves, int samples)
{
    QDir().mkpath(dir);
    // Tables, indexes and batch metadata as the store makes them, day by day.
    {
        StoreClock::setFixedNow(stampOf(0, samples));
        CurveDataDB store(dir);
        for (int c = 0; c < curves; ++c)
            store.registerCurve(curveName(c));
        QString lastBatch;
        for (int i = 0; i < samples; ++i) {
            const qint64 t = stampOf(i, samples);
            const QString batch = batchNameOfTime(t);
            if (batch == lastBatch)
                continue;
            StoreClock::setFixedNow(t);
            store.switchToTodayDatabase();
            for (int c = 0; c < curves; ++c)
                store.ensureBatchTable(c + 1, t);
            lastBatch = batch;
        }
    }
    ConnectionPool::instance()->closeAllConnections();

    // Rows through one prepared statement per table, one transaction per day file.
    sqlite3 *db = nullptr;
    QString openPath;
    QString preparedTable;
    std::vector<sqlite3_stmt *> statements(size_t(curves), nullptr);
    const auto closeDay = [&] {
        for (auto &s : statements) {
            sqlite3_finalize(s);
            s = nullptr;
        }
        if (db) {
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            db = nullptr;
        }
    };
    for (int i = 0; i < samples; ++i) {
        const qint64 t = stampOf(i, samples);
        const QString path = dayPath(dir, QDateTime::fromMSecsSinceEpoch(t).date());
        if (path != openPath) {
            closeDay();
            if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
                return false;
            sqlite3_exec(db, "PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr);
            openPath = path;
            preparedTable.clear();
        }
        const QString table = tableOf(1, t);
        if (table != preparedTable) {
            for (int c = 0; c < curves; ++c) {
                sqlite3_finalize(statements[size_t(c)]);
                const QByteArray sql =
                    QStringLiteral("INSERT OR IGNORE INTO %1 (curve_id, timestamp, value) "
                                   "VALUES (?, ?, ?)")
                        .arg(tableOf(c + 1, t))
                        .toUtf8();
                if (sqlite3_prepare_v2(db, sql.constData(), -1, &statements[size_t(c)], nullptr) !=
                    SQLITE_OK) {
                    std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(db));
                    return false;
                }
            }
            preparedTable = table;
        }
        for (int c = 0; c < curves; ++c) {
            sqlite3_stmt *s = statements[size_t(c)];
            sqlite3_bind_int(s, 1, c + 1);
            sqlite3_bind_int64(s, 2, t);
            sqlite3_bind_double(s, 3, valueOf(c, i));
            sqlite3_step(s);
            sqlite3_reset(s);
        }
    }
    closeDay();
    QFile marker(QDir(dir).filePath(QStringLiteral("dataset.txt")));
    if (!marker.open(QIODevice::WriteOnly))
        return false;
    QTextStream(&marker) << curves << ' ' << samples << '\n';
    return true;
}

bool dataSetReady(const QString &dir, int curves, int samples)
{
    QFile marker(QDir(dir).filePath(QStringLiteral("dataset.txt")));
    if (!marker.open(QIODevice::ReadOnly))
        return false;
    QTextStream in(&marker);
    int c = 0, s = 0;
    in >> c >> s;
    return c == curves && s == samples;
}

qint64 peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void warmPageCache(const QString &dir)
{
    const QStringList files = QDir(dir).entryList({QStringLiteral("*.db")}, QDir::Files);
    for (const QString &f : files) {
        QFile file(QDir(dir).filePath(f));
        if (file.open(QIODevice::ReadOnly)) {
            while (!file.read(1 << 20).isEmpty()) {
            }
        }
    }
}

// Child: one export of every curve over the three days; prints "seconds rows bytes peakKb".
int exportOnce(const QString &dataDir, const QString &outDir, int curves)
{
    StoreClock::setFixedNow(localMs(lastDay, QTime(23, 59, 59)));
    CurveDataDB store(dataDir);
    QList<int> ids;
    for (int c = 0; c < curves; ++c)
        ids.append(store.registerCurve(curveName(c)));
    CsvHeader header;
    header.address = QStringLiteral("bench");
    CsvExportFromDBThread thread(&store, ids, QDir(outDir).filePath(QStringLiteral("bench.csv")),
                                 QStringLiteral(","), header, rangeStart(), rangeEnd());
    ExportResult result = ExportResult::NoData;
    QStringList files;
    QEventLoop loop;
    QObject::connect(
        &thread, &CsvExportFromDBThread::exportFinished, &loop,
        [&](ExportResult r, const QStringList &f) {
            result = r;
            files = f;
            loop.quit();
        },
        Qt::QueuedConnection);
    const auto begin = Clock::now();
    thread.startExport();
    loop.exec();
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    thread.wait();
    if (result != ExportResult::Success) {
        std::fprintf(stderr, "export failed: %d\n", int(result));
        return 1;
    }
    qint64 bytes = 0;
    qint64 rows = 0;
    for (const QString &f : files) {
        bytes += QFileInfo(f).size();
        QFile file(f);
        file.open(QIODevice::ReadOnly);
        while (!file.atEnd()) {
            const QByteArray chunk = file.read(1 << 20);
            rows += chunk.count('\n');
        }
        rows -= 6; // header lines of the part
        QFile::remove(f);
    }
    std::printf("%.6f %lld %lld %lld\n", seconds, rows, bytes, peakRssKb());
    return 0;
}

struct ShellRun
{
    double seconds = 0;
    qint64 bytes = 0;
    qint64 rows = 0;
};

// The sqlite3 shell, one query per curve: the curve's batch tables of the three files, in time
// order, as CSV into a file.
ShellRun runShell(const QString &dataDir, const QString &outDir, int curves, int samples)
{
    ShellRun run;
    QStringList tablesOfDay[3];
    for (int i = 0; i < samples; ++i) {
        const qint64 t = stampOf(i, samples);
        const int day = int(firstDay.daysTo(QDateTime::fromMSecsSinceEpoch(t).date()));
        const QString table = tableOf(1, t);
        if (!tablesOfDay[day].contains(table))
            tablesOfDay[day].append(table);
    }
    const QString schema[3] = {QStringLiteral("main"), QStringLiteral("d2"), QStringLiteral("d3")};
    for (int c = 0; c < curves; ++c) {
        QStringList arms;
        for (int d = 0; d < 3; ++d) {
            for (QString table : tablesOfDay[d]) {
                table.replace(QStringLiteral("curve_1_"), QStringLiteral("curve_%1_").arg(c + 1));
                arms.append(QStringLiteral("SELECT timestamp, value FROM %1.\"%2\" WHERE curve_id "
                                           "= %3 AND timestamp BETWEEN %4 AND %5")
                                .arg(schema[d], table)
                                .arg(c + 1)
                                .arg(rangeStart())
                                .arg(rangeEnd()));
            }
        }
        const QString sql =
            QStringLiteral("ATTACH '%1' AS d2; ATTACH '%2' AS d3; %3;")
                .arg(dayPath(dataDir, firstDay.addDays(1)), dayPath(dataDir, lastDay),
                     arms.join(QStringLiteral(" UNION ALL ")));
        const QString out = QDir(outDir).filePath(QStringLiteral("shell_%1.csv").arg(c));
        QProcess shell;
        shell.setStandardOutputFile(out);
        const auto begin = Clock::now();
        shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), QStringLiteral("-csv"),
                                                dayPath(dataDir, firstDay), sql});
        shell.waitForFinished(-1);
        run.seconds += std::chrono::duration<double>(Clock::now() - begin).count();
        if (shell.exitCode() != 0)
            std::fprintf(stderr, "sqlite3 failed: %s\n", shell.readAllStandardError().constData());
        run.bytes += QFileInfo(out).size();
        QFile file(out);
        file.open(QIODevice::ReadOnly);
        while (!file.atEnd())
            run.rows += file.read(1 << 20).count('\n');
        QFile::remove(out);
    }
    return run;
}

// CPU seconds (user + system) of the children that have ended so far.
double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    // Fixed zone: the day files and slices of the data set do not move with the machine's.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCoreApplication app(argc, argv);

    QStringList args = app.arguments();
    if (args.size() == 5 && args.at(1) == QLatin1String("--export-only"))
        return exportOnce(args.at(2), args.at(3), args.at(4).toInt());

    int curves = 10;
    int samples = 1000000;
    int repeat = 1;
    QString dataDir;
    bool keep = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args.at(i);
        const QString next = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (a == QLatin1String("--curves"))
            curves = next.toInt(), ++i;
        else if (a == QLatin1String("--samples"))
            samples = next.toInt(), ++i;
        else if (a == QLatin1String("--repeat"))
            repeat = std::max(1, next.toInt()), ++i;
        else if (a == QLatin1String("--data"))
            dataDir = next, ++i;
        else if (a == QLatin1String("--keep"))
            keep = true;
    }
    QTemporaryDir temp;
    if (dataDir.isEmpty())
        dataDir = temp.filePath(QStringLiteral("data"));
    temp.setAutoRemove(!keep);
    const QString outDir = temp.filePath(QStringLiteral("out"));
    QDir().mkpath(outDir);

    if (!dataSetReady(dataDir, curves, samples)) {
        QDir(dataDir).removeRecursively();
        std::printf("building %d curves x %d samples in %s ...\n", curves, samples,
                    qPrintable(dataDir));
        std::fflush(stdout);
        const auto begin = Clock::now();
        if (!buildDataSet(dataDir, curves, samples)) {
            std::fprintf(stderr, "building the data set failed\n");
            return 1;
        }
        std::printf("built in %.1f s\n",
                    std::chrono::duration<double>(Clock::now() - begin).count());
    }
    warmPageCache(dataDir);

    std::vector<double> exportSeconds, shellSeconds, exportCpu, shellCpu;
    qint64 rows = 0, bytes = 0, peakKb = 0;
    ShellRun shell;
    for (int r = 0; r < repeat; ++r) {
        double cpuBefore = childrenCpuSeconds();
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(app.applicationFilePath(),
                    {QStringLiteral("--export-only"), dataDir, outDir, QString::number(curves)});
        child.waitForFinished(-1);
        const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
        if (child.exitCode() != 0 || f.size() != 4) {
            std::fprintf(stderr, "export child failed\n");
            return 1;
        }
        exportCpu.push_back(childrenCpuSeconds() - cpuBefore);
        exportSeconds.push_back(f.at(0).toDouble());
        rows = f.at(1).toLongLong();
        bytes = f.at(2).toLongLong();
        peakKb = std::max(peakKb, f.at(3).toLongLong());

        cpuBefore = childrenCpuSeconds();
        shell = runShell(dataDir, outDir, curves, samples);
        shellCpu.push_back(childrenCpuSeconds() - cpuBefore);
        shellSeconds.push_back(shell.seconds);
    }
    const double es = median(exportSeconds);
    const double ss = median(shellSeconds);
    const double values = double(rows) * curves;
    std::printf("data set: %d curves x %d samples over 3 day files (%s)\n", curves, samples,
                qPrintable(dataDir));
    std::printf("export:   %.3f s  %lld rows  %.0f rows/s  %.2f M values/s  %.1f MB  %.1f MB/s  "
                "peak RSS %.1f MB  CPU %.2f s (whole child process)\n",
                es, rows, rows / es, values / es / 1e6, bytes / 1e6, bytes / 1e6 / es,
                peakKb / 1024.0, median(exportCpu));
    std::printf("sqlite3:  %.3f s  %lld rows  %.2f M values/s  %.1f MB  CPU %.2f s  (%d queries)\n",
                ss, shell.rows, shell.rows / ss / 1e6, shell.bytes / 1e6, median(shellCpu), curves);
    std::printf("ratio sqlite3 / export: %.2f (target >= 2.0), medians of %d run(s)\n", ss / es,
                repeat);
    return 0;
}
