// Re-synchronisation of an instrument session after late replies, against the bundled
// simulator.
//   resync-bench [BIN_DIR]    BIN_DIR holds instrument-sim (default: this program's)
// For replies 5.5 s, 6 s and 10 s late, over a socket and a pseudo-terminal: a "FETC?" times
// out, the fault is cleared at once, and "FETC?" is asked again until the reading of the closed
// channel comes back; printed is the time from the failed query to that first trusted reading,
// next to the scan's settle time (500 ms) and an in-step "FETC?" round trip of the same run.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "benchsimulator.h"
#include "cdevicevisa.h"

namespace {

constexpr int kSettleMs = 500;
constexpr int kChannel = 105;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool isReadingOfChannel(const QString &reply)
{
    return reply.endsWith(QLatin1String(",+0")) &&
           qRound(reply.section(QLatin1Char(','), 0, 0).toDouble()) == kChannel;
}

bool run(const QString &binDir, bool pty)
{
    BenchSimulator sim;
    if (!sim.start(binDir, pty ? QStringList{QStringLiteral("--measure-pty")} : QStringList())) {
        std::fprintf(stderr, "cannot start %s/instrument-sim\n", qPrintable(binDir));
        return false;
    }
    CDeviceVisa meter;
    CDeviceVisa frame;
    if (!meter.connectDevice(sim.measure) || !frame.connectDevice(sim.switchFrame)) {
        std::fprintf(stderr, "cannot connect to the simulator\n");
        return false;
    }
    frame.sendCommand(QStringLiteral("ROUT:CLOS (@%1)").arg(kChannel));
    meter.sendCommand(QStringLiteral("*IDN?"));

    std::vector<double> roundTrips;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer timer;
        timer.start();
        const QString reply = meter.sendCommand(QStringLiteral("FETC?"));
        roundTrips.push_back(timer.nsecsElapsed() / 1e6);
        if (!isReadingOfChannel(reply)) {
            std::fprintf(stderr, "unexpected in-step reply '%s'\n", qPrintable(reply));
            return false;
        }
    }
    const double roundTrip = median(roundTrips);

    for (int lateMs : {5500, 6000, 10000}) {
        if (!sim.control("fault measure slow " + QByteArray::number(lateMs)))
            return false;
        if (!meter.sendCommand(QStringLiteral("FETC?")).isEmpty()) {
            std::fprintf(stderr, "the %d ms late reply did not time out\n", lateMs);
            return false;
        }
        QElapsedTimer sinceFailure;
        sinceFailure.start();
        if (!sim.control("clear measure"))
            return false;
        int failed = 0;
        int wrong = 0;
        for (;;) {
            const QString reply = meter.sendCommand(QStringLiteral("FETC?"));
            if (isReadingOfChannel(reply))
                break;
            ++(reply.isEmpty() ? failed : wrong);
            if (sinceFailure.elapsed() > 120000) {
                std::fprintf(stderr, "no trusted reading within 120 s\n");
                return false;
            }
        }
        const double ms = sinceFailure.nsecsElapsed() / 1e6;
        std::printf("%-14s late %5d ms: failure to trusted reading %8.1f ms (%d failed, %d wrong "
                    "replies); settle %d ms, ratio %.1f; in-step FETC? %.3f ms\n",
                    pty ? "pseudo-terminal" : "socket", lateMs, ms, failed, wrong, kSettleMs,
                    ms / kSettleMs, roundTrip);
        std::fflush(stdout);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString binDir =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath();
    for (bool pty : {false, true})
        if (!run(binDir, pty))
            return 1;
    return 0;
}
