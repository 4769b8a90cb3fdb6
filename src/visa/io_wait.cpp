#include "io_wait.h"

#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace visa {

Deadline Deadline::after(ViUInt32 milliseconds)
{
    Deadline deadline;
    if (milliseconds == VI_TMO_INFINITE) {
        deadline.infinite_ = true;
    } else {
        deadline.at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    }
    return deadline;
}

int Deadline::remainingMs() const
{
    if (infinite_)
        return -1;
    const auto left = at_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero())
        return 0;
    // Round up so that a wait never ends a fraction of a millisecond early.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

WaitResult waitForFd(int fd, short events, int cancelFd, const Deadline &deadline)
{
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {cancelFd, POLLIN, 0}};
        const nfds_t count = cancelFd >= 0 ? 2 : 1;
        const int timeout = deadline.remainingMs();
        const int result = poll(fds, count, timeout);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            return WaitResult::Failed;
        }
        if (count == 2 && fds[1].revents != 0)
            return WaitResult::Cancelled;
        if (fds[0].revents & POLLNVAL)
            return WaitResult::Failed;
        if (fds[0].revents != 0)
            return WaitResult::Ready;
        if (result == 0 && timeout == 0)
            return WaitResult::Timeout;
        // poll may return early by rounding; the loop checks the deadline again.
        if (result == 0 && deadline.remainingMs() == 0)
            return WaitResult::Timeout;
    }
}

ViStatus waitForFdStatus(int fd, short events, int cancelFd, const Deadline &deadline)
{
    switch (waitForFd(fd, events, cancelFd, deadline)) {
    case WaitResult::Ready:
        return VI_SUCCESS;
    case WaitResult::Timeout:
        return VI_ERROR_TMO;
    case WaitResult::Cancelled:
        return VI_ERROR_INV_OBJECT;
    case WaitResult::Failed:
        break;
    }
    return VI_ERROR_IO;
}

ViStatus writeAllBounded(int fd, const ViByte *data, size_t size, size_t *written, int cancelFd,
                         const Deadline &deadline, bool isSocket)
{
    *written = 0;
    while (*written < size) {
        const ssize_t sent = isSocket ? send(fd, data + *written, size - *written, MSG_NOSIGNAL)
                                      : ::write(fd, data + *written, size - *written);
        if (sent > 0) {
            *written += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const ViStatus wait = waitForFdStatus(fd, POLLOUT, cancelFd, deadline);
            if (wait != VI_SUCCESS)
                return wait;
            continue;
        }
        return VI_ERROR_CONN_LOST;
    }
    return VI_SUCCESS;
}

ViStatus readSomeBounded(int fd, std::vector<ViByte> &buffer, size_t chunk, int cancelFd,
                         const Deadline &deadline, bool isSocket)
{
    for (;;) {
        const ViStatus wait = waitForFdStatus(fd, POLLIN, cancelFd, deadline);
        if (wait != VI_SUCCESS)
            return wait;
        const size_t old = buffer.size();
        buffer.resize(old + chunk);
        const ssize_t got = isSocket ? recv(fd, buffer.data() + old, chunk, 0)
                                     : ::read(fd, buffer.data() + old, chunk);
        buffer.resize(old + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got > 0)
            return VI_SUCCESS;
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        return VI_ERROR_CONN_LOST;
    }
}

} // namespace visa
