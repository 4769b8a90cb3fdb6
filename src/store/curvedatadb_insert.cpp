// Writing samples: routing by time stamp to a day file and a six-hour batch table, creating
// batch tables on demand, and keeping the extremes of the file the sample went to.
#include "curvedatadb.h"

#include "connectionpool.h"
#include "shardcalendar.h"
#include "storeschema.h"
#include "trackedquery.h"

#include <QDebug>
#include <QSqlError>
#include <QVariant>

#include <functional>

bool CurveDataDB::insertData(int curveId, qint64 time, double value)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    if (clearing) {
        lastErrorText = QStringLiteral("正在清理数据库");
        return false;
    }
    // The day rollover happens before routing: a late sample of the day being left then goes
    // to that day's file with that file's id and metadata, never into today's maps.
    enterToday();

    const QString path = memoPathForTime(time);
    const bool current = !currentPath.isEmpty() && path == currentPath;
    QSharedPointer<QSqlDatabase> connection = current ? currentConnection : openGated(path);
    if (!connection || !connection->isOpen()) {
        noteFailure(QStringLiteral("写入样本失败，数据库未打开:"), path);
        return false;
    }
    if (!joinScan(connection))
        return false;

    // The id of the curve in the file the sample goes to.
    int fileCurveId = curveId;
    if (!ensureBatchTableIn(curveId, time, &fileCurveId)) {
        if (lastErrorText.isEmpty())
            lastErrorText = QStringLiteral("创建分片表失败");
        return false;
    }
    const QString table = batchTableName(fileCurveId, calendarMemo.sliceOf(time).batchName);
    return current ? insertIntoCurrent(fileCurveId, table, time, value)
                   : insertIntoOtherFile(*connection, path, fileCurveId, table, time, value);
}

// Runs work inside the sample savepoint (a transaction of its own, or nested in one the caller
// holds): what it wrote commits when it returns true and the release succeeds, and is rolled
// back otherwise. work notes its own failures; a failing savepoint statement is noted here.
bool CurveDataDB::inSavepoint(TrackedQuery *begin, TrackedQuery *release, TrackedQuery *rollback,
                              const std::function<bool()> &work, const QString &what)
{
    auto step = [](TrackedQuery *query, QString *error) {
        const bool ok = query->exec();
        if (!ok && error)
            *error = query->lastError().text();
        query->finish();
        return ok;
    };
    QString error;
    if (!step(begin, &error)) {
        noteFailure(what, error);
        return false;
    }
    if (work() && step(release, &error))
        return true;
    if (!error.isEmpty())
        noteFailure(what, error);
    // Back to before the work, then out of the savepoint (which then commits nothing).
    step(rollback, nullptr);
    step(release, nullptr);
    return false;
}

// The row and the curve's metadata change commit together: a reader (or a power cut) never
// sees a file whose extremes lag behind its rows or run ahead of them.
bool CurveDataDB::insertIntoCurrent(int curveId, const QString &table, qint64 time, double value)
{
    const QSqlDatabase db = *currentConnection;
    statements.bindTo(db);
    TrackedQuery *begin = statements.sampleSavepoint(db);
    TrackedQuery *insert = statements.sampleInsert(db, table);
    TrackedQuery *release = statements.sampleRelease(db);
    TrackedQuery *rollback = statements.sampleRollback(db);
    if (!begin || !insert || !release || !rollback) {
        noteFailure(QStringLiteral("写入样本失败:"), db.lastError().text());
        return false;
    }
    const bool hadMetadata = curveMetadata.contains(curveId);
    const DBCurveMetadata before = curveMetadata.value(curveId);
    const bool wasUnsaved = unsavedMetadata.contains(curveId);
    bool duplicate = false;
    const bool committed = inSavepoint(
        begin, release, rollback,
        [&] {
            insert->bindValue(0, curveId);
            insert->bindValue(1, time);
            insert->bindValue(2, value);
            const bool ran = insert->exec();
            // A second sample at the same millisecond is ignored by the table; it must not
            // move the extremes either, and it is no failure.
            duplicate = ran && insert->numRowsAffected() == 0;
            const QString error = insert->lastError().text();
            insert->finish();
            if (!ran)
                noteFailure(QStringLiteral("写入样本失败:"), error);
            if (!ran || duplicate)
                return false;
            updateCurveMetadata(curveId, time, value);
            return writeMetadataRows();
        },
        QStringLiteral("写入样本失败:"));
    if (duplicate)
        return true;
    if (!committed) {
        // The file keeps the extremes it had; so does the memory that describes it.
        if (hadMetadata)
            curveMetadata.insert(curveId, before);
        else
            curveMetadata.remove(curveId);
        if (!wasUnsaved)
            unsavedMetadata.remove(curveId);
        return false;
    }
    unsavedMetadata.clear();
    // Keeps the current file from looking idle to the pool's expiry sweep.
    ConnectionPool::instance()->touchConnection(currentPath);
    return true;
}

bool CurveDataDB::insertIntoOtherFile(const QSqlDatabase &db, const QString &path, int fileCurveId,
                                      const QString &table, qint64 time, double value)
{
    TrackedQuery begin(db);
    TrackedQuery insert(db);
    TrackedQuery release(db);
    TrackedQuery rollback(db);
    if (!begin.prepare(QString::fromLatin1(StoreSql::sampleSavepoint)) ||
        !insert.prepare(QString::fromLatin1(StoreSql::insertSample).arg(table)) ||
        !release.prepare(QString::fromLatin1(StoreSql::sampleRelease)) ||
        !rollback.prepare(QString::fromLatin1(StoreSql::sampleRollback))) {
        noteFailure(QStringLiteral("写入样本失败:"), db.lastError().text());
        return false;
    }
    bool duplicate = false;
    const bool committed = inSavepoint(
        &begin, &release, &rollback,
        [&] {
            insert.addBindValue(fileCurveId);
            insert.addBindValue(time);
            insert.addBindValue(value);
            const bool ran = insert.exec();
            duplicate = ran && insert.numRowsAffected() == 0;
            if (!ran)
                noteFailure(QStringLiteral("写入样本失败:"), insert.lastError().text());
            insert.finish();
            return ran && !duplicate && updateFileMetadata(db, fileCurveId, time, value);
        },
        QStringLiteral("写入样本失败:"));
    if (committed)
        ConnectionPool::instance()->touchConnection(path);
    return committed || duplicate;
}

bool CurveDataDB::ensureBatchTable(int curveId, qint64 time)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    int fileCurveId = curveId;
    return ensureBatchTableIn(curveId, time, &fileCurveId);
}

bool CurveDataDB::ensureBatchTableIn(int curveId, qint64 time, int *fileCurveId)
{
    const SliceMemo::Slice slice = calendarMemo.sliceOf(time);
    const qint64 start = slice.start;
    const QString path = memoPathForTime(start);
    const bool current = !currentPath.isEmpty() && path == currentPath;
    QSharedPointer<QSqlDatabase> connection;
    int id = curveId;

    if (current) {
        connection = currentConnection;
        id = currentFileIdOf(curveId);
        if (id < 0) {
            qWarning().noquote() << "曲线在当前数据库中无法注册:" << curveNames.value(curveId);
            return false;
        }
    } else {
        connection = openGated(path);
        if (!connection || !connection->isOpen()) {
            qWarning().noquote() << "切换数据库失败:" << path;
            return false;
        }
        const QString name = curveNames.value(curveId);
        if (name.isEmpty()) {
            qWarning().noquote() << "曲线ID" << curveId << "在内存映射中不存在";
            return false;
        }
        // Ids are per file: the curve is found (or registered) in that file by its name.
        if (!curveIdInFile(*connection, name, &id)) {
            qWarning().noquote() << "在新数据库中注册曲线失败:" << lastErrorText;
            return false;
        }
    }

    if (!connection || !connection->isOpen()) {
        qWarning().noquote() << "目标数据库连接无效";
        return false;
    }
    if (!joinScan(connection))
        return false;
    *fileCurveId = id;

    const QString table = batchTableName(id, slice.batchName);
    if (current && currentTables.contains(table))
        return true;
    {
        TrackedQuery exists(*connection);
        exists.setForwardOnly(true);
        if (exists.prepare(QString::fromLatin1(StoreSql::selectBatchExists))) {
            exists.addBindValue(id);
            exists.addBindValue(table);
            if (exists.exec() && exists.next()) {
                if (current)
                    currentTables.insert(table);
                return true;
            }
        }
    }
    DBBatchInfo info;
    info.batchStart = start;
    info.batchEnd = start + batchLengthMs - 1;
    info.tableName = table;
    const bool created = createBatchTable(info, *connection, id);
    if (!created)
        qWarning().noquote() << "创建分片表失败:" << table;
    return created;
}

bool CurveDataDB::createBatchTable(const DBBatchInfo &info, QSqlDatabase db, int curveId)
{
    // Inside a scan the table is part of the scan's transaction: it commits or goes with it.
    const bool ownTransaction = !inScan(db);
    if (ownTransaction && !db.transaction()) {
        qWarning().noquote() << "开始事务失败:" << db.lastError().text();
        return false;
    }
    {
        TrackedQuery create(db);
        if (!create.exec(QString::fromLatin1(StoreSql::createBatchTable).arg(info.tableName))) {
            const QString error = create.lastError().text();
            create.finish();
            qWarning().noquote() << "创建分片表失败:" << info.tableName << "，错误:" << error;
            if (ownTransaction)
                db.rollback();
            return false;
        }
    }
    {
        TrackedQuery index(db);
        index.exec(QString::fromLatin1(StoreSql::createBatchIndex).arg(info.tableName));
    }
    {
        TrackedQuery insert(db);
        if (!insert.prepare(QString::fromLatin1(StoreSql::insertBatchMetadata))) {
            const QString error = insert.lastError().text();
            qWarning().noquote() << "准备分片元数据插入语句失败:" << error;
            insert.clear();
            if (ownTransaction)
                db.rollback();
            return false;
        }
        insert.addBindValue(curveId);
        insert.addBindValue(info.batchStart);
        insert.addBindValue(info.batchEnd);
        insert.addBindValue(info.tableName);
        if (!insert.exec()) {
            const QString error = insert.lastError().text();
            qWarning().noquote() << "插入分片元数据失败:" << error;
            insert.clear();
            if (ownTransaction)
                db.rollback();
            return false;
        }
    }
    if (ownTransaction && !db.commit()) {
        qWarning().noquote() << "提交事务失败:" << db.lastError().text();
        db.rollback();
        return false;
    }
    // Remembered only once committed, and only for the current file, whose tables
    // currentTables names.
    if (currentConnection && db.connectionName() == currentConnection->connectionName())
        currentTables.insert(info.tableName);
    ConnectionPool::instance()->touchConnection(db.databaseName());
    return true;
}

void CurveDataDB::closeCurrentDatabase()
{
    if (!currentConnection)
        return;
    // The part of a scan in the file being closed commits first.
    finishScanOn(currentConnection->connectionName(), true);
    // Written to the file being closed, before anything can switch days.
    writeCurrentMetadata();
    const QString oldPath = currentPath;
    releaseCurrentConnection();
    currentTables.clear();
    ConnectionPool::instance()->touchConnection(oldPath);
    currentPath.clear();
    currentDateKey.clear();
}
