// Value types of the store: one batch table of a curve, and a curve's stored extremes.
#pragma once

#include <QMetaType>
#include <QSharedPointer>
#include <QSqlDatabase>
#include <QString>

#include <limits>

struct DBBatchInfo
{
    qint64 batchStart = 0; // first millisecond of the batch
    qint64 batchEnd = 0;   // last millisecond of the batch, inclusive
    QString tableName;
};

struct DBCurveMetadata
{
    // The "empty" values: a curve with no samples known. Each field is compared on its own, so
    // a real 0 (time or value) is a real extreme.
    static constexpr qint64 emptyMinTime = std::numeric_limits<qint64>::max();
    static constexpr qint64 emptyMaxTime = std::numeric_limits<qint64>::min();
    static constexpr double emptyMinValue = std::numeric_limits<double>::max();
    static constexpr double emptyMaxValue = -std::numeric_limits<double>::max();

    qint64 minTime = emptyMinTime;
    qint64 maxTime = emptyMaxTime;
    double minValue = emptyMinValue;
    double maxValue = emptyMaxValue;
};

Q_DECLARE_TYPEINFO(DBBatchInfo, Q_MOVABLE_TYPE);
Q_DECLARE_TYPEINFO(DBCurveMetadata, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(DBBatchInfo)
Q_DECLARE_METATYPE(DBCurveMetadata)
Q_DECLARE_METATYPE(QSharedPointer<QSqlDatabase>)

// Registers the three value types with Qt's meta-type system (idempotent).
void registerStoreMetaTypes();
