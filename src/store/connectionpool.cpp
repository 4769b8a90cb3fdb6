#include "connectionpool.h"

#include "storeclock.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

namespace {
ConnectionPool *poolInstance = nullptr;
std::once_flag poolOnce;

void destroyPool()
{
    delete poolInstance;
    poolInstance = nullptr;
}
} // namespace

ConnectionPool *ConnectionPool::instance()
{
    std::call_once(poolOnce, [] {
        poolInstance = new ConnectionPool;
        QCoreApplication *const app = QCoreApplication::instance();
        if (app && QThread::currentThread() != app->thread()) {
            // The pool outlives whichever thread asked for it first (a worker, say, that ends
            // long before the process), and the application's thread deletes it at exit: it
            // and its timer belong to that thread, which starts the timer.
            poolInstance->moveToThread(app->thread());
            ConnectionPool *const pool = poolInstance;
            QMetaObject::invokeMethod(
                pool, [pool] { pool->expiryTimer.start(); }, Qt::QueuedConnection);
        } else {
            poolInstance->expiryTimer.start();
        }
        // Closed at application exit, while the event loop's thread is still whole, so the
        // day files are left without write-ahead logs.
        if (app)
            qAddPostRoutine(destroyPool);
    });
    return poolInstance;
}

ConnectionPool::ConnectionPool()
{
    expiryTimer.setInterval(expiryPeriodMs);
    connect(&expiryTimer, &QTimer::timeout, this, &ConnectionPool::cleanExpiredConnections);
}

ConnectionPool::~ConnectionPool()
{
    closeAllConnections();
}

QSharedPointer<QSqlDatabase> ConnectionPool::getConnection(const QString &path)
{
    QThread *const thread = QThread::currentThread();
    std::lock_guard<std::mutex> lock(poolMutex);
    settleRequestsLocked(thread);

    const PoolKey key{path, thread};
    auto it = connections.find(key);
    if (it != connections.end()) {
        if (it->connection && validateConnection(*it->connection)) {
            it->lastUsed = StoreClock::nowMs();
            return it->connection;
        }
        qDebug().noquote() << "连接无效，重新创建：" << path;
        closeEntryLocked(key);
    }

    int held = 0;
    for (auto entry = connections.cbegin(); entry != connections.cend(); ++entry) {
        if (entry.key().thread == thread)
            ++held;
    }
    if (held >= maxConnectionsPerThread)
        evictLeastRecentlyUsed(thread);

    QSqlDatabase db = createConnection(path);
    if (!db.isOpen())
        return {};
    PoolEntry entry;
    entry.connection = QSharedPointer<QSqlDatabase>::create(db);
    entry.lastUsed = StoreClock::nowMs();
    connections.insert(key, entry);
    watchThreadLocked(thread);
    return entry.connection;
}

void ConnectionPool::touchConnection(const QString &path)
{
    QThread *const thread = QThread::currentThread();
    std::lock_guard<std::mutex> lock(poolMutex);
    settleRequestsLocked(thread);
    auto it = connections.find(PoolKey{path, thread});
    if (it != connections.end())
        it->lastUsed = StoreClock::nowMs();
}

QString ConnectionPool::dateKeyOfFile(const QString &path)
{
    static const QRegularExpression dayKey(QStringLiteral("^\\d{8}$"));
    const QString base = QFileInfo(path).completeBaseName();
    if (base.size() == 8 && dayKey.match(base).hasMatch())
        return base;
    return QString();
}

int ConnectionPool::connectionCount() const
{
    std::lock_guard<std::mutex> lock(poolMutex);
    return connections.size();
}

int ConnectionPool::threadConnectionCount() const
{
    QThread *const thread = QThread::currentThread();
    std::lock_guard<std::mutex> lock(poolMutex);
    int held = 0;
    for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
        if (it.key().thread == thread)
            ++held;
    }
    return held;
}

bool ConnectionPool::isPooled(const QString &path) const
{
    std::lock_guard<std::mutex> lock(poolMutex);
    return connections.contains(PoolKey{path, QThread::currentThread()});
}

QString ConnectionPool::connectionNameOf(const QString &path) const
{
    std::lock_guard<std::mutex> lock(poolMutex);
    const auto it = connections.constFind(PoolKey{path, QThread::currentThread()});
    if (it == connections.cend() || !it->connection)
        return QString();
    return it->connection->connectionName();
}

void ConnectionPool::watchThreadLocked(QThread *thread)
{
    QCoreApplication *const app = QCoreApplication::instance();
    if (!thread || watchedThreads.contains(thread) || (app && thread == app->thread()))
        return;
    watchedThreads.insert(thread);
    // finished() is emitted on the ending thread itself, the one place where its connections
    // can still be closed by their owner.
    connect(
        thread, &QThread::finished, this,
        [this, thread] {
            std::lock_guard<std::mutex> lock(poolMutex);
            if (QThread::currentThread() == thread)
                closeThreadEntriesLocked(thread);
            watchedThreads.remove(thread);
        },
        Qt::DirectConnection);
}
