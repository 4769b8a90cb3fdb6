#include "loggerprocess.h"

#include <QTimer>

namespace {

// A child that writes this much without a line feed is not speaking the protocol; its
// output is cut into pieces instead of being collected without bound.
constexpr int MaxLineBytes = 64 * 1024;
constexpr int KillDelayMs = 3000;
constexpr int ErrorTailLines = 5;

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 3);
}

} // namespace

LoggerProcess::LoggerProcess(QObject *parent)
    : QObject(parent)
    , childEnvironment(QProcessEnvironment::systemEnvironment())
{
    qRegisterMetaType<LoggerOutcome>("LoggerOutcome");
    announceTimer = new QTimer(this);
    announceTimer->setSingleShot(true);
    connect(announceTimer, &QTimer::timeout, this, &LoggerProcess::announceTimedOut);
    exitTimer = new QTimer(this);
    exitTimer->setSingleShot(true);
    connect(exitTimer, &QTimer::timeout, this, &LoggerProcess::exitTimedOut);
    killTimer = new QTimer(this);
    killTimer->setSingleShot(true);
    connect(killTimer, &QTimer::timeout, this, [this] {
        if (isRunning())
            process->kill();
    });
}

LoggerProcess::~LoggerProcess()
{
    if (!process)
        return;
    // Nothing may be reported to a half-destroyed owner.
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(3000);
    }
}

bool LoggerProcess::start(const QString &resource)
{
    if (currentState != State::NotStarted && currentState != State::Ended)
        return false;
    if (process) {
        process->disconnect(this);
        process->deleteLater();
    }
    result = LoggerOutcome();
    forcedReason.clear();
    outputBuffer.clear();
    errorBuffer.clear();
    errorTail.clear();
    endReported = false;

    process = new QProcess(this);
    process->setProgram(programPath);
    process->setArguments({resource});
    process->setProcessEnvironment(childEnvironment);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    connect(process, &QProcess::readyReadStandardOutput, this, &LoggerProcess::readOutput);
    connect(process, &QProcess::readyReadStandardError, this, &LoggerProcess::readErrors);
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &LoggerProcess::handleFinished);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            handleStartFailure();
    });

    currentState = State::WaitingForWindow;
    if (announceTimeoutMs > 0)
        announceTimer->start(announceTimeoutMs);
    process->start();
    return true;
}

bool LoggerProcess::isRunning() const
{
    return process && process->state() != QProcess::NotRunning;
}

qint64 LoggerProcess::processId() const
{
    return process ? process->processId() : 0;
}

bool LoggerProcess::sendLine(const QString &line)
{
    if (!isRunning() || currentState == State::Ended)
        return false;
    if (line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r')))
        return false;
    // The logger reads its input with the locale's codec; speak the same one.
    if (process->write(line.toLocal8Bit() + '\n') < 0)
        return false;
    emit lineSent(line);
    return true;
}

void LoggerProcess::requestExit()
{
    if (currentState != State::WaitingForWindow && currentState != State::Running)
        return;
    if (!isRunning())
        return;
    result.exitRequested = true;
    sendLine(QStringLiteral("exit"));
    currentState = State::Exiting;
    announceTimer->stop();
    exitTimer->start(exitTimeoutMs);
}

void LoggerProcess::kill()
{
    if (!isRunning())
        return;
    result.forced = true;
    if (forcedReason.isEmpty())
        forcedReason = QStringLiteral("killed at the user's request");
    process->kill();
}

void LoggerProcess::readOutput()
{
    outputBuffer += process->readAllStandardOutput();
    for (const QString &line : takeLines(outputBuffer, false))
        handleLine(line);
}

void LoggerProcess::readErrors()
{
    errorBuffer += process->readAllStandardError();
    for (const QString &line : takeLines(errorBuffer, false)) {
        errorTail.append(line);
        while (errorTail.size() > ErrorTailLines)
            errorTail.removeFirst();
        emit errorLineReceived(line);
    }
}

QStringList LoggerProcess::takeLines(QByteArray &buffer, bool flushAll)
{
    QStringList lines;
    int from = 0;
    for (;;) {
        const int end = buffer.indexOf('\n', from);
        if (end < 0)
            break;
        int length = end - from;
        if (length > 0 && buffer.at(end - 1) == '\r')
            --length;
        lines.append(QString::fromLocal8Bit(buffer.constData() + from, length));
        from = end + 1;
    }
    buffer.remove(0, from);
    while (buffer.size() > MaxLineBytes) {
        lines.append(QString::fromLocal8Bit(buffer.constData(), MaxLineBytes));
        buffer.remove(0, MaxLineBytes);
    }
    if (flushAll && !buffer.isEmpty()) {
        lines.append(QString::fromLocal8Bit(buffer));
        buffer.clear();
    }
    return lines;
}

void LoggerProcess::handleLine(const QString &line)
{
    emit lineReceived(line);
    if (!looksLikeAnnouncement(line))
        return;
    WindowAnnouncement announcement;
    if (!parseAnnouncement(line, &announcement)) {
        emit problem(QStringLiteral("Malformed window announcement ignored: %1").arg(line));
        return;
    }
    result.announced = true;
    if (currentState == State::WaitingForWindow) {
        announceTimer->stop();
        currentState = State::Running;
    }
    emit windowAnnounced(announcement);
}

void LoggerProcess::announceTimedOut()
{
    if (currentState != State::WaitingForWindow || !isRunning())
        return;
    forcedReason =
        QStringLiteral("no window announcement within %1 s").arg(seconds(announceTimeoutMs));
    emit problem(QStringLiteral("The logger has not announced its window within %1 s; ending it.")
                     .arg(seconds(announceTimeoutMs)));
    result.forced = true;
    process->terminate();
    killTimer->start(KillDelayMs);
}

void LoggerProcess::exitTimedOut()
{
    if (!isRunning())
        return;
    forcedReason = QStringLiteral("did not end within %1 s after exit").arg(seconds(exitTimeoutMs));
    emit problem(QStringLiteral("The logger has not ended within %1 s after exit; terminating it.")
                     .arg(seconds(exitTimeoutMs)));
    result.forced = true;
    process->terminate();
    killTimer->start(KillDelayMs);
}

void LoggerProcess::handleStartFailure()
{
    if (endReported)
        return;
    result.started = false;
    result.description = QStringLiteral("Could not start the logger %1: %2")
                             .arg(programPath, process->errorString());
    finish();
}

void LoggerProcess::handleFinished(int exitCode, QProcess::ExitStatus status)
{
    // What the child wrote last may lack its line feed.
    outputBuffer += process->readAllStandardOutput();
    for (const QString &line : takeLines(outputBuffer, true))
        handleLine(line);
    errorBuffer += process->readAllStandardError();
    if (!errorBuffer.isEmpty())
        errorBuffer.append('\n');
    readErrors();

    result.started = true;
    result.crashed = status == QProcess::CrashExit;
    result.exitCode = result.crashed ? -1 : exitCode;
    QString how;
    if (result.crashed)
        how = result.forced ? QStringLiteral("was stopped by a signal")
                            : QStringLiteral("crashed (ended by a signal)");
    else
        how = QStringLiteral("ended with exit status %1").arg(exitCode);
    QString text = QStringLiteral("The logger %1").arg(how);
    if (!result.announced)
        text += QStringLiteral(" before announcing its window");
    if (result.forced)
        text += QStringLiteral(" (%1)").arg(forcedReason);
    text += QLatin1Char('.');
    if (!result.clean() && !errorTail.isEmpty())
        text += QStringLiteral(" Its last message: %1").arg(errorTail.constLast());
    result.description = text;
    finish();
}

void LoggerProcess::finish()
{
    if (endReported)
        return;
    endReported = true;
    announceTimer->stop();
    exitTimer->stop();
    killTimer->stop();
    currentState = State::Ended;
    emit ended(result);
}
