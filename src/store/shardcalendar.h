// Calendar arithmetic of the store: day keys of local dates, six-hour batches and their names.
// Pure functions of their arguments, the local time zone and (where stated) the store clock.
#ifndef DATALOGGER_SHARDCALENDAR_H
#define DATALOGGER_SHARDCALENDAR_H

#include <QString>
#include <QtGlobal>

// Length of one batch: a six-hour slice of a local day.
constexpr qint64 batchLengthMs = 21600000;

// "yyyyMMdd" of the local date of the earlier of ms and now (a future time gives today's key).
QString dateKeyForTime(qint64 ms);
// First millisecond of the batch holding ms: local midnight plus whole six-hour steps.
qint64 batchStartTime(qint64 ms);
// Local date-time of ms as "yyyyMMdd_HHmmss".
QString formatBatchTime(qint64 ms);
// "batch_<start>_<end>" of the batch holding ms (end = start + 21599999, inclusive).
QString batchNameOfTime(qint64 ms);
// "curve_<id>_<batch name>".
QString batchTableName(int curveId, const QString &batchName);
// Continuation file "<base>_<n>_<yyyyMMddhhmmss>.<suffix>" in the directory of path.
QString numberedFilePath(const QString &path, int n);

#endif
