// The process-wide table of the built-in layer's objects: resource manager sessions, instrument
// sessions and find lists, looked up by number from any thread. Objects are shared pointers, so
// a session closed on one thread stays valid for an operation still running on another.
#pragma once

#include "instrument_session.h"
#include "visa.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace visa {

// The result of viFindRsrc, handed out by viFindNext.
class FindList
{
public:
    explicit FindList(std::vector<std::string> names);
    // The next name, or false when the list is exhausted.
    bool next(std::string *name);

private:
    std::mutex mutex_;
    std::vector<std::string> names_;
    size_t next_ = 0;
};

class SessionTable
{
public:
    // Created on first use, never destroyed: the logger opens sessions during static
    // initialisation and may close them during static destruction.
    static SessionTable &instance();

    ViSession addResourceManager();
    bool isResourceManager(ViObject id);
    // A fresh number for an object about to be added; released again when adding fails.
    ViObject reserveNumber();
    void releaseNumber(ViObject id);

    enum class ObjectKind
    {
        None,
        Manager,
        Instrument,
        Find
    };
    ObjectKind kind(ViObject id);
    // False when the resource manager was closed meanwhile.
    bool addInstrument(ViSession rm, const std::shared_ptr<InstrumentSession> &session);
    ViFindList addFindList(ViSession rm, const std::shared_ptr<FindList> &list);

    std::shared_ptr<InstrumentSession> instrument(ViObject id);
    std::shared_ptr<FindList> findList(ViObject id);
    // Stores the timeout set on a resource manager session (used to bound viOpen).
    bool setManagerTimeout(ViObject id, ViUInt32 timeoutMs);
    ViUInt32 managerTimeout(ViObject id);

    // Closes any object; a resource manager takes everything opened from it along.
    ViStatus close(ViObject id);

private:
    SessionTable() = default;

    struct Entry
    {
        enum class Kind
        {
            Manager,
            Instrument,
            Find
        };
        Kind kind = Kind::Manager;
        ViSession manager = VI_NULL;
        std::shared_ptr<InstrumentSession> instrument;
        std::shared_ptr<FindList> findList;
        std::vector<ViObject> children;
        ViUInt32 timeoutMs = 2000;
    };

    ViObject nextNumberLocked();
    void detachLocked(ViObject id, std::vector<std::shared_ptr<InstrumentSession>> &toClose);

    std::mutex mutex_;
    std::unordered_map<ViObject, Entry> entries_;
    ViObject lastNumber_ = 0;
    std::vector<ViObject> reserved_;
};

// Closes a session's transport and drops its resource lock.
void shutDownInstrument(const std::shared_ptr<InstrumentSession> &session);

} // namespace visa
