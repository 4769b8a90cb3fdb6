// What a day file says about its curves, read one way by the store's writer and by the cursors
// that read stored curves back: a curve's id by name (curve_info), the curves' extremes
// (curve_metadata) and a curve's batch tables (batch_metadata). Each function runs the store's
// own statement on a connection of the calling thread.
#pragma once

#include "dbtypes.h"

#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>

class QSqlQuery;

namespace CurveRegistry {

// The id name has in the file of db, -1 when it is not registered there. False, with the
// driver's text in error, when the lookup itself failed (a missing table, a busy file).
bool lookupCurveId(const QSqlDatabase &db, const QString &name, int *curveId, QString *error);

// Every curve_metadata row of the file, by the file's curve id; empty when none could be read.
QMap<int, DBCurveMetadata> readCurveMetadata(const QSqlDatabase &db);

// The batch of a batch_metadata row selected as (curve_id, batch_start, batch_end, table_name).
DBBatchInfo batchOfRow(const QSqlQuery &row);

// The batch tables of curveId (its id in this file) overlapping [start, end]; empty (logged)
// when db does not answer or the lookup failed.
QList<DBBatchInfo> batchesInRange(const QSqlDatabase &db, int curveId, qint64 start, qint64 end);

} // namespace CurveRegistry
