// Calendar arithmetic of the store: day keys of local dates, six-hour batches and their names.
// Pure functions of their arguments, the local time zone and (where stated) the store clock.
#pragma once

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
// The day file "<dateKey>.db" of the data set in dataDir.
QString dayFilePath(const QString &dataDir, const QString &dateKey);

// Remembers the slice and the local day last asked about, so that a run of samples in one
// slice costs no time-zone conversion. Gives the same answers as the functions above. Not
// shared between threads: one owner, under its own lock.
class SliceMemo
{
public:
    struct Slice
    {
        qint64 start = 0;  // batchStartTime of the times in [from, until)
        QString batchName; // batchNameOfTime of the same times
        qint64 from = 0;
        qint64 until = 0;
    };

    // The batch of t.
    Slice sliceOf(qint64 t);
    // "yyyyMMdd" of the local date of t.
    QString dayKeyOf(qint64 t);

private:
    Slice slice;
    bool haveSlice = false;
    QString dayKey;
    qint64 dayFrom = 0;
    qint64 dayUntil = 0;
    bool haveDay = false;
};
