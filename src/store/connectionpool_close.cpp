// Closing connections: one path, all of a thread, the least recently used, the expired ones.
// Nothing here processes events or sleeps: the pool's mutex is held throughout, and a queued
// call that re-entered the pool from inside a close would deadlock on it.
#include "connectionpool.h"

#include "querymanager.h"
#include "storeclock.h"
#include "storeschema.h"
#include "trackedquery.h"

#include <QDebug>
#include <QThread>
#include <QVariant>

void ConnectionPool::closeConnection(const QString &path)
{
    std::lock_guard<std::mutex> lock(poolMutex);
    closePathLocked(path);
}

void ConnectionPool::closeAllConnections()
{
    std::lock_guard<std::mutex> lock(poolMutex);
    QStringList paths;
    for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
        if (paths.isEmpty() || paths.last() != it.key().path)
            paths.append(it.key().path);
    }
    for (const QString &path : qAsConst(paths))
        closePathLocked(path);
}

void ConnectionPool::releaseThreadConnections()
{
    std::lock_guard<std::mutex> lock(poolMutex);
    closeThreadEntriesLocked(QThread::currentThread());
}

void ConnectionPool::evictLeastRecentlyUsed(QThread *thread)
{
    // Equal times go to the first in path order: QMap iterates in key order.
    auto oldest = connections.end();
    for (auto it = connections.begin(); it != connections.end(); ++it) {
        if (it.key().thread != thread)
            continue;
        if (oldest == connections.end() || it->lastUsed < oldest->lastUsed)
            oldest = it;
    }
    if (oldest != connections.end())
        closeEntryLocked(oldest.key());
}

void ConnectionPool::cleanExpiredConnections()
{
    QThread *const thread = QThread::currentThread();
    std::lock_guard<std::mutex> lock(poolMutex);
    const qint64 now = StoreClock::nowMs();
    QList<PoolKey> expired;
    for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
        if (now - it->lastUsed > expiryIdleMs)
            expired.append(it.key());
    }
    for (const PoolKey &key : qAsConst(expired)) {
        auto it = connections.find(key);
        const QString name = it->connection ? it->connection->connectionName() : QString();
        qDebug().noquote() << "准备移除超时连接：" << key.path << "连接名：" << name;
        if (key.thread != thread) {
            // Only the owning thread may close it; it does so at its next call into the pool.
            it->closeRequested = true;
            continue;
        }
        // The same close as any other: checkpointed and back in rollback mode, so no
        // write-ahead log is left for anyone to delete by hand.
        closeEntryLocked(key);
        qDebug().noquote() << "已关闭连接并清理 WAL：" << name;
        qDebug().noquote() << "已从连接池移除连接：" << key.path;
    }
    qDebug().noquote() << "连接池清理超时连接数：" << expired.size();
}

void ConnectionPool::closePathLocked(const QString &path)
{
    QThread *const thread = QThread::currentThread();
    QList<PoolKey> keys;
    for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
        if (it.key().path == path)
            keys.append(it.key());
    }
    for (const PoolKey &key : qAsConst(keys)) {
        auto it = connections.find(key);
        if (key.thread == thread)
            closeEntryLocked(key);
        else
            it->closeRequested = true;
    }
}

void ConnectionPool::closeThreadEntriesLocked(QThread *thread)
{
    QList<PoolKey> keys;
    for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
        if (it.key().thread == thread)
            keys.append(it.key());
    }
    for (const PoolKey &key : qAsConst(keys))
        closeEntryLocked(key);
}

void ConnectionPool::settleRequestsLocked(QThread *thread)
{
    QList<PoolKey> keys;
    for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
        if (it.key().thread == thread && it->closeRequested)
            keys.append(it.key());
    }
    for (const PoolKey &key : qAsConst(keys))
        closeEntryLocked(key);
}

bool ConnectionPool::otherOpenConnectionLocked(const PoolKey &key) const
{
    for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
        if (it.key().path == key.path && it.key().thread != key.thread && it->connection &&
            it->connection->isOpen())
            return true;
    }
    return false;
}

void ConnectionPool::closeEntryLocked(const PoolKey &key)
{
    auto it = connections.find(key);
    if (it == connections.end())
        return;
    if (!it->connection) {
        connections.erase(it);
        return;
    }
    QSharedPointer<QSqlDatabase> connection = it->connection;
    const QString name = connection->connectionName();
    connections.erase(it);

    // Every statement on the connection is finished before the file is touched again.
    QueryManager::instance()->finishQueries(name);

    if (connection->isOpen()) {
        // Only the last connection to a file can take it out of WAL mode; a connection of
        // another thread still reading it keeps the log until that one closes.
        const bool lastToFile = !otherOpenConnectionLocked(key);
        bool rollbackMode = true;
        if (lastToFile) {
            {
                TrackedQuery checkpoint(*connection);
                checkpoint.exec(QString::fromLatin1(StoreSql::walCheckpointTruncate));
            }
            TrackedQuery journal(*connection);
            rollbackMode =
                journal.exec(QString::fromLatin1(StoreSql::journalModeDelete)) && journal.next() &&
                journal.value(0).toString().compare(QLatin1String("delete"), Qt::CaseInsensitive) ==
                    0;
        }
        connection->close();
        if (!rollbackMode && connection->open()) {
            // A statement nobody had finished kept the log; close() has finalised it now.
            {
                TrackedQuery journal(*connection);
                journal.exec(QString::fromLatin1(StoreSql::journalModeDelete));
            }
            connection->close();
        }
    }
    connection.reset();

    if (QSqlDatabase::contains(name)) {
        {
            QSqlDatabase leftover = QSqlDatabase::database(name, false);
            if (leftover.isOpen())
                leftover.close();
        }
        QSqlDatabase::removeDatabase(name);
    } else {
        qDebug().noquote() << "连接名已不存在:" << name;
    }
}
