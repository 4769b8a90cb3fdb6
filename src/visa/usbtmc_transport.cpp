#include "usbtmc_transport.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace visa {
namespace {

// The driver's ioctls (include/uapi/linux/usb/tmc.h).
struct UsbtmcTermchar
{
    uint8_t termChar;
    uint8_t termCharEnabled;
};
constexpr unsigned kUsbtmcMagic = 91;
const unsigned long kSetTimeout = _IOW(kUsbtmcMagic, 10, uint32_t);
const unsigned long kEomEnable = _IOW(kUsbtmcMagic, 11, uint8_t);
const unsigned long kConfigTermchar = _IOW(kUsbtmcMagic, 12, UsbtmcTermchar);
constexpr uint32_t kDriverMinimumTimeout = 100;

constexpr size_t kReadChunk = 65536;

uint32_t driverTimeout(ViUInt32 timeoutMs)
{
    return std::max<uint32_t>(timeoutMs, kDriverMinimumTimeout);
}

ViStatus mapIoError(int error)
{
    switch (error) {
    case ETIMEDOUT:
        return VI_ERROR_TMO;
    case ENODEV:
    case ESHUTDOWN:
    case EPIPE:
        return VI_ERROR_CONN_LOST;
    default:
        return VI_ERROR_IO;
    }
}

} // namespace

ViStatus UsbtmcTransport::open(const std::string &path, ViUInt32 timeoutMs, int cancelFd,
                               std::unique_ptr<Transport> *out)
{
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
        qDebug("VISA usbtmc 设备节点不存在: %s", path.c_str());
        return VI_ERROR_RSRC_NFOUND;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        qDebug("VISA 无法打开 usbtmc 设备节点: %s (%s)", path.c_str(), std::strerror(error));
        return error == EACCES || error == EPERM || error == EBUSY ? VI_ERROR_RSRC_BUSY
                                                                   : VI_ERROR_RSRC_NFOUND;
    }
    std::unique_ptr<UsbtmcTransport> transport(new UsbtmcTransport(fd, cancelFd, path));
    transport->regularFile_ = S_ISREG(info.st_mode);
    uint32_t timeout = driverTimeout(timeoutMs);
    if (ioctl(fd, kSetTimeout, &timeout) == 0) {
        // The driver bounds its own transfers by this timeout; its poll() does not report
        // synchronous replies, so reads and writes on it block (within that timeout). Any node
        // that refuses the ioctl is driven with poll(), which the session timeout bounds.
        transport->driverNode_ = true;
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    } else if (errno != ENOTTY) {
        qDebug("VISA usbtmc 设置超时失败，按普通设备节点处理: %s (%s)", path.c_str(),
               std::strerror(errno));
    }
    *out = std::move(transport);
    return VI_SUCCESS;
}

UsbtmcTransport::UsbtmcTransport(int fd, int cancelFd, std::string path)
    : fd_(fd)
    , cancelFd_(cancelFd)
    , path_(std::move(path))
{
}

UsbtmcTransport::~UsbtmcTransport()
{
    ::close(fd_);
}

void UsbtmcTransport::timeoutChanged(ViUInt32 timeoutMs)
{
    if (!driverNode_)
        return;
    uint32_t timeout = driverTimeout(timeoutMs);
    if (ioctl(fd_, kSetTimeout, &timeout) != 0)
        qWarning("VISA usbtmc 设置超时失败: %s (%s)", path_.c_str(), std::strerror(errno));
}

void UsbtmcTransport::termcharChanged(ViByte termchar, bool enabled)
{
    if (!driverNode_)
        return;
    UsbtmcTermchar setting{termchar, static_cast<uint8_t>(enabled ? 1 : 0)};
    // Devices without termination-character support refuse with EINVAL; the session still ends
    // reads at the character itself.
    if (ioctl(fd_, kConfigTermchar, &setting) != 0 && errno != ENOTTY)
        qDebug("VISA usbtmc 设备不支持终止符: %s (%s)", path_.c_str(), std::strerror(errno));
}

void UsbtmcTransport::sendEndChanged(bool enabled)
{
    if (!driverNode_)
        return;
    uint8_t value = enabled ? 1 : 0;
    if (ioctl(fd_, kEomEnable, &value) != 0 && errno != ENOTTY)
        qDebug("VISA usbtmc 设置消息结束标志失败: %s (%s)", path_.c_str(), std::strerror(errno));
}

ViStatus UsbtmcTransport::write(const ViByte *data, size_t size, size_t *written,
                                const Deadline &deadline)
{
    *written = 0;
    if (lost_)
        return VI_ERROR_CONN_LOST;
    if (driverNode_) {
        // One write() is one message with the end-of-message bit on its last transfer.
        for (;;) {
            const ssize_t sent = ::write(fd_, data, size);
            if (sent >= 0) {
                *written = static_cast<size_t>(sent);
                return *written == size ? VI_SUCCESS : VI_ERROR_IO;
            }
            if (errno == EINTR)
                continue;
            const ViStatus status = mapIoError(errno);
            lost_ = status == VI_ERROR_CONN_LOST;
            return status;
        }
    }
    const ViStatus status = writeAllBounded(fd_, data, size, written, cancelFd_, deadline, false);
    if (status == VI_ERROR_CONN_LOST)
        lost_ = true;
    return status;
}

ViStatus UsbtmcTransport::readSome(std::vector<ViByte> &buffer, const Deadline &deadline,
                                   bool *messageEnd)
{
    *messageEnd = false;
    if (lost_)
        return VI_ERROR_CONN_LOST;
    return driverNode_ ? readFromDriver(buffer, messageEnd)
                       : readStandIn(buffer, deadline, messageEnd);
}

ViStatus UsbtmcTransport::readFromDriver(std::vector<ViByte> &buffer, bool *messageEnd)
{
    for (;;) {
        const size_t old = buffer.size();
        buffer.resize(old + kReadChunk);
        const ssize_t got = ::read(fd_, buffer.data() + old, kReadChunk);
        buffer.resize(old + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got >= 0) {
            // A transfer shorter than asked for ended with the end-of-message bit.
            *messageEnd = static_cast<size_t>(got) < kReadChunk;
            return VI_SUCCESS;
        }
        if (errno == EINTR)
            continue;
        const ViStatus status = mapIoError(errno);
        lost_ = status == VI_ERROR_CONN_LOST;
        return status;
    }
}

ViStatus UsbtmcTransport::readStandIn(std::vector<ViByte> &buffer, const Deadline &deadline,
                                      bool *messageEnd)
{
    for (;;) {
        const ViStatus wait = waitForFdStatus(fd_, POLLIN, cancelFd_, deadline);
        if (wait != VI_SUCCESS)
            return wait;
        const size_t old = buffer.size();
        buffer.resize(old + kReadChunk);
        const ssize_t got = ::read(fd_, buffer.data() + old, kReadChunk);
        buffer.resize(old + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got > 0) {
            *messageEnd = static_cast<size_t>(got) < kReadChunk;
            return VI_SUCCESS;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (got == 0 && regularFile_) {
            // A plain file at its end stays readable for poll(); wait a little instead of
            // spinning until more is appended or the deadline passes.
            Deadline pause = Deadline::after(10);
            if (!deadline.infinite() && deadline.remainingMs() < pause.remainingMs())
                pause = deadline;
            if (waitForFd(cancelFd_, POLLIN, -1, pause) == WaitResult::Ready)
                return VI_ERROR_INV_OBJECT;
            if (deadline.remainingMs() == 0)
                return VI_ERROR_TMO;
            continue;
        }
        // End of file on a device or pipe: the other side is gone.
        lost_ = true;
        return VI_ERROR_CONN_LOST;
    }
}

} // namespace visa
