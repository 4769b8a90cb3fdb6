// Logging control: the settings, the start/stop decision, the readings into curves, store and
// table, and the end of a run.
#include "mainwidget.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>

#include "cdevicevisa.h"
#include "csvexportfromdbthread.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "processvalues.h"
#include "readdata.h"
#include "widgets/custommessagedialog.h"
#include "widgets/imagebutton.h"
#include "widgets/loadingview.h"
#include "widgets/timepicker.h"

namespace {
const QString recordTimeFormat = QStringLiteral("yyyy MM dd hh mm ss zzz");
const QString noticeTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
constexpr int MessageMs = 3000;
// Longest single wait of the elapsed-time timer; the limit itself may be far longer.
constexpr qint64 ElapsedStepMs = 3600 * 1000;
} // namespace

QString MainWidget::durationText(double seconds)
{
    const qint64 x = static_cast<qint64>(seconds);
    const qint64 days = x / 86400;
    const qint64 hours = (x - days * 86400) / 3600;
    const qint64 minutes = (x - days * 86400 - hours * 3600) / 60;
    const qint64 secs = x % 60;
    auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return QStringLiteral("%1 : %2 : %3 : %4").arg(two(days), two(hours), two(minutes), two(secs));
}

// The serial number comes from the instrument and names a directory that every start deletes:
// anything but plain name characters becomes '_', so the name can never leave the application
// directory ("..", separators) or hide (a leading dot stays harmless behind the "_Data" suffix).
QString MainWidget::dataSetName()
{
    const QStringList fields = instrumentIdentity.split(QLatin1Char(' '));
    QString serial = fields.size() > 2 ? fields.at(2) : QString();
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

void MainWidget::showIntervalText(double seconds)
{
    intervalLabel->setText(durationText(seconds));
}

void MainWidget::showElapsedText(double seconds)
{
    elapsedLabel->setText(durationText(seconds));
}

void MainWidget::recvSpeedSlot(bool isChecked)
{
    if (!isChecked)
        return;
    if (sender() == fastRadio) {
        if (measureDevice)
            measureDevice->sendCommand(QStringLiteral("APER MED"));
        scanThread->settleMs = 500;
    } else if (sender() == slowRadio) {
        if (measureDevice)
            measureDevice->sendCommand(QStringLiteral("APER SLOW2"));
        scanThread->settleMs = 600;
    }
}

void MainWidget::recvIntervalSlot(bool isChecked)
{
    if (!isChecked)
        return;
    if (sender() == minIntervalRadio) {
        intervalPicker->setEnabled(false);
        scanThread->intervalMs = 0;
    } else if (sender() == customIntervalRadio) {
        intervalPicker->setEnabled(true);
        scanThread->intervalMs = static_cast<int>(intervalPicker->value() * 1000);
    }
}

void MainWidget::recvIntervalPickerSlot(double value)
{
    scanThread->intervalMs = static_cast<int>(value * 1000);
    showIntervalText(value);
}

void MainWidget::onElapsedPickerChanged(double value)
{
    showElapsedText(value);
}

void MainWidget::recvStopSlot(bool isChecked)
{
    if (!isChecked)
        return;
    if (sender() == stopButtonRadio) {
        scanCountSpin->setEnabled(false);
        elapsedPicker->setEnabled(false);
        scanThread->continuous = true;
    } else if (sender() == elapsedRadio) {
        scanCountSpin->setEnabled(false);
        elapsedPicker->setEnabled(true);
        scanThread->continuous = true;
    } else if (sender() == scanCountRadio) {
        scanCountSpin->setEnabled(true);
        elapsedPicker->setEnabled(false);
        scanThread->continuous = false;
        scanThread->remainingScans = scanCountSpin->value();
    }
}

void MainWidget::recvStopCountSlot(int count)
{
    scanThread->remainingScans = count;
}

void MainWidget::recvStartButtonSlot()
{
    if (!logging && scanThread->isRunning()) {
        messageDialog->showMessage(tr("上一次扫描未停止"), 1, MessageMs);
        return;
    }
    if (!measureConnected || !switchConnected) {
        messageDialog->showMessage(tr("设备未连接，请检查设备连接情况"), 1, MessageMs);
        return;
    }
    bool noChannels;
    {
        std::lock_guard<std::mutex> guard(selectedChannelsLock);
        noChannels = selectedChannels.isEmpty();
    }
    if (noChannels) {
        messageDialog->showMessage(tr("扫描通道未选择"), 1, MessageMs);
        return;
    }
    if (logging) {
        busyOverlay->startLoading();
        scanThread->requestStop();
        return;
    }
    // A start clears the store the export is reading: the export would end with an empty file.
    if (exportThread && exportThread->isRunning()) {
        messageDialog->showMessage(tr("正在导出数据，请在导出结束后再开始记录"), 1, MessageMs);
        return;
    }

    messageDialog->showMessage(tr("扫描开启中请稍等..."), 2, MessageMs);
    logging = true;
    startButton->setIcon(QIcon(QStringLiteral(":/image/stop.png")));
    startButton->setText(tr("停止"));
    exportButton->setEnabled(false);
    bottomLayout->insertWidget(1, runningLabel, 0);
    runningLabel->setText(tr("数据记录正在运行.."));
    runningLabel->show();
    busyOverlay->startLoading();
    forgetStrandedRecording();
    removeDataSetDir();
    if (curveStore) {
        curveStore->clearAllData();
        return;
    }
    QTimer::singleShot(100, this, [this] {
        if (prepareCurves())
            scanFunc();
    });
}

void MainWidget::removeDataSetDir()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString path = appDir + QDir::separator() + dataSetName();
    const QFileInfo info(path);
    // Never follow a link out of the application directory: remove the link itself.
    if (info.isSymLink()) {
        QFile::remove(path);
        return;
    }
    if (info.isDir() && info.canonicalFilePath().startsWith(QFileInfo(appDir).canonicalFilePath()))
        QDir(path).removeRecursively();
}

void MainWidget::recvDataClearFinished()
{
    if (prepareCurves())
        scanFunc();
}

// False when the store cannot be created or a curve cannot be registered: the start is then
// refused with the folder and the reason, and the window is back to idle.
bool MainWidget::prepareCurves()
{
    channelSeries.clear();
    const QString name = dataSetName();
    if (!curveStore) {
        curveStore = CurveDataDB::instance(name);
        connect(curveStore, &CurveDataDB::sigClearFinished, this,
                &MainWidget::recvDataClearFinished);
    }
    QMap<int, QString> channels;
    {
        std::lock_guard<std::mutex> guard(selectedChannelsLock);
        channels = selectedChannels;
    }
    bool usable = curveStore->ensureUsable();
    for (auto it = channels.constBegin(); usable && it != channels.constEnd(); ++it) {
        if (it.value().isEmpty())
            continue;
        auto curve = std::make_shared<CurveSeriesData>(QString::number(it.key()), name);
        usable = curve->curveId() != -1;
        channelSeries.insert(it.key(), curve);
    }
    if (!usable) {
        channelSeries.clear();
        refuseStart(tr("无法创建数据存储 %1：%2")
                        .arg(QDir::toNativeSeparators(curveStore->dataDirectory()),
                             curveStore->lastError()));
        return false;
    }
    showCurvesOnTrend();
    return true;
}

void MainWidget::refuseStart(const QString &message)
{
    qWarning().noquote() << message;
    endNotice.clear();
    showIdle();
    messageDialog->showMessage(message, 1, MessageMs);
}

// Back to idle: the start button, export enabled, and the bottom bar empty or, for a run ended
// by a lost instrument or a failing store, saying so until the next start.
void MainWidget::showIdle()
{
    logging = false;
    startButton->setIcon(QIcon(QStringLiteral(":/image/start.png")));
    startButton->setText(tr("开始"));
    exportButton->setEnabled(true);
    if (endNotice.isEmpty()) {
        runningLabel->hide();
    } else {
        runningLabel->setText(endNotice);
        runningLabel->show();
    }
    busyOverlay->stopLoading();
}

void MainWidget::scanFunc()
{
    for (int row = 0; row < readingsTable->rowCount(); ++row) {
        QTableWidgetItem *first = readingsTable->item(row, 0);
        if (first && !first->text().isEmpty())
            for (int column = 0; column < 6; ++column)
                readingsTable->item(row, column)->setText(QString());
    }
    if (elapsedRadio->isChecked())
        armElapsedStop();
    // The thread counts its scans down to zero; a new counted run starts from the spin box
    // again, or a second run with an untouched spin box would never end.
    if (scanCountRadio->isChecked())
        scanThread->remainingScans = scanCountSpin->value();
    recordStartTime = QDateTime::currentDateTime().toString(recordTimeFormat);
    busyOverlay->stopLoading();
    endNotice.clear();
    storeFailureShown = false;
    silentInstruments.clear();
    scanThread->startScanning();
}

void MainWidget::armElapsedStop()
{
    if (!elapsedTimer) {
        elapsedTimer = new QTimer;
        connect(elapsedTimer, &QTimer::timeout, this, &MainWidget::recvElapsedTimeSlot);
    }
    elapsedLimitMs = static_cast<qint64>(elapsedPicker->value() * 1000);
    elapsedClock.start();
    elapsedTimer->setInterval(static_cast<int>(qMin(elapsedLimitMs, ElapsedStepMs)));
    elapsedTimer->start();
}

void MainWidget::stopElapsedTimer()
{
    if (elapsedTimer)
        elapsedTimer->stop();
}

void MainWidget::recvElapsedTimeSlot()
{
    const qint64 remaining = elapsedLimitMs - elapsedClock.elapsed();
    if (remaining > 0) {
        elapsedTimer->setInterval(static_cast<int>(qMin(remaining, ElapsedStepMs)));
        return;
    }
    elapsedTimer->stop();
    recvStartButtonSlot();
}

void MainWidget::refreshCurveSeriesDataSlot(const QList<MeasurementData> &dataList)
{
    int notStored = 0;
    for (int i = 0; i < dataList.size(); ++i) {
        const MeasurementData &data = dataList.at(i);
        const auto it = channelSeries.constFind(data.channel);
        if (it == channelSeries.constEnd() || !it.value())
            continue;
        // Only a stored reading is counted and shown: the table never shows what is not kept.
        switch (
            it.value()->addSample(static_cast<double>(data.time.toMSecsSinceEpoch()), data.value)) {
        case CurveSeriesData::SampleResult::Stored:
            fillReadingRow(i, data.channel);
            break;
        case CurveSeriesData::SampleResult::NotANumber:
            qWarning().noquote() << "读数不是数值，未保存：通道" << data.channel;
            break;
        case CurveSeriesData::SampleResult::StoreFailed:
            ++notStored;
            break;
        }
    }
    showScanOnTrend();
    if (notStored > 0)
        storeFailedWhileLogging(notStored);
}

// The disk filled up or the files went away: logging on would only pretend. The run ends;
// what was stored stays exportable.
void MainWidget::storeFailedWhileLogging(int notStored)
{
    qCritical().noquote() << "数据存储失败，未保存的读数:" << notStored;
    if (!logging || storeFailureShown)
        return;
    storeFailureShown = true;
    const QString text =
        tr("数据存储失败 %1：%2，记录已停止")
            .arg(QDir::toNativeSeparators(curveStore->dataDirectory()), curveStore->lastError());
    endNotice = text;
    messageDialog->showMessage(text, 1, MessageMs);
    busyOverlay->startLoading();
    scanThread->requestStop();
}

QString MainWidget::instrumentName(int instrument) const
{
    return instrument == ReadData::SwitchMainFrame ? tr("开关主机") : tr("测量仪器");
}

// While logging, the bottom bar says which instrument does not answer and since when.
void MainWidget::onInstrumentState(int instrument, bool answering, const QDateTime &since)
{
    silentInstruments.remove(instrument);
    if (!answering)
        silentInstruments.insert(instrument, since);
    if (!logging)
        return;
    QString text = tr("数据记录正在运行..");
    for (auto it = silentInstruments.cbegin(); it != silentInstruments.cend(); ++it)
        text += tr("（%1自 %2 起无响应）")
                    .arg(instrumentName(it.key()), it.value().toString(noticeTimeFormat));
    runningLabel->setText(text);
}

void MainWidget::onInstrumentLost(int instrument, const QDateTime &since)
{
    const QString text = tr("%1自 %2 起无响应，记录已停止")
                             .arg(instrumentName(instrument), since.toString(noticeTimeFormat));
    qCritical().noquote() << text;
    endNotice = text;
    messageDialog->showMessage(text, 1, MessageMs);
}

void MainWidget::fillReadingRow(int row, int channel)
{
    // A scan may bring more readings than the table has rows: grow it rather than drop them.
    while (row >= readingsTable->rowCount()) {
        const int newRow = readingsTable->rowCount();
        readingsTable->insertRow(newRow);
        for (int column = 0; column < 6; ++column) {
            auto *item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            readingsTable->setItem(newRow, column, item);
        }
    }
    const CurveSeriesData &curve = *channelSeries.value(channel);
    auto number = [](double v) { return QString::number(v, 'e', 5); };
    readingsTable->item(row, 0)->setText(QString::number(channel));
    readingsTable->item(row, 1)->setText(number(curve.lastValue()));
    readingsTable->item(row, 2)->setText(curve.lastTimeText());
    readingsTable->item(row, 3)->setText(number(curve.minimum()));
    readingsTable->item(row, 4)->setText(number(curve.maximum()));
    readingsTable->item(row, 5)->setText(number(curve.average()));
}

void MainWidget::recvReadDataSlot()
{
    // Whatever ended the run, a pending elapsed-time stop must not start a new one later.
    stopElapsedTimer();
    showIdle();
    recordEndTime = QDateTime::currentDateTime().addSecs(1).toString(recordTimeFormat);
    showRecordingOnTrend();
}
