#include "storedcurvereader.h"

#include "columnreducer.h"
#include "connectionpool.h"
#include "curvedatadb.h"
#include "storeschema.h"
#include "trackedquery.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QVariant>

#ifdef DATALOGGER_PLOT_STEP_SQLITE
#include <sqlite3.h>
#endif

#include <limits>

namespace {

// Rows between two looks at whether the read is still wanted.
constexpr qint64 abandonCheckRows = 16384;

QString quotedTable(const QString &name)
{
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

#ifdef DATALOGGER_PLOT_STEP_SQLITE
sqlite3 *sqliteHandleOf(const QSqlDatabase &db)
{
    if (!db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}
#endif

} // namespace

StoredCurveReader::StoredCurveReader(CurveDataDB *store)
    : store(store)
{
}

QStringList StoredCurveReader::dayFilesFor(qint64 start, qint64 end) const
{
    QStringList files;
    if (!store)
        return files;
    // A sample belongs to the file of its local date; one day of slack on each side covers the
    // hour a daylight-saving change moves midnight.
    QDate first = localDateOf(start);
    QDate last = localDateOf(end);
    if (first.isValid())
        first = first.addDays(-1);
    if (last.isValid())
        last = last.addDays(1);
    static const QRegularExpression dayFile(QStringLiteral("^(\\d{8})\\.db$"));
    const QDir dir(store->dataDirectory());
    const QStringList names =
        dir.entryList({QStringLiteral("*.db")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = dayFile.match(name);
        if (!match.hasMatch())
            continue;
        const QDate date = QDate::fromString(match.captured(1), QStringLiteral("yyyyMMdd"));
        if (!date.isValid())
            continue;
        if ((first.isValid() && date < first) || (last.isValid() && date > last))
            continue;
        files.append(dir.filePath(name));
    }
    return files;
}

bool StoredCurveReader::openFile(const QString &path, QSqlDatabase *db)
{
    const QSharedPointer<QSqlDatabase> connection = store->getConnection(path);
    if (!connection || !connection->isOpen())
        return false;
    *db = *connection;
    return true;
}

TrendReduction StoredCurveReader::read(const TrendRequest &request, const AbandonCheck &abandoned)
{
    TrendReduction result;
    result.wholeRecording = request.wholeRecording;
    result.columns = qBound(1, request.columns, ColumnReducer::maxColumns);
    result.curves.resize(request.curveNames.size());
    for (int i = 0; i < request.curveNames.size(); ++i)
        result.curves[i].name = request.curveNames.at(i);
    if (!store)
        return result;
    if (QThread::currentThread() == store->thread()) {
        // Closing this thread's connections at the end would close the store's own.
        qWarning().noquote() << "曲线回读不能在数据库线程中运行";
        return result;
    }

    qint64 start = request.start;
    qint64 end = request.end;
    if (request.wholeRecording) {
        start = std::numeric_limits<qint64>::min();
        end = std::numeric_limits<qint64>::max();
    }
    if (end < start) {
        result.complete = true;
        return result;
    }

    bool complete = true;
    std::vector<Table> tables;
    if (!collectTables(request, start, end, tables))
        complete = false;
    if (request.wholeRecording && !extentOf(tables, &start, &end)) {
        // Nothing stored: an empty span and an empty, complete answer.
        tables.clear();
        start = 0;
        end = -1;
    }

    std::vector<ColumnReducer> reducers(size_t(request.curveNames.size()));
    for (ColumnReducer &reducer : reducers)
        reducer.reset(start, end, result.columns);
    for (const Table &table : tables) {
        if (abandoned && abandoned()) {
            complete = false;
            break;
        }
        if (!reduceTable(table, reducers[size_t(table.curve)], &result.rowsRead, abandoned))
            complete = false;
    }
    ConnectionPool::instance()->releaseThreadConnections();

    result.start = start;
    result.end = end;
    for (size_t i = 0; i < reducers.size(); ++i) {
        CurveReduction &curve = result.curves[int(i)];
        curve.points = reducers[i].points();
        curve.samples = reducers[i].sampleCount();
        curve.minimum = reducers[i].minimum();
        curve.maximum = reducers[i].maximum();
    }
    result.complete = complete;
    return result;
}

bool StoredCurveReader::collectTables(const TrendRequest &request, qint64 start, qint64 end,
                                      std::vector<Table> &tables)
{
    bool complete = true;
    const QStringList files = dayFilesFor(start, end);
    for (const QString &path : files) {
        QSqlDatabase db;
        if (!openFile(path, &db)) {
            // Refused while the store is being cleared: whatever was found is stale.
            if (store->isClearing()) {
                tables.clear();
                return false;
            }
            qWarning().noquote() << "曲线回读打开数据库失败:" << path;
            complete = false;
            continue;
        }
        // Ids are per day file: the curves are found there by name.
        QHash<QString, int> ids;
        {
            TrackedQuery names(db);
            names.setForwardOnly(true);
            if (!names.exec(QString::fromLatin1(StoreSql::selectCurveNames))) {
                qWarning().noquote()
                    << "曲线回读读取曲线表失败:" << path << names.lastError().text();
                complete = false;
                continue;
            }
            while (names.next())
                ids.insert(names.value(1).toString(), names.value(0).toInt());
        }
        for (int curve = 0; curve < request.curveNames.size(); ++curve) {
            const auto id = ids.constFind(request.curveNames.at(curve));
            if (id == ids.constEnd())
                continue;
            for (const DBBatchInfo &batch : store->queryBatches(*id, start, end, db))
                tables.push_back(
                    {curve, *id, path, batch.tableName, batch.batchStart, batch.batchEnd});
        }
    }
    return complete;
}

bool StoredCurveReader::extentOf(const std::vector<Table> &tables, qint64 *first, qint64 *last)
{
    bool any = false;
    qint64 lowest = 0;
    qint64 highest = 0;
    for (const Table &table : tables) {
        QSqlDatabase db;
        if (!openFile(table.path, &db))
            continue;
        // Two sub-queries, so that each is answered from the (curve_id, timestamp) index alone.
        const QString sql =
            QStringLiteral("SELECT (SELECT MIN(timestamp) FROM %1 WHERE curve_id = %2), "
                           "(SELECT MAX(timestamp) FROM %1 WHERE curve_id = %2)")
                .arg(quotedTable(table.name))
                .arg(table.fileId);
        TrackedQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(sql) || !query.next()) {
            qWarning().noquote() << "曲线回读读取分片表范围失败:" << table.name
                                 << query.lastError().text();
            continue;
        }
        if (query.value(0).isNull() || query.value(1).isNull())
            continue;
        const qint64 low = query.value(0).toLongLong();
        const qint64 high = query.value(1).toLongLong();
        lowest = any ? qMin(lowest, low) : low;
        highest = any ? qMax(highest, high) : high;
        any = true;
    }
    if (any) {
        *first = lowest;
        *last = highest;
    }
    return any;
}

bool StoredCurveReader::reduceTable(const Table &table, ColumnReducer &reducer, qint64 *rows,
                                    const AbandonCheck &abandoned)
{
    QSqlDatabase db;
    if (!openFile(table.path, &db))
        return false;
    // A table wholly inside the span is read front to back without its index: the fastest way
    // through all of its rows, and the reducer does not care about their order.
    const bool whole = table.batchStart >= reducer.start() && table.batchEnd <= reducer.end();
    const QString sql =
        whole ? QStringLiteral("SELECT timestamp, value FROM %1 NOT INDEXED WHERE curve_id = %2")
                    .arg(quotedTable(table.name))
                    .arg(table.fileId)
              : QStringLiteral("SELECT timestamp, value FROM %1 WHERE curve_id = %2 AND "
                               "timestamp BETWEEN %3 AND %4")
                    .arg(quotedTable(table.name))
                    .arg(table.fileId)
                    .arg(reducer.start())
                    .arg(reducer.end());
    qint64 count = 0;
    bool stopped = false;

#ifdef DATALOGGER_PLOT_STEP_SQLITE
    if (sqlite3 *handle = sqliteHandleOf(db)) {
        sqlite3_stmt *statement = nullptr;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(handle, text.constData(), int(text.size()), &statement, nullptr) !=
            SQLITE_OK) {
            qWarning().noquote() << "曲线回读查询分片表失败:" << table.name
                                 << sqlite3_errmsg(handle);
            sqlite3_finalize(statement);
            return false;
        }
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            reducer.add(sqlite3_column_int64(statement, 0), sqlite3_column_double(statement, 1));
            if (++count % abandonCheckRows == 0 && abandoned && abandoned()) {
                stopped = true;
                break;
            }
        }
        const bool failed = !stopped && step != SQLITE_DONE;
        if (failed)
            qWarning().noquote() << "曲线回读读取分片表失败:" << table.name
                                 << sqlite3_errmsg(handle);
        sqlite3_finalize(statement);
        *rows += count;
        return !failed && !stopped;
    }
#endif

    TrackedQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql)) {
        qWarning().noquote() << "曲线回读查询分片表失败:" << table.name << query.lastError().text();
        return false;
    }
    while (query.next()) {
        reducer.add(query.value(0).toLongLong(), query.value(1).toDouble());
        if (++count % abandonCheckRows == 0 && abandoned && abandoned()) {
            stopped = true;
            break;
        }
    }
    *rows += count;
    return !stopped;
}
