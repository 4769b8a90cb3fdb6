#include "inputreaderthread.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {
constexpr int PollMs = 100;
}

InputReaderThread::InputReaderThread(QObject *parent, int fd)
    : QThread(parent)
    , inputFd(fd)
{
}

void InputReaderThread::stop()
{
    std::lock_guard<std::mutex> guard(lock);
    stopRequested = true;
}

bool InputReaderThread::waitForEnd(unsigned long milliseconds)
{
    if (!wait(milliseconds))
        return false;
    std::lock_guard<std::mutex> guard(lock);
    return true;
}

bool InputReaderThread::isStopRequested()
{
    std::lock_guard<std::mutex> guard(lock);
    return stopRequested;
}

void InputReaderThread::emitLine(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (!line.isEmpty())
        emit newInputReceived(QString::fromLocal8Bit(line));
}

// Waits for input in slices of 100 ms rather than inside a blocking read, so that a stop
// request takes effect within 100 ms even while the host is silent and the window never has
// to terminate this thread.
void InputReaderThread::run()
{
    QByteArray pending;
    bool atEnd = false;
    char buffer[4096];
    while (!isStopRequested()) {
        if (atEnd) {
            msleep(PollMs);
            continue;
        }
        pollfd fd = {inputFd, POLLIN, 0};
        const int ready = poll(&fd, 1, PollMs);
        if (ready < 0 && errno != EINTR) {
            atEnd = true;
            continue;
        }
        if (ready <= 0)
            continue;
        const ssize_t n = read(inputFd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            // End of input: a last line without its line end still counts.
            if (!pending.isEmpty())
                emitLine(pending);
            pending.clear();
            atEnd = true;
            continue;
        }
        pending.append(buffer, static_cast<int>(n));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            emitLine(pending.left(end));
            pending.remove(0, end + 1);
        }
    }
}
