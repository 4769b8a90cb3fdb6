#include "session_table.h"

#include "resource_locks.h"

#include <algorithm>

namespace visa {

FindList::FindList(std::vector<std::string> names)
    : names_(std::move(names))
{
}

bool FindList::next(std::string *name)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (next_ >= names_.size())
        return false;
    *name = names_[next_++];
    return true;
}

SessionTable &SessionTable::instance()
{
    static SessionTable *table = new SessionTable;
    return *table;
}

ViObject SessionTable::nextNumberLocked()
{
    // Numbers are not reused soon, so a stale number from a closed session finds nothing.
    for (;;) {
        ++lastNumber_;
        if (lastNumber_ == VI_NULL)
            continue;
        if (entries_.count(lastNumber_) ||
            std::find(reserved_.begin(), reserved_.end(), lastNumber_) != reserved_.end())
            continue;
        return lastNumber_;
    }
}

ViSession SessionTable::addResourceManager()
{
    std::lock_guard<std::mutex> guard(mutex_);
    const ViObject id = nextNumberLocked();
    entries_[id].kind = Entry::Kind::Manager;
    return id;
}

bool SessionTable::isResourceManager(ViObject id)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = entries_.find(id);
    return it != entries_.end() && it->second.kind == Entry::Kind::Manager;
}

ViObject SessionTable::reserveNumber()
{
    std::lock_guard<std::mutex> guard(mutex_);
    const ViObject id = nextNumberLocked();
    reserved_.push_back(id);
    return id;
}

void SessionTable::releaseNumber(ViObject id)
{
    std::lock_guard<std::mutex> guard(mutex_);
    reserved_.erase(std::remove(reserved_.begin(), reserved_.end(), id), reserved_.end());
}

SessionTable::ObjectKind SessionTable::kind(ViObject id)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = entries_.find(id);
    if (it == entries_.end())
        return ObjectKind::None;
    switch (it->second.kind) {
    case Entry::Kind::Manager:
        return ObjectKind::Manager;
    case Entry::Kind::Instrument:
        return ObjectKind::Instrument;
    case Entry::Kind::Find:
        return ObjectKind::Find;
    }
    return ObjectKind::None;
}

bool SessionTable::addInstrument(ViSession rm, const std::shared_ptr<InstrumentSession> &session)
{
    std::lock_guard<std::mutex> guard(mutex_);
    reserved_.erase(std::remove(reserved_.begin(), reserved_.end(), session->id()),
                    reserved_.end());
    auto manager = entries_.find(rm);
    if (manager == entries_.end() || manager->second.kind != Entry::Kind::Manager)
        return false;
    manager->second.children.push_back(session->id());
    Entry &entry = entries_[session->id()];
    entry.kind = Entry::Kind::Instrument;
    entry.manager = rm;
    entry.instrument = session;
    return true;
}

ViFindList SessionTable::addFindList(ViSession rm, const std::shared_ptr<FindList> &list)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto manager = entries_.find(rm);
    if (manager == entries_.end() || manager->second.kind != Entry::Kind::Manager)
        return VI_NULL;
    const ViObject id = nextNumberLocked();
    manager->second.children.push_back(id);
    Entry &entry = entries_[id];
    entry.kind = Entry::Kind::Find;
    entry.manager = rm;
    entry.findList = list;
    return id;
}

std::shared_ptr<InstrumentSession> SessionTable::instrument(ViObject id)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = entries_.find(id);
    if (it == entries_.end())
        return nullptr;
    return it->second.instrument;
}

std::shared_ptr<FindList> SessionTable::findList(ViObject id)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = entries_.find(id);
    if (it == entries_.end())
        return nullptr;
    return it->second.findList;
}

bool SessionTable::setManagerTimeout(ViObject id, ViUInt32 timeoutMs)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = entries_.find(id);
    if (it == entries_.end() || it->second.kind != Entry::Kind::Manager)
        return false;
    it->second.timeoutMs = timeoutMs;
    return true;
}

ViUInt32 SessionTable::managerTimeout(ViObject id)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = entries_.find(id);
    return it == entries_.end() ? 2000 : it->second.timeoutMs;
}

void SessionTable::detachLocked(ViObject id,
                                std::vector<std::shared_ptr<InstrumentSession>> &toClose)
{
    auto it = entries_.find(id);
    if (it == entries_.end())
        return;
    Entry entry = std::move(it->second);
    entries_.erase(it);
    if (entry.instrument)
        toClose.push_back(entry.instrument);
    for (ViObject child : entry.children)
        detachLocked(child, toClose);
    if (entry.manager != VI_NULL) {
        auto manager = entries_.find(entry.manager);
        if (manager != entries_.end()) {
            auto &children = manager->second.children;
            children.erase(std::remove(children.begin(), children.end(), id), children.end());
        }
    }
}

ViStatus SessionTable::close(ViObject id)
{
    std::vector<std::shared_ptr<InstrumentSession>> toClose;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!entries_.count(id))
            return VI_ERROR_INV_OBJECT;
        detachLocked(id, toClose);
    }
    // Transports are closed outside the table lock: closing waits for I/O running on the session.
    for (const auto &session : toClose)
        shutDownInstrument(session);
    return VI_SUCCESS;
}

void shutDownInstrument(const std::shared_ptr<InstrumentSession> &session)
{
    session->close();
    releaseResourceLock(session->lockKey(), session->id());
}

} // namespace visa
