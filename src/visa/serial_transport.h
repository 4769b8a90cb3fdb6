// Serial port resources through termios: raw mode without echo, line settings applied at once
// with tcsetattr, works with any terminal device (ttyS, ttyUSB, ttyACM, pseudo-terminals).
#pragma once

#include "transport.h"

#include <memory>
#include <string>

namespace visa {

class SerialTransport : public Transport
{
public:
    // VI_ERROR_RSRC_NFOUND for a missing path, VI_ERROR_INV_RSRC_NAME for a path that is not a
    // terminal, VI_ERROR_RSRC_BUSY when it cannot be opened for lack of permission.
    static ViStatus open(const std::string &path, const SerialSettings &settings, int cancelFd,
                         std::unique_ptr<Transport> *out);
    ~SerialTransport() override;

    ViStatus write(const ViByte *data, size_t size, size_t *written,
                   const Deadline &deadline) override;
    ViStatus readSome(std::vector<ViByte> &buffer, const Deadline &deadline,
                      bool *messageEnd) override;
    // Applies everything at once and reads it back: a setting the port does not keep is undone
    // and refused with VI_ERROR_NSUP_ATTR_STATE, as are DTR/DSR flow control and non-standard
    // rates. 1.5 stop bits exist only with 5 data bits (the UART then sends 1.5 for its
    // two-stop-bit setting); otherwise two stop bits are used and the answer is
    // VI_WARN_NSUP_ATTR_STATE.
    ViStatus configureSerial(const SerialSettings &settings) override;

private:
    SerialTransport(int fd, int cancelFd, std::string path);

    int fd_;
    int cancelFd_;
    std::string path_;
    bool lost_ = false;
};

} // namespace visa
