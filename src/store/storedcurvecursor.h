// Forward-only reader of one stored curve over a time range: finds the curve by name in the day
// files that may hold the range, lists its batch tables (one copy of each six-hour slice) and
// steps through their rows table after table. What the export and the plot read back through.
#pragma once

#include <QSharedPointer>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

class CurveDataDB;
class QSqlQuery;
class TrackedQuery;
struct sqlite3_stmt;

class StoredCurveCursor
{
public:
    enum class Order
    {
        // Ascending time stamps, through the (curve_id, timestamp) index.
        Time,
        // Table after table in slice order, the rows of a table as they are stored; a table
        // wholly inside the range is read front to back without its index.
        Stored
    };

    // Lists the tables and stands on the first row of the range, if there is one. A cursor is
    // used on one thread only: the connections it takes from the store's pool belong to that
    // thread, which hands them back (a StoreReaderScope) when it is done.
    StoredCurveCursor(CurveDataDB *store, const QString &curveName, qint64 start, qint64 end,
                      Order order = Order::Time);
    ~StoredCurveCursor();

    StoredCurveCursor(const StoredCurveCursor &) = delete;
    StoredCurveCursor &operator=(const StoredCurveCursor &) = delete;

    bool hasRow() const { return onRow; }
    qint64 timestamp() const { return rowTime; }
    double value() const { return rowValue; }
    // Moves to the next row, crossing into the next table when needed; returns hasRow().
    bool advance();

    // Lowest and highest time stamp inside the range over all of the curve's tables, whatever
    // has been read; false when they hold none.
    bool extent(qint64 *first, qint64 *last);
    // Rows of the curve inside the range over all of its tables, whatever has been read; -1
    // when a table could not be counted. A table whose rows all lie inside the range is
    // counted from its b-tree without reading a row; only the tables at the ends of the range
    // are stepped through their index.
    qint64 rowCount();

    // False once a day file or a table of the range could not be read (the store being cleared,
    // a damaged file, a statement closed under the cursor): the rows are then not all there are.
    bool isComplete() const { return complete; }
    // The tables in reading order.
    QStringList tableNames() const;
    // The day file being read; empty when none is.
    QString currentFile() const;
    // Lets go of the statement; the connections stay pooled.
    void close();

    // For a reader following a recording as it is written: stands on the first row at or after
    // from (within the range's end), reusing the tables found before and the statements
    // prepared on them; with relist the tables are looked up again first (the recording gains
    // a table with each new slice). A table without rows after from is passed over quietly.
    bool seek(qint64 from, bool relist);
    // Lets go of the statement without forgetting the prepared ones, so that no read of the
    // day files stays open until the next seek.
    void pause();
    // Rows from `from` to the range's end in the tables found, counted through the index, and
    // the newest of them; false when a table could not be read (count then incomplete).
    bool tally(qint64 from, qint64 *rows, qint64 *newestTime, double *newestValue);
    // The end of the newest slice found; the lowest possible time when none was.
    qint64 listedUntil() const;

private:
    struct Table
    {
        QString path;
        QString name;
        int fileCurveId; // the curve's id in that day file
        qint64 batchStart;
        qint64 batchEnd;
    };

    void collectTables();
    // Opens the next table that has a row in the range and loads that row; false when no table
    // is left.
    bool openNextTable();
    bool openTable(size_t index);
    // Loads the first row of the statement just run on table.
    bool loadFirstRow(const Table &table);
    bool loadRow();
    void releaseQuery();
    // Runs sql on the table's day file, %1 being the quoted table name and %2 the curve's id
    // in that file, with the values bound in turn, and hands its one row to useRow; false
    // (logged, the cursor then incomplete) when the table could not be read.
    bool runOnTable(const Table &table, const QString &sql, const QVariantList &binds,
                    const std::function<void(const QSqlQuery &)> &useRow);

    CurveDataDB *const store;
    const QString curveName;
    qint64 start;
    const qint64 end;
    const Order order;

    std::vector<Table> tables;
    size_t nextTable = 0;
    QSharedPointer<QSqlDatabase> connection;
    std::unique_ptr<TrackedQuery> query;
    // Following (after a seek): the statement of each table kept prepared, by table index, and
    // the index of the table query belongs to.
    bool following = false;
    std::vector<std::unique_ptr<TrackedQuery>> prepared;
    size_t queryTable = 0;
    // The statement of query, stepped directly for the rows after the first (null when the
    // driver's statement cannot be reached). Owned by query: used only while query is active,
    // which the pool's closing of the connection ends first.
    sqlite3_stmt *statement = nullptr;
    bool onRow = false;
    qint64 rowTime = 0;
    double rowValue = 0.0;
    bool complete = true;
};
