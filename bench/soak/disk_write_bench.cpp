// Disk bytes written per stored sample, the way the logger stores, against the way it stored
// before (one transaction per sample), in the same run.
//   disk-write-bench [--scans N] [--channels C ...] [BIN_DIR]
// "logger": the real controller path (LoggingController, scan thread, store) running a counted
// run of N scans over C channels of the simulated instruments. "per sample": the same scan
// thread and readings, each sample stored through CurveSeriesData::addSample on its own.
// Bytes are the process's write_bytes (/proc/self/io) from the start of the run until the store
// is closed (its last checkpoint included), divided by the rows in the day files. Both ways take
// turns twice per channel count; the scan thread's waits are skipped, so the runs are as fast
// as the simulator answers. While each run goes on, the largest size of the day file's
// write-ahead log is noted (a reader of the store keeps it from being reset).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <map>
#include <memory>

#include "benchsimulator.h"
#include "storedrows.h"
#include "cdevicevisa.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "datadirectory.h"
#include "loggingcontroller.h"
#include "readdata.h"
#include "rig.h"

namespace {

qint64 writeBytes()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("write_bytes:"))
            return line.mid(12).trimmed().toLongLong();
    return -1;
}

// The largest write-ahead log of the day files in dir, sampled while a run goes on.
struct WalWatch
{
    QString dir;
    qint64 largest = 0;
    QTimer timer;
    void start()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (const QFileInfo &wal :
                 QDir(dir).entryInfoList({QStringLiteral("*.db-wal")}, QDir::Files))
                largest = qMax(largest, wal.size());
        });
        timer.start(20);
    }
};

struct Result
{
    qint64 bytes = 0;
    long rows = 0;
    qint64 wal = 0;
    double perRow() const { return rows > 0 ? double(bytes) / rows : 0; }
};

QList<int> channelList(int count)
{
    QList<int> channels;
    for (int slot = 1; slot <= 9 && channels.size() < count; ++slot)
        for (int n = 1; n <= 10 && channels.size() < count; ++n)
            channels << slot * 100 + n;
    return channels;
}

// Each sample in a transaction of its own, as the logger stored before.
Result perSample(BenchSimulator &sim, const QList<int> &channels, int scans)
{
    QTemporaryDir work;
    const QString dataDir = work.filePath(QStringLiteral("BENCH_Data"));
    Rig rig(sim.measure, sim.switchFrame);
    rig.measureSession().connectDevice(sim.measure);
    rig.switchSession().connectDevice(sim.switchFrame);
    WalWatch wal;
    wal.dir = dataDir;
    const qint64 before = writeBytes();
    Result result;
    {
        auto store = std::make_unique<CurveDataDB>(dataDir);
        std::map<int, std::unique_ptr<CurveSeriesData>> curves;
        for (int channel : channels)
            curves[channel] =
                std::make_unique<CurveSeriesData>(QString::number(channel), store.get());
        ReadData thread(rig);
        thread.setSleeper([](int) {});
        ScanPlan plan;
        plan.setChannels(channels);
        plan.stop = ScanPlan::Stop::Count;
        plan.scanCount = scans;
        QEventLoop loop;
        QObject::connect(&thread, &ReadData::sigSendMeasure, &loop,
                         [&](const QList<MeasurementData> &readings) {
                             for (const MeasurementData &r : readings)
                                 curves[r.channel]->addSample(double(r.time.toMSecsSinceEpoch()),
                                                              r.value);
                         });
        QObject::connect(&thread, &ReadData::sigStopScan, &loop, &QEventLoop::quit);
        wal.start();
        thread.startScanning(plan);
        loop.exec();
        thread.waitForEnd();
        QCoreApplication::sendPostedEvents();
        wal.timer.stop();
        curves.clear();
    }
    result.bytes = writeBytes() - before;
    result.rows = storedRows(dataDir);
    result.wal = wal.largest;
    return result;
}

// Through the controller, as the window runs it.
Result throughController(BenchSimulator &sim, const QList<int> &channels, int scans,
                         bool withReader)
{
    Rig rig(sim.measure);
    Result result;
    QString dataDir;
    qint64 before = 0;
    WalWatch wal;
    {
        LoggingController controller(rig);
        controller.scanThread()->setSleeper([](int) {});
        QList<int> fitted;
        if (!controller.linkMeasuringInstrument() || !controller.linkSwitchMainFrame(&fitted))
            return result;
        controller.setChannels(channels);
        controller.setScanCount(scans);
        controller.setStopMode(LoggingController::StopMode::Count);
        QEventLoop loop;
        QObject::connect(&controller, &LoggingController::runEnded, &loop, &QEventLoop::quit);
        wal.dir = QDir(dataDirectory()).filePath(LoggingController::dataSetName(rig.identity()));
        before = writeBytes();
        controller.startOrStop();
        wal.start();
        // A reader of the day file all along, as an export or the publisher is: it keeps the
        // log from being reset while it reads.
        std::atomic<bool> reading{withReader};
        std::thread reader([&] {
            const QString name = QStringLiteral("bench_reader");
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                while (reading) {
                    const QStringList files =
                        QDir(wal.dir).entryList({QStringLiteral("*.db")}, QDir::Files);
                    if (!files.isEmpty() && !db.isOpen()) {
                        db.setDatabaseName(QDir(wal.dir).filePath(files.first()));
                        db.open();
                    }
                    if (db.isOpen()) {
                        QSqlQuery tables(db);
                        QStringList names;
                        tables.exec(QStringLiteral("SELECT table_name FROM batch_metadata"));
                        while (tables.next())
                            names << tables.value(0).toString();
                        tables.finish();
                        for (const QString &table : qAsConst(names)) {
                            QSqlQuery rows(db);
                            rows.exec(QStringLiteral("SELECT timestamp, value FROM \"%1\"")
                                          .arg(table));
                            while (rows.next()) {
                            }
                        }
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
            QSqlDatabase::removeDatabase(name);
        });
        loop.exec();
        reading = false;
        reader.join();
        wal.timer.stop();
        dataDir = controller.store() ? controller.store()->dataDirectory() : QString();
    }
    result.bytes = writeBytes() - before;
    result.rows = storedRows(dataDir);
    result.wal = wal.largest;
    QDir(dataDir).removeRecursively();
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    registerMeasurementDataTypes();
    int scans = 30;
    QList<int> counts;
    QString binDir = QCoreApplication::applicationDirPath();
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--scans") && i + 1 < args.size())
            scans = args.at(++i).toInt();
        else if (args.at(i) == QLatin1String("--channels") && i + 1 < args.size())
            counts << args.at(++i).toInt();
        else
            binDir = args.at(i);
    }
    if (counts.isEmpty())
        counts = {20, 90};

    QTemporaryDir work;
    BenchSimulator sim;
    // A serial of its own: the controller keeps its data set beside the program.
    if (!sim.start(binDir, {QStringLiteral("--slots"), QStringLiteral("1,2,3,4,5,6,7,8,9"),
                            QStringLiteral("--serial"), QStringLiteral("DISKBENCH")})) {
        std::fprintf(stderr, "cannot start %s/instrument-sim\n", qPrintable(binDir));
        return 1;
    }
    QFile resources(work.filePath(QStringLiteral("resources")));
    if (!resources.open(QIODevice::WriteOnly))
        return 1;
    resources.write((sim.measure + QLatin1Char('\n') + sim.switchFrame + QLatin1Char('\n')).toUtf8());
    resources.close();
    qputenv("VISA_RESOURCE_LIST", resources.fileName().toLocal8Bit());

    std::printf("disk-write-bench: %d scans per run, bytes written per stored sample "
                "(write_bytes until the store is closed)\n",
                scans);
    for (int count : qAsConst(counts)) {
        const QList<int> channels = channelList(count);
        for (int round = 1; round <= 2; ++round) {
            const Result old = perSample(sim, channels, scans);
            const Result now = throughController(sim, channels, scans, false);
            const Result read = throughController(sim, channels, scans, true);
            std::printf("%2d channels, round %d:  per sample %6.0f B/sample (%ld rows, WAL max "
                        "%lld KiB)   logger %6.0f B/sample (%ld rows, WAL max %lld KiB)   "
                        "ratio %.3f   logger with a reader: WAL max %lld KiB\n",
                        count, round, old.perRow(), old.rows, old.wal / 1024, now.perRow(),
                        now.rows, now.wal / 1024,
                        old.perRow() > 0 ? now.perRow() / old.perRow() : 0.0, read.wal / 1024);
            std::fflush(stdout);
        }
    }
    return 0;
}
