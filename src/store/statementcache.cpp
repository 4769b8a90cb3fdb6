#include "statementcache.h"

#include "storeschema.h"
#include "trackedquery.h"

namespace {
// Batch tables of one day: a few per curve; far more means stale names piling up.
constexpr int maxCachedInserts = 1024;
} // namespace

StatementCache::StatementCache() = default;

StatementCache::~StatementCache()
{
    clear();
}

void StatementCache::bindTo(const QSqlDatabase &db)
{
    if (db.isOpen() && db.connectionName() == connectionName)
        return;
    clear();
    if (db.isOpen())
        connectionName = db.connectionName();
}

void StatementCache::clear()
{
    inserts.clear();
    deleteMeta.reset();
    insertMeta.reset();
    savepointTx.reset();
    releaseTx.reset();
    rollbackToTx.reset();
    connectionName.clear();
}

TrackedQuery *StatementCache::prepared(std::unique_ptr<TrackedQuery> &slot, const QSqlDatabase &db,
                                       const QString &sql)
{
    if (slot)
        return slot.get();
    if (!db.isOpen() || db.connectionName() != connectionName)
        return nullptr;
    auto query = std::make_unique<TrackedQuery>(db);
    if (!query->prepare(sql))
        return nullptr;
    slot = std::move(query);
    return slot.get();
}

TrackedQuery *StatementCache::sampleInsert(const QSqlDatabase &db, const QString &table)
{
    const auto it = inserts.constFind(table);
    if (it != inserts.cend())
        return it->get();
    if (!db.isOpen() || db.connectionName() != connectionName)
        return nullptr;
    if (inserts.size() >= maxCachedInserts)
        inserts.clear();
    auto query = std::make_shared<TrackedQuery>(db);
    if (!query->prepare(QString::fromLatin1(StoreSql::insertSample).arg(table)))
        return nullptr;
    inserts.insert(table, query);
    return query.get();
}

TrackedQuery *StatementCache::metadataDelete(const QSqlDatabase &db)
{
    return prepared(deleteMeta, db, QString::fromLatin1(StoreSql::deleteCurveMetadata));
}

TrackedQuery *StatementCache::metadataInsert(const QSqlDatabase &db)
{
    return prepared(insertMeta, db, QString::fromLatin1(StoreSql::insertCurveMetadata));
}

TrackedQuery *StatementCache::sampleSavepoint(const QSqlDatabase &db)
{
    return prepared(savepointTx, db, QString::fromLatin1(StoreSql::sampleSavepoint));
}

TrackedQuery *StatementCache::sampleRelease(const QSqlDatabase &db)
{
    return prepared(releaseTx, db, QString::fromLatin1(StoreSql::sampleRelease));
}

TrackedQuery *StatementCache::sampleRollback(const QSqlDatabase &db)
{
    return prepared(rollbackToTx, db, QString::fromLatin1(StoreSql::sampleRollback));
}
