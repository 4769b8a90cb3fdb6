// Process-wide pool of SQLite connections to day files: one connection per (file, thread),
// opened with the store's PRAGMAs, checked before reuse, at most 30 per thread, closed after a
// day idle, and closed so that no write-ahead log is left behind.
//
// Qt lets a connection be used only by the thread that opened it, so the pool never hands one
// thread's connection to another: getConnection called on a second thread opens a connection of
// that thread's own. Such a thread gives its connections back with releaseThreadConnections()
// before it ends; a QThread's connections are also released when it emits finished().
#pragma once

#include <QMap>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QSqlDatabase>
#include <QString>
#include <QTimer>

#include <mutex>

class QThread;

class ConnectionPool : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxConnectionsPerThread = 30;
    static constexpr qint64 expiryIdleMs = 86400000;
    static constexpr int expiryPeriodMs = 14400000;

    static ConnectionPool *instance();
    ~ConnectionPool() override;

    // The calling thread's connection to path, opened if needed; null when opening failed.
    QSharedPointer<QSqlDatabase> getConnection(const QString &path);
    // Marks the calling thread's connection to path as used now.
    void touchConnection(const QString &path);
    // Closes the calling thread's connection to path. Connections of other threads to the same
    // file are closed by their own threads at their next call into the pool.
    void closeConnection(const QString &path);
    // closeConnection for every path the calling thread holds.
    void closeAllConnections();
    // Closes every connection of the calling thread; for worker threads that are done.
    void releaseThreadConnections();

    static QString dateKeyOfFile(const QString &path);
    // The handle is open and "SELECT 1" executes.
    static bool pingConnection(const QSqlDatabase &db);
    // The three fixed tables of a day file; true only if all three statements succeeded.
    static bool createTables(const QSqlDatabase &db);

    // Observers (tests, diagnostics).
    int connectionCount() const;                         // all threads
    int threadConnectionCount() const;                   // calling thread
    bool isPooled(const QString &path) const;            // calling thread
    QString connectionNameOf(const QString &path) const; // calling thread, empty if none

public slots:
    void cleanExpiredConnections();

private:
    struct PoolKey
    {
        QString path;
        QThread *thread;
        bool operator<(const PoolKey &other) const
        {
            return path != other.path ? path < other.path : thread < other.thread;
        }
    };
    struct PoolEntry
    {
        QSharedPointer<QSqlDatabase> connection;
        qint64 lastUsed = 0;
        bool closeRequested = false; // another thread asked for a close; the owner does it
    };

    ConnectionPool();

    QSqlDatabase createConnection(const QString &path);
    bool validateConnection(const QSqlDatabase &db);
    bool executePragma(const QSqlDatabase &db, const QString &sql, const QString &expected);
    void evictLeastRecentlyUsed(QThread *thread);

    // All below expect poolMutex held by the caller.
    void closeEntryLocked(const PoolKey &key);
    void closePathLocked(const QString &path);
    void closeThreadEntriesLocked(QThread *thread);
    void settleRequestsLocked(QThread *thread);
    bool otherOpenConnectionLocked(const PoolKey &key) const;
    void watchThreadLocked(QThread *thread);

    mutable std::mutex poolMutex;
    QMap<PoolKey, PoolEntry> connections;
    QSet<QThread *> watchedThreads;
    // A child, so that it moves with the pool to the application's thread.
    QTimer expiryTimer{this};
};
