// Values shared by the whole process: the two instrument sessions, resource names, the switch
// main frame's identity, the channels to scan, the curves of the current recording and the
// recording's start and end. They exist from static initialisation to process exit.
#pragma once

#include <QMap>
#include <QString>
#include <memory>
#include <mutex>

class CDeviceVisa;
class CurveSeriesData;

extern QString measureResource;
extern QString switchResource;
extern QString instrumentIdentity;
extern CDeviceVisa *measureDevice;
extern CDeviceVisa *switchDevice;
extern QString recordStartTime;
extern QString recordEndTime;
extern QMap<int, QString> selectedChannels;
// Guards selectedChannels: the channel tree rewrites it while the scan thread copies it.
extern std::mutex selectedChannelsLock;
extern QMap<int, std::shared_ptr<CurveSeriesData>> channelSeries;
