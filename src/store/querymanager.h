// Process-wide registry of the queries alive on each named connection, so that a connection
// is closed only after every statement on it has been finished.
#pragma once

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <mutex>

class TrackedQuery;

class QueryManager : public QObject
{
    Q_OBJECT
public:
    static QueryManager *instance();

    void registerQuery(TrackedQuery *query);
    void unregisterQuery(TrackedQuery *query);
    // Finishes and clears every registered query of the connection and forgets the name.
    // Called by the thread that owns the connection, just before it closes it.
    void finishQueries(const QString &connectionName);
    // Number of registered queries of the connection.
    int queryCount(const QString &connectionName) const;

private:
    QueryManager() = default;

    // std::mutex rather than QMutex: its locking is visible to the thread sanitizer.
    mutable std::mutex mutex;
    QMap<QString, QSet<TrackedQuery *>> activeQueries;
};
