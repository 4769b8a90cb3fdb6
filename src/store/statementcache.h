// Prepared statements of the current day file, kept while that file's connection stays
// current, so that writing one sample prepares nothing.
#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QString>

#include <memory>

class TrackedQuery;

class StatementCache
{
public:
    StatementCache();
    ~StatementCache();

    // Drops every statement unless they were prepared on db (same named, open connection).
    // The cache holds no handle of its own: a connection closed by the pool is not kept alive.
    void bindTo(const QSqlDatabase &db);
    // Drops every statement; called before the connection is let go.
    void clear();

    // Null when preparing failed (the caller reports or ignores it as it would any failure).
    // Each on the connection given to bindTo, passed again as db.
    TrackedQuery *sampleInsert(const QSqlDatabase &db, const QString &table);
    TrackedQuery *metadataDelete(const QSqlDatabase &db);
    TrackedQuery *metadataInsert(const QSqlDatabase &db);
    // A unit of writes (a sample and its metadata, a metadata save): a transaction of its own,
    // or nested in one the caller holds.
    TrackedQuery *sampleSavepoint(const QSqlDatabase &db);
    TrackedQuery *sampleRelease(const QSqlDatabase &db);
    TrackedQuery *sampleRollback(const QSqlDatabase &db);

private:
    TrackedQuery *prepared(std::unique_ptr<TrackedQuery> &slot, const QSqlDatabase &db,
                           const QString &sql);

    QString connectionName;
    QHash<QString, std::shared_ptr<TrackedQuery>> inserts;
    std::unique_ptr<TrackedQuery> deleteMeta, insertMeta;
    std::unique_ptr<TrackedQuery> savepointTx, releaseTx, rollbackToTx;
};
