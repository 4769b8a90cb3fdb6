// The day-file connections a reader thread (an export, the plot's read-back, the publisher)
// opens through the store, held for as long as the scope lives: when it goes, the connections
// of the thread that made it are closed, however the reading ended. Made and ended on the
// reader's own thread, never on the store's, whose connections it would close too.
#pragma once

class QThread;

class StoreReaderScope
{
public:
    StoreReaderScope();
    ~StoreReaderScope();

    StoreReaderScope(const StoreReaderScope &) = delete;
    StoreReaderScope &operator=(const StoreReaderScope &) = delete;

private:
    QThread *const thread;
};
