#include "readdata.h"

#include "readingvalue.h"
#include "rig.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>

namespace {
constexpr int ReconnectAttempts = 6;
} // namespace

void registerMeasurementDataTypes()
{
    qRegisterMetaType<MeasurementData>("MeasurementData");
    qRegisterMetaType<QList<MeasurementData>>("QList<MeasurementData>");
}

ReadData::ReadData(Rig &rig, QObject *parent)
    : QThread(parent)
    , rig(rig)
    , sleeper([this](int ms) { sleepUnlessStopped(ms); })
{
}

ReadData::~ReadData() = default;

void ReadData::setChannels(const QList<int> &channels)
{
    QList<int> ascending = channels;
    std::sort(ascending.begin(), ascending.end());
    ascending.erase(std::unique(ascending.begin(), ascending.end()), ascending.end());
    std::lock_guard<std::mutex> guard(channelsMutex);
    channelList = ascending;
}

QList<int> ReadData::channels() const
{
    std::lock_guard<std::mutex> guard(channelsMutex);
    return channelList;
}

void ReadData::setSleeper(Sleeper s)
{
    sleeper = std::move(s);
}

void ReadData::startScanning()
{
    // The previous run (if any) has ended; taking its last store orders everything it wrote
    // before this run in a way the thread sanitizer can see (Qt's own thread end is invisible
    // to it).
    runsEnded.load(std::memory_order_acquire);
    stopRequested = false;
    abortRequested = false;
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
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        stopRequested = true;
    }
    running = false;
    wake.notify_all();
}

void ReadData::requestAbort()
{
    abortRequested = true;
    requestStop();
}

void ReadData::pause(int milliseconds)
{
    if (milliseconds > 0)
        sleeper(milliseconds);
}

// A reading fetched before the relay has settled may still carry the previous channel's signal.
// A stop cuts the settling wait short, so a channel whose wait was cut is not fetched; one that
// settled fully before the stop still is.
bool ReadData::settle()
{
    const int wanted = settleMs;
    QElapsedTimer waited;
    waited.start();
    pause(wanted);
    return !stopRequested || waited.elapsed() >= wanted;
}

bool ReadData::pauseUnlessStopped(int milliseconds)
{
    if (stopRequested)
        return false;
    pause(milliseconds);
    return !stopRequested;
}

// The real wait ends early on a stop request, so that a stop during a long scan interval or
// a reconnect wait is honoured at once instead of after the whole wait.
void ReadData::sleepUnlessStopped(int milliseconds)
{
    std::unique_lock<std::mutex> lock(wakeMutex);
    wake.wait_for(lock, std::chrono::milliseconds(qMax(milliseconds, 0)),
                  [this] { return stopRequested.load(); });
}

void ReadData::endRun()
{
    running = false;
    emit sigStopScan();
    runsEnded.fetch_add(1, std::memory_order_release);
}

void ReadData::run()
{
    // An instrument that went silent in an earlier run stays silent until it answers: its
    // first answer in this run is reported like any other return.
    pauseUnlessStopped(1000);
    // A stop that arrived during the initial wait must not be overwritten by raising the flag.
    running = !stopRequested;
    while (running) {
        results.clear();
        if (!pauseUnlessStopped(intervalMs))
            break;

        int lost = -1;
        for (const int channel : channels()) {
            // No relay is closed after a stop: the scan ends with the channels done so far.
            if (stopRequested)
                break;
            if (!switchAnswers() && !reconnectSwitch()) {
                // Without the frame no channel can be closed: a reading fetched now would
                // belong to whichever channel was closed last, so the scan ends here.
                if (!stopRequested)
                    lost = SwitchMainFrame;
                break;
            }
            rig.closeChannel(channel);
            if (!settle())
                break;
            QString reply;
            const Fetch fetched = fetchReading(&reply);
            if (fetched == Fetch::InstrumentLost) {
                if (!stopRequested)
                    lost = MeasureInstrument;
                break;
            }
            if (fetched == Fetch::Reading)
                results.append(parseReading(reply, channel));
        }

        // Whatever was fetched is handed over, also from a scan cut short.
        emit sigSendMeasure(results);
        if (lost >= 0) {
            emit sigInstrumentLost(lost, silentSince[lost]);
            endRun();
            return;
        }
        if (abortRequested)
            break;
        pause(20);
        if (!continuous) {
            if (--remainingScans == 0) {
                endRun();
                return;
            }
        }
        pause(20);
        if (stopRequested)
            running = false;
    }
    endRun();
}

void ReadData::noteAnswer(Instrument instrument, bool answered)
{
    QDateTime &since = silentSince[instrument];
    if (answered == !since.isValid())
        return;
    since = answered ? QDateTime() : QDateTime::currentDateTime();
    emit sigInstrumentState(instrument, answered, answered ? QDateTime() : since);
}

bool ReadData::switchAnswers()
{
    const bool answered = rig.switchAnswers();
    noteAnswer(SwitchMainFrame, answered);
    return answered;
}

bool ReadData::reconnectSwitch()
{
    for (int attempt = 0; attempt < ReconnectAttempts; ++attempt) {
        rig.dropSwitch();
        if (!pauseUnlessStopped(500))
            return false;
        rig.reopenSwitch();
        if (!pauseUnlessStopped(2500))
            return false;
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
        rig.dropMeasure();
        if (!pauseUnlessStopped(500))
            return false;
        rig.reopenMeasure();
        if (!pauseUnlessStopped(2500))
            return false;
        if (rig.measureIdentifies())
            return true;
    }
    return false;
}

ReadData::Fetch ReadData::fetchReading(QString *reply)
{
    *reply = rig.fetchReading();
    if (!reply->isEmpty()) {
        noteAnswer(MeasureInstrument, true);
        return Fetch::Reading;
    }
    noteAnswer(MeasureInstrument, false);
    if (!rig.measureConnectionLost())
        return Fetch::NoReading;
    if (!reconnectMeasure())
        return Fetch::InstrumentLost;
    *reply = rig.fetchReading();
    noteAnswer(MeasureInstrument, !reply->isEmpty());
    return reply->isEmpty() ? Fetch::NoReading : Fetch::Reading;
}

MeasurementData ReadData::parseReading(const QString &reply, int channel)
{
    const QStringList fields = reply.split(QLatin1Char(','));
    const QString status = fields.size() > 1 ? fields.at(1) : QString();
    MeasurementData data;
    data.value = ReadingValue::Overload;
    if (status == QLatin1String("+0")) {
        // Text the conversion rejects ("abc", "-nan") gives 0.0 with ok false: that is no
        // reading, and neither is a value that is not finite.
        bool ok = false;
        const double value = fields.at(0).toDouble(&ok);
        data.value = ok && std::isfinite(value) ? value : std::nan("");
    }
    data.time = QDateTime::currentDateTime();
    data.channel = channel;
    return data;
}
