// A long unattended run, compressed: 90 channels at the shortest settle time, every reading
// through its curve into the store on the GUI thread, as the window does.
//   soak-bench [--minutes N] [--settle MS] [--window SAMPLES] [BIN_DIR]
// Each curve keeps its newest samples for the plot (10 000 by default: 90 curves fill 14 MB
// over the first 10 000 scans, by design); --window sets that bound, so that a shorter soak
// measures growth once the windows are full.
// Prints resident memory and open descriptors after the first minute and at the end, and
// compares the rows in the day files with the readings the simulated instrument sent (from
// its transcript); a peer figure is the memory of the same process before the run.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <map>
#include <memory>

#include "benchsimulator.h"
#include "storedrows.h"
#include "cdevicevisa.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "readdata.h"
#include "rig.h"

namespace {

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
        .size();
}

long readingsSent(const QString &transcript)
{
    QFile file(transcript);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    long sent = 0;
    QByteArray previous;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("measure -> ") && previous == "measure <- FETC?")
            ++sent;
        previous = line;
    }
    return sent;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    registerMeasurementDataTypes();
    int minutes = 30;
    int settle = 1;
    int window = CurveSeriesData::defaultWindowCapacity;
    QString binDir = QCoreApplication::applicationDirPath();
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--minutes") && i + 1 < args.size())
            minutes = args.at(++i).toInt();
        else if (args.at(i) == QLatin1String("--settle") && i + 1 < args.size())
            settle = args.at(++i).toInt();
        else if (args.at(i) == QLatin1String("--window") && i + 1 < args.size())
            window = args.at(++i).toInt();
        else
            binDir = args.at(i);
    }

    QTemporaryDir work;
    const QString transcript = work.filePath(QStringLiteral("transcript.log"));
    BenchSimulator sim;
    const bool started =
        sim.start(binDir, {QStringLiteral("--slots"), QStringLiteral("1,2,3,4,5,6,7,8,9"),
                           QStringLiteral("--transcript"), transcript});
    const QString measure = sim.measure;
    const QString switchFrame = sim.switchFrame;
    Rig rig(measure, switchFrame);
    if (!started || !rig.measureSession().connectDevice(measure) ||
        !rig.switchSession().connectDevice(switchFrame)) {
        std::fprintf(stderr, "cannot start or reach %s/instrument-sim\n", qPrintable(binDir));
        return 1;
    }
    const long memoryBefore = residentKiB();

    const QString dataDir = work.filePath(QStringLiteral("SOAK_Data"));
    auto store = std::make_unique<CurveDataDB>(dataDir);
    std::map<int, std::unique_ptr<CurveSeriesData>> curves;
    QList<int> channels;
    for (int slot = 1; slot <= 9; ++slot)
        for (int n = 1; n <= 10; ++n) {
            const int channel = slot * 100 + n;
            channels << channel;
            curves[channel] =
                std::make_unique<CurveSeriesData>(QString::number(channel), store.get());
            curves[channel]->setWindowCapacity(window);
        }
    long notStored = 0;
    long scans = 0;
    ReadData thread(rig);
    ScanPlan plan;
    plan.setChannels(channels);
    // The fast plan's settling, shortened to settle; every other wait as it is.
    thread.setSleeper([fastSettle = plan.settleMs(), settle](int ms) {
        QThread::msleep(static_cast<unsigned long>(ms == fastSettle ? settle : ms));
    });
    QObject::connect(
        &thread, &ReadData::sigSendMeasure, &app, [&](const QList<MeasurementData> &readings) {
            ++scans;
            // As the logger stores: the scan in one transaction, counted once committed.
            store->beginScan();
            int failed = 0;
            for (const MeasurementData &r : readings)
                if (curves[r.channel]->storeSample(double(r.time.toMSecsSinceEpoch()), r.value) !=
                    CurveSeriesData::SampleResult::Stored)
                    ++failed;
            if (!store->endScan(failed == 0)) {
                notStored += readings.size();
                return;
            }
            for (const MeasurementData &r : readings)
                curves[r.channel]->countSample(double(r.time.toMSecsSinceEpoch()), r.value);
        });
    QObject::connect(&thread, &ReadData::sigStopScan, &app, &QCoreApplication::quit);

    long memoryStart = -1;
    int fdsStart = -1;
    QTimer::singleShot(60 * 1000, &app, [&] {
        memoryStart = residentKiB();
        fdsStart = openDescriptors();
        std::printf("after 1 min: %ld scans, RSS %ld KiB, %d descriptors\n", scans, memoryStart,
                    fdsStart);
        std::fflush(stdout);
    });
    QTimer::singleShot(minutes * 60 * 1000, &app, [&] { thread.requestStop(); });
    thread.startScanning(plan);
    app.exec();
    thread.waitForEnd();
    QCoreApplication::sendPostedEvents();

    const long memoryEnd = residentKiB();
    const int fdsEnd = openDescriptors();
    // The store closed, so that its files hold every committed row when they are counted.
    curves.clear();
    store.reset();
    const long rows = storedRows(dataDir);
    const long sent = readingsSent(transcript);
    std::printf("soak %d min, 90 channels, settle %d ms, window %d samples per curve: %ld scans\n",
                minutes, settle, window, scans);
    std::printf("RSS before run %ld KiB, after 1 min %ld KiB, at end %ld KiB: growth %.2f MB "
                "(target < 5)\n",
                memoryBefore, memoryStart, memoryEnd, (memoryEnd - memoryStart) / 1024.0);
    std::printf("descriptors after 1 min %d, at end %d (target: no growth)\n", fdsStart, fdsEnd);
    std::printf("readings sent %ld, rows stored %ld, not stored %ld (target: equal, 0)\n", sent,
                rows, notStored);
    return rows == sent && notStored == 0 ? 0 : 2;
}
