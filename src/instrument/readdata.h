// The scan thread: walks the selected channels, closes each on the switch main frame, fetches a
// reading from the measuring instrument and hands each scan's readings over in one signal.
#pragma once

#include <QDateTime>
#include <QList>
#include <atomic>
#include <functional>

#include "measurementdata.h"
#include "scanplan.h"
#include "workerthread.h"

class Rig;

class ReadData : public WorkerThread
{
    Q_OBJECT
public:
    // Every wait of the loop goes through this; tests replace it to run the loop fast.
    using Sleeper = std::function<void(int milliseconds)>;

    // Scans with the instruments of rig, which outlives the thread.
    explicit ReadData(Rig &rig, QObject *parent = nullptr);
    // Ends a run after the channel in progress (see requestStop).
    ~ReadData() override;

    void setSleeper(Sleeper sleeper);

    enum Instrument
    {
        MeasureInstrument = 0,
        SwitchMainFrame = 1
    };

    // Starts a run of plan, which the thread keeps for the whole run. A stop requested at any
    // point after this call ends the run: no further relay is closed, a channel whose settling
    // wait the stop cut short is not fetched, and the readings fetched so far still come in
    // one last sigSendMeasure.
    void startScanning(const ScanPlan &plan);
    // Shutting down: as requestStop, without the pauses after the last scan.
    void requestAbort();

signals:
    void sigStopScan();
    void sigSendMeasure(QList<MeasurementData> dataList);
    // An instrument stopped answering at `since` (answering false) or answers again (true).
    void sigInstrumentState(int instrument, bool answering, QDateTime since);
    // An instrument failed its whole reconnect cycle: the run ends (sigStopScan follows).
    void sigInstrumentLost(int instrument, QDateTime since);

protected:
    void work() override;

private:
    enum class Fetch
    {
        Reading,
        NoReading,
        InstrumentLost
    };

    bool switchAnswers();
    // Drops and reopens the instrument's session until it answers, a few times; false when
    // it never did or a stop cut the waits short.
    bool reconnect(Instrument instrument);
    Fetch fetchReading(QString *reply);
    static MeasurementData parseReading(const QString &reply, int channel);
    void pause(int milliseconds);
    // The settling wait after a relay closed; false when a stop cut it short.
    bool settle();
    // A wait that a stop request cuts short; false when it was.
    bool pauseUnlessStopped(int milliseconds);
    void noteAnswer(Instrument instrument, bool answered);
    void endRun();

    Rig &rig;
    // The run's plan: written before the thread starts, read only by it while it runs.
    ScanPlan plan;
    QList<MeasurementData> results;
    Sleeper sleeper;
    std::atomic<bool> abortRequested{false};
    // When each instrument stopped answering; invalid while it answers.
    QDateTime silentSince[2];

    friend class TestReadData;
};
