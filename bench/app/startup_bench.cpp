// Start-up of the logger against an empty Qt window of the same size, in the same run: the time
// from starting the process to its first line (the logger's window announcement "WID:…", the
// peer's "shown"), and the process's CPU time until then. The logger links the simulated
// measuring instrument, as at a real start. Runs alternate; medians are printed.
//   startup-bench [--runs N] [BIN_DIR]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "benchsimulator.h"

namespace {

struct Start
{
    double wallMs = -1;
    double cpuMs = -1;
};

// user + system CPU of a running process, in ms.
double cpuMsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

Start timeToFirstLine(const QString &program, const QStringList &args, const QByteArray &prefix)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return {};
    Start start;
    QByteArray seen;
    while (clock.elapsed() < 30000) {
        if (!process.waitForReadyRead(100) && process.state() != QProcess::Running)
            break;
        seen += process.readAllStandardOutput();
        if (seen.startsWith(prefix) || seen.contains("\n" + prefix)) {
            start.wallMs = clock.nsecsElapsed() / 1e6;
            start.cpuMs = cpuMsOf(process.processId());
            break;
        }
    }
    process.write("exit\n");
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    return start;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 7;
    QString binDir = QCoreApplication::applicationDirPath();
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--runs") && i + 1 < args.size())
            runs = args.at(++i).toInt();
        else
            binDir = args.at(i);
    }
    BenchSimulator sim;
    if (!sim.start(binDir)) {
        std::fprintf(stderr, "cannot start %s/instrument-sim\n", qPrintable(binDir));
        return 1;
    }
    // Both on the offscreen platform: no display is needed and none is measured.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QList<double> loggerWall, loggerCpu, peerWall, peerCpu;
    for (int run = 0; run < runs; ++run) {
        const Start peer = timeToFirstLine(binDir + QStringLiteral("/startup-peer"), {}, "shown");
        const Start logger =
            timeToFirstLine(binDir + QStringLiteral("/datalogger"), {sim.measure}, "WID:");
        if (peer.wallMs < 0 || logger.wallMs < 0) {
            std::fprintf(stderr, "a start did not print its line\n");
            return 1;
        }
        peerWall << peer.wallMs;
        peerCpu << peer.cpuMs;
        loggerWall << logger.wallMs;
        loggerCpu << logger.cpuMs;
    }
    std::printf("startup-bench: %d alternating starts, medians, offscreen platform\n", runs);
    std::printf("empty Qt window 1000x600   %7.1f ms to its first line, %6.1f ms CPU\n",
                median(peerWall), median(peerCpu));
    std::printf("datalogger                 %7.1f ms to its announcement, %6.1f ms CPU\n",
                median(loggerWall), median(loggerCpu));
    std::printf("ratio logger / empty window: time %.2f, CPU %.2f (target time <= 2)\n",
                median(loggerWall) / median(peerWall), median(loggerCpu) / median(peerCpu));
    return 0;
}
