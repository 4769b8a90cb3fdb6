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
    : WorkerThread(QStringLiteral("scan"), parent)
    , rig(rig)
    , sleeper([this](int ms) { sleepUnlessStopped(ms); })
{
}

ReadData::~ReadData()
{
    requestAbort();
    finish(10000);
}

void ReadData::setSleeper(Sleeper s)
{
    sleeper = std::move(s);
}

void ReadData::startScanning(const ScanPlan &runPlan)
{
    plan = runPlan;
    plan.setChannels(runPlan.channels);
    abortRequested = false;
    startWork();
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
    const int wanted = plan.settleMs();
    QElapsedTimer waited;
    waited.start();
    pause(wanted);
    return !stopRequested() || waited.elapsed() >= wanted;
}

// The real wait (the default sleeper) ends early on a stop request, so that a stop during a
// long scan interval or a reconnect wait is honoured at once instead of after the whole wait.
bool ReadData::pauseUnlessStopped(int milliseconds)
{
    if (stopRequested())
        return false;
    pause(milliseconds);
    return !stopRequested();
}

void ReadData::endRun()
{
    emit sigStopScan();
}

void ReadData::work()
{
    // An instrument that went silent in an earlier run stays silent until it answers: its
    // first answer in this run is reported like any other return.
    pauseUnlessStopped(1000);
    int scansLeft = plan.plannedScans();
    while (!stopRequested()) {
        results.clear();
        if (!pauseUnlessStopped(plan.intervalMs))
            break;

        int lost = -1;
        for (const int channel : qAsConst(plan.channels)) {
            // No relay is closed after a stop: the scan ends with the channels done so far.
            if (stopRequested())
                break;
            if (!switchAnswers() && !reconnect(SwitchMainFrame)) {
                // Without the frame no channel can be closed: a reading fetched now would
                // belong to whichever channel was closed last, so the scan ends here.
                if (!stopRequested())
                    lost = SwitchMainFrame;
                break;
            }
            rig.closeChannel(channel);
            if (!settle())
                break;
            QString reply;
            const Fetch fetched = fetchReading(&reply);
            if (fetched == Fetch::InstrumentLost) {
                if (!stopRequested())
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
        if (scansLeft > 0 && --scansLeft == 0)
            break;
        pause(20);
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

// The frame is reconnected when it stops answering; the measuring instrument only when its
// connection was lost, since a mere timeout may just be a slow reading.
bool ReadData::reconnect(Instrument instrument)
{
    const bool frame = instrument == SwitchMainFrame;
    for (int attempt = 0; attempt < ReconnectAttempts; ++attempt) {
        frame ? rig.dropSwitch() : rig.dropMeasure();
        if (!pauseUnlessStopped(500))
            return false;
        frame ? rig.reopenSwitch() : rig.reopenMeasure();
        if (!pauseUnlessStopped(2500))
            return false;
        if (frame ? switchAnswers() : rig.measureIdentifies())
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
    if (!reconnect(MeasureInstrument))
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
