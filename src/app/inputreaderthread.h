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
    // The host's lines are short commands; a longer line is dropped (with a warning) so that a
    // runaway host cannot grow the logger's memory without end.
    static constexpr int MaxLineBytes = 64 * 1024;

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
    // Splits what arrived into lines, in time linear in the bytes read.
    void takeBytes(const char *bytes, int count);
    void dropOverlongLine();

    QByteArray pending;
    // Bytes of an over-long line thrown away so far; the rest up to its line feed goes too.
    qint64 droppedBytes = 0;
    bool dropping = false;

    // A standard mutex rather than QMutex: its ordering is visible to the thread sanitizer.
    std::mutex lock;
    bool stopRequested = false;
    const int inputFd;
};
