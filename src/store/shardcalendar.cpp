#include "shardcalendar.h"

#include "storeclock.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QDir>

namespace {

QDateTime localOf(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms);
}

qint64 localMidnight(const QDate &date)
{
    return QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
}

} // namespace

QString dateKeyForTime(qint64 ms)
{
    return localOf(qMin(ms, StoreClock::nowMs())).date().toString(QStringLiteral("yyyyMMdd"));
}

qint64 batchStartTime(qint64 ms)
{
    const QDate day = localOf(ms).date();
    const qint64 midnight = localMidnight(day);
    // Steps are counted in elapsed time from midnight, so on a daylight-saving change day the
    // later slices start an hour off the wall-clock quarter; every slice still holds its own
    // samples and names stay unique and ordered.
    const qint64 steps = (ms - midnight) / batchLengthMs;
    const qint64 start = midnight + steps * batchLengthMs;
    const QDate startDay = localOf(start).date();
    if (startDay != day) {
        qWarning().noquote() << "分片日期与数据日期不匹配！数据日期:"
                             << day.toString(QStringLiteral("yyyy-MM-dd"))
                             << "分片日期:" << startDay.toString(QStringLiteral("yyyy-MM-dd"))
                             << "强制对齐到数据日期";
        return midnight;
    }
    return start;
}

QString formatBatchTime(qint64 ms)
{
    return localOf(ms).toString(QStringLiteral("yyyyMMdd_HHmmss"));
}

QString batchNameOfTime(qint64 ms)
{
    qint64 start = batchStartTime(ms);
    const QDate day = localOf(ms).date();
    const QDate startDay = localOf(start).date();
    if (startDay != day) {
        qCritical().noquote() << "严重错误：分片日期与数据日期不一致！"
                              << "数据日期:" << day.toString(QStringLiteral("yyyy-MM-dd"))
                              << "分片日期:" << startDay.toString(QStringLiteral("yyyy-MM-dd"))
                              << "强制使用数据日期创建分片";
        start = localMidnight(day);
    }
    const qint64 end = start + batchLengthMs - 1;
    return QStringLiteral("batch_%1_%2").arg(formatBatchTime(start), formatBatchTime(end));
}

QString batchTableName(int curveId, const QString &batchName)
{
    return QStringLiteral("curve_%1_%2").arg(QString::number(curveId), batchName);
}

SliceMemo::Slice SliceMemo::sliceOf(qint64 t)
{
    if (haveSlice && t >= slice.from && t < slice.until)
        return slice;
    const QDate day = localOf(t).date();
    Slice fresh;
    fresh.start = batchStartTime(t);
    fresh.batchName = batchNameOfTime(t);
    fresh.from = fresh.start;
    // Never past the day's end: the last slice of a short (daylight-saving) day runs over it.
    fresh.until = qMin(fresh.start + batchLengthMs, localMidnight(day.addDays(1)));
    haveSlice = t >= fresh.from && t < fresh.until;
    if (haveSlice)
        slice = fresh;
    return fresh;
}

QString SliceMemo::dayKeyOf(qint64 t)
{
    if (haveDay && t >= dayFrom && t < dayUntil)
        return dayKey;
    const QDate day = localOf(t).date();
    dayKey = day.toString(QStringLiteral("yyyyMMdd"));
    dayFrom = localMidnight(day);
    dayUntil = localMidnight(day.addDays(1));
    haveDay = t >= dayFrom && t < dayUntil;
    return dayKey;
}

QString dayFilePath(const QString &dataDir, const QString &dateKey)
{
    return QDir(dataDir).filePath(dateKey + QStringLiteral(".db"));
}
