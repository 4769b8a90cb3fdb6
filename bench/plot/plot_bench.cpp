// The trend plot's two costs, each with a peer measured in the same run:
//  1. Stop to whole-recording plot: 10 curves x 24 h at one sample per second (864 000 rows)
//     read back on the plot's thread, reduced to the canvas width and drawn. Peers: the same
//     rows merely stepped through with the sqlite3 C API (no reduction, no plot: the floor),
//     and the reduction done by SQLite with GROUP BY on the pixel column.
//  2. Repaint per scan while logging 90 channels with full windows of recent samples: the
//     plot's refresh (reduce to the canvas width, replot) and the paint. Peer: the same curves
//     drawn from the whole windows without reduction, by Qwt's own line drawing.
//   plot_bench [--data DIR] [--repeat R] [--scans S] [--window N] [--skip-readback]
//              [--skip-repaint]
// The data set is written once per directory and reused when --data names one that holds it.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "storedrecording.h"
#include "trendcurve.h"
#include "trendplot.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>

#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using SeriesMap = QMap<int, std::shared_ptr<CurveSeriesData>>;

constexpr int recordingCurves = 10;
constexpr int recordingSamples = 86400;

double msSince(Clock::time_point begin)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

double cpuMs(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Spread
{
    double median = 0, p95 = 0, max = 0, first = 0;
};

Spread spreadOf(std::vector<double> v)
{
    Spread s;
    if (v.empty())
        return s;
    s.first = v.front();
    std::sort(v.begin(), v.end());
    s.median = v[v.size() / 2];
    s.p95 = v[std::min(v.size() - 1, size_t(double(v.size()) * 0.95))];
    s.max = v.back();
    return s;
}

PlotTest::RecordingShape recordingShape()
{
    PlotTest::RecordingShape shape;
    for (int c = 0; c < recordingCurves; ++c)
        shape.curveNames << QString::number(101 + c);
    // Noon to noon: two day files, five six-hour slices per curve.
    shape.start = QDateTime(QDate(2024, 3, 14), QTime(12, 0)).toMSecsSinceEpoch();
    shape.samples = recordingSamples;
    return shape;
}

bool dataSetReady(const QString &dir)
{
    QFile marker(QDir(dir).filePath(QStringLiteral("plotbench.txt")));
    return marker.open(QIODevice::ReadOnly) &&
           marker.readAll().trimmed() == QByteArray::number(recordingCurves * recordingSamples);
}

bool writeDataSet(const QString &dir)
{
    if (!PlotTest::writeRecording(dir, recordingShape()))
        return false;
    QFile marker(QDir(dir).filePath(QStringLiteral("plotbench.txt")));
    if (!marker.open(QIODevice::WriteOnly))
        return false;
    marker.write(QByteArray::number(recordingCurves * recordingSamples) + '\n');
    return true;
}

// Every batch table of the data set with its day file, from batch_metadata.
QList<QPair<QString, QString>> tablesOf(const QString &dir)
{
    QList<QPair<QString, QString>> tables;
    for (const QString &name : QDir(dir).entryList({QStringLiteral("2*.db")}, QDir::Files)) {
        const QString path = QDir(dir).filePath(name);
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
            SQLITE_OK) {
            sqlite3_close(db);
            continue;
        }
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db, "SELECT table_name FROM batch_metadata", -1, &s, nullptr);
        while (s && sqlite3_step(s) == SQLITE_ROW)
            tables.append(qMakePair(path, QString::fromUtf8(reinterpret_cast<const char *>(
                                              sqlite3_column_text(s, 0)))));
        sqlite3_finalize(s);
        sqlite3_close(db);
    }
    return tables;
}

// Runs sql (with %1 = table) on every table; returns the rows stepped.
qint64 runOnTables(const QList<QPair<QString, QString>> &tables, const QString &sql,
                   double *checksum)
{
    qint64 rows = 0;
    QString openPath;
    sqlite3 *db = nullptr;
    for (const auto &table : tables) {
        if (table.first != openPath) {
            sqlite3_close(db);
            sqlite3_open_v2(table.first.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
            openPath = table.first;
        }
        const QByteArray text = sql.arg(table.second).toUtf8();
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v2(db, text.constData(), -1, &s, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "peer query failed: %s\n", sqlite3_errmsg(db));
            continue;
        }
        while (sqlite3_step(s) == SQLITE_ROW) {
            *checksum += sqlite3_column_double(s, 1);
            ++rows;
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return rows;
}

// Runs the event loop until the plot has drawn the whole recording; false after timeoutMs.
bool waitForRecording(TrendPlot *plot, int timeoutMs)
{
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, [&] { loop.exit(1); });
    QObject::connect(plot, &TrendPlot::recordingShown, &loop, [&] { loop.exit(0); });
    timeout.start(timeoutMs);
    return loop.exec() == 0;
}

int benchReadBack(const QString &dataDir, int repeat)
{
    std::printf("== Stop to whole-recording plot: %d curves x 24 h, 1 sample/s (%d rows) ==\n",
                recordingCurves, recordingCurves * recordingSamples);
    if (!dataSetReady(dataDir)) {
        const auto begin = Clock::now();
        if (!writeDataSet(dataDir)) {
            std::fprintf(stderr, "could not write the data set into %s\n", qPrintable(dataDir));
            return 1;
        }
        std::printf("data set written in %.1f s: %s\n", msSince(begin) / 1000, qPrintable(dataDir));
    } else {
        std::printf("data set reused: %s\n", qPrintable(dataDir));
    }

    CurveDataDB store(dataDir);
    SeriesMap series;
    for (int c = 0; c < recordingCurves; ++c)
        series.insert(101 + c, std::make_shared<CurveSeriesData>(QString::number(101 + c), &store));
    TrendPlot plot;
    plot.resize(1200, 600);
    plot.show();
    QApplication::processEvents();
    std::printf("canvas width: %d pixel columns\n", plot.columns());

    std::vector<double> wall, cpu;
    qint64 points = 0;
    for (int r = 0; r < repeat; ++r) {
        // Each round is a run that ends: live curves first, then the stop.
        plot.setCurves(series);
        QApplication::processEvents();
        const double cpuBegin = cpuMs();
        const auto begin = Clock::now();
        plot.showRecording(&store);
        if (!waitForRecording(&plot, 60000)) {
            std::fprintf(stderr, "the recording was not shown\n");
            return 1;
        }
        plot.plot()->canvas()->repaint();
        wall.push_back(msSince(begin));
        cpu.push_back(cpuMs() - cpuBegin);
        points = 0;
        for (const CurveReduction &c : plot.shownReduction().curves)
            points += c.points.size();
        if (plot.shownReduction().rowsRead != qint64(recordingCurves) * recordingSamples) {
            std::fprintf(stderr, "read %lld rows\n", plot.shownReduction().rowsRead);
            return 1;
        }
    }
    const Spread w = spreadOf(wall);
    const Spread c = spreadOf(cpu);
    std::printf("plot:   median %.1f ms  (first %.1f, max %.1f)  CPU median %.1f ms  points "
                "drawn %lld\n",
                w.median, w.first, w.max, c.median, points);

    const auto tables = tablesOf(dataDir);
    double checksum = 0;
    std::vector<double> scan, grouped;
    qint64 scanned = 0, groups = 0;
    const qint64 start = recordingShape().start;
    const qint64 span = qint64(recordingSamples) * 1000;
    const QString groupSql =
        QStringLiteral("SELECT (timestamp - %1) * %2 / %3 AS col, MIN(value), MAX(value), "
                       "MIN(timestamp), MAX(timestamp), COUNT(*) FROM \"%4\" GROUP BY col")
            .arg(start)
            .arg(plot.columns())
            .arg(span);
    for (int r = 0; r < repeat; ++r) {
        auto begin = Clock::now();
        scanned =
            runOnTables(tables, QStringLiteral("SELECT timestamp, value FROM \"%1\""), &checksum);
        scan.push_back(msSince(begin));
        begin = Clock::now();
        // %4 is left for the table name.
        groups =
            runOnTables(tables, QString(groupSql).replace(QStringLiteral("%4"), "%1"), &checksum);
        grouped.push_back(msSince(begin));
    }
    const Spread s = spreadOf(scan);
    const Spread g = spreadOf(grouped);
    std::printf("peer, sqlite3 C API stepping every row (no reduction, no plot): median %.1f ms "
                "(%lld rows)\n",
                s.median, scanned);
    std::printf("peer, SQLite GROUP BY pixel column (reduction only, no plot):   median %.1f ms "
                "(%lld groups)\n",
                g.median, groups);
    std::printf("ratio plot / bare row scan: %.2f   ratio GROUP BY / plot: %.2f   target: "
                "under 300 ms\n\n",
                w.median / s.median, g.median / w.median);
    ConnectionPool::instance()->closeAllConnections();
    return 0;
}

double liveValue(int channel, int i)
{
    return (channel % 100) + 0.8 * std::sin(i / 40.0 + channel) + 0.02 * ((i * 31) % 11);
}

// Draws each series' whole window as it is: what a plot without the reduction would paint.
class WholeWindowData : public QwtSeriesData<QPointF>
{
public:
    explicit WholeWindowData(std::shared_ptr<CurveSeriesData> series)
        : series(std::move(series))
    {
    }
    size_t size() const override { return series->size(); }
    QPointF sample(size_t i) const override { return series->sample(i); }
    QRectF boundingRect() const override { return series->boundingRect(); }

private:
    std::shared_ptr<CurveSeriesData> series;
};

int benchRepaint(int scans, int window)
{
    constexpr int channels = 90;
    std::printf("== Repaint per scan while logging %d channels, %d samples in each window ==\n",
                channels, window);
    // In memory where there is a tmpfs: filling the windows through the store is the slow part
    // of this benchmark, not a figure of it.
    const bool shm = QDir(QStringLiteral("/dev/shm")).exists();
    QTemporaryDir dir(shm ? QStringLiteral("/dev/shm/plot_bench-XXXXXX") : QString());
    CurveDataDB store(dir.filePath(QStringLiteral("data")));
    SeriesMap series;
    for (int s = 1; s <= 9; ++s)
        for (int c = 1; c <= 10; ++c) {
            const int channel = s * 100 + c;
            series.insert(channel,
                          std::make_shared<CurveSeriesData>(QString::number(channel), &store));
        }
    // Filled through the store as logging fills them; a scan of 90 channels takes at least
    // 45 s with the instrument's settling, so these are the scans of many hours.
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - qint64(window + scans) * 45000;
    const auto fillBegin = Clock::now();
    for (int i = 0; i < window; ++i)
        for (auto it = series.constBegin(); it != series.constEnd(); ++it)
            it.value()->addSample(double(t0 + qint64(i) * 45000 + (it.key() % 100) * 500),
                                  liveValue(it.key(), i));
    std::printf("windows filled through the store in %.1f s\n", msSince(fillBegin) / 1000);

    TrendPlot plot;
    plot.resize(1300, 700);
    plot.show();
    plot.setCurves(series);
    QApplication::processEvents();
    std::printf("canvas width: %d pixel columns\n", plot.columns());

    // Wall time per scan, and the GUI thread's CPU time (less disturbed by other work on the
    // machine) in cpuTimes.
    std::vector<double> cpuTimes;
    auto runScans = [&](int first, const std::function<void()> &draw) {
        std::vector<double> times;
        cpuTimes.clear();
        for (int k = 0; k < scans; ++k) {
            const int i = first + k;
            for (auto it = series.constBegin(); it != series.constEnd(); ++it)
                it.value()->addSample(double(t0 + qint64(i) * 45000 + (it.key() % 100) * 500),
                                      liveValue(it.key(), i));
            const double cpuBegin = cpuMs(CLOCK_THREAD_CPUTIME_ID);
            const auto begin = Clock::now();
            draw();
            times.push_back(msSince(begin));
            cpuTimes.push_back(cpuMs(CLOCK_THREAD_CPUTIME_ID) - cpuBegin);
        }
        return spreadOf(times);
    };
    QWidget *canvas = plot.plot()->canvas();
    std::vector<double> refreshMs, paintMs;
    const Spread ours = runScans(window, [&] {
        auto begin = Clock::now();
        plot.refresh();
        refreshMs.push_back(msSince(begin));
        begin = Clock::now();
        canvas->repaint();
        paintMs.push_back(msSince(begin));
    });
    std::size_t drawn = 0;
    for (int channel : plot.channels())
        drawn += plot.curveOf(channel)->dataSize();
    const Spread oursCpu = spreadOf(cpuTimes);
    std::printf("plot:  refresh + paint  median %.2f ms  p95 %.2f  max %.2f  CPU median %.2f ms   "
                "(%zu points drawn)\n",
                ours.median, ours.p95, ours.max, oursCpu.median, drawn);
    std::printf("       of which refresh (reduction) median %.2f ms, paint median %.2f ms\n",
                spreadOf(refreshMs).median, spreadOf(paintMs).median);

    // The peer: the same curves with the whole windows handed to Qwt as they are, and drawn by
    // Qwt's own line drawing.
    for (auto it = series.constBegin(); it != series.constEnd(); ++it) {
        auto *curve = static_cast<TrendCurve *>(plot.curveOf(it.key()));
        curve->setData(new WholeWindowData(it.value()));
        curve->setDrawnByRaster(false);
    }
    const Spread whole = runScans(window + scans, [&] {
        plot.plot()->replot();
        canvas->repaint();
    });
    const Spread wholeCpu = spreadOf(cpuTimes);
    std::printf("peer, whole windows unreduced: replot + paint  median %.2f ms  p95 %.2f  max "
                "%.2f  CPU median %.2f ms   (%d points)\n",
                whole.median, whole.p95, whole.max, wholeCpu.median, channels * window);
    std::printf("ratio unreduced / plot: %.2f (CPU %.2f)   target: under 16 ms per scan\n\n",
                whole.median / ours.median, wholeCpu.median / oursCpu.median);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Fixed zone: the day files and slices of the data set do not move with the machine's.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString dataDir;
    int repeat = 5;
    int scans = 60;
    int window = CurveSeriesData::defaultWindowCapacity;
    bool readBack = true;
    bool repaint = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        const QString next = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (a == QLatin1String("--data"))
            dataDir = next, ++i;
        else if (a == QLatin1String("--repeat"))
            repeat = std::max(1, next.toInt()), ++i;
        else if (a == QLatin1String("--scans"))
            scans = std::max(1, next.toInt()), ++i;
        else if (a == QLatin1String("--window"))
            window = std::max(1, next.toInt()), ++i;
        else if (a == QLatin1String("--skip-readback"))
            readBack = false;
        else if (a == QLatin1String("--skip-repaint"))
            repaint = false;
        else {
            std::fprintf(stderr,
                         "usage: plot_bench [--data DIR] [--repeat R] [--scans S] [--window N] "
                         "[--skip-readback] [--skip-repaint]\n");
            return 2;
        }
    }
    // Quiet: the store's and the plot's log lines are not figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type >= QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    std::printf("plot_bench  %s  Qt %s\n",
                qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)), qVersion());

    QTemporaryDir temporary;
    if (dataDir.isEmpty())
        dataDir = temporary.filePath(QStringLiteral("data"));
    if (readBack && benchReadBack(dataDir, repeat) != 0)
        return 1;
    if (repaint && benchRepaint(scans, window) != 0)
        return 1;
    return 0;
}
