// Reads the host's lines from standard input on a thread of its own, so the window never
// blocks on it; each non-empty line arrives through newInputReceived.
#pragma once

#include <QByteArray>
#include <QThread>
#include <mutex>

class InputReaderThread : public QThread
{
    Q_OBJECT
public:
    explicit InputReaderThread(QObject *parent = nullptr, int inputFd = 0);

    void stop();
    // Waits for the reader to end, then takes its lock once more, so that its last steps are
    // ordered before the caller's in a way the thread sanitizer can see.
    bool waitForEnd(unsigned long milliseconds);

signals:
    void newInputReceived(QString data);

protected:
    void run() override;

private:
    bool isStopRequested();
    void emitLine(QByteArray line);

    // A standard mutex rather than QMutex: its ordering is visible to the thread sanitizer.
    std::mutex lock;
    bool stopRequested = false;
    const int inputFd;
};
