#include "lineclients.h"

#include <QDeadlineTimer>
#include <QHostAddress>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

bool TcpLineClient::connectTo(quint16 port, int timeoutMs)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(timeoutMs);
}

void TcpLineClient::disconnect()
{
    socket.abort();
}

bool TcpLineClient::isConnected() const
{
    return socket.state() == QAbstractSocket::ConnectedState;
}

bool TcpLineClient::send(const QByteArray &bytes)
{
    if (socket.write(bytes) != bytes.size())
        return false;
    return socket.waitForBytesWritten(3000) || socket.bytesToWrite() == 0;
}

QByteArray TcpLineClient::query(const QByteArray &command, int timeoutMs)
{
    if (!send(command + '\n'))
        return {};
    return readLine(timeoutMs);
}

QByteArray TcpLineClient::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || socket.state() != QAbstractSocket::ConnectedState)
            return {};
        socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    QByteArray line = socket.readLine();
    line.chop(1);
    if (line.isNull())
        line = QByteArray("");
    return line;
}

QByteArray TcpLineClient::readFor(int ms)
{
    const QDeadlineTimer deadline(ms);
    QByteArray data;
    while (!deadline.hasExpired()) {
        data += socket.readAll();
        if (socket.state() != QAbstractSocket::ConnectedState)
            break;
        socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    data += socket.readAll();
    return data;
}

bool TcpLineClient::waitClosed(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        socket.readAll();
    }
    return socket.state() != QAbstractSocket::ConnectedState;
}

PtyLineClient::~PtyLineClient()
{
    close();
}

bool PtyLineClient::open(const QString &device)
{
    close();
    fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B57600);
    ::cfsetospeed(&tio, B57600);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void PtyLineClient::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    pending.clear();
}

bool PtyLineClient::send(const QByteArray &bytes)
{
    return fd >= 0 && ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())) ==
                          static_cast<ssize_t>(bytes.size());
}

QByteArray PtyLineClient::query(const QByteArray &command, int timeoutMs)
{
    if (!send(command + '\n'))
        return {};
    return readLine(timeoutMs);
}

QByteArray PtyLineClient::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int lf = pending.indexOf('\n');
        if (lf >= 0) {
            QByteArray line = pending.left(lf);
            pending.remove(0, lf + 1);
            if (line.isNull())
                line = QByteArray("");
            return line;
        }
        if (deadline.hasExpired())
            return {};
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                pending.append(buffer, static_cast<int>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return {};
        }
    }
}

QByteArray PtyLineClient::readFor(int ms)
{
    const QDeadlineTimer deadline(ms);
    QByteArray data = pending;
    pending.clear();
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                data.append(buffer, static_cast<int>(n));
        }
    }
    return data;
}
