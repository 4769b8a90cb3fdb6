// Parsing and canonical formatting of the VISA resource names the layer serves:
// TCPIP[board]::host::port::SOCKET, ASRL[board|/path][::INSTR] and
// USB[board]::vid::pid::serial[::interface][::INSTR].
#pragma once

#include "visa.h"

#include <cstdint>
#include <string>

namespace visa {

struct ResourceName
{
    enum class Kind
    {
        Tcpip,
        Serial,
        Usb
    };

    Kind kind = Kind::Tcpip;
    unsigned board = 0;

    // TCPIP: the host as written (without the brackets of an IPv6 literal) and the port.
    std::string host;
    bool hostIsIpv6 = false;
    uint16_t port = 0;

    // ASRL: a device path ("/dev/ttyUSB0") when the board was written as one; otherwise the
    // port is named by board (ASRL1 is the first serial port).
    std::string devicePath;

    // USB: ids, the serial number as written, and the interface (-1 when not given).
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string serial;
    int interfaceNumber = -1;
};

// VI_SUCCESS with *out filled; VI_ERROR_INV_RSRC_NAME for a malformed name;
// VI_ERROR_RSRC_NFOUND for a well-formed name of an interface this layer has no transport for
// (GPIB, VXI, PXI, TCPIP INSTR, USB RAW).
ViStatus parseResourceName(const std::string &text, ResourceName *out);

// The canonical spelling: keywords upper case, host, serial number and device path as written,
// ids as 0x%04X.
std::string formatResourceName(const ResourceName &name);

// Whether two names denote the same resource: keywords, host and serial compare
// case-insensitively, a device path exactly; a USB name without interface matches any.
bool sameResource(const ResourceName &a, const ResourceName &b);

} // namespace visa
