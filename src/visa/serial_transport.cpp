#include "serial_transport.h"

#include "serial_termios.h"

#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace visa {
namespace {

constexpr size_t kReadChunk = 4096;

ViStatus mapOpenError(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return VI_ERROR_RSRC_NFOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
        return VI_ERROR_RSRC_BUSY;
    default:
        return VI_ERROR_IO;
    }
}

} // namespace

ViStatus SerialTransport::open(const std::string &path, const SerialSettings &settings,
                               int cancelFd, std::unique_ptr<Transport> *out)
{
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0) {
        qDebug("VISA 串口不存在: %s (%s)", path.c_str(), std::strerror(errno));
        return mapOpenError(errno);
    }
    // Checked before opening so that a regular file named by mistake is never opened for writing.
    if (!S_ISCHR(info.st_mode)) {
        qDebug("VISA 不是串口设备: %s", path.c_str());
        return VI_ERROR_INV_RSRC_NAME;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        qDebug("VISA 无法打开串口: %s (%s)", path.c_str(), std::strerror(error));
        return mapOpenError(error);
    }
    termios current{};
    if (tcgetattr(fd, &current) != 0) {
        qDebug("VISA 不是终端设备: %s (%s)", path.c_str(), std::strerror(errno));
        ::close(fd);
        return VI_ERROR_INV_RSRC_NAME;
    }
    std::unique_ptr<SerialTransport> transport(new SerialTransport(fd, cancelFd, path));
    const ViStatus status = transport->configureSerial(settings);
    if (status < VI_SUCCESS)
        return status;
    // Input left over from an earlier user of the port is not part of this session's replies.
    tcflush(fd, TCIFLUSH);
    *out = std::move(transport);
    return VI_SUCCESS;
}

SerialTransport::SerialTransport(int fd, int cancelFd, std::string path)
    : fd_(fd)
    , cancelFd_(cancelFd)
    , path_(std::move(path))
{
}

SerialTransport::~SerialTransport()
{
    ::close(fd_);
}

ViStatus SerialTransport::configureSerial(const SerialSettings &settings)
{
    termios previous{};
    if (tcgetattr(fd_, &previous) != 0)
        return VI_ERROR_IO;
    termios wanted = previous;
    const ViStatus status = applySerialSettings(settings, &wanted);
    if (status < VI_SUCCESS)
        return status;
    if (status == VI_WARN_NSUP_ATTR_STATE)
        qWarning("VISA 串口不支持 1.5 个停止位，改用 2 个: %s", path_.c_str());
    if (tcsetattr(fd_, TCSANOW, &wanted) != 0) {
        qWarning("VISA 串口不接受这些参数: %s (%s)", path_.c_str(), std::strerror(errno));
        tcsetattr(fd_, TCSANOW, &previous);
        return VI_ERROR_NSUP_ATTR_STATE;
    }
    // tcsetattr succeeds when any part of a change was made; what the driver kept is checked,
    // so that a port that cannot do a setting (a pseudo-terminal forces 8 data bits without
    // parity, some adapters have no mark/space parity) is reported instead of silently differing.
    termios applied{};
    if (tcgetattr(fd_, &applied) != 0 ||
        (applied.c_cflag & kSerialControlFlags) != (wanted.c_cflag & kSerialControlFlags) ||
        cfgetospeed(&applied) != cfgetospeed(&wanted) ||
        cfgetispeed(&applied) != cfgetispeed(&wanted)) {
        qWarning("VISA 串口不支持这些参数: %s (波特率 %u, 数据位 %u, 校验 %u, 停止位 %u, 流控 %u)",
                 path_.c_str(), settings.baud, settings.dataBits, settings.parity,
                 settings.stopBits, settings.flowControl);
        tcsetattr(fd_, TCSANOW, &previous);
        return VI_ERROR_NSUP_ATTR_STATE;
    }
    return status;
}

ViStatus SerialTransport::write(const ViByte *data, size_t size, size_t *written,
                                const Deadline &deadline)
{
    *written = 0;
    if (lost_)
        return VI_ERROR_CONN_LOST;
    // Also waits where the peer holds the line back with XOFF or CTS.
    const ViStatus status = writeAllBounded(fd_, data, size, written, cancelFd_, deadline, false);
    if (status == VI_ERROR_CONN_LOST)
        lost_ = true;
    return status;
}

ViStatus SerialTransport::readSome(std::vector<ViByte> &buffer, const Deadline &deadline,
                                   bool *messageEnd)
{
    *messageEnd = false;
    if (lost_)
        return VI_ERROR_CONN_LOST;
    const ViStatus status = readSomeBounded(fd_, buffer, kReadChunk, cancelFd_, deadline, false);
    // End of file or EIO: the adapter was unplugged or the other end of a pty closed.
    if (status == VI_ERROR_CONN_LOST)
        lost_ = true;
    return status;
}

} // namespace visa
