#include "instrument_session.h"

#include "discovery.h"
#include "resource_locks.h"
#include "serial_transport.h"
#include "tcp_transport.h"
#include "usbtmc_transport.h"

#include <QtGlobal>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <strings.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace visa {
namespace {

std::string lowerCase(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isBoolean(ViAttrState value)
{
    return value == VI_TRUE || value == VI_FALSE;
}

} // namespace

InstrumentSession::InstrumentSession(ViSession id, const ResourceName &name)
    : id_(id)
    , name_(name)
{
    cancelFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

InstrumentSession::~InstrumentSession()
{
    transport_.reset();
    if (cancelFd_ >= 0)
        ::close(cancelFd_);
}

ViStatus InstrumentSession::resolve()
{
    switch (name_.kind) {
    case ResourceName::Kind::Tcpip:
        lockKey_ = "TCPIP:" + lowerCase(name_.host) + ":" + std::to_string(name_.port);
        return VI_SUCCESS;
    case ResourceName::Kind::Serial: {
        devicePath_ = serialDevicePath(name_);
        if (devicePath_.empty()) {
            qDebug("VISA 没有这个串口: %s", formatResourceName(name_).c_str());
            return VI_ERROR_RSRC_NFOUND;
        }
        char resolved[PATH_MAX];
        lockKey_ =
            "ASRL:" + std::string(realpath(devicePath_.c_str(), resolved) ? resolved : devicePath_);
        return VI_SUCCESS;
    }
    case ResourceName::Kind::Usb:
        for (const UsbtmcNode &node : usbtmcNodes()) {
            const ResourceName &found = node.name;
            if (found.vendorId == name_.vendorId && found.productId == name_.productId &&
                strcasecmp(found.serial.c_str(), name_.serial.c_str()) == 0 &&
                (name_.interfaceNumber < 0 || name_.interfaceNumber == found.interfaceNumber)) {
                devicePath_ = node.path;
                lockKey_ = "USB:" + node.path;
                return VI_SUCCESS;
            }
        }
        qDebug("VISA 没有匹配的 usbtmc 设备: %s", formatResourceName(name_).c_str());
        return VI_ERROR_RSRC_NFOUND;
    }
    return VI_ERROR_INV_RSRC_NAME;
}

ViStatus InstrumentSession::open(ViUInt32 openTimeoutMs)
{
    if (cancelFd_ < 0)
        return VI_ERROR_ALLOC;
    std::lock_guard<std::mutex> guard(io_);
    const Deadline deadline = Deadline::after(openTimeoutMs);
    switch (name_.kind) {
    case ResourceName::Kind::Tcpip:
        return TcpTransport::open(name_.host, name_.port, deadline, cancelFd_, &transport_);
    case ResourceName::Kind::Serial:
        return SerialTransport::open(devicePath_, serial_, cancelFd_, &transport_);
    case ResourceName::Kind::Usb:
        return UsbtmcTransport::open(devicePath_, timeoutMs_, cancelFd_, &transport_);
    }
    return VI_ERROR_INV_RSRC_NAME;
}

void InstrumentSession::close()
{
    closed_.store(true);
    if (cancelFd_ >= 0) {
        const uint64_t one = 1;
        // Wakes a read or write blocked in poll() on another thread.
        if (::write(cancelFd_, &one, sizeof one) < 0) {
        }
    }
    std::lock_guard<std::mutex> guard(io_);
    transport_.reset();
    pending_.clear();
    pendingPos_ = 0;
}

bool InstrumentSession::termcharEndsRead() const
{
    if (termcharEnabled_)
        return true;
    return name_.kind == ResourceName::Kind::Serial && endIn_ == VI_ASRL_END_TERMCHAR;
}

bool InstrumentSession::lastBitSet(ViByte byte) const
{
    return (byte >> (serial_.dataBits - 1)) & 1;
}

ViStatus InstrumentSession::setAttribute(ViAttr attribute, ViAttrState value)
{
    std::lock_guard<std::mutex> guard(io_);
    if (closed_.load() || !transport_)
        return VI_ERROR_INV_OBJECT;
    const bool serial = name_.kind == ResourceName::Kind::Serial;
    const bool tcpip = name_.kind == ResourceName::Kind::Tcpip;
    SerialSettings settings = serial_;
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        if (value > 0xFFFFFFFFull)
            return VI_ERROR_NSUP_ATTR_STATE;
        timeoutMs_ = static_cast<ViUInt32>(value);
        transport_->timeoutChanged(timeoutMs_);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
        if (value > 0xFF)
            return VI_ERROR_NSUP_ATTR_STATE;
        termchar_ = static_cast<ViByte>(value);
        transport_->termcharChanged(termchar_, termcharEnabled_);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
        if (!isBoolean(value))
            return VI_ERROR_NSUP_ATTR_STATE;
        termcharEnabled_ = value == VI_TRUE;
        transport_->termcharChanged(termchar_, termcharEnabled_);
        return VI_SUCCESS;
    case VI_ATTR_SEND_END_EN:
        if (!isBoolean(value))
            return VI_ERROR_NSUP_ATTR_STATE;
        sendEnd_ = value == VI_TRUE;
        transport_->sendEndChanged(sendEnd_);
        return VI_SUCCESS;
    case VI_ATTR_SUPPRESS_END_EN:
        if (!isBoolean(value))
            return VI_ERROR_NSUP_ATTR_STATE;
        suppressEnd_ = value == VI_TRUE;
        return VI_SUCCESS;
    case VI_ATTR_TCPIP_NODELAY:
    case VI_ATTR_TCPIP_KEEPALIVE: {
        if (!tcpip)
            return VI_ERROR_NSUP_ATTR;
        if (!isBoolean(value))
            return VI_ERROR_NSUP_ATTR_STATE;
        const ViStatus status = transport_->setTcpOption(attribute, value == VI_TRUE);
        if (status == VI_SUCCESS)
            (attribute == VI_ATTR_TCPIP_NODELAY ? tcpNoDelay_ : tcpKeepAlive_) = value == VI_TRUE;
        return status;
    }
    case VI_ATTR_ASRL_END_IN:
        if (!serial)
            return VI_ERROR_NSUP_ATTR;
        if (value > VI_ASRL_END_TERMCHAR)
            return VI_ERROR_NSUP_ATTR_STATE; // a break cannot be detected on a termios port
        endIn_ = static_cast<ViUInt16>(value);
        return VI_SUCCESS;
    case VI_ATTR_ASRL_END_OUT:
        if (!serial)
            return VI_ERROR_NSUP_ATTR;
        if (value != VI_ASRL_END_NONE && value != VI_ASRL_END_TERMCHAR)
            return VI_ERROR_NSUP_ATTR_STATE;
        endOut_ = static_cast<ViUInt16>(value);
        return VI_SUCCESS;
    case VI_ATTR_ASRL_BAUD:
        if (value > 0xFFFFFFFFull)
            return VI_ERROR_NSUP_ATTR_STATE;
        settings.baud = static_cast<ViUInt32>(value);
        break;
    case VI_ATTR_ASRL_DATA_BITS:
        if (value < 5 || value > 8)
            return serial ? VI_ERROR_NSUP_ATTR_STATE : VI_ERROR_NSUP_ATTR;
        settings.dataBits = static_cast<ViUInt16>(value);
        break;
    case VI_ATTR_ASRL_PARITY:
        if (value > VI_ASRL_PAR_SPACE)
            return serial ? VI_ERROR_NSUP_ATTR_STATE : VI_ERROR_NSUP_ATTR;
        settings.parity = static_cast<ViUInt16>(value);
        break;
    case VI_ATTR_ASRL_STOP_BITS:
        if (value != VI_ASRL_STOP_ONE && value != VI_ASRL_STOP_ONE5 && value != VI_ASRL_STOP_TWO)
            return serial ? VI_ERROR_NSUP_ATTR_STATE : VI_ERROR_NSUP_ATTR;
        settings.stopBits = static_cast<ViUInt16>(value);
        break;
    case VI_ATTR_ASRL_FLOW_CNTRL:
        if (value > 0xFFFF)
            return serial ? VI_ERROR_NSUP_ATTR_STATE : VI_ERROR_NSUP_ATTR;
        settings.flowControl = static_cast<ViUInt16>(value);
        break;
    default:
        return VI_ERROR_NSUP_ATTR;
    }
    if (!serial)
        return VI_ERROR_NSUP_ATTR;
    // Line settings take effect at once; a refused value leaves the port as it was.
    const ViStatus status = transport_->configureSerial(settings);
    if (status >= VI_SUCCESS)
        serial_ = settings;
    return status;
}

ViStatus InstrumentSession::write(const ViByte *data, ViUInt32 count, ViUInt32 *written)
{
    return exclusively([&] { return writeLocked(data, count, written); });
}

ViStatus InstrumentSession::read(ViByte *buffer, ViUInt32 count, ViUInt32 *got)
{
    return exclusively([&] { return readLocked(buffer, count, got); });
}

ViStatus InstrumentSession::writeLocked(const ViByte *data, ViUInt32 count, ViUInt32 *written)
{
    *written = 0;
    if (closed_.load() || !transport_)
        return VI_ERROR_INV_OBJECT;
    if (lockedByOther(lockKey_, id_))
        return VI_ERROR_RSRC_LOCKED;
    const Deadline deadline = Deadline::after(timeoutMs_);
    size_t done = 0;
    ViStatus status = transport_->write(data, count, &done, deadline);
    *written = static_cast<ViUInt32>(done);
    if (status == VI_SUCCESS && name_.kind == ResourceName::Kind::Serial && sendEnd_ &&
        endOut_ == VI_ASRL_END_TERMCHAR) {
        size_t terminator = 0;
        status = transport_->write(&termchar_, 1, &terminator, deadline);
    }
    return status;
}

ViStatus InstrumentSession::readLocked(ViByte *buffer, ViUInt32 count, ViUInt32 *got)
{
    return readWithin(buffer, count, got, Deadline::after(timeoutMs_));
}

ViStatus InstrumentSession::readWithin(ViByte *buffer, ViUInt32 count, ViUInt32 *got,
                                       const Deadline &deadline)
{
    *got = 0;
    if (closed_.load() || !transport_)
        return VI_ERROR_INV_OBJECT;
    if (lockedByOther(lockKey_, id_))
        return VI_ERROR_RSRC_LOCKED;
    if (count == 0)
        return VI_SUCCESS_MAX_CNT;
    const bool byTermchar = termcharEndsRead();
    const bool byLastBit =
        name_.kind == ResourceName::Kind::Serial && endIn_ == VI_ASRL_END_LAST_BIT;
    ViUInt32 n = 0;
    for (;;) {
        while (pendingPos_ < pending_.size()) {
            const ViByte byte = pending_[pendingPos_++];
            buffer[n++] = byte;
            bool messageEnd = false;
            if (pendingPos_ == pending_.size()) {
                messageEnd = pendingEndsMessage_ && !suppressEnd_;
                pending_.clear();
                pendingPos_ = 0;
                pendingEndsMessage_ = false;
            }
            if (byTermchar && byte == termchar_) {
                *got = n;
                return VI_SUCCESS_TERM_CHAR;
            }
            if (messageEnd || (byLastBit && lastBitSet(byte))) {
                *got = n;
                return VI_SUCCESS;
            }
            if (n == count) {
                // Whatever else arrived stays in pending_ for the next read.
                *got = n;
                return VI_SUCCESS_MAX_CNT;
            }
        }
        bool messageEnd = false;
        const ViStatus status = transport_->readSome(pending_, deadline, &messageEnd);
        if (status != VI_SUCCESS) {
            *got = n;
            return status;
        }
        pendingEndsMessage_ = messageEnd;
        if (pending_.empty()) {
            // An empty message: it ends the read unless ends are suppressed.
            if (messageEnd && !suppressEnd_) {
                *got = n;
                return VI_SUCCESS;
            }
            if (deadline.remainingMs() == 0) {
                *got = n;
                return VI_ERROR_TMO;
            }
        }
    }
}

ViStatus InstrumentSession::discardToEndLocked()
{
    // One deadline for the whole discard, so that an endless stream cannot hold the caller.
    const Deadline deadline = Deadline::after(timeoutMs_);
    ViByte scratch[4096];
    for (;;) {
        ViUInt32 got = 0;
        const ViStatus status = readWithin(scratch, sizeof scratch, &got, deadline);
        if (status != VI_SUCCESS_MAX_CNT)
            return status;
    }
}

} // namespace visa
