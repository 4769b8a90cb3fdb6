// One reading of one channel, as the scan thread hands it to the controller. A reading with a
// bad status carries the overload value (readingvalue.h), as the store keeps it; one whose
// text is no number carries NaN, which the store refuses.
#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>

struct MeasurementData
{
    double value = 0.0;
    QDateTime time;
    int channel = 0;
};

Q_DECLARE_METATYPE(MeasurementData)
Q_DECLARE_METATYPE(QList<MeasurementData>)

// Registers "MeasurementData" and "QList<MeasurementData>" so lists cross threads queued.
void registerMeasurementDataTypes();
