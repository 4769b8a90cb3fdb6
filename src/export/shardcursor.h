// Forward-only reader of one stored curve over a time range: collects the curve's batch tables
// in the day files of the range, then walks them in name (= time) order with one open query.
#pragma once

#include <QSharedPointer>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <memory>

class CurveDataDB;
class TrackedQuery;
struct sqlite3_stmt;

class ShardCursor
{
public:
    // Collects the tables and stands on the first row of the range, if there is one. Cursors
    // are used on one thread only: the connections they take from the store belong to it.
    ShardCursor(int curveId, CurveDataDB *store, qint64 startTime, qint64 endTime);
    ~ShardCursor();

    ShardCursor(const ShardCursor &) = delete;
    ShardCursor &operator=(const ShardCursor &) = delete;

    // Names of the curve's batch tables touching the range, ascending, without duplicates.
    QStringList collectTables();
    // Opens the next table that has a row in the range and loads that row; false when no
    // table is left.
    bool openNextTable();
    // Moves to the next row, crossing into the next table when needed; sets and returns hasRow.
    bool advance();
    // Lets go of the query and the connection; the connection stays pooled.
    void close();

    int curveId;
    QSharedPointer<QSqlDatabase> connection;
    std::unique_ptr<TrackedQuery> query;
    bool hasRow = false;
    qint64 timestamp = 0;
    double value = 0.0;
    QStringList tables;
    int nextTableIndex = 0;
    qint64 startTime;
    qint64 endTime;
    CurveDataDB *store;

private:
    // The day file that holds table, or empty; runs the lookup by date and then the fallback.
    QString databaseOfTable(const QString &table);
    QString fallbackDatabaseOfTable(const QString &table);
    // Runs the row query on the table in dbPath; true when it stands on a first row.
    bool openTableIn(const QString &table, const QString &dbPath);
    void releaseQuery();
    bool loadRow();

    // The statement of query, stepped directly for the rows after the first (null when the
    // driver's statement cannot be reached). Owned by query: used only while query is active,
    // which the pool's closing of the connection ends first.
    sqlite3_stmt *statement = nullptr;
};
