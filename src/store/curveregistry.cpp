#include "curveregistry.h"

#include "connectionpool.h"
#include "storeschema.h"
#include "trackedquery.h"

#include <QDebug>
#include <QSqlError>
#include <QVariant>

namespace CurveRegistry {

bool lookupCurveId(const QSqlDatabase &db, const QString &name, int *curveId, QString *error)
{
    TrackedQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(QString::fromLatin1(StoreSql::selectCurveIdByName))) {
        *error = query.lastError().text();
        return false;
    }
    query.addBindValue(name);
    if (!query.exec()) {
        *error = query.lastError().text();
        return false;
    }
    *curveId = query.next() ? query.value(0).toInt() : -1;
    return true;
}

QMap<int, DBCurveMetadata> readCurveMetadata(const QSqlDatabase &db)
{
    QMap<int, DBCurveMetadata> rows;
    TrackedQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QString::fromLatin1(StoreSql::selectCurveMetadata)))
        return rows;
    while (query.next()) {
        // A NULL column is "nothing known yet", not 0: 0 is a real time and value.
        DBCurveMetadata meta;
        if (!query.isNull(1))
            meta.minTime = query.value(1).toLongLong();
        if (!query.isNull(2))
            meta.maxTime = query.value(2).toLongLong();
        if (!query.isNull(3))
            meta.minValue = query.value(3).toDouble();
        if (!query.isNull(4))
            meta.maxValue = query.value(4).toDouble();
        rows.insert(query.value(0).toInt(), meta);
    }
    return rows;
}

DBBatchInfo batchOfRow(const QSqlQuery &row)
{
    DBBatchInfo info;
    info.batchStart = row.value(1).toLongLong();
    info.batchEnd = row.value(2).toLongLong();
    info.tableName = row.value(3).toString();
    return info;
}

QList<DBBatchInfo> batchesInRange(const QSqlDatabase &db, int curveId, qint64 start, qint64 end)
{
    QList<DBBatchInfo> batches;
    if (!db.isOpen() || !ConnectionPool::pingConnection(db)) {
        qWarning().noquote() << "外部数据库连接无效";
        return batches;
    }

    TrackedQuery query(db);
    query.setForwardOnly(true);
    bool ok = query.prepare(QString::fromLatin1(StoreSql::selectBatchesInRange));
    if (ok) {
        query.addBindValue(curveId);
        for (int pair = 0; pair < 3; ++pair) {
            query.addBindValue(start);
            query.addBindValue(end);
        }
        ok = query.exec();
    }
    if (!ok) {
        qWarning().noquote() << "查询分片元数据失败:" << query.lastError().text();
        return batches;
    }
    // The id in batch_metadata and the id in the table name must agree: curve 1 never gets a
    // table of curve 12, even when a row claims it.
    const QString prefix = QStringLiteral("curve_%1_").arg(curveId);
    while (query.next()) {
        const DBBatchInfo info = batchOfRow(query);
        if (info.tableName.startsWith(prefix))
            batches.append(info);
    }
    return batches;
}

} // namespace CurveRegistry
