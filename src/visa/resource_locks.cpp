#include "resource_locks.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace visa {
namespace {

struct LockState
{
    ViSession exclusiveOwner = VI_NULL;
    std::set<ViSession> sharedOwners;
};

struct LockRegistry
{
    std::mutex mutex;
    std::condition_variable released;
    std::map<std::string, LockState> locks;
};

// Created on first use and never destroyed: sessions may be closed during static destruction.
LockRegistry &registry()
{
    static LockRegistry *instance = new LockRegistry;
    return *instance;
}

bool canTake(const LockState &state, ViSession session, ViAccessMode mode)
{
    if (state.exclusiveOwner != VI_NULL && state.exclusiveOwner != session)
        return false;
    if (mode & VI_EXCLUSIVE_LOCK) {
        for (ViSession owner : state.sharedOwners) {
            if (owner != session)
                return false;
        }
    }
    return true;
}

} // namespace

ViStatus acquireResourceLock(const std::string &key, ViSession session, ViAccessMode mode,
                             ViUInt32 timeoutMs)
{
    if (!(mode & (VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK)))
        return VI_SUCCESS;
    LockRegistry &locks = registry();
    std::unique_lock<std::mutex> guard(locks.mutex);
    auto ready = [&] { return canTake(locks.locks[key], session, mode); };
    if (timeoutMs == VI_TMO_INFINITE) {
        locks.released.wait(guard, ready);
    } else if (!locks.released.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready)) {
        const LockState &state = locks.locks[key];
        if (state.exclusiveOwner == VI_NULL && state.sharedOwners.empty())
            locks.locks.erase(key);
        return VI_ERROR_RSRC_LOCKED;
    }
    LockState &state = locks.locks[key];
    if (mode & VI_EXCLUSIVE_LOCK)
        state.exclusiveOwner = session;
    else
        state.sharedOwners.insert(session);
    return VI_SUCCESS;
}

void releaseResourceLock(const std::string &key, ViSession session)
{
    LockRegistry &locks = registry();
    std::lock_guard<std::mutex> guard(locks.mutex);
    auto it = locks.locks.find(key);
    if (it == locks.locks.end())
        return;
    if (it->second.exclusiveOwner == session)
        it->second.exclusiveOwner = VI_NULL;
    it->second.sharedOwners.erase(session);
    if (it->second.exclusiveOwner == VI_NULL && it->second.sharedOwners.empty())
        locks.locks.erase(it);
    locks.released.notify_all();
}

bool lockedByOther(const std::string &key, ViSession session)
{
    LockRegistry &locks = registry();
    std::lock_guard<std::mutex> guard(locks.mutex);
    auto it = locks.locks.find(key);
    return it != locks.locks.end() && it->second.exclusiveOwner != VI_NULL &&
           it->second.exclusiveOwner != session;
}

} // namespace visa
