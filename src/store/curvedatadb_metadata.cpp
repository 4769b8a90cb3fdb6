// Per-curve extremes of time and value: kept in memory for today's file and written to the
// curve_metadata table of the file the samples went to.
#include "curvedatadb.h"

#include "curveregistry.h"
#include "storeschema.h"
#include "trackedquery.h"

#include <QDebug>

#include <QSqlError>
#include <QVariant>
#include <algorithm>

namespace {

// The empty sentinel goes to the file as NULL, as a curve without samples has always been
// stored; real values, 0 included, are stored as they are.
QVariant minTimeColumn(const DBCurveMetadata &m)
{
    return m.minTime == DBCurveMetadata::emptyMinTime ? QVariant(QVariant::LongLong)
                                                      : QVariant(m.minTime);
}
QVariant maxTimeColumn(const DBCurveMetadata &m)
{
    return m.maxTime == DBCurveMetadata::emptyMaxTime ? QVariant(QVariant::LongLong)
                                                      : QVariant(m.maxTime);
}
QVariant minValueColumn(const DBCurveMetadata &m)
{
    return m.minValue == DBCurveMetadata::emptyMinValue ? QVariant(QVariant::Double)
                                                        : QVariant(m.minValue);
}
QVariant maxValueColumn(const DBCurveMetadata &m)
{
    return m.maxValue == DBCurveMetadata::emptyMaxValue ? QVariant(QVariant::Double)
                                                        : QVariant(m.maxValue);
}

void widen(DBCurveMetadata &m, qint64 time, double value)
{
    // Plain comparisons against the sentinel: the first sample always wins, a real 0 stays,
    // and a NaN value changes nothing.
    if (time < m.minTime)
        m.minTime = time;
    if (time > m.maxTime)
        m.maxTime = time;
    if (value < m.minValue)
        m.minValue = value;
    if (value > m.maxValue)
        m.maxValue = value;
}

// DELETE then INSERT of one curve's row, inside the caller's transaction.
bool replaceMetadataRow(const QSqlDatabase &db, int curveId, const DBCurveMetadata &m,
                        QString *error)
{
    {
        TrackedQuery remove(db);
        if (remove.prepare(QString::fromLatin1(StoreSql::deleteCurveMetadata))) {
            remove.addBindValue(curveId);
            remove.exec();
        }
    }
    TrackedQuery insert(db);
    if (!insert.prepare(QString::fromLatin1(StoreSql::insertCurveMetadata))) {
        *error = insert.lastError().text();
        return false;
    }
    insert.addBindValue(curveId);
    insert.addBindValue(minTimeColumn(m));
    insert.addBindValue(maxTimeColumn(m));
    insert.addBindValue(minValueColumn(m));
    insert.addBindValue(maxValueColumn(m));
    if (!insert.exec()) {
        *error = insert.lastError().text();
        return false;
    }
    return true;
}

} // namespace

void CurveDataDB::updateCurveMetadata(int curveId, qint64 time, double value)
{
    auto it = curveMetadata.find(curveId);
    if (it == curveMetadata.end())
        it = curveMetadata.insert(curveId, DBCurveMetadata());
    widen(*it, time, value);
    unsavedMetadata.insert(curveId);
}

bool CurveDataDB::writeCurrentMetadata()
{
    if (!currentIsOpen())
        return false;
    if (unsavedMetadata.isEmpty())
        return true;
    const QSqlDatabase db = *currentConnection;
    statements.bindTo(db);
    TrackedQuery *begin = statements.sampleSavepoint(db);
    TrackedQuery *release = statements.sampleRelease(db);
    TrackedQuery *rollback = statements.sampleRollback(db);
    if (!begin || !release || !rollback) {
        noteFailure(QStringLiteral("保存曲线元数据失败:"), db.lastError().text());
        return false;
    }
    if (!inSavepoint(
            begin, release, rollback, [this] { return writeMetadataRows(); },
            QStringLiteral("保存曲线元数据失败:")))
        return false;
    unsavedMetadata.clear();
    return true;
}

bool CurveDataDB::writeMetadataRows()
{
    // Rows of curves that did not change since the last save already hold these values; only
    // the changed ones are rewritten, which keeps one save per sample cheap with many curves.
    const QSqlDatabase db = *currentConnection;
    statements.bindTo(db);
    TrackedQuery *remove = statements.metadataDelete(db);
    TrackedQuery *insert = statements.metadataInsert(db);
    if (!remove || !insert) {
        noteFailure(QStringLiteral("保存曲线元数据失败:"), db.lastError().text());
        return false;
    }
    QList<int> ids = unsavedMetadata.values();
    std::sort(ids.begin(), ids.end());
    for (int id : qAsConst(ids)) {
        const DBCurveMetadata meta = curveMetadata.value(id);
        remove->bindValue(0, id);
        remove->exec();
        remove->finish();
        insert->bindValue(0, id);
        insert->bindValue(1, minTimeColumn(meta));
        insert->bindValue(2, maxTimeColumn(meta));
        insert->bindValue(3, minValueColumn(meta));
        insert->bindValue(4, maxValueColumn(meta));
        const bool ok = insert->exec();
        const QString error = insert->lastError().text();
        insert->finish();
        if (!ok) {
            noteFailure(QStringLiteral("保存曲线元数据失败:"), error);
            return false;
        }
    }
    return true;
}

bool CurveDataDB::updateFileMetadata(const QSqlDatabase &dbIn, int fileCurveId, qint64 time,
                                     double value)
{
    // A file other than the current one: read its row for the curve, widen it and write it
    // back there, inside the caller's transaction. The in-memory maps describe the current
    // file and stay untouched.
    const QSqlDatabase &db = dbIn;
    DBCurveMetadata meta = CurveRegistry::readCurveMetadata(db).value(fileCurveId);
    widen(meta, time, value);
    QString error;
    if (!replaceMetadataRow(db, fileCurveId, meta, &error)) {
        noteFailure(QStringLiteral("保存曲线元数据失败:"), error);
        return false;
    }
    return true;
}
