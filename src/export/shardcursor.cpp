#include "shardcursor.h"

#include "connectionpool.h"
#include "curvedatadb.h"
#include "trackedquery.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlResult>
#include <QVariant>

#ifdef DATALOGGER_EXPORT_STEP_SQLITE
#include <sqlite3.h>
#endif

#include <limits>

namespace {

constexpr qint64 dayMs = 86400000;

void appendOnce(QStringList &list, const QString &item)
{
    if (!list.contains(item))
        list.append(item);
}

bool fileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

void touch(const QString &path)
{
    ConnectionPool::instance()->touchConnection(path);
}

// Identifiers in the row query are quoted with backticks; a backtick inside is doubled so
// that no table name read from a day file can end the quoting early.
QString quotedTableName(const QString &table)
{
    QString quoted = table;
    quoted.replace(QLatin1Char('`'), QLatin1String("``"));
    return QLatin1Char('`') + quoted + QLatin1Char('`');
}

} // namespace

ShardCursor::ShardCursor(int curveId, CurveDataDB *store, qint64 startTime, qint64 endTime)
    : curveId(curveId)
    , startTime(startTime)
    , endTime(endTime)
    , store(store)
{
    tables = collectTables();
    if (tables.isEmpty()) {
        qWarning().noquote() << "[Cursor初始化] 曲线" << curveId << "未获取到任何分片表";
        hasRow = false;
        return;
    }
    hasRow = openNextTable();
}

ShardCursor::~ShardCursor()
{
    close();
}

QStringList ShardCursor::collectTables()
{
    QStringList names;
    if (!store)
        return names;

    const QDate startDate = QDateTime::fromMSecsSinceEpoch(startTime).date();
    const QDate endDate = QDateTime::fromMSecsSinceEpoch(endTime).date();
    QStringList files; // insertion order, no duplicates
    if (startDate.isValid() && endDate.isValid()) {
        for (QDate d = startDate; d <= endDate; d = d.addDays(1)) {
            const QString path = store->dbPathForDate(d.toString(QStringLiteral("yyyyMMdd")));
            if (QFileInfo::exists(path))
                appendOnce(files, path);
            else
                qDebug().noquote() << "[获取分片表] 曲线" << curveId << "数据库不存在：" << path;
        }
    }
    for (const qint64 t : {startTime, endTime}) {
        const QString path = store->dbPathForTime(t);
        if (fileExists(path))
            appendOnce(files, path);
    }
    if (files.isEmpty()) {
        qWarning().noquote() << "[获取分片表] 曲线" << curveId << "时间范围内无有效数据库文件";
        return names;
    }

    for (const QString &path : qAsConst(files)) {
        QSharedPointer<QSqlDatabase> conn = store->getConnection(path);
        if (!conn) {
            qWarning().noquote() << "[获取分片表] 曲线" << curveId << "打开数据库" << path
                                 << "失败（openDb返回空）";
            continue;
        }
        if (!conn->isOpen()) {
            qWarning().noquote() << "[获取分片表] 曲线" << curveId << "数据库" << path << "未打开";
            continue;
        }
        const QList<DBBatchInfo> batches = store->queryBatches(curveId, startTime, endTime, *conn);
        if (batches.isEmpty()) {
            qDebug().noquote() << "[获取分片表] 曲线" << curveId << "数据库" << path
                               << "中无匹配的分片表（时间范围/曲线ID不匹配）";
        } else {
            for (const DBBatchInfo &batch : batches)
                appendOnce(names, batch.tableName);
        }
        touch(path);
    }
    // Plain code-unit order: the names differ only in the slice's date and time, so this is
    // time order for one curve.
    std::sort(names.begin(), names.end());
    return names;
}

bool ShardCursor::openNextTable()
{
    // One table per turn; a table that fails or has no row in the range is skipped for good,
    // so the loop ends after at most tables.size() turns.
    while (true) {
        if (nextTableIndex >= tables.size()) {
            qDebug().noquote() << "[初始化查询] 曲线" << curveId << "所有分片表已处理完毕";
            return false;
        }
        const QString name = tables.at(nextTableIndex);
        ++nextTableIndex;

        const QString dbPath = databaseOfTable(name);
        if (fileExists(dbPath)) {
            if (openTableIn(name, dbPath))
                return true;
        } else {
            qWarning().noquote() << "[初始化查询] 未找到分片表" << name << "对应的数据库，跳过该表";
        }
    }
}

QString ShardCursor::databaseOfTable(const QString &table)
{
    static const QRegularExpression dateRun(QStringLiteral("(\\d{8})"));
    const QRegularExpressionMatch match = dateRun.match(table);
    if (!match.hasMatch()) {
        qWarning().noquote() << "[初始化查询] 分片表" << table << "未提取到日期，启动兜底方案";
        return fallbackDatabaseOfTable(table);
    }
    const QString dateKey = match.captured(1);
    const QDate date = QDate::fromString(dateKey, QStringLiteral("yyyyMMdd"));
    QString dbPath;
    if (date.isValid())
        dbPath = store->dbPathForTime(QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch());
    if (fileExists(dbPath))
        return dbPath;
    qWarning().noquote() << "[初始化查询] 日期" << dateKey << "对应的数据库" << dbPath
                         << "不存在，启动兜底方案";
    const QString found = fallbackDatabaseOfTable(table);
    // Nothing found: the derived path stands, and the caller sees that it does not exist.
    return found.isEmpty() ? dbPath : found;
}

QString ShardCursor::fallbackDatabaseOfTable(const QString &table)
{
    // One sample per day of the range, from its start; a range ending earlier in the day than
    // it starts leaves its last day unsampled.
    QStringList files;
    const QString todayPath = store->dbPathForTime(std::numeric_limits<qint64>::max());
    for (qint64 t = startTime; t <= endTime;) {
        const QString path = store->dbPathForTime(t);
        if (fileExists(path))
            appendOnce(files, path);
        // Times after now map to today's file: once there, every later day maps there too.
        if (path == todayPath)
            break;
        if (t > std::numeric_limits<qint64>::max() - dayMs)
            break;
        t += dayMs;
    }

    QString escaped = table;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    const QString sql = QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND "
                                       "name='%1'")
                            .arg(escaped);
    for (const QString &path : qAsConst(files)) {
        const QSharedPointer<QSqlDatabase> conn = store->getConnection(path);
        if (!conn || !conn->isOpen())
            continue;
        bool found = false;
        {
            TrackedQuery check(*conn);
            check.setForwardOnly(true);
            if (!check.exec(sql)) {
                qWarning().noquote() << "[初始化查询] 检查表" << table << "是否存在失败："
                                     << check.lastError().text();
                touch(path);
                continue;
            }
            found = check.next();
        }
        touch(path);
        if (found) {
            qDebug().noquote() << "[初始化查询] 兜底方案找到表" << table << "对应的数据库："
                               << path;
            return path;
        }
    }
    return QString();
}

bool ShardCursor::openTableIn(const QString &table, const QString &dbPath)
{
    releaseQuery();
    connection = store->getConnection(dbPath);
    if (!connection || !connection->isOpen()) {
        qWarning().noquote() << "[初始化查询] 打开数据库" << dbPath << "失败";
        connection.reset();
        return false;
    }
    const QString sql = QStringLiteral("SELECT timestamp, value FROM %1 WHERE curve_id = %2 AND "
                                       "timestamp BETWEEN ? AND ? ORDER BY timestamp ASC")
                            .arg(quotedTableName(table), QString::number(curveId));
    query = std::make_unique<TrackedQuery>(*connection);
    query->setForwardOnly(true);
    statement = nullptr;
    bool ok = query->prepare(sql);
    if (ok) {
        query->addBindValue(startTime);
        query->addBindValue(endTime);
        ok = query->exec();
    }
    if (!ok) {
        qWarning().noquote() << "[初始化查询] SQL执行失败：" << query->lastError().text();
        touch(dbPath);
        return false;
    }
    if (query->next()) {
        timestamp = query->value(0).toLongLong();
        value = query->value(1).toDouble();
#ifdef DATALOGGER_EXPORT_STEP_SQLITE
        // Qt's row cache costs more than the stepping itself on long tables; the rows after
        // the first are read from the driver's statement (Qt has stepped it onto the first).
        const QVariant handle = query->result()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3_stmt*") == 0)
            statement = *static_cast<sqlite3_stmt *const *>(handle.constData());
#endif
        return true;
    }
    qWarning().noquote() << "[初始化查询] 分片表" << table
                         << "无匹配数据（时间范围/曲线ID过滤后为空）";
    touch(dbPath);
    return false;
}

bool ShardCursor::loadRow()
{
#ifdef DATALOGGER_EXPORT_STEP_SQLITE
    if (statement) {
        // Never stepped again after the end: a finished statement would start over.
        if (sqlite3_step(statement) != SQLITE_ROW) {
            statement = nullptr;
            return false;
        }
        timestamp = sqlite3_column_int64(statement, 0);
        value = sqlite3_column_double(statement, 1);
        return true;
    }
#endif
    if (!query->next())
        return false;
    timestamp = query->value(0).toLongLong();
    value = query->value(1).toDouble();
    return true;
}

bool ShardCursor::advance()
{
    if (!query && nextTableIndex >= tables.size()) {
        // Exhausted before: nothing left to read or to report.
        hasRow = false;
        return false;
    }
    if (query && query->isActive()) {
        if (loadRow()) {
            hasRow = true;
            return true;
        }
        if (connection && connection->isOpen())
            touch(connection->databaseName());
        // Let go of the finished statement at once: stepped again it would start over.
        releaseQuery();
        hasRow = openNextTable();
        return hasRow;
    }
    qDebug().noquote() << "[获取数据] 查询已失效，切换到下一个分片表";
    hasRow = openNextTable();
    return hasRow;
}

void ShardCursor::releaseQuery()
{
    statement = nullptr;
    if (!query)
        return;
    if (query->isActive())
        query->finish();
    query.reset();
}

void ShardCursor::close()
{
    releaseQuery();
    if (connection && connection->isOpen())
        touch(connection->databaseName());
    connection.reset();
    hasRow = false;
}
