// Reads stored curves back from the day files over a time span and reduces them per pixel
// column. Runs on the calling thread, which must not be the store's own: it reads through
// connections of its own and closes all of them before it returns.
#pragma once

#include "trendreduction.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class ColumnReducer;
class CurveDataDB;
class QSqlDatabase;

class StoredCurveReader
{
public:
    // Asked now and then while rows are read; true ends the read early (incomplete result).
    using AbandonCheck = std::function<bool()>;

    explicit StoredCurveReader(CurveDataDB *store);

    TrendReduction read(const TrendRequest &request, const AbandonCheck &abandoned = {});

    // Day files of the store whose local date may hold samples of [start, end], in date order.
    QStringList dayFilesFor(qint64 start, qint64 end) const;

private:
    struct Table
    {
        int curve;  // index into the request's names
        int fileId; // the curve's id in that day file
        QString path;
        QString name;
        qint64 batchStart;
        qint64 batchEnd;
    };

    bool collectTables(const TrendRequest &request, qint64 start, qint64 end,
                       std::vector<Table> &tables);
    // First and last time stamp of the tables' rows; false when they hold none.
    bool extentOf(const std::vector<Table> &tables, qint64 *first, qint64 *last);
    // Feeds the table's rows inside the reducer's span into it; false when the table could not
    // be read or the read was abandoned.
    bool reduceTable(const Table &table, ColumnReducer &reducer, qint64 *rows,
                     const AbandonCheck &abandoned);
    bool openFile(const QString &path, QSqlDatabase *db);

    CurveDataDB *store;
};
