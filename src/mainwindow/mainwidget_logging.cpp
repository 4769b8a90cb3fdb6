// Logging: the settings handed to the controller, the start/stop button, and what a run shows
// (the bottom bar, the readings table, the trend plot).
#include "mainwidget.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include "curveseriesdata.h"
#include "readingstable.h"
#include "settingspanel.h"
#include "trendplot.h"
#include "widgets/custommessagedialog.h"
#include "widgets/imagebutton.h"
#include "widgets/loadingview.h"
#include "widgets/messagehistory.h"
#include "widgets/timepicker.h"

namespace {
constexpr int MessageMs = 3000;

QString durationText(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

// Every message is kept in the history; information closes itself, a warning or an error
// stays until it is dismissed.
void MainWidget::showMessage(const QString &text, int kind)
{
    messageHistory->add(kind, text);
    messageDialog->showMessage(text, kind,
                               kind == CustomMessageDialog::Information ? MessageMs : 0);
}

void MainWidget::showHistoryCount()
{
    if (!historyButton)
        return;
    const int unseen = messageHistory->unseenCount();
    historyButton->setText(unseen > 0 ? tr("消息记录 (%1)").arg(unseen) : tr("消息记录"));
    historyButton->setAccessibleName(unseen > 0 ? tr("消息记录，%1 条未查看的警告或错误").arg(unseen)
                                                : tr("消息记录"));
    historyButton->setAccessibleDescription(tr("打开本次运行的全部消息及其时间"));
    historyButton->setProperty("unseen", unseen > 0);
    // The style sheet's property selector is matched again only on a new polish.
    historyButton->style()->unpolish(historyButton);
    historyButton->style()->polish(historyButton);
}

void MainWidget::openMessageHistory()
{
    if (!historyDialog)
        historyDialog = new MessageHistoryDialog(*messageHistory, this);
    historyDialog->show();
    historyDialog->raise();
    historyDialog->activateWindow();
}

void MainWidget::recvSpeedSlot(bool isChecked)
{
    if (isChecked)
        controller.setSpeed(sender() == settings->fastRadio);
}

void MainWidget::recvIntervalSlot(bool isChecked)
{
    if (!isChecked)
        return;
    const bool custom = sender() == settings->customIntervalRadio;
    settings->intervalPicker->setEnabled(custom);
    controller.setIntervalMs(custom ? static_cast<int>(settings->intervalPicker->value() * 1000)
                                    : 0);
}

void MainWidget::recvIntervalPickerSlot(double value)
{
    controller.setIntervalMs(static_cast<int>(value * 1000));
    settings->intervalLabel->setText(SettingsPanel::durationText(value));
}

void MainWidget::onElapsedPickerChanged(double value)
{
    controller.setElapsedLimitMs(static_cast<qint64>(value * 1000));
    settings->elapsedLabel->setText(SettingsPanel::durationText(value));
}

void MainWidget::recvStopSlot(bool isChecked)
{
    if (!isChecked)
        return;
    settings->scanCountSpin->setEnabled(sender() == settings->scanCountRadio);
    settings->elapsedPicker->setEnabled(sender() == settings->elapsedRadio);
    if (sender() == settings->scanCountRadio) {
        controller.setScanCount(settings->scanCountSpin->value());
        controller.setStopMode(LoggingController::StopMode::Count);
    } else {
        controller.setStopMode(sender() == settings->elapsedRadio
                                   ? LoggingController::StopMode::Elapsed
                                   : LoggingController::StopMode::Button);
    }
}

void MainWidget::recvStopCountSlot(int count)
{
    controller.setScanCount(count);
}

void MainWidget::recvStartButtonSlot()
{
    controller.startOrStop();
}

void MainWidget::showStartButton(bool logging)
{
    startButton->setIcon(
        QIcon(logging ? QStringLiteral(":/image/stop.png") : QStringLiteral(":/image/start.png")));
    startButton->setText(logging ? tr("停止") : tr("开始"));
    startButton->setAccessibleName(logging ? tr("停止记录") : tr("开始记录"));
    startButton->setAccessibleDescription(logging ? tr("在当前通道测完后停止记录")
                                                  : tr("按设置开始记录所选通道"));
}

void MainWidget::holdSetUp(bool held)
{
    QList<QWidget *> controls = {channelTree, setupButton};
    if (settings) {
        for (QWidget *child : settings->widget()->findChildren<QWidget *>())
            if (qobject_cast<QAbstractButton *>(child) || qobject_cast<QAbstractSpinBox *>(child) ||
                qobject_cast<TimePicker *>(child))
                controls << child;
        // The page as a whole: each control keeps its own state (a picker of a choice not
        // taken stays disabled) for when the run has ended.
        settings->widget()->setEnabled(!held);
    }
    controls.removeAll(nullptr);
    for (QWidget *control : qAsConst(controls)) {
        if (held && !heldSetUpTexts.contains(control)) {
            heldSetUpTexts.insert(control, {control->toolTip(), control->accessibleDescription()});
            const QString why = tr("记录期间不能更改，停止记录后可以更改");
            control->setToolTip(why);
            control->setAccessibleDescription(why);
        } else if (!held && heldSetUpTexts.contains(control)) {
            const auto texts = heldSetUpTexts.take(control);
            control->setToolTip(texts.first);
            control->setAccessibleDescription(texts.second);
        }
    }
    if (channelTree)
        channelTree->setEnabled(!held);
    if (setupButton)
        setupButton->setEnabled(!held);
}

void MainWidget::showRunStarting()
{
    holdSetUp(true);
    showStartButton(true);
    exportButton->setEnabled(false);
    bottomLayout->insertWidget(1, runningLabel, 0);
    runningLabel->setText(controller.runningText());
    runningLabel->show();
    bottomLayout->insertWidget(2, runProgressLabel, 0);
    runProgressLabel->clear();
    runProgressLabel->show();
    busyOverlay->startLoading();
}

void MainWidget::showRunProgress()
{
    if (!controller.isLogging())
        return;
    const LoggingController::RunProgress progress = controller.runProgress();
    QStringList parts;
    parts << (progress.scansPlanned > 0
                  ? tr("已扫描 %1/%2 次").arg(progress.scansDone).arg(progress.scansPlanned)
                  : tr("已扫描 %1 次").arg(progress.scansDone));
    parts << tr("已运行 %1").arg(durationText(progress.elapsedMs));
    if (progress.nextScanInMs >= 0)
        // Rounded up: "0" would say the scan is under way.
        parts << tr("距下次扫描 %1").arg(durationText(progress.nextScanInMs + 999));
    const QString text = parts.join(tr("，"));
    runProgressLabel->setText(text);
    runProgressLabel->setAccessibleDescription(text);
}

void MainWidget::showScanStarted()
{
    readingsTable->showChannels(controller.curves().keys());
    showRunProgress();
    runProgressTimer->start();
    busyOverlay->stopLoading();
}

// Back to idle: the start button, export enabled, and the bottom bar empty or, for a run ended
// by a lost instrument or a failing store, saying so until the next start.
void MainWidget::showIdle()
{
    holdSetUp(false);
    showStartButton(false);
    exportButton->setEnabled(true);
    runProgressTimer->stop();
    runProgressLabel->hide();
    if (controller.endNotice().isEmpty()) {
        runningLabel->hide();
    } else {
        runningLabel->setText(controller.endNotice());
        runningLabel->show();
    }
    busyOverlay->stopLoading();
}

void MainWidget::showPublishStatus(const QString &text)
{
    publishLabel->setText(text);
    publishLabel->setVisible(!text.isEmpty());
}

void MainWidget::refreshCurveSeriesDataSlot(const LoggingController::StoredRows &rows)
{
    for (const auto &row : rows)
        if (const auto curve = controller.curves().value(row.second))
            readingsTable->showReading(row.first, row.second, *curve);
    if (trendPlot)
        trendPlot->refresh();
    // The count and the time to the next scan change now, not at the next second.
    showRunProgress();
}

void MainWidget::recvReadDataSlot()
{
    showIdle();
    if (trendPlot && controller.store())
        trendPlot->showRecording(controller.store());
}
