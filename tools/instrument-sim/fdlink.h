// A LineLink over a non-blocking file descriptor (a connected TCP socket or a pseudo-terminal
// master): each reply goes out in one write(); what the descriptor cannot take yet is kept and
// sent as it drains.
#pragma once

#include "linelink.h"

class QSocketNotifier;

class FdLink : public LineLink
{
    Q_OBJECT
public:
    explicit FdLink(QObject *parent = nullptr);
    ~FdLink() override;

protected:
    // Takes ownership of fd and makes it non-blocking.
    void attach(int fd);
    void closeDescriptor();
    // Forgets bytes of a reply the descriptor has not taken yet.
    void discardUnsent();
    int descriptor() const { return fd; }
    // The descriptor has nothing queued or half-written.
    bool idle() const { return backlog.isEmpty() && pendingReplies() == 0; }

    void writeBytes(const QByteArray &bytes) override;
    // read() reported end of input.
    virtual void inputEnded() = 0;
    // A write failed for good (the peer is gone).
    virtual void outputFailed() = 0;
    // Everything queued has been written.
    virtual void drained() {}

private:
    void readAvailable();
    void writeBacklog();
    bool writeSome(const char *data, qint64 size, qint64 *written);

    int fd = -1;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QByteArray backlog;
};
