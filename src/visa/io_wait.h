// Deadlines and bounded waits on file descriptors that a session's close can interrupt.
#pragma once

#include "visa.h"

#include <chrono>
#include <cstddef>
#include <vector>

namespace visa {

class Deadline
{
public:
    // VI_TMO_INFINITE never expires; VI_TMO_IMMEDIATE has already expired.
    static Deadline after(ViUInt32 milliseconds);

    bool infinite() const { return infinite_; }
    // For poll(): -1 when infinite, otherwise the milliseconds left (0 once expired).
    int remainingMs() const;

private:
    bool infinite_ = false;
    std::chrono::steady_clock::time_point at_;
};

enum class WaitResult
{
    Ready,
    Timeout,
    Cancelled,
    Failed
};

// Waits until fd reports events (POLLIN or POLLOUT), an error or hang-up (reported as Ready so
// that the following read or write sees it), the deadline, or cancelFd becomes readable.
WaitResult waitForFd(int fd, short events, int cancelFd, const Deadline &deadline);

// The same wait as a status: VI_SUCCESS when ready, VI_ERROR_TMO, VI_ERROR_INV_OBJECT when the
// session was closed meanwhile, VI_ERROR_IO when the wait itself failed.
ViStatus waitForFdStatus(int fd, short events, int cancelFd, const Deadline &deadline);

// Writes all of data to a non-blocking descriptor, waiting while it is full (a socket uses send
// without SIGPIPE). A descriptor that refuses the write for any other reason gives
// VI_ERROR_CONN_LOST; *written counts what went out.
ViStatus writeAllBounded(int fd, const ViByte *data, size_t size, size_t *written, int cancelFd,
                         const Deadline &deadline, bool isSocket);

// Appends what one read of up to chunk bytes brings, waiting for data within the deadline.
// End of file or an error of the descriptor gives VI_ERROR_CONN_LOST: the other side is gone.
ViStatus readSomeBounded(int fd, std::vector<ViByte> &buffer, size_t chunk, int cancelFd,
                         const Deadline &deadline, bool isSocket);

} // namespace visa
