// Raw TCP socket resources (TCPIP::host::port::SOCKET): bounded name lookup and connect,
// TCP_NODELAY, dropped connections reported as VI_ERROR_CONN_LOST.
#pragma once

#include "transport.h"

#include <cstdint>
#include <memory>
#include <string>

namespace visa {

class TcpTransport : public Transport
{
public:
    // Resolves and connects within the deadline. VI_ERROR_RSRC_NFOUND for an unknown host or a
    // refused connection, VI_ERROR_TMO when nothing answers in time.
    static ViStatus open(const std::string &host, uint16_t port, const Deadline &deadline,
                         int cancelFd, std::unique_ptr<Transport> *out);
    ~TcpTransport() override;

    ViStatus write(const ViByte *data, size_t size, size_t *written,
                   const Deadline &deadline) override;
    ViStatus readSome(std::vector<ViByte> &buffer, const Deadline &deadline,
                      bool *messageEnd) override;
    ViStatus setTcpOption(ViAttr attribute, bool enabled) override;

private:
    TcpTransport(int fd, int cancelFd);

    int fd_;
    int cancelFd_;
    bool lost_ = false;
};

} // namespace visa
