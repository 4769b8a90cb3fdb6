#include "simulatedinstruments.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <sys/prctl.h>

namespace {

std::atomic<int> uncleanExitCount{0};

// A test binary that crashes must not leave simulators behind: the child asks the kernel for
// SIGTERM when the thread that started it goes away.
class SimulatorProcess : public QProcess
{
protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }
};

bool hasOption(const QStringList &args, const QString &name)
{
    for (const QString &a : args) {
        if (a == name || a.startsWith(name + QLatin1Char('=')))
            return true;
    }
    return false;
}

} // namespace

SimulatedInstruments::SimulatedInstruments() = default;

SimulatedInstruments::~SimulatedInstruments()
{
    stop();
}

QString SimulatedInstruments::simulatorPath()
{
    QString binDir = qEnvironmentVariable("DATALOGGER_BIN_DIR");
    if (binDir.isEmpty())
        binDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    return QDir(binDir).filePath(QStringLiteral("instrument-sim"));
}

bool SimulatedInstruments::start(const QStringList &extraArgs)
{
    stop();
    measure.clear();
    switchFrame.clear();
    control_ = 0;
    error.clear();
    stderrLog.clear();
    stdoutLog.clear();
    ackScanPos = 0;
    acks.clear();
    abandonedAcks = 0;

    dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid()) {
        error = QStringLiteral("no temporary directory: %1").arg(dir->errorString());
        return false;
    }
    QStringList args;
    if (!hasOption(extraArgs, QStringLiteral("--measure-port")))
        args << QStringLiteral("--measure-port") << QStringLiteral("auto");
    if (!hasOption(extraArgs, QStringLiteral("--switch-port")))
        args << QStringLiteral("--switch-port") << QStringLiteral("auto");
    transcriptFile = dir->filePath(QStringLiteral("transcript.txt"));
    for (int i = 0; i < extraArgs.size(); ++i) {
        if (extraArgs.at(i) == QLatin1String("--transcript") && i + 1 < extraArgs.size())
            transcriptFile = extraArgs.at(i + 1);
        else if (extraArgs.at(i).startsWith(QLatin1String("--transcript=")))
            transcriptFile = extraArgs.at(i).mid(13);
    }
    if (!hasOption(extraArgs, QStringLiteral("--transcript")))
        args << QStringLiteral("--transcript") << transcriptFile;
    args << extraArgs;

    process = std::make_unique<SimulatorProcess>();
    process->setProgram(simulatorPath());
    process->setArguments(args);
    process->start();
    if (!process->waitForStarted(5000)) {
        error = QStringLiteral("cannot start %1: %2").arg(simulatorPath(), process->errorString());
        process.reset();
        return false;
    }

    const QDeadlineTimer deadline(10000);
    for (;;) {
        stdoutLog += process->readAllStandardOutput();
        collectDiagnostics();
        const int ready = stdoutLog.indexOf("ready\n");
        if (ready >= 0 && (ready == 0 || stdoutLog.at(ready - 1) == '\n')) {
            const QByteArray head = stdoutLog.left(ready);
            stdoutLog.remove(0, ready + 6);
            for (const QByteArray &line : head.split('\n')) {
                if (line.startsWith("measure "))
                    measure = QString::fromUtf8(line.mid(8));
                else if (line.startsWith("switch "))
                    switchFrame = QString::fromUtf8(line.mid(7));
                else if (line.startsWith("control "))
                    control_ = line.mid(8).toUShort();
            }
            return true;
        }
        if (process->state() != QProcess::Running || deadline.hasExpired())
            break;
        process->setReadChannel(QProcess::StandardOutput);
        process->waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    if (process->state() == QProcess::Running) {
        error = QStringLiteral("no 'ready' from the simulator within 10 s");
        stop();
    } else {
        // It refused to start (bad arguments, port taken): that is the answer, not a fault.
        error = QStringLiteral("the simulator ended with exit code %1").arg(process->exitCode());
        collectDiagnostics();
        process.reset();
    }
    error += QStringLiteral("; its error output: ") + QString::fromUtf8(stderrLog);
    return false;
}

void SimulatedInstruments::stop()
{
    if (!process)
        return;
    bool clean = true;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(5000)) {
            qWarning() << "instrument-sim ignored SIGTERM; killing it";
            process->kill();
            process->waitForFinished(5000);
            clean = false;
        }
    }
    collectDiagnostics();
    // Sanitizer reports in the simulator end it with a non-zero code.
    if (!clean || process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0) {
        ++uncleanExitCount;
        qWarning().noquote() << "instrument-sim ended with exit code" << process->exitCode()
                             << "; its error output:\n"
                             << QString::fromUtf8(stderrLog);
    }
    stdoutLog += process->readAllStandardOutput();
    process.reset();
}

int SimulatedInstruments::uncleanExits()
{
    return uncleanExitCount;
}

bool SimulatedInstruments::isRunning() const
{
    return process && process->state() == QProcess::Running;
}

bool SimulatedInstruments::control(const QString &line)
{
    if (!isRunning() || line.trimmed().isEmpty() || line.contains(QLatin1Char('\n'))) {
        error = QStringLiteral("control line not sent: %1").arg(line);
        return false;
    }
    process->write(line.toUtf8() + '\n');
    process->waitForBytesWritten(1000);
    const QDeadlineTimer deadline(5000);
    for (;;) {
        collectDiagnostics();
        // An answer to a line that timed out earlier still comes, in order; skip it.
        while (abandonedAcks > 0 && !acks.isEmpty()) {
            acks.removeFirst();
            --abandonedAcks;
        }
        if (!acks.isEmpty()) {
            const QByteArray ack = acks.takeFirst();
            if (ack == "control: ok")
                return true;
            error = QString::fromUtf8(ack);
            return false;
        }
        if (!isRunning() || deadline.hasExpired())
            break;
        process->setReadChannel(QProcess::StandardError);
        process->waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    ++abandonedAcks;
    error = QStringLiteral("no acknowledgement of '%1'").arg(line);
    return false;
}

void SimulatedInstruments::collectDiagnostics() const
{
    if (!process)
        return;
    stderrLog += process->readAllStandardError();
    int lf;
    while ((lf = stderrLog.indexOf('\n', ackScanPos)) >= 0) {
        const QByteArray line = stderrLog.mid(ackScanPos, lf - ackScanPos);
        ackScanPos = lf + 1;
        if (line.startsWith("control: "))
            acks.append(line);
    }
}

QString SimulatedInstruments::diagnostics() const
{
    collectDiagnostics();
    return QString::fromUtf8(stderrLog);
}

QByteArray SimulatedInstruments::outputAfterReady() const
{
    if (process)
        stdoutLog += process->readAllStandardOutput();
    return stdoutLog;
}

QStringList SimulatedInstruments::transcript() const
{
    QFile file(transcriptFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString SimulatedInstruments::serialDevice(const QString &resource)
{
    if (!resource.startsWith(QLatin1String("ASRL"), Qt::CaseInsensitive))
        return {};
    QString rest = resource.mid(4);
    if (rest.endsWith(QLatin1String("::INSTR"), Qt::CaseInsensitive))
        rest.chop(7);
    return rest;
}

quint16 SimulatedInstruments::portOf(const QString &resource)
{
    // TCPIP0::127.0.0.1::40123::SOCKET, or TCPIP0::[::1]::40123::SOCKET
    if (!resource.startsWith(QLatin1String("TCPIP"), Qt::CaseInsensitive) ||
        !resource.endsWith(QLatin1String("::SOCKET"), Qt::CaseInsensitive))
        return 0;
    const QString head = resource.left(resource.size() - 8);
    return head.mid(head.lastIndexOf(QLatin1String("::")) + 2).toUShort();
}

bool SimulatedInstruments::makeOnlySearchResult(const QString &dirPath) const
{
    const QDir dir(dirPath);
    if (!dir.mkpath(QStringLiteral("dev")) || !dir.mkpath(QStringLiteral("sys")))
        return false;
    qputenv("VISA_DEV_ROOT", QFile::encodeName(dir.filePath(QStringLiteral("dev"))));
    qputenv("VISA_SYSFS_ROOT", QFile::encodeName(dir.filePath(QStringLiteral("sys"))));
    const QString list = dir.filePath(QStringLiteral("resources"));
    QFile file(list);
    if (!file.open(QIODevice::WriteOnly) || file.write(switchFrame.toUtf8() + '\n') < 0)
        return false;
    file.close();
    qputenv("VISA_RESOURCE_LIST", QFile::encodeName(list));
    return true;
}
