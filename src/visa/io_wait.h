// Deadlines and bounded waits on file descriptors that a session's close can interrupt.
#pragma once

#include "visa.h"

#include <chrono>

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

} // namespace visa
