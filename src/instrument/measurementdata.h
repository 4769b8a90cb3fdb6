// One reading of one channel, as the scan thread hands it to the window.
#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>

struct MeasurementData
{
    double value = 0.0;
    QDateTime time;
    int channel = 0;
    bool valid = false;
};

Q_DECLARE_METATYPE(MeasurementData)
Q_DECLARE_METATYPE(QList<MeasurementData>)

// Registers "MeasurementData" and "QList<MeasurementData>" so lists cross threads queued.
void registerMeasurementDataTypes();
