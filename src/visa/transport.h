// The byte pipe under an instrument session (TCP socket, serial port, usbtmc node); the session
// does termination, buffering and counting on top of it.
#pragma once

#include "io_wait.h"
#include "visa.h"

#include <cstddef>
#include <vector>

namespace visa {

// Serial line settings in VISA attribute units.
struct SerialSettings
{
    ViUInt32 baud = 9600;
    ViUInt16 dataBits = 8;
    ViUInt16 parity = VI_ASRL_PAR_NONE;
    ViUInt16 stopBits = VI_ASRL_STOP_ONE;
    ViUInt16 flowControl = VI_ASRL_FLOW_NONE;
};

class Transport
{
public:
    virtual ~Transport() = default;

    // Writes everything or stops at the deadline; *written holds the bytes that went out.
    virtual ViStatus write(const ViByte *data, size_t size, size_t *written,
                           const Deadline &deadline) = 0;
    // Waits for input and appends what is there (at least one byte) to buffer; *messageEnd is set
    // when the transport itself marks the end of a message (USB end of message).
    virtual ViStatus readSome(std::vector<ViByte> &buffer, const Deadline &deadline,
                              bool *messageEnd) = 0;

    // Attribute hooks; the defaults say the transport has no such setting.
    virtual ViStatus configureSerial(const SerialSettings &) { return VI_ERROR_NSUP_ATTR; }
    virtual ViStatus setTcpOption(ViAttr, bool) { return VI_ERROR_NSUP_ATTR; }
    virtual void timeoutChanged(ViUInt32) {}
    virtual void termcharChanged(ViByte, bool) {}
    virtual void sendEndChanged(bool) {}
};

} // namespace visa
