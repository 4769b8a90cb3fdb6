#include "loggingcontroller.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "csvexportfromdbthread.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "datadirectory.h"
#include "livepublisher.h"
#include "readdata.h"
#include "rig.h"

namespace {
const QString noticeTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
// Longest single wait of the elapsed-time timer; the limit itself may be far longer.
constexpr qint64 ElapsedStepMs = 3600 * 1000;
constexpr int ThreadStopWaitMs = 3000;
// The scan thread's wait before its first scan.
constexpr qint64 FirstScanDelayMs = 1000;
// The channel in progress may take a reply timeout and a re-synchronisation; the host waits
// 15 s for the logger to end after "exit".
constexpr int ScanStopWaitMs = 12000;
} // namespace

LoggingController::LoggingController(Rig &rig, QObject *parent)
    : QObject(parent)
    , rig(rig)
    , dataHome(dataDirectory())
    , scan(std::make_unique<ReadData>(rig))
{
    registerMeasurementDataTypes();
    qRegisterMetaType<ExportResult>("ExportResult");
    qRegisterMetaType<StoredRows>("StoredRows");
    connect(scan.get(), &ReadData::sigSendMeasure, this, &LoggingController::onReadings);
    connect(scan.get(), &ReadData::sigStopScan, this, &LoggingController::onScanEnded);
    connect(scan.get(), &ReadData::sigInstrumentState, this, &LoggingController::onInstrumentState);
    connect(scan.get(), &ReadData::sigInstrumentLost, this, &LoggingController::onInstrumentLost);
    connect(&elapsedTimer, &QTimer::timeout, this, &LoggingController::onElapsedTick);
}

LoggingController::~LoggingController()
{
    // The run ends after the channel in progress; what it fetched still comes over. A thread
    // that does not end within its bound is terminated as a last resort.
    scan->requestAbort();
    scan->finish(ScanStopWaitMs + ThreadStopWaitMs);
    // The event loop may have ended ("exit", the window closed): readings the scan thread
    // handed over but that were never delivered are stored now, before the store closes.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (exportThread) {
        exportThread->finish(ThreadStopWaitMs);
        delete exportThread.data();
    }
    elapsedTimer.stop();
    curveMap.clear();
}

// The serial number comes from the instrument and names a directory that every start deletes:
// anything but plain name characters becomes '_', so the name can never leave the application
// directory ("..", separators) or hide (a leading dot stays harmless behind the "_Data" suffix).
QString LoggingController::dataSetName(const FrameIdentity &identity)
{
    QString serial = identity.serial();
    for (QChar &c : serial) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           c == QLatin1Char('-') || c == QLatin1Char('_');
        if (!plain)
            c = QLatin1Char('_');
    }
    return QStringLiteral("%1_Data").arg(serial);
}

QString LoggingController::sanitizeFileName(const QString &name)
{
    QString clean = name;
    for (QChar c : QStringLiteral("/\\:*?\"<>|"))
        clean.replace(c, QLatin1Char('_'));
    clean.remove(QChar(0));
    return clean;
}

QList<int> LoggingController::fittedSlots(const QString &reply, QStringList *ignored)
{
    QList<int> slotNumbers;
    QSet<int> seen;
    for (const QString &field : reply.split(QLatin1Char(','), Qt::KeepEmptyParts)) {
        bool ok = false;
        const int slot = field.trimmed().toInt(&ok, 10);
        if (ok && slot >= 1 && slot <= MaxSlot && !seen.contains(slot)) {
            seen.insert(slot);
            slotNumbers.append(slot);
        } else if (ignored) {
            ignored->append(field.trimmed().left(20));
        }
    }
    return slotNumbers;
}

bool LoggingController::linkMeasuringInstrument()
{
    measureLinked = rig.linkMeasure();
    return measureLinked;
}

bool LoggingController::linkSwitchMainFrame(QList<int> *slotNumbers)
{
    const QStringList found = rig.findSwitchMainFrames();
    if (found.isEmpty()) {
        emit message(tr("未查找到设备，请检查设备连接情况"), ErrorMessage);
        return false;
    }
    if (!rig.linkSwitch(found.first()))
        return false;
    switchLinked = true;
    if (livePublisher)
        livePublisher->setIdentity(rig.identity());
    QStringList ignored;
    *slotNumbers = fittedSlots(rig.moduleSlots(), &ignored);
    if (!ignored.isEmpty())
        qWarning().noquote() << "开关主机报告的插槽号无效，已忽略" << ignored.size()
                             << "个:" << QStringList(ignored.mid(0, 10)).join(QLatin1Char(','));
    return true;
}

void LoggingController::setSpeed(bool fast)
{
    rig.setSpeed(fast ? Rig::Speed::Fast : Rig::Speed::Slow);
    nextPlan.fast = fast;
}

void LoggingController::setIntervalMs(int milliseconds)
{
    nextPlan.intervalMs = milliseconds;
}

void LoggingController::setStopMode(StopMode mode)
{
    nextPlan.stop = mode;
}

void LoggingController::setScanCount(int scans)
{
    nextPlan.scanCount = scans;
}

void LoggingController::setElapsedLimitMs(qint64 milliseconds)
{
    nextPlan.elapsedMs = milliseconds;
}

void LoggingController::setChannels(const QList<int> &channels)
{
    nextPlan.setChannels(channels);
}

void LoggingController::enterState(RunState next)
{
    if (next == state)
        return;
    state = next;
    switch (next) {
    case RunState::Idle:
        emit runEnded();
        break;
    case RunState::Clearing:
        storeFailed = false;
        emit runStarting();
        break;
    case RunState::Scanning:
        emit scanStarted();
        break;
    case RunState::Stopping:
        emit stopping();
        break;
    }
}

void LoggingController::startOrStop()
{
    if (state == RunState::Idle && scan->isRunning()) {
        emit message(tr("上一次扫描未停止"), ErrorMessage);
        return;
    }
    if (!measureLinked || !switchLinked) {
        emit message(tr("设备未连接，请检查设备连接情况"), ErrorMessage);
        return;
    }
    if (state == RunState::Idle && nextPlan.channels.isEmpty()) {
        emit message(tr("扫描通道未选择"), ErrorMessage);
        return;
    }
    if (state != RunState::Idle) {
        // Asked while clearing, the run ends before its first scan (see beginScanning).
        enterState(RunState::Stopping);
        if (scan->isRunning())
            scan->requestStop();
        return;
    }
    // A start clears the store the export is reading: the export would end with an empty file.
    if (exportRunning()) {
        emit message(tr("正在导出数据，请在导出结束后再开始记录"), ErrorMessage);
        return;
    }

    emit message(tr("扫描开启中请稍等..."), InformationMessage);
    runPlan = nextPlan;
    enterState(RunState::Clearing);
    forgetPublishedRecording();
    strandedStore.reset();
    removeDataSetDir();
    if (curveStore) {
        curveStore->clearAllData();
        return;
    }
    QTimer::singleShot(100, this, [this] {
        if (prepareCurves())
            beginScanning();
    });
}

void LoggingController::removeDataSetDir()
{
    const QString path = dataHome + QDir::separator() + dataSetName(rig.identity());
    const QFileInfo info(path);
    // Never follow a link out of the data directory: remove the link itself.
    if (info.isSymLink()) {
        QFile::remove(path);
        return;
    }
    if (info.isDir() &&
        info.canonicalFilePath().startsWith(QFileInfo(dataHome).canonicalFilePath()))
        QDir(path).removeRecursively();
}

void LoggingController::onStoreCleared()
{
    if (prepareCurves())
        beginScanning();
}

// False when the store cannot be created or a curve cannot be registered: the start is then
// refused with the folder and the reason, and the logger is back to idle.
bool LoggingController::prepareCurves()
{
    curveMap.clear();
    if (!curveStore) {
        // Created once, in the data set of the frame connected at the first start.
        const QString name = dataSetName(rig.identity());
        curveStore = std::make_unique<CurveDataDB>(QDir(dataHome).filePath(name));
        connect(curveStore.get(), &CurveDataDB::sigClearFinished, this,
                &LoggingController::onStoreCleared);
    }
    bool usable = curveStore->ensureUsable();
    const QList<int> channelList = runPlan.channels;
    for (auto it = channelList.constBegin(); usable && it != channelList.constEnd(); ++it) {
        auto curve = std::make_shared<CurveSeriesData>(QString::number(*it), curveStore.get());
        usable = curve->curveId() != -1;
        curveMap.insert(*it, curve);
    }
    channelRows.clear();
    for (auto it = curveMap.keyBegin(); it != curveMap.keyEnd(); ++it)
        channelRows.insert(*it, channelRows.size());
    if (!usable) {
        curveMap.clear();
        refuseStart(tr("无法创建数据存储 %1：%2")
                        .arg(QDir::toNativeSeparators(curveStore->dataDirectory()),
                             curveStore->lastError()));
        return false;
    }
    emit curvesPrepared();
    return true;
}

void LoggingController::refuseStart(const QString &text)
{
    qWarning().noquote() << text;
    endNoticeText.clear();
    enterState(RunState::Idle);
    emit message(text, ErrorMessage);
}

void LoggingController::beginScanning()
{
    // Stopped before it began: the run ends as one stopped at once, without a scan.
    firstStoredMs = 0;
    lastStoredMs = -1;
    if (state == RunState::Stopping) {
        startMs = QDateTime::currentMSecsSinceEpoch();
        endNoticeText.clear();
        onScanEnded();
        return;
    }
    if (runPlan.stop == StopMode::Elapsed) {
        elapsedClock.start();
        elapsedTimer.setInterval(static_cast<int>(qMin(runPlan.elapsedMs, ElapsedStepMs)));
        elapsedTimer.start();
    }
    startMs = QDateTime::currentMSecsSinceEpoch();
    endNoticeText.clear();
    scansDone = 0;
    lastScanEndMs = -1;
    runClock.start();
    enterState(RunState::Scanning);
    if (livePublisher)
        livePublisher->startRecording(curveStore.get(), runPlan.channels);
    scan->startScanning(runPlan);
}

void LoggingController::onElapsedTick()
{
    const qint64 remaining = runPlan.elapsedMs - elapsedClock.elapsed();
    if (remaining > 0) {
        elapsedTimer.setInterval(static_cast<int>(qMin(remaining, ElapsedStepMs)));
        return;
    }
    elapsedTimer.stop();
    startOrStop();
}

void LoggingController::onReadings(const QList<MeasurementData> &readings)
{
    ++scansDone;
    if (runClock.isValid())
        lastScanEndMs = runClock.elapsed();
    // The scan is stored in one transaction; only once it has committed are its readings
    // counted, shown and published: the table never shows what is not kept.
    struct Kept
    {
        CurveSeriesData *curve;
        int channel;
        qint64 time;
        double value;
    };
    QList<Kept> kept;
    int notStored = 0;
    if (curveStore)
        curveStore->beginScan();
    for (const MeasurementData &data : readings) {
        const auto it = curveMap.constFind(data.channel);
        if (it == curveMap.constEnd() || !it.value())
            continue;
        const qint64 time = data.time.toMSecsSinceEpoch();
        switch (it.value()->storeSample(static_cast<double>(time), data.value)) {
        case CurveSeriesData::SampleResult::Stored:
            kept.append({it.value().get(), data.channel, time, data.value});
            break;
        case CurveSeriesData::SampleResult::NotANumber:
            qWarning().noquote() << "读数不是数值，未保存：通道" << data.channel;
            break;
        case CurveSeriesData::SampleResult::StoreFailed:
            ++notStored;
            break;
        }
    }
    // A scan with a reading the store refused is rolled back whole, as is one whose commit
    // fails: nothing of it is counted as stored.
    if (curveStore && !curveStore->endScan(notStored == 0)) {
        notStored += kept.size();
        kept.clear();
    }
    StoredRows stored;
    for (const Kept &sample : qAsConst(kept)) {
        sample.curve->countSample(static_cast<double>(sample.time), sample.value);
        stored.append({channelRows.value(sample.channel), sample.channel});
        if (lastStoredMs < firstStoredMs || sample.time < firstStoredMs)
            firstStoredMs = sample.time;
        lastStoredMs = qMax(lastStoredMs, sample.time);
        if (livePublisher)
            livePublisher->sampleStored(sample.channel, sample.time);
    }
    emit scanStored(stored);
    if (livePublisher && !stored.isEmpty())
        livePublisher->samplesStored();
    if (notStored > 0)
        storeFailedWhileLogging(notStored);
}

// The disk filled up or the files went away: logging on would only pretend. The run ends;
// what was stored stays exportable.
void LoggingController::storeFailedWhileLogging(int notStored)
{
    qCritical().noquote() << "数据存储失败，未保存的读数:" << notStored;
    if (state == RunState::Idle || storeFailed)
        return;
    storeFailed = true;
    endNoticeText =
        tr("数据存储失败 %1：%2，记录已停止")
            .arg(QDir::toNativeSeparators(curveStore->dataDirectory()), curveStore->lastError());
    emit message(endNoticeText, ErrorMessage);
    enterState(RunState::Stopping);
    scan->requestStop();
}

void LoggingController::onScanEnded()
{
    // Whatever ended the run, a pending elapsed-time stop must not start a new one later.
    elapsedTimer.stop();
    endMs = QDateTime::currentMSecsSinceEpoch() + 1000;
    if (livePublisher)
        livePublisher->recordingEnded();
    enterState(RunState::Idle);
}

QString LoggingController::instrumentName(int instrument)
{
    return instrument == ReadData::SwitchMainFrame ? tr("开关主机") : tr("测量仪器");
}

LoggingController::RunProgress LoggingController::runProgress() const
{
    RunProgress progress;
    progress.scansDone = scansDone;
    progress.scansPlanned = isLogging() ? runPlan.plannedScans() : nextPlan.plannedScans();
    if (!isLogging() || !runClock.isValid())
        return progress;
    progress.elapsedMs = runClock.elapsed();
    const int interval = runPlan.intervalMs;
    if (interval > 0) {
        // The thread waits a second before its first scan, and 2 x 20 ms after each scan
        // before the interval.
        const qint64 nextStart =
            lastScanEndMs < 0 ? FirstScanDelayMs + interval : lastScanEndMs + 40 + interval;
        if (nextStart > progress.elapsedMs)
            progress.nextScanInMs = nextStart - progress.elapsedMs;
    }
    return progress;
}

QString LoggingController::runningText() const
{
    QString text = tr("数据记录正在运行..");
    for (auto it = silentSince.cbegin(); it != silentSince.cend(); ++it)
        text += tr("（%1自 %2 起无响应）")
                    .arg(instrumentName(it.key()), it.value().toString(noticeTimeFormat));
    return text;
}

// While logging, the bottom bar says which instrument does not answer and since when.
void LoggingController::onInstrumentState(int instrument, bool answering, const QDateTime &since)
{
    silentSince.remove(instrument);
    if (!answering)
        silentSince.insert(instrument, since);
    emit instrumentStatesChanged();
    if (isLogging())
        emit runningTextChanged(runningText());
}

void LoggingController::onInstrumentLost(int instrument, const QDateTime &since)
{
    endNoticeText = tr("%1自 %2 起无响应，记录已停止")
                        .arg(instrumentName(instrument), since.toString(noticeTimeFormat));
    qCritical().noquote() << endNoticeText;
    if (!silentSince.contains(instrument)) {
        silentSince.insert(instrument, since);
        emit instrumentStatesChanged();
    }
    emit message(endNoticeText, ErrorMessage);
}
