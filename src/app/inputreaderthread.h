// Reads the host's lines from standard input on a thread of its own, so the window never
// blocks on it; each non-empty line arrives through newInputReceived.
#pragma once

#include <QByteArray>

#include "workerthread.h"

class InputReaderThread : public WorkerThread
{
    Q_OBJECT
public:
    // The host's lines are short commands; a longer line is dropped (with a warning) so that a
    // runaway host cannot grow the logger's memory without end.
    static constexpr int MaxLineBytes = 64 * 1024;

    explicit InputReaderThread(QObject *parent = nullptr, int inputFd = 0);

signals:
    void newInputReceived(QString data);

protected:
    void work() override;

private:
    void emitLine(QByteArray line);
    // Splits what arrived into lines, in time linear in the bytes read.
    void takeBytes(const char *bytes, int count);
    void dropOverlongLine();

    QByteArray pending;
    // Bytes of an over-long line thrown away so far; the rest up to its line feed goes too.
    qint64 droppedBytes = 0;
    bool dropping = false;
    const int inputFd;
};
