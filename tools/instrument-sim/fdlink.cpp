#include "fdlink.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

FdLink::FdLink(QObject *parent)
    : LineLink(parent)
{
}

FdLink::~FdLink()
{
    closeDescriptor();
}

void FdLink::attach(int descriptor)
{
    fd = descriptor;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &FdLink::readAvailable);
    writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &FdLink::writeBacklog);
}

void FdLink::closeDescriptor()
{
    // Notifiers must go before the descriptor they watch is closed.
    delete readNotifier;
    readNotifier = nullptr;
    delete writeNotifier;
    writeNotifier = nullptr;
    backlog.clear();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void FdLink::discardUnsent()
{
    backlog.clear();
    if (writeNotifier)
        writeNotifier->setEnabled(false);
}

void FdLink::readAvailable()
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            feed(QByteArray(buffer, static_cast<int>(n)));
            if (fd < 0) // a command closed us meanwhile
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // End of input, or an error that will not go away: stop polling, let the owner decide.
        readNotifier->setEnabled(false);
        inputEnded();
        return;
    }
}

bool FdLink::writeSome(const char *data, qint64 size, qint64 *written)
{
    ssize_t n;
    do {
        n = ::write(fd, data, static_cast<size_t>(size));
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        *written = n;
        return true;
    }
    *written = 0;
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

void FdLink::writeBytes(const QByteArray &bytes)
{
    if (fd < 0)
        return;
    if (!backlog.isEmpty()) {
        backlog.append(bytes);
        return;
    }
    qint64 written = 0;
    if (!writeSome(bytes.constData(), bytes.size(), &written)) {
        outputFailed();
        return;
    }
    if (written < bytes.size()) {
        backlog = bytes.mid(static_cast<int>(written));
        writeNotifier->setEnabled(true);
    } else if (idle()) {
        drained();
    }
}

void FdLink::writeBacklog()
{
    qint64 written = 0;
    if (!writeSome(backlog.constData(), backlog.size(), &written)) {
        outputFailed();
        return;
    }
    backlog.remove(0, static_cast<int>(written));
    if (backlog.isEmpty()) {
        writeNotifier->setEnabled(false);
        if (idle())
            drained();
    }
}
