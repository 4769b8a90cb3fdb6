#include "readdata.h"

#include "cdevicevisa.h"
#include "processvalues.h"

namespace {
constexpr int ReconnectAttempts = 6;
constexpr double InvalidReading = 9.9e37;
} // namespace

void registerMeasurementDataTypes()
{
    qRegisterMetaType<MeasurementData>("MeasurementData");
    qRegisterMetaType<QList<MeasurementData>>("QList<MeasurementData>");
}

ReadData::ReadData(QObject *parent)
    : QThread(parent)
    , sleeper([](int ms) { QThread::msleep(static_cast<unsigned long>(qMax(ms, 0))); })
{
}

ReadData::~ReadData() = default;

ReadData *ReadData::instance()
{
    static ReadData *const scanThread = new ReadData();
    return scanThread;
}

void ReadData::setSleeper(Sleeper s)
{
    sleeper = std::move(s);
}

void ReadData::startScanning()
{
    stopRequested = false;
    start();
}

bool ReadData::waitForEnd(unsigned long milliseconds)
{
    if (!wait(milliseconds))
        return false;
    runsEnded.load(std::memory_order_acquire);
    return true;
}

void ReadData::requestStop()
{
    stopRequested = true;
    running = false;
}

void ReadData::pause(int milliseconds)
{
    if (milliseconds > 0)
        sleeper(milliseconds);
}

void ReadData::run()
{
    pause(1000);
    // A stop that arrived during the initial wait must not be overwritten by raising the flag.
    running = !stopRequested;
    while (running) {
        results.clear();
        measureLostThisScan = false;
        pause(intervalMs);

        // A stable copy per scan: ticks made meanwhile take effect at the next scan.
        QMap<int, QString> channels;
        {
            std::lock_guard<std::mutex> guard(selectedChannelsLock);
            channels = selectedChannels;
        }
        for (auto it = channels.constBegin(); it != channels.constEnd(); ++it) {
            const int channel = it.key();
            if (!switchAnswers() && !reconnectSwitch()) {
                running = false;
                emit sigStopScan();
            }
            switchDevice->sendCommand(QStringLiteral("ROUT:CLOS (@%1)").arg(channel));
            pause(settleMs);
            const QString reply = fetchReading();
            if (!reply.isEmpty())
                results.append(parseReading(reply, channel));
        }

        emit sigSendMeasure(results);
        pause(20);
        if (!continuous) {
            if (--remainingScans == 0) {
                running = false;
                emit sigStopScan();
                runsEnded.fetch_add(1, std::memory_order_release);
                return;
            }
        }
        pause(20);
        if (stopRequested)
            running = false;
    }
    emit sigStopScan();
    runsEnded.fetch_add(1, std::memory_order_release);
}

bool ReadData::switchAnswers()
{
    return !switchDevice->sendCommand(QStringLiteral("STAT:OPER:EVEN?")).isEmpty();
}

bool ReadData::reconnectSwitch()
{
    for (int attempt = 0; attempt < ReconnectAttempts; ++attempt) {
        switchDevice->disconnectDevice();
        pause(500);
        switchDevice->connectDevice(switchResource);
        pause(2500);
        if (switchAnswers())
            return true;
    }
    return false;
}

// Reopens the measuring instrument after its connection was lost; a mere timeout does not
// count, since the instrument may just be slow.
bool ReadData::reconnectMeasure()
{
    for (int attempt = 0; attempt < ReconnectAttempts; ++attempt) {
        measureDevice->disconnectDevice();
        pause(500);
        measureDevice->connectDevice(measureResource);
        pause(2500);
        if (!measureDevice->sendCommand(QStringLiteral("*IDN?")).isEmpty())
            return true;
    }
    return false;
}

QString ReadData::fetchReading()
{
    if (measureLostThisScan)
        return QString();
    const QString reply = measureDevice->sendCommand(QStringLiteral("FETC?"));
    if (!reply.isEmpty())
        return reply;
    if (measureDevice->isConnected() && !measureDevice->connectionLost())
        return QString();
    if (!reconnectMeasure()) {
        // Try again at the next scan instead of paying the whole cycle for every channel.
        measureLostThisScan = true;
        return QString();
    }
    return measureDevice->sendCommand(QStringLiteral("FETC?"));
}

MeasurementData ReadData::parseReading(const QString &reply, int channel)
{
    const QStringList fields = reply.split(QLatin1Char(','));
    const QString status = fields.size() > 1 ? fields.at(1) : QString();
    MeasurementData data;
    data.valid = status == QLatin1String("+0");
    data.value = data.valid ? fields.at(0).toDouble() : InvalidReading;
    data.time = QDateTime::currentDateTime();
    data.channel = channel;
    return data;
}
