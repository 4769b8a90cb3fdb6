// One logger's runs: the instruments' link, the start and stop decisions with their refusals,
// the recording (channels, curves, start and end) and its export. Readings flow one way: the
// scan thread hands them here, they go into the curves and the store, and signals tell the
// window and the plot what to show. No widgets.
#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

#include "exportresult.h"
#include "frameidentity.h"
#include "measurementdata.h"
#include "scanplan.h"

class CsvExportFromDBThread;
class CurveDataDB;
class LivePublisher;
struct MqttSettings;
class CurveSeriesData;
class ReadData;
class Rig;

class LoggingController : public QObject
{
    Q_OBJECT
public:
    using Curves = QMap<int, std::shared_ptr<CurveSeriesData>>;
    // Row of the readings table and channel of each stored reading of a scan. A channel's row
    // is its place among the run's channels (ascending) for the whole run, whatever readings
    // a scan lacks.
    using StoredRows = QList<QPair<int, int>>;

    using StopMode = ScanPlan::Stop;
    // Where the logger stands. Idle: no run. Clearing: a start passed its checks; the store is
    // cleared and the curves prepared. Scanning: the scan thread runs the run's plan.
    // Stopping: a stop was asked for (by the user, the elapsed time or a failing store), and
    // the run ends once the scan thread has handed over what it fetched.
    enum class RunState
    {
        Idle,
        Clearing,
        Scanning,
        Stopping
    };
    enum class ExportStart
    {
        Started,
        NoRecording
    };
    // Kinds of a message for the user.
    static constexpr int ErrorMessage = 1;
    static constexpr int InformationMessage = 2;

    // Drives the instruments of rig, which outlives the controller.
    explicit LoggingController(Rig &rig, QObject *parent = nullptr);
    // Ends a run after the channel in progress and stores what it fetched, ends an export,
    // then closes the store.
    ~LoggingController() override;

    Rig &instruments() { return rig; }
    ReadData *scanThread() const { return scan.get(); }

    // "<serial>_Data" from the frame's identity, made safe as a directory name.
    static QString dataSetName(const FrameIdentity &identity);
    // Replaces characters that cannot appear in a file name by '_' and drops NULs.
    static QString sanitizeFileName(const QString &name);
    // Highest slot number a switch main frame can have: channel numbers are slot × 100 + 1..10.
    static constexpr int MaxSlot = 99;
    // The slots of the frame's reply a frame can have: whole numbers 1 to MaxSlot, each once,
    // in the order given; the rest lands in ignored.
    static QList<int> fittedSlots(const QString &reply, QStringList *ignored = nullptr);

    // The instruments
    bool linkMeasuringInstrument();
    // Searches for a frame and links the first one found; false when none was found or it
    // did not identify itself. slots receives its fitted module slots.
    bool linkSwitchMainFrame(QList<int> *slotNumbers);
    bool measureConnected() const { return measureLinked; }
    bool switchConnected() const { return switchLinked; }

    // The settings of the next run's plan; the speed goes to the measuring instrument at once.
    // A run keeps the plan it started with.
    void setSpeed(bool fast);
    void setIntervalMs(int milliseconds);
    void setStopMode(StopMode mode);
    void setScanCount(int scans);
    void setElapsedLimitMs(qint64 milliseconds);
    void setChannels(const QList<int> &channels);
    QList<int> channels() const { return nextPlan.channels; }
    const ScanPlan &plan() const { return nextPlan; }

    // The start/stop button: a start (with its refusals) while idle, a stop while logging.
    void startOrStop();
    // Starts the scan thread on the prepared curves.
    void beginScanning();
    RunState runState() const { return state; }
    bool isLogging() const { return state != RunState::Idle; }
    bool exportRunning() const;

    // The recording
    const Curves &curves() const { return curveMap; }
    CurveDataDB *store() const { return curveStore.get(); }
    // The run's start and end, in milliseconds since the epoch; the export's header writes
    // them as local time.
    qint64 recordStartMs() const { return startMs; }
    qint64 recordEndMs() const { return endMs; }
    // What ended the last run when it was not the user (a lost instrument, a failing store);
    // empty otherwise. Cleared by the next start.
    QString endNotice() const { return endNoticeText; }
    QString runningText() const;

    // Where a run stands, for the bottom bar. Times are measured on the monotonic clock: a
    // wall clock set back or forward does not change them.
    struct RunProgress
    {
        int scansDone = 0;
        // The scans a counted run makes; 0 for a run stopped by time or by the button.
        int scansPlanned = 0;
        qint64 elapsedMs = 0;
        // Until the next scan starts; -1 without an interval or while a scan is under way.
        qint64 nextScanInMs = -1;
    };
    RunProgress runProgress() const;

    // The instruments that stopped answering, with the time each stopped. An instrument stays
    // here after its run has ended, until the scan thread hears it again.
    QMap<int, QDateTime> silentInstruments() const { return silentSince; }
    static QString instrumentName(int instrument);

    // Publishes the recordings live when settings say so; a configuration error is said to
    // the user and logging goes on without publishing. A recording an earlier process left
    // resumes its delivery from where it stopped.
    void setPublishing(const MqttSettings &settings, const QString &configurationError);
    LivePublisher *publisher() const { return livePublisher.get(); }
    // The publisher's last state for the bottom bar; empty while nothing is published.
    QString publishStatus() const { return publishText; }

    // Exports this process's recording, or the one an earlier process left in the data
    // directory, to folder/"<serial>_<name>.csv".
    ExportStart exportRecording(const QString &folder, const QString &name,
                                const QString &separator);
    // Asks the running export to end; it then reports Cancelled and leaves no file.
    void cancelExport();

signals:
    void message(const QString &text, int kind);
    // A start passed its checks: the store is being cleared and the curves prepared.
    void runStarting();
    void curvesPrepared();
    void scanStarted();
    void stopping();
    // Back to idle: a run ended or a start was refused after runStarting.
    void runEnded();
    // The readings of one scan that were stored, with the table row each belongs in.
    void scanStored(const StoredRows &rows);
    void runningTextChanged(const QString &text);
    // silentInstruments() changed.
    void instrumentStatesChanged();
    // Rows of the running export written out of total (-1: not known), from the export thread.
    void exportProgress(qint64 processed, qint64 total);
    void exportFinished(ExportResult result, const QStringList &files);
    // The export thread ended without a result.
    void exportInterrupted();
    // The publisher's connection and backlog, for the bottom bar.
    void publishStatusChanged(const QString &text);

private:
    // The one place the run state changes; tells the window with the state's signal.
    void enterState(RunState next);
    void onStoreCleared();
    bool prepareCurves();
    void refuseStart(const QString &message);
    void removeDataSetDir();
    void onReadings(const QList<MeasurementData> &readings);
    void storeFailedWhileLogging(int notStored);
    void onScanEnded();
    void onElapsedTick();
    void onInstrumentState(int instrument, bool answering, const QDateTime &since);
    void onInstrumentLost(int instrument, const QDateTime &since);
    CurveDataDB *storeToExport();
    void openStrandedRecording();
    void onExportFinished(ExportResult result, const QStringList &files);
    void onExportThreadFinished();
    void onPublishStatus(bool connected, qint64 backlog);
    // The previous recording is about to go: what it did not deliver is given up, and said.
    void forgetPublishedRecording();

    Rig &rig;
    // Where the data sets live, chosen once: beside the program or the user's data directory.
    const QString dataHome;
    std::unique_ptr<ReadData> scan;
    std::unique_ptr<CurveDataDB> curveStore;
    Curves curveMap;
    // The readings table's row of each channel of the run.
    QHash<int, int> channelRows;
    bool measureLinked = false;
    bool switchLinked = false;
    RunState state = RunState::Idle;
    // What the settings say for the next run, and the plan of the run under way.
    ScanPlan nextPlan;
    ScanPlan runPlan;
    // Instants, never local text: a local time repeats at the autumn clock change.
    qint64 startMs = 0;
    qint64 endMs = 0;
    // The earliest and latest time stamp stored in this run. The wall clock may be stepped
    // back or forward during a run, so the stored samples can lie outside [startMs, endMs].
    qint64 firstStoredMs = 0;
    qint64 lastStoredMs = -1;
    // The elapsed-time stop limit can exceed what one timer interval holds: the timer wakes
    // in steps and compares against the time since logging started.
    QTimer elapsedTimer;
    QElapsedTimer elapsedClock;
    QString endNoticeText;
    // The run is ending because the store failed: said once.
    bool storeFailed = false;
    QMap<int, QDateTime> silentSince;
    // The run's progress: scans handed over, time since the start, end of the latest scan.
    int scansDone = 0;
    QElapsedTimer runClock;
    qint64 lastScanEndMs = -1;

    QPointer<CsvExportFromDBThread> exportThread;
    bool exportResultReceived = false;
    // The recording an earlier process left, while this process has none of its own.
    std::unique_ptr<CurveDataDB> strandedStore;
    QString strandedSerial;
    qint64 strandedStartMs = 0;
    qint64 strandedEndMs = 0;
    // Declared after the stores: it ends (and keeps its place) before they close.
    std::unique_ptr<LivePublisher> livePublisher;
    QString publishText;
};
