#include "processvalues.h"

#include "cdevicevisa.h"

// Defined in one translation unit so that static initialisation creates them in this order.
QString measureResource;
QString switchResource = QStringLiteral("USB0::0x2E5B::0x4D19::f0000000000000a::0::INSTR");
QString instrumentIdentity;
// Never deleted: their sessions stay open until the process ends.
CDeviceVisa *measureDevice = new CDeviceVisa();
CDeviceVisa *switchDevice = new CDeviceVisa();
QString recordStartTime;
QString recordEndTime;
QMap<int, QString> selectedChannels;
std::mutex selectedChannelsLock;
QMap<int, std::shared_ptr<CurveSeriesData>> channelSeries;
