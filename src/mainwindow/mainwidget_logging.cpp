// Logging: the settings handed to the controller, the start/stop button, and what a run shows
// (the bottom bar, the readings table, the trend plot).
#include "mainwidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>

#include "curveseriesdata.h"
#include "trendplot.h"
#include "widgets/custommessagedialog.h"
#include "widgets/imagebutton.h"
#include "widgets/loadingview.h"
#include "widgets/timepicker.h"

namespace {
constexpr int MessageMs = 3000;
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

void MainWidget::showMessage(const QString &text, int kind)
{
    messageDialog->showMessage(text, kind, MessageMs);
}

void MainWidget::recvSpeedSlot(bool isChecked)
{
    if (isChecked)
        controller.setSpeed(sender() == fastRadio);
}

void MainWidget::recvIntervalSlot(bool isChecked)
{
    if (!isChecked)
        return;
    const bool custom = sender() == customIntervalRadio;
    intervalPicker->setEnabled(custom);
    controller.setIntervalMs(custom ? static_cast<int>(intervalPicker->value() * 1000) : 0);
}

void MainWidget::recvIntervalPickerSlot(double value)
{
    controller.setIntervalMs(static_cast<int>(value * 1000));
    intervalLabel->setText(durationText(value));
}

void MainWidget::onElapsedPickerChanged(double value)
{
    controller.setElapsedLimitMs(static_cast<qint64>(value * 1000));
    elapsedLabel->setText(durationText(value));
}

void MainWidget::recvStopSlot(bool isChecked)
{
    if (!isChecked)
        return;
    scanCountSpin->setEnabled(sender() == scanCountRadio);
    elapsedPicker->setEnabled(sender() == elapsedRadio);
    if (sender() == scanCountRadio) {
        controller.setScanCount(scanCountSpin->value());
        controller.setStopMode(LoggingController::StopMode::ScanCount);
    } else {
        controller.setStopMode(sender() == elapsedRadio ? LoggingController::StopMode::Elapsed
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

void MainWidget::showRunStarting()
{
    startButton->setIcon(QIcon(QStringLiteral(":/image/stop.png")));
    startButton->setText(tr("停止"));
    exportButton->setEnabled(false);
    bottomLayout->insertWidget(1, runningLabel, 0);
    runningLabel->setText(tr("数据记录正在运行.."));
    runningLabel->show();
    busyOverlay->startLoading();
}

void MainWidget::showScanStarted()
{
    for (int row = 0; row < readingsTable->rowCount(); ++row) {
        QTableWidgetItem *first = readingsTable->item(row, 0);
        if (first && !first->text().isEmpty())
            for (int column = 0; column < 6; ++column)
                readingsTable->item(row, column)->setText(QString());
    }
    busyOverlay->stopLoading();
}

// Back to idle: the start button, export enabled, and the bottom bar empty or, for a run ended
// by a lost instrument or a failing store, saying so until the next start.
void MainWidget::showIdle()
{
    startButton->setIcon(QIcon(QStringLiteral(":/image/start.png")));
    startButton->setText(tr("开始"));
    exportButton->setEnabled(true);
    if (controller.endNotice().isEmpty()) {
        runningLabel->hide();
    } else {
        runningLabel->setText(controller.endNotice());
        runningLabel->show();
    }
    busyOverlay->stopLoading();
}

void MainWidget::refreshCurveSeriesDataSlot(const LoggingController::StoredRows &rows)
{
    for (const auto &row : rows)
        fillReadingRow(row.first, row.second);
    if (trendPlot)
        trendPlot->refresh();
}

void MainWidget::fillReadingRow(int row, int channel)
{
    const auto curve = controller.curves().value(channel);
    if (!curve)
        return;
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
    auto number = [](double v) { return QString::number(v, 'e', 5); };
    readingsTable->item(row, 0)->setText(QString::number(channel));
    readingsTable->item(row, 1)->setText(number(curve->lastValue()));
    readingsTable->item(row, 2)->setText(curve->lastTimeText());
    readingsTable->item(row, 3)->setText(number(curve->minimum()));
    readingsTable->item(row, 4)->setText(number(curve->maximum()));
    readingsTable->item(row, 5)->setText(number(curve->average()));
}

void MainWidget::recvReadDataSlot()
{
    showIdle();
    // Not while the window is going away: nobody would see it.
    if (trendPlot && controller.store() && !closing)
        trendPlot->showRecording(controller.store());
}
