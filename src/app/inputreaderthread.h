// Reads the host's lines from standard input on a thread of its own, so the window never
// blocks on it; each non-empty line arrives through newInputReceived.
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QThread>

class InputReaderThread : public QThread
{
    Q_OBJECT
public:
    explicit InputReaderThread(QObject *parent = nullptr, int inputFd = 0);

    void stop();

signals:
    void newInputReceived(QString data);

protected:
    void run() override;

private:
    bool isStopRequested();
    void emitLine(QByteArray line);

    QMutex lock;
    bool stopRequested = false;
    const int inputFd;
};
