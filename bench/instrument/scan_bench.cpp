// Scan overhead and start-up time against the bundled simulator.
//   scan-bench [BIN_DIR]    BIN_DIR holds instrument-sim and datalogger (default: this program's)
// Prints, for 10 and 90 channels, the measured scan period against the ideal one
// (channels x settle + 40 ms + interval) and the overhead per channel; then the time from process
// start to the window announcement, next to the time visa-shell needs for one identification
// query (a peer doing the smallest useful exchange with the same simulator).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "benchsimulator.h"
#include "cdevicevisa.h"
#include "readdata.h"
#include "rig.h"

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void scanOverhead(Rig &rig, int channels, int scans, int settleMs)
{
    QList<int> list;
    for (int i = 0; i < channels; ++i)
        list << (1 + i / 10) * 100 + 1 + i % 10;
    ReadData thread(rig);
    ScanPlan plan;
    plan.setChannels(list);
    plan.stop = ScanPlan::Stop::Count;
    plan.scanCount = scans;
    // The fast plan's settling, shortened to settleMs; every other wait as it is.
    thread.setSleeper([settle = plan.settleMs(), settleMs](int ms) {
        QThread::msleep(static_cast<unsigned long>(ms == settle ? settleMs : ms));
    });
    std::vector<qint64> stamps;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(
        &thread, &ReadData::sigSendMeasure, &thread,
        [&](const QList<MeasurementData> &) { stamps.push_back(clock.elapsed()); },
        Qt::DirectConnection);
    thread.startScanning(plan);
    thread.wait();
    const double ideal = channels * settleMs + 40.0;
    std::vector<double> periods;
    for (size_t i = 1; i < stamps.size(); ++i)
        periods.push_back(double(stamps[i] - stamps[i - 1]));
    const double period = median(periods);
    std::printf("scan %3d channels, settle %d ms: period %.1f ms, ideal %.1f ms, overhead %.3f ms "
                "per channel (target < 2)\n",
                channels, settleMs, period, ideal, (period - ideal) / channels);
}

void startup(const QString &binDir, const BenchSimulator &sim)
{
    std::vector<double> logger;
    std::vector<double> peer;
    for (int run = 0; run < 5; ++run) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        child.start(binDir + QStringLiteral("/datalogger"), {sim.measure});
        while (!child.canReadLine() && child.waitForReadyRead(5000)) {
        }
        logger.push_back(timer.nsecsElapsed() / 1e6);
        child.write("exit\n");
        child.waitForFinished(10000);

        QProcess shell;
        timer.restart();
        shell.start(binDir + QStringLiteral("/visa-shell"),
                    {QStringLiteral("query"), sim.measure, QStringLiteral("*IDN?")});
        shell.waitForFinished(10000);
        peer.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf(
        "start-up to announcement: median %.1f ms (target < 1000); visa-shell identification "
        "query: median %.1f ms; ratio %.1f\n",
        median(logger), median(peer), median(logger) / median(peer));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    registerMeasurementDataTypes();
    const QString binDir =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath();
    BenchSimulator sim;
    if (!sim.start(binDir, {QStringLiteral("--slots"), QStringLiteral("1,2,3,4,5,6,7,8,9")})) {
        std::fprintf(stderr, "cannot start %s/instrument-sim\n", qPrintable(binDir));
        return 1;
    }
    Rig rig(sim.measure, sim.switchFrame);
    if (!rig.measureSession().connectDevice(sim.measure) ||
        !rig.switchSession().connectDevice(sim.switchFrame)) {
        std::fprintf(stderr, "cannot connect to the simulator\n");
        return 1;
    }
    scanOverhead(rig, 10, 6, 50);
    scanOverhead(rig, 90, 4, 50);
    scanOverhead(rig, 10, 3, 500);
    startup(binDir, sim);
    return 0;
}
