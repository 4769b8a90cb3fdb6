// USB test-and-measurement resources through the Linux usbtmc driver's device nodes: one write()
// is one message, one read() one reply. A node that does not take the driver's ioctls (a FIFO,
// pseudo-terminal or file standing in for a device in tests) is driven with poll() instead, and
// each read() of it counts as one reply.
#pragma once

#include "transport.h"

#include <memory>
#include <string>

namespace visa {

class UsbtmcTransport : public Transport
{
public:
    static ViStatus open(const std::string &path, ViUInt32 timeoutMs, int cancelFd,
                         std::unique_ptr<Transport> *out);
    ~UsbtmcTransport() override;

    ViStatus write(const ViByte *data, size_t size, size_t *written,
                   const Deadline &deadline) override;
    ViStatus readSome(std::vector<ViByte> &buffer, const Deadline &deadline,
                      bool *messageEnd) override;
    void timeoutChanged(ViUInt32 timeoutMs) override;
    void termcharChanged(ViByte termchar, bool enabled) override;
    void sendEndChanged(bool enabled) override;

    // Whether the node answered the driver's ioctls (a real usbtmc device).
    bool driverNode() const { return driverNode_; }

private:
    UsbtmcTransport(int fd, int cancelFd, std::string path);
    ViStatus readFromDriver(std::vector<ViByte> &buffer, bool *messageEnd);
    ViStatus readStandIn(std::vector<ViByte> &buffer, const Deadline &deadline, bool *messageEnd);

    int fd_;
    int cancelFd_;
    std::string path_;
    bool driverNode_ = false;
    bool regularFile_ = false;
    bool lost_ = false;
};

} // namespace visa
