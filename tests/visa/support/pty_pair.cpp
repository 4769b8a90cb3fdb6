#include "pty_pair.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPair::~PtyPair()
{
    closeMaster();
    if (slave_ >= 0)
        ::close(slave_);
}

bool PtyPair::open()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        return false;
    const char *name = ptsname(master_);
    if (!name)
        return false;
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        return false;
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    return tcsetattr(slave_, TCSANOW, &tio) == 0;
}

bool PtyPair::send(const std::string &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string PtyPair::receive(char terminator, int timeoutMs)
{
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return text;
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0)
            return text;
        char c;
        if (::read(master_, &c, 1) != 1)
            return text;
        text += c;
        if (c == terminator)
            return text;
    }
}

void PtyPair::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}
