// One client connection of a simulated instrument (a TCP socket or the pseudo-terminal):
// splits what arrives into command lines and sends replies in order, each in one write,
// optionally after a delay.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

class LineLink : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxLineBytes = 64 * 1024;

    explicit LineLink(QObject *parent = nullptr);

    // Sends bytes delayMs from now, but never before a reply queued earlier. replySending
    // carries logText just before the bytes are written, so whoever holds a reply finds it
    // already recorded.
    void queueReply(const QByteArray &bytes, int delayMs, const QByteArray &logText);
    // Forgets replies not yet sent and any partial command line.
    void discardPending();
    int pendingReplies() const { return pending.size(); }

    virtual void closeLink() = 0;

signals:
    void lineReceived(const QByteArray &line);
    void lineTooLong(int bytes);
    void replySending(const QByteArray &logText);
    void linkClosed();

protected:
    void feed(const QByteArray &data);
    virtual void writeBytes(const QByteArray &bytes) = 0;

private:
    void sendDue();

    struct PendingReply
    {
        qint64 dueMs;
        QByteArray bytes;
        QByteArray logText;
    };
    QQueue<PendingReply> pending;
    QTimer sendTimer;
    QElapsedTimer clock;
    QByteArray partialLine;
    bool skippingLongLine = false;
    // Bumped by discardPending, so lines of a chunk read before a drop are not handed out.
    quint64 inputEpoch = 0;
};
