#include "inputreaderthread.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {
constexpr int PollMs = 100;
}

InputReaderThread::InputReaderThread(QObject *parent, int fd)
    : WorkerThread(QStringLiteral("host-input"), parent)
    , inputFd(fd)
{
}

void InputReaderThread::emitLine(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    // Every byte up to the line feed belongs to the line, NULs included: "exit\0x" is not
    // "exit" and "A\0B" is echoed whole.
    if (!line.isEmpty())
        emit newInputReceived(QString::fromLocal8Bit(line.constData(), line.size()));
}

void InputReaderThread::takeBytes(const char *bytes, int count)
{
    const char *const end = bytes + count;
    while (bytes < end) {
        const char *lineEnd = static_cast<const char *>(memchr(bytes, '\n', size_t(end - bytes)));
        const char *const stop = lineEnd ? lineEnd : end;
        const int length = int(stop - bytes);
        if (dropping) {
            droppedBytes += length;
        } else if (pending.size() + length > MaxLineBytes) {
            droppedBytes = pending.size() + length;
            pending.clear();
            pending.squeeze();
            dropping = true;
        } else {
            pending.append(bytes, length);
        }
        if (!lineEnd)
            return;
        if (dropping)
            dropOverlongLine();
        else
            emitLine(pending);
        pending.clear();
        bytes = lineEnd + 1;
    }
}

void InputReaderThread::dropOverlongLine()
{
    qWarning().noquote() << QStringLiteral("[主机输入] 丢弃过长的输入行：%1 字节（上限 %2 字节）")
                                .arg(droppedBytes)
                                .arg(MaxLineBytes);
    dropping = false;
    droppedBytes = 0;
}

// Waits for input in slices of 100 ms rather than inside a blocking read, so that a stop
// request takes effect within 100 ms even while the host is silent and the window never has
// to terminate this thread.
void InputReaderThread::work()
{
    bool atEnd = false;
    char buffer[4096];
    while (!stopRequested()) {
        if (atEnd) {
            sleepUnlessStopped(PollMs);
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
            if (dropping)
                dropOverlongLine();
            else if (!pending.isEmpty())
                emitLine(pending);
            pending.clear();
            atEnd = true;
            continue;
        }
        takeBytes(buffer, static_cast<int>(n));
    }
}
