#include "storedcurvecursor.h"

#include "connectionpool.h"
#include "curvedatadb.h"
#include "curveregistry.h"
#include "shardcalendar.h"
#include "trackedquery.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <QVariant>

#ifdef DATALOGGER_STORE_STEP_SQLITE
#include <sqlite3.h>
#endif

#include <limits>
#include <map>

namespace {

void touch(const QString &path)
{
    ConnectionPool::instance()->touchConnection(path);
}

QString quotedTable(const QString &name)
{
    // A quote inside is doubled, so that no table name read from a day file can end the
    // quoting early.
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QDate localDateOf(qint64 ms)
{
    // Times far outside the calendar have no date: the range is then open on that side.
    constexpr qint64 limit = 253402300799000LL; // 9999-12-31
    if (ms < -limit || ms > limit)
        return QDate();
    return QDateTime::fromMSecsSinceEpoch(ms).date();
}

struct DayFile
{
    QString path;
    QDate date;
};

// Day files of the store whose local date may hold samples of [start, end], in date order.
std::vector<DayFile> dayFilesOf(const CurveDataDB &store, qint64 start, qint64 end)
{
    // A sample belongs to the file of its local date, or to an earlier one when it was stamped
    // ahead of the clock; one day of slack on each side also covers the hour a daylight-saving
    // change moves midnight.
    QDate first = localDateOf(start);
    QDate last = localDateOf(end);
    if (first.isValid())
        first = first.addDays(-1);
    if (last.isValid())
        last = last.addDays(1);
    static const QRegularExpression dayFile(QStringLiteral("^(\\d{8})\\.db$"));
    const QStringList names =
        QDir(store.dataDirectory())
            .entryList({QStringLiteral("*.db")}, QDir::Files | QDir::Readable, QDir::Name);
    std::vector<DayFile> files;
    for (const QString &name : names) {
        const QRegularExpressionMatch match = dayFile.match(name);
        if (!match.hasMatch())
            continue;
        const QDate date = QDate::fromString(match.captured(1), QStringLiteral("yyyyMMdd"));
        if (!date.isValid())
            continue;
        if ((first.isValid() && date < first) || (last.isValid() && date > last))
            continue;
        // Named as the store names it: the pool knows a file by this path, also when the store
        // asks it to close the file on every thread.
        files.push_back({dayFilePath(store.dataDirectory(), match.captured(1)), date});
    }
    return files;
}

// The curve's id in the file of db: -1 when it is not registered there, -2 when the lookup
// failed.
int curveIdIn(const QSqlDatabase &db, const QString &name)
{
    int id = -1;
    QString error;
    if (!CurveRegistry::lookupCurveId(db, name, &id, &error)) {
        qWarning().noquote() << "[获取分片表] 曲线" << name << "读取曲线表失败：" << error;
        return -2;
    }
    return id;
}

} // namespace

StoredCurveCursor::StoredCurveCursor(CurveDataDB *store, const QString &curveName, qint64 start,
                                     qint64 end, Order order)
    : store(store)
    , curveName(curveName)
    , start(start)
    , end(end)
    , order(order)
{
    if (!store || end < start)
        return;
    collectTables();
    if (tables.empty()) {
        qWarning().noquote() << "[Cursor初始化] 曲线" << curveName << "未获取到任何分片表";
        return;
    }
    onRow = openNextTable();
}

StoredCurveCursor::~StoredCurveCursor()
{
    close();
}

void StoredCurveCursor::collectTables()
{
    const std::vector<DayFile> files = dayFilesOf(*store, start, end);
    if (files.empty()) {
        qWarning().noquote() << "[获取分片表] 曲线" << curveName << "时间范围内无有效数据库文件";
        return;
    }
    // One table per slice. A slice can have a copy in an earlier file too (samples stamped
    // ahead of the clock go to the file of the day they were written); the copy in the file of
    // the slice's own date is the one read.
    std::map<qint64, std::pair<Table, bool>> slices;
    for (const DayFile &file : files) {
        const QSharedPointer<QSqlDatabase> conn = store->getConnection(file.path);
        if (!conn || !conn->isOpen()) {
            qWarning().noquote() << "[获取分片表] 曲线" << curveName << "打开数据库" << file.path
                                 << "失败（openDb返回空）";
            complete = false;
            // Refused while the store is being cleared: whatever was found is stale.
            if (store->isClearing()) {
                slices.clear();
                break;
            }
            continue;
        }
        // Ids are per day file: the curve is found there by name.
        const int id = curveIdIn(*conn, curveName);
        if (id == -2)
            complete = false;
        if (id >= 0) {
            for (const DBBatchInfo &batch :
                 CurveRegistry::batchesInRange(*conn, id, start, end)) {
                const bool ownDay = localDateOf(batch.batchStart) == file.date;
                const Table table{file.path, batch.tableName, id, batch.batchStart, batch.batchEnd};
                const auto found = slices.find(batch.batchStart);
                if (found == slices.end())
                    slices.emplace(batch.batchStart, std::make_pair(table, ownDay));
                else if (ownDay && !found->second.second)
                    found->second = std::make_pair(table, ownDay);
            }
        }
        touch(file.path);
    }
    tables.reserve(slices.size());
    for (const auto &slice : slices)
        tables.push_back(slice.second.first);
}

QStringList StoredCurveCursor::tableNames() const
{
    QStringList names;
    for (const Table &table : tables)
        names.append(table.name);
    return names;
}

QString StoredCurveCursor::currentFile() const
{
    return connection && connection->isOpen() ? connection->databaseName() : QString();
}

bool StoredCurveCursor::openNextTable()
{
    // One table per turn; a table that fails or has no row in the range is skipped for good,
    // so the loop ends after at most tables.size() turns.
    while (nextTable < tables.size()) {
        ++nextTable;
        if (openTable(nextTable - 1))
            return true;
    }
    if (!following)
        qDebug().noquote() << "[初始化查询] 曲线" << curveName << "所有分片表已处理完毕";
    return false;
}

bool StoredCurveCursor::openTable(size_t index)
{
    releaseQuery();
    const Table &table = tables[index];
    if (following && order == Order::Time && prepared[index]) {
        // The statement prepared at an earlier seek, run again from the new start, as long as
        // the pool has not closed its connection meanwhile (a close request is settled by the
        // touch).
        std::unique_ptr<TrackedQuery> again = std::move(prepared[index]);
        touch(table.path);
        if (connection && connection->isOpen() &&
            connection->connectionName() == again->connectionName() &&
            connection->databaseName() == table.path) {
            query = std::move(again);
            queryTable = index;
            query->bindValue(0, start);
            query->bindValue(1, end);
            if (query->exec())
                return loadFirstRow(table);
            qWarning().noquote() << "[初始化查询] SQL执行失败：" << query->lastError().text();
            complete = false;
            releaseQuery();
            return false;
        }
    }
    connection = store->getConnection(table.path);
    if (!connection || !connection->isOpen()) {
        qWarning().noquote() << "[初始化查询] 打开数据库" << table.path << "失败";
        connection.reset();
        complete = false;
        return false;
    }
    // In stored order a table wholly inside the range is read without its index: the fastest
    // way through all of its rows.
    const bool whole = order == Order::Stored && table.batchStart >= start && table.batchEnd <= end;
    QString sql =
        QStringLiteral("SELECT timestamp, value FROM %1%2 WHERE curve_id = %3")
            .arg(quotedTable(table.name), whole ? QStringLiteral(" NOT INDEXED") : QString(),
                 QString::number(table.fileCurveId));
    if (!whole)
        sql += QStringLiteral(" AND timestamp BETWEEN ? AND ?");
    if (order == Order::Time)
        sql += QStringLiteral(" ORDER BY timestamp ASC");
    query = std::make_unique<TrackedQuery>(*connection);
    queryTable = index;
    query->setForwardOnly(true);
    bool ok = query->prepare(sql);
    if (ok) {
        if (!whole) {
            query->addBindValue(start);
            query->addBindValue(end);
        }
        ok = query->exec();
    }
    if (!ok) {
        qWarning().noquote() << "[初始化查询] SQL执行失败：" << query->lastError().text();
        complete = false;
        releaseQuery();
        touch(table.path);
        return false;
    }
    return loadFirstRow(table);
}

bool StoredCurveCursor::loadFirstRow(const Table &table)
{
    if (query->next()) {
        rowTime = query->value(0).toLongLong();
        rowValue = query->value(1).toDouble();
#ifdef DATALOGGER_STORE_STEP_SQLITE
        // Qt's row cache costs more than the stepping itself on long tables; the rows after
        // the first are read from the driver's statement (Qt has stepped it onto the first).
        const QVariant handle = query->result()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3_stmt*") == 0)
            statement = *static_cast<sqlite3_stmt *const *>(handle.constData());
#endif
        return true;
    }
    if (query->lastError().isValid()) {
        qWarning().noquote() << "[初始化查询] 读取分片表" << table.name << "失败："
                             << query->lastError().text();
        complete = false;
    } else if (!following) {
        qWarning().noquote() << "[初始化查询] 分片表" << table.name
                             << "无匹配数据（时间范围/曲线ID过滤后为空）";
    }
    releaseQuery();
    touch(table.path);
    return false;
}

bool StoredCurveCursor::loadRow()
{
#ifdef DATALOGGER_STORE_STEP_SQLITE
    if (statement) {
        const int step = sqlite3_step(statement);
        if (step == SQLITE_ROW) {
            rowTime = sqlite3_column_int64(statement, 0);
            rowValue = sqlite3_column_double(statement, 1);
            return true;
        }
        if (step != SQLITE_DONE) {
            qWarning().noquote() << "[获取数据] 曲线" << curveName << "读取分片表失败："
                                 << sqlite3_errmsg(sqlite3_db_handle(statement));
            complete = false;
        }
        // Never stepped again after the end: a finished statement would start over.
        statement = nullptr;
        return false;
    }
#endif
    if (!query->next()) {
        if (query->lastError().isValid()) {
            qWarning().noquote() << "[获取数据] 曲线" << curveName << "读取分片表失败："
                                 << query->lastError().text();
            complete = false;
        }
        return false;
    }
    rowTime = query->value(0).toLongLong();
    rowValue = query->value(1).toDouble();
    return true;
}

bool StoredCurveCursor::advance()
{
    if (!query && nextTable >= tables.size()) {
        // Exhausted before: nothing left to read or to report.
        onRow = false;
        return false;
    }
    if (query && query->isActive()) {
        if (loadRow()) {
            onRow = true;
            return true;
        }
        if (connection && connection->isOpen())
            touch(connection->databaseName());
        // Let go of the finished statement at once: stepped again it would start over.
        releaseQuery();
        onRow = openNextTable();
        return onRow;
    }
    if (query) {
        // The pool closed the connection under the statement: the rest of that table is lost.
        qDebug().noquote() << "[获取数据] 查询已失效，切换到下一个分片表";
        complete = false;
    }
    releaseQuery();
    onRow = openNextTable();
    return onRow;
}

bool StoredCurveCursor::runOnTable(const Table &table, const QString &sql,
                                   const QVariantList &binds,
                                   const std::function<void(const QSqlQuery &)> &useRow)
{
    const QSharedPointer<QSqlDatabase> conn = store->getConnection(table.path);
    if (!conn || !conn->isOpen()) {
        complete = false;
        return false;
    }
    TrackedQuery query(*conn);
    query.setForwardOnly(true);
    // The name last: nothing in it is taken for a place holder.
    QString text = sql;
    text.replace(QLatin1String("%2"), QString::number(table.fileCurveId))
        .replace(QLatin1String("%1"), quotedTable(table.name));
    bool ok = query.prepare(text);
    if (ok) {
        for (const QVariant &value : binds)
            query.addBindValue(value);
        ok = query.exec() && query.next();
    }
    if (ok)
        useRow(query);
    else
        qWarning().noquote() << "[读取分片表] 分片表" << table.name << "查询失败："
                             << query.lastError().text();
    complete = complete && ok;
    touch(table.path);
    return ok;
}

bool StoredCurveCursor::extent(qint64 *first, qint64 *last)
{
    bool any = false;
    qint64 lowest = 0;
    qint64 highest = 0;
    // Two sub-queries, so that each is answered from the (curve_id, timestamp) index alone.
    const QString sql =
        QStringLiteral("SELECT (SELECT MIN(timestamp) FROM %1 WHERE curve_id = %2 AND "
                       "timestamp BETWEEN ? AND ?), (SELECT MAX(timestamp) FROM %1 WHERE "
                       "curve_id = %2 AND timestamp BETWEEN ? AND ?)");
    for (const Table &table : tables) {
        runOnTable(table, sql, {start, end, start, end}, [&](const QSqlQuery &row) {
            if (row.value(0).isNull() || row.value(1).isNull())
                return;
            const qint64 low = row.value(0).toLongLong();
            const qint64 high = row.value(1).toLongLong();
            lowest = any ? qMin(lowest, low) : low;
            highest = any ? qMax(highest, high) : high;
            any = true;
        });
    }
    if (any) {
        *first = lowest;
        *last = highest;
    }
    return any;
}

qint64 StoredCurveCursor::rowCount()
{
    // Whether the table holds nothing but this curve's rows, and all of them inside the range:
    // four look-ups in the (curve_id, timestamp) index.
    const QString probe =
        QStringLiteral("SELECT (SELECT MIN(curve_id) FROM %1), (SELECT MAX(curve_id) FROM %1), "
                       "(SELECT MIN(timestamp) FROM %1 WHERE curve_id = %2), "
                       "(SELECT MAX(timestamp) FROM %1 WHERE curve_id = %2)");
    // SQLite counts a table without a condition from its b-tree's pages, without a row.
    const QString countAll = QStringLiteral("SELECT COUNT(*) FROM %1");
    const QString countRange =
        QStringLiteral("SELECT COUNT(*) FROM %1 WHERE curve_id = %2 AND timestamp BETWEEN ? AND ?");
    qint64 total = 0;
    for (const Table &table : tables) {
        bool empty = false;
        bool whole = false;
        if (!runOnTable(table, probe, {}, [&](const QSqlQuery &row) {
                empty = row.value(2).isNull();
                whole = !empty && row.value(0).toInt() == table.fileCurveId &&
                        row.value(1).toInt() == table.fileCurveId &&
                        row.value(2).toLongLong() >= start && row.value(3).toLongLong() <= end;
            }))
            return -1;
        if (empty)
            continue;
        const auto add = [&total](const QSqlQuery &row) { total += row.value(0).toLongLong(); };
        if (!(whole ? runOnTable(table, countAll, {}, add)
                    : runOnTable(table, countRange, {start, end}, add)))
            return -1;
    }
    return total;
}

void StoredCurveCursor::releaseQuery()
{
    statement = nullptr;
    if (!query)
        return;
    if (query->isActive())
        query->finish();
    if (following && queryTable < prepared.size())
        prepared[queryTable] = std::move(query);
    query.reset();
}

bool StoredCurveCursor::seek(qint64 from, bool relist)
{
    following = true;
    releaseQuery();
    onRow = false;
    complete = true;
    start = from;
    if (!store || end < start)
        return false;
    if (relist) {
        // The statements belong to the tables they were prepared on.
        connection.reset();
        prepared.clear();
        tables.clear();
        collectTables();
    }
    prepared.resize(tables.size());
    // Slices wholly before from hold nothing after it.
    nextTable = 0;
    while (nextTable < tables.size() && tables[nextTable].batchEnd < start)
        ++nextTable;
    onRow = openNextTable();
    return onRow;
}

void StoredCurveCursor::pause()
{
    releaseQuery();
    onRow = false;
}

qint64 StoredCurveCursor::listedUntil() const
{
    return tables.empty() ? std::numeric_limits<qint64>::min() : tables.back().batchEnd;
}

bool StoredCurveCursor::tally(qint64 from, qint64 *rows, qint64 *newestTime, double *newestValue)
{
    // The count and the newest time stamp from the (curve_id, timestamp) index alone; the
    // newest row's value is one lookup more.
    const QString countSql = QStringLiteral("SELECT COUNT(*), MAX(timestamp) FROM %1 WHERE "
                                            "curve_id = %2 AND timestamp BETWEEN ? AND ?");
    const QString valueSql =
        QStringLiteral("SELECT value FROM %1 WHERE curve_id = %2 AND timestamp = ?");
    // A count that fails says nothing about the rows this cursor reads.
    const bool readComplete = complete;
    bool ok = true;
    *rows = 0;
    for (const Table &table : tables) {
        if (table.batchEnd < from)
            continue;
        qint64 count = 0;
        qint64 newest = 0;
        if (!runOnTable(table, countSql, {from, end}, [&](const QSqlQuery &row) {
                count = row.value(0).toLongLong();
                newest = row.value(1).toLongLong();
            })) {
            ok = false;
            continue;
        }
        if (count == 0)
            continue;
        *rows += count;
        ok = runOnTable(table, valueSql, {newest},
                        [&](const QSqlQuery &row) {
                            *newestTime = newest;
                            *newestValue = row.value(0).toDouble();
                        }) &&
             ok;
    }
    complete = readComplete;
    return ok;
}

void StoredCurveCursor::close()
{
    releaseQuery();
    if (connection && connection->isOpen())
        touch(connection->databaseName());
    connection.reset();
    onRow = false;
}
