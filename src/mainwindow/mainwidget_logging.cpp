// Logging: the settings handed to the controller, the start/stop button, and what a run shows
// (the bottom bar, the readings table, the trend plot).
#include "mainwidget.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>

#include "curveseriesdata.h"
#include "readingstable.h"
#include "settingspanel.h"
#include "trendplot.h"
#include "widgets/custommessagedialog.h"
#include "widgets/imagebutton.h"
#include "widgets/loadingview.h"
#include "widgets/timepicker.h"

namespace {
constexpr int MessageMs = 3000;
} // namespace

void MainWidget::showMessage(const QString &text, int kind)
{
    messageDialog->showMessage(text, kind, MessageMs);
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
        controller.setStopMode(LoggingController::StopMode::ScanCount);
    } else {
        controller.setStopMode(sender() == settings->elapsedRadio
                                   ? LoggingController::StopMode::Elapsed
                                   : LoggingController::StopMode::StopButton);
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
    runningLabel->setText(tr("数据记录正在运行.."));
    runningLabel->show();
    busyOverlay->startLoading();
}

void MainWidget::showScanStarted()
{
    readingsTable->showChannels(controller.curves().keys());
    busyOverlay->stopLoading();
}

// Back to idle: the start button, export enabled, and the bottom bar empty or, for a run ended
// by a lost instrument or a failing store, saying so until the next start.
void MainWidget::showIdle()
{
    holdSetUp(false);
    showStartButton(false);
    exportButton->setEnabled(true);
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
}

void MainWidget::recvReadDataSlot()
{
    showIdle();
    // Not while the window is going away: nobody would see it.
    if (trendPlot && controller.store() && !closing)
        trendPlot->showRecording(controller.store());
}
