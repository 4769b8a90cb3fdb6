// A scan's samples in one transaction per day file: one commit, one write of the pages the
// scan changed, instead of one per sample.
#include "curvedatadb.h"

#include <QDebug>
#include <QSqlError>

bool CurveDataDB::beginScan()
{
    std::lock_guard<std::mutex> lock(storeMutex);
    if (scan.open)
        finishScan(true);
    // A day that has turned since the last sample is entered before the scan, not inside it.
    enterToday();
    scan = ScanState();
    scan.open = true;
    scan.metadata = curveMetadata;
    scan.unsavedMetadata = unsavedMetadata;
    scan.tables = currentTables;
    return true;
}

bool CurveDataDB::joinScan(const QSharedPointer<QSqlDatabase> &db)
{
    if (!scan.open || !db)
        return true;
    if (inScan(*db))
        return true;
    if (!db->transaction()) {
        noteFailure(QStringLiteral("开始事务失败:"), db->lastError().text());
        scan.failed = true;
        return false;
    }
    scan.connections.append(db);
    return true;
}

bool CurveDataDB::inScan(const QSqlDatabase &db) const
{
    for (const auto &joined : qAsConst(scan.connections))
        if (joined->connectionName() == db.connectionName())
            return true;
    return false;
}

bool CurveDataDB::finishScanOn(const QString &connectionName, bool commit)
{
    for (int i = 0; i < scan.connections.size(); ++i) {
        QSharedPointer<QSqlDatabase> db = scan.connections.at(i);
        if (db->connectionName() != connectionName)
            continue;
        scan.connections.removeAt(i);
        const bool isCurrent =
            currentConnection && currentConnection->connectionName() == connectionName;
        if (commit && db->commit())
            return true;
        if (commit) {
            noteFailure(QStringLiteral("提交事务失败:"), db->lastError().text());
            scan.failed = true;
        }
        db->rollback();
        if (isCurrent) {
            curveMetadata = scan.metadata;
            unsavedMetadata = scan.unsavedMetadata;
            currentTables = scan.tables;
        }
        return !commit;
    }
    return true;
}

bool CurveDataDB::endScan(bool commit)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    return finishScan(commit);
}

bool CurveDataDB::finishScan(bool commit)
{
    if (!scan.open)
        return commit;
    bool ok = !scan.failed;
    // A part that failed takes the others back with it while nothing is committed yet.
    commit = commit && ok;
    while (!scan.connections.isEmpty()) {
        const QString name = scan.connections.first()->connectionName();
        if (!finishScanOn(name, commit)) {
            ok = false;
            commit = false;
        }
    }
    scan = ScanState();
    return ok && commit;
}
