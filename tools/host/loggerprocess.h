// The logger as a child process: starts it with a VISA resource, splits its standard output
// into lines, spots the window announcement, sends lines, and ends it politely (or not).
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "announcement.h"

class QTimer;

// How a child ended, in words a user can act on.
struct LoggerOutcome
{
    bool started = false;       // the program could be executed at all
    bool announced = false;     // it announced a window before it ended
    bool crashed = false;       // ended by a signal (including our own kill)
    bool forced = false;        // we had to terminate or kill it
    bool exitRequested = false; // "exit" had been sent
    int exitCode = -1;          // valid when !crashed
    QString description;

    // The one outcome we call a success: a normal exit with status 0.
    bool clean() const { return started && !crashed && exitCode == 0; }
};

class LoggerProcess : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        NotStarted,
        WaitingForWindow,
        Running,
        Exiting,
        Ended
    };

    explicit LoggerProcess(QObject *parent = nullptr);
    ~LoggerProcess() override;

    void setProgram(const QString &program) { programPath = program; }
    QString program() const { return programPath; }
    // How long the child may take to announce its window; 0 waits without limit.
    void setAnnounceTimeout(int ms) { announceTimeoutMs = ms; }
    // How long the child may take to end after "exit" before it is terminated.
    void setExitTimeout(int ms) { exitTimeoutMs = ms; }
    void setEnvironment(const QProcessEnvironment &environment) { childEnvironment = environment; }

    // Starts the program with the resource as its one argument. False when a child is already
    // running; a program that cannot be executed is reported through ended() shortly after.
    bool start(const QString &resource);
    // Writes line and a line feed to the child's standard input; false when no child runs or
    // the line holds a line break (it would be two commands).
    bool sendLine(const QString &line);
    // Sends "exit" and waits, without blocking, for the child to end: terminated when it has
    // not ended within the exit timeout, killed 3 s after that.
    void requestExit();
    // Ends the child now (SIGKILL); used when the user insists.
    void kill();

    State state() const { return currentState; }
    bool isRunning() const;
    qint64 processId() const;
    const LoggerOutcome &outcome() const { return result; }
    // The last lines the child wrote on standard error, kept for the report of a failure.
    QStringList recentErrors() const { return errorTail; }

signals:
    void lineReceived(const QString &line);
    void lineSent(const QString &line);
    void errorLineReceived(const QString &line);
    void windowAnnounced(const WindowAnnouncement &announcement);
    // Something the user should know that does not end the child by itself.
    void problem(const QString &text);
    // Emitted exactly once per start(), also when the program could not be executed.
    void ended(const LoggerOutcome &outcome);

private:
    void readOutput();
    void readErrors();
    void handleLine(const QString &line);
    void handleFinished(int exitCode, QProcess::ExitStatus status);
    void handleStartFailure();
    void announceTimedOut();
    void exitTimedOut();
    void finish();
    static QStringList takeLines(QByteArray &buffer, bool flushAll);

    QProcess *process = nullptr;
    QTimer *announceTimer = nullptr;
    QTimer *exitTimer = nullptr;
    QTimer *killTimer = nullptr;
    QString programPath;
    QProcessEnvironment childEnvironment;
    int announceTimeoutMs = 30000;
    int exitTimeoutMs = 15000;
    State currentState = State::NotStarted;
    QByteArray outputBuffer;
    QByteArray errorBuffer;
    QStringList errorTail;
    LoggerOutcome result;
    QString forcedReason;
    bool endReported = false;
};

Q_DECLARE_METATYPE(LoggerOutcome)
