#include "lineresponder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

LineResponder::LineResponder(Handler h)
    : handler(std::move(h))
{
    if (pipe(wakePipe) != 0)
        wakePipe[0] = wakePipe[1] = -1;
}

LineResponder::~LineResponder()
{
    if (wakePipe[1] >= 0)
        (void)write(wakePipe[1], "x", 1);
    if (worker.joinable())
        worker.join();
    for (int fd : {listener, master, slave, wakePipe[0], wakePipe[1]})
        if (fd >= 0)
            close(fd);
}

bool LineResponder::listenTcp()
{
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return false;
    tcpPort = ntohs(addr.sin_port);
    worker = std::thread([this] { serveTcp(); });
    return true;
}

bool LineResponder::openPseudoTerminal()
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return false;
    slavePath = QString::fromLocal8Bit(ptsname(master));
    // Holding the slave open keeps the master readable after a client closes its side.
    slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return false;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    worker = std::thread([this] { serveStream(master); });
    return true;
}

QString LineResponder::resourceName() const
{
    if (listener >= 0)
        return QStringLiteral("TCPIP0::127.0.0.1::%1::SOCKET").arg(tcpPort);
    return QStringLiteral("ASRL%1::INSTR").arg(slavePath);
}

std::vector<QByteArray> LineResponder::receivedLines() const
{
    std::lock_guard<std::mutex> guard(mutex);
    return lines;
}

void LineResponder::serveTcp()
{
    for (;;) {
        pollfd fds[2] = {{listener, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN))
            return;
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        serveStream(client);
        close(client);
    }
}

void LineResponder::serveStream(int fd)
{
    QByteArray pending;
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN))
            return;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return;
        pending.append(buffer, static_cast<int>(n));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            {
                std::lock_guard<std::mutex> guard(mutex);
                lines.push_back(line);
            }
            const QByteArray reply = handler(line);
            if (!reply.isEmpty() && write(fd, reply.constData(), reply.size()) < 0)
                return;
        }
    }
}
