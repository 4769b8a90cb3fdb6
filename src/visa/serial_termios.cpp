#include "serial_termios.h"

namespace visa {
namespace {

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

} // namespace

ViStatus applySerialSettings(const SerialSettings &settings, termios *tio)
{
    speed_t speed = B9600;
    if (!baudConstant(settings.baud, &speed))
        return VI_ERROR_NSUP_ATTR_STATE;
    if (settings.dataBits < 5 || settings.dataBits > 8 || settings.parity > VI_ASRL_PAR_SPACE)
        return VI_ERROR_NSUP_ATTR_STATE;
    if (settings.stopBits != VI_ASRL_STOP_ONE && settings.stopBits != VI_ASRL_STOP_ONE5 &&
        settings.stopBits != VI_ASRL_STOP_TWO)
        return VI_ERROR_NSUP_ATTR_STATE;
    // Linux has no DTR/DSR handshake in termios.
    if (settings.flowControl & ~(VI_ASRL_FLOW_XON_XOFF | VI_ASRL_FLOW_RTS_CTS))
        return VI_ERROR_NSUP_ATTR_STATE;

    termios result = *tio;
    cfmakeraw(&result);
    result.c_cflag |= CLOCAL | CREAD;
    result.c_cflag &= ~kSerialControlFlags;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    result.c_cflag |= sizes[settings.dataBits - 5];
    switch (settings.parity) {
    case VI_ASRL_PAR_ODD:
        result.c_cflag |= PARENB | PARODD;
        break;
    case VI_ASRL_PAR_EVEN:
        result.c_cflag |= PARENB;
        break;
    case VI_ASRL_PAR_MARK:
        result.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case VI_ASRL_PAR_SPACE:
        result.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    ViStatus status = VI_SUCCESS;
    // With 5 data bits a UART sends 1.5 stop bits for CSTOPB; otherwise two is the nearest.
    if (settings.stopBits != VI_ASRL_STOP_ONE)
        result.c_cflag |= CSTOPB;
    if (settings.stopBits == VI_ASRL_STOP_ONE5 && settings.dataBits != 5)
        status = VI_WARN_NSUP_ATTR_STATE;
    if (settings.flowControl & VI_ASRL_FLOW_RTS_CTS)
        result.c_cflag |= CRTSCTS;
    result.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (settings.flowControl & VI_ASRL_FLOW_XON_XOFF)
        result.c_iflag |= IXON | IXOFF;
    result.c_cc[VMIN] = 1;
    result.c_cc[VTIME] = 0;
    cfsetispeed(&result, speed);
    cfsetospeed(&result, speed);
    *tio = result;
    return status;
}

} // namespace visa
