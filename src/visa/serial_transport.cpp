#include "serial_transport.h"

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

bool baudConstant(ViUInt32 baud, speed_t *speed)
{
    static const struct
    {
        ViUInt32 rate;
        speed_t constant;
    } rates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto &entry : rates) {
        if (entry.rate == baud) {
            *speed = entry.constant;
            return true;
        }
    }
    return false;
}

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
    speed_t speed = B9600;
    if (!baudConstant(settings.baud, &speed))
        return VI_ERROR_NSUP_ATTR_STATE;
    if (settings.dataBits < 5 || settings.dataBits > 8 || settings.parity > VI_ASRL_PAR_SPACE)
        return VI_ERROR_NSUP_ATTR_STATE;
    if (settings.stopBits != VI_ASRL_STOP_ONE && settings.stopBits != VI_ASRL_STOP_ONE5 &&
        settings.stopBits != VI_ASRL_STOP_TWO)
        return VI_ERROR_NSUP_ATTR_STATE;
    if (settings.flowControl & ~(VI_ASRL_FLOW_XON_XOFF | VI_ASRL_FLOW_RTS_CTS))
        return VI_ERROR_NSUP_ATTR_STATE;

    termios tio{};
    if (tcgetattr(fd_, &tio) != 0)
        return VI_ERROR_IO;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[settings.dataBits - 5];
    switch (settings.parity) {
    case VI_ASRL_PAR_ODD:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case VI_ASRL_PAR_EVEN:
        tio.c_cflag |= PARENB;
        break;
    case VI_ASRL_PAR_MARK:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case VI_ASRL_PAR_SPACE:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    ViStatus status = VI_SUCCESS;
    if (settings.stopBits != VI_ASRL_STOP_ONE)
        tio.c_cflag |= CSTOPB;
    if (settings.stopBits == VI_ASRL_STOP_ONE5 && settings.dataBits != 5) {
        qWarning("VISA 串口不支持 1.5 个停止位，改用 2 个: %s", path_.c_str());
        status = VI_WARN_NSUP_ATTR_STATE;
    }
    if (settings.flowControl & VI_ASRL_FLOW_RTS_CTS)
        tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (settings.flowControl & VI_ASRL_FLOW_XON_XOFF)
        tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
        qWarning("VISA 无法设置串口参数: %s (%s)", path_.c_str(), std::strerror(errno));
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
    while (*written < size) {
        const ssize_t sent = ::write(fd_, data + *written, size - *written);
        if (sent > 0) {
            *written += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Also where the peer holds us back with XOFF or CTS.
            const WaitResult wait = waitForFd(fd_, POLLOUT, cancelFd_, deadline);
            if (wait == WaitResult::Timeout)
                return VI_ERROR_TMO;
            if (wait == WaitResult::Cancelled)
                return VI_ERROR_INV_OBJECT;
            if (wait == WaitResult::Failed)
                return VI_ERROR_IO;
            continue;
        }
        lost_ = true;
        return VI_ERROR_CONN_LOST;
    }
    return VI_SUCCESS;
}

ViStatus SerialTransport::readSome(std::vector<ViByte> &buffer, const Deadline &deadline,
                                   bool *messageEnd)
{
    *messageEnd = false;
    if (lost_)
        return VI_ERROR_CONN_LOST;
    for (;;) {
        const WaitResult wait = waitForFd(fd_, POLLIN, cancelFd_, deadline);
        if (wait == WaitResult::Timeout)
            return VI_ERROR_TMO;
        if (wait == WaitResult::Cancelled)
            return VI_ERROR_INV_OBJECT;
        if (wait == WaitResult::Failed)
            return VI_ERROR_IO;
        const size_t old = buffer.size();
        buffer.resize(old + kReadChunk);
        const ssize_t got = ::read(fd_, buffer.data() + old, kReadChunk);
        buffer.resize(old + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got > 0)
            return VI_SUCCESS;
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        // End of file or EIO: the adapter was unplugged or the other end of a pty closed.
        lost_ = true;
        return VI_ERROR_CONN_LOST;
    }
}

} // namespace visa
