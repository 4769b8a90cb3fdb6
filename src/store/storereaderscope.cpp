#include "storereaderscope.h"

#include "connectionpool.h"

#include <QDebug>
#include <QThread>

StoreReaderScope::StoreReaderScope()
    : thread(QThread::currentThread())
{
}

StoreReaderScope::~StoreReaderScope()
{
    // Qt lets only the owning thread close a connection. Ended elsewhere (its owner deleted
    // from another thread), the scope leaves them to the pool, which closes a thread's
    // connections when the thread finishes.
    if (QThread::currentThread() != thread)
        return;
    ConnectionPool::instance()->releaseThreadConnections();
}
