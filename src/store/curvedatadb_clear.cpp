// Clearing the whole store: close every connection, delete the day files on a worker thread,
// then start again with an empty file for today.
#include "curvedatadb.h"

#include "connectionpool.h"
#include "dbclearworker.h"

#include <QThread>
#include <QTimer>

namespace {
constexpr int workerStartDelayMs = 1000;
} // namespace

void CurveDataDB::clearAllData()
{
    {
        std::lock_guard<std::mutex> lock(storeMutex);
        if (clearing || clearThread)
            return;
        clearing = true;
        closeAllDatabases();
        currentPath.clear();
        currentDateKey.clear();
        curveNames.clear();
        currentFileIds.clear();
        curveMetadata.clear();
        unsavedMetadata.clear();
        currentTables.clear();
    }
    QTimer::singleShot(workerStartDelayMs, this, &CurveDataDB::startClearWorker);
}

void CurveDataDB::closeAllDatabases()
{
    finishScan(true);
    currentTables.clear();
    if (currentConnection) {
        const QString oldPath = currentPath;
        releaseCurrentConnection();
        ConnectionPool::instance()->closeConnection(oldPath);
        currentPath.clear();
        currentDateKey.clear();
    }
    // Closing is synchronous (statements finished, log checkpointed, file closed), so there is
    // nothing to wait for here, and no event is processed while the store is half cleared.
    ConnectionPool::instance()->closeAllConnections();
}

void CurveDataDB::startClearWorker()
{
    std::lock_guard<std::mutex> lock(storeMutex);
    if (!clearing)
        return;
    auto *worker = new DBClearWorker(this, dataDir);
    clearThread = new QThread(this);
    clearThread->setObjectName(QStringLiteral("store-clear"));
    worker->moveToThread(clearThread);
    connect(clearThread, &QThread::started, worker, &DBClearWorker::doClear);
    connect(worker, &DBClearWorker::clearFinished, this, &CurveDataDB::onClearFinished);
    connect(worker, &DBClearWorker::clearFinished, clearThread, &QThread::quit);
    connect(clearThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(clearThread, &QThread::finished, clearThread, &QObject::deleteLater);
    clearThread->start(QThread::InheritPriority);
}

void CurveDataDB::onClearFinished()
{
    {
        std::lock_guard<std::mutex> lock(storeMutex);
        clearing = false;
        clearThread = nullptr;
        curveNames.clear();
        currentFileIds.clear();
        curveMetadata.clear();
        unsavedMetadata.clear();
        currentTables.clear();
        enterToday();
    }
    emit sigClearFinished();
}
