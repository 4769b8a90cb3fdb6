// One open instrument session: its attributes, its input buffer and the VISA read and write
// semantics (termination character, count, timeout, end of message) over a transport.
#pragma once

#include "resource_name.h"
#include "transport.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace visa {

class InstrumentSession
{
public:
    InstrumentSession(ViSession id, const ResourceName &name);
    ~InstrumentSession();

    // Finds the device the name denotes (serial port path, usbtmc node) and the lock key;
    // VI_ERROR_RSRC_NFOUND when it is not present.
    ViStatus resolve();
    // Opens the transport; openTimeoutMs bounds connecting. The session is unusable on failure.
    ViStatus open(ViUInt32 openTimeoutMs);
    // Interrupts a blocked read or write, waits for it to return and closes the transport.
    void close();

    ViStatus setAttribute(ViAttr attribute, ViAttrState value);
    ViStatus write(const ViByte *data, ViUInt32 count, ViUInt32 *written);
    ViStatus read(ViByte *buffer, ViUInt32 count, ViUInt32 *got);
    // Reads and throws away input up to the next end indicator (or the timeout).
    ViStatus discardToEndLocked();

    ViSession id() const { return id_; }
    const std::string &lockKey() const { return lockKey_; }
    // Whether the termination character ends reads (TERMCHAR_EN, or a serial END_IN TERMCHAR).
    bool termcharEndsRead() const;

    // Runs fn with the session's I/O lock held, so that a query's write and read stay together.
    template<typename Fn>
    ViStatus exclusively(Fn fn)
    {
        std::lock_guard<std::mutex> guard(io_);
        if (closed_.load())
            return VI_ERROR_INV_OBJECT;
        return fn();
    }
    // The unlocked operations for use inside exclusively().
    ViStatus writeLocked(const ViByte *data, ViUInt32 count, ViUInt32 *written);
    ViStatus readLocked(ViByte *buffer, ViUInt32 count, ViUInt32 *got);

private:
    ViStatus readWithin(ViByte *buffer, ViUInt32 count, ViUInt32 *got, const Deadline &deadline);
    bool lastBitSet(ViByte byte) const;

    const ViSession id_;
    const ResourceName name_;
    std::string lockKey_;
    std::string devicePath_; // serial port or usbtmc node
    int cancelFd_ = -1;
    std::atomic<bool> closed_{false};

    std::mutex io_; // guards everything below
    std::unique_ptr<Transport> transport_;
    std::vector<ViByte> pending_; // input received but not yet handed out
    size_t pendingPos_ = 0;
    bool pendingEndsMessage_ = false; // the transport marked END after the last pending byte

    ViUInt32 timeoutMs_ = 2000;
    ViByte termchar_ = 0x0A;
    bool termcharEnabled_ = false;
    bool sendEnd_ = true;
    bool suppressEnd_ = false;
    ViUInt16 endIn_ = VI_ASRL_END_TERMCHAR;
    ViUInt16 endOut_ = VI_ASRL_END_NONE;
    bool tcpNoDelay_ = true;
    bool tcpKeepAlive_ = false;
    SerialSettings serial_;
};

} // namespace visa
