// Exclusive and shared locks on resources between the sessions of this process (viOpen's
// access mode); viOpen's timeout bounds the wait for a lock.
#pragma once

#include "visa.h"

#include <string>

namespace visa {

// Takes the lock the access mode asks for (none for VI_NO_LOCK), waiting up to timeoutMs.
// VI_ERROR_RSRC_LOCKED when it cannot be had in time.
ViStatus acquireResourceLock(const std::string &key, ViSession session, ViAccessMode mode,
                             ViUInt32 timeoutMs);
// Drops whatever lock the session holds on key.
void releaseResourceLock(const std::string &key, ViSession session);
// Whether another session holds an exclusive lock on key (I/O is then refused).
bool lockedByOther(const std::string &key, ViSession session);

} // namespace visa
