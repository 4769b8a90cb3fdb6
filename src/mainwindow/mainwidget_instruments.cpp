// The link to both instruments: the measuring instrument named on the command line and the
// switch main frame found by the resource search.
#include "mainwidget.h"

#include <QLabel>
#include <QPushButton>
#include <QTime>
#include <QTreeWidget>

#include "cdevicevisa.h"
#include "readdata.h"
#include "rig.h"
#include "widgets/loadingview.h"

void MainWidget::recvConBtnSlot()
{
    if (controller.switchConnected())
        return;
    showSwitchLink(SwitchLink::Searching);
    QList<int> slotNumbers;
    if (!controller.linkSwitchMainFrame(&slotNumbers)) {
        showSwitchLink(SwitchLink::NotConnected);
        return;
    }
    showSwitchLink(SwitchLink::Connected);
    // Built in one go: no tick handling and no repaint per item.
    const bool wasBlocked = channelTree->blockSignals(true);
    channelTree->setUpdatesEnabled(false);
    for (int slot : slotNumbers)
        addModule(slot);
    channelTree->setUpdatesEnabled(true);
    channelTree->blockSignals(wasBlocked);
}

// The connect button says what is linked, for the eye and for a screen reader alike.
void MainWidget::showSwitchLink(SwitchLink link)
{
    const Rig &rig = controller.instruments();
    const FrameIdentity identity = rig.identity();
    const QString frame =
        QStringLiteral("%1 %2").arg(identity.model(), identity.serial()).trimmed();
    switch (link) {
    case SwitchLink::NotConnected:
        setupButton->setText(tr("当前外接设备未连接,连接外部设备"));
        setupButton->setAccessibleName(tr("连接外部设备"));
        setupButton->setAccessibleDescription(tr("查找并连接开关主机，其模块随后列在下方"));
        break;
    case SwitchLink::Searching:
        setupButton->setText(tr("查找设备中,请稍等..."));
        setupButton->setAccessibleName(tr("正在查找开关主机"));
        setupButton->setAccessibleDescription(tr("正在查找开关主机，请稍等"));
        // The search holds the window's thread: show the text before it starts.
        setupButton->repaint();
        break;
    case SwitchLink::Silent:
        setupButton->setText(tr("开关主机无响应：%1").arg(frame));
        setupButton->setAccessibleName(tr("开关主机无响应：%1").arg(frame));
        setupButton->setAccessibleDescription(
            tr("%1（%2）不应答，恢复应答后继续").arg(frame, rig.switchResource()));
        break;
    case SwitchLink::Connected:
        setupButton->setText(tr("设备连接成功：%1").arg(frame));
        setupButton->setAccessibleName(tr("开关主机已连接：%1").arg(frame));
        setupButton->setAccessibleDescription(
            tr("已连接 %1（%2），其模块列在下方").arg(frame, rig.switchResource()));
        break;
    }
}

void MainWidget::showInstrumentStates()
{
    if (!instrumentStateLabel)
        return;
    const Rig &rig = controller.instruments();
    const FrameIdentity identity = rig.identity();
    const QMap<int, QDateTime> silent = controller.silentInstruments();
    QStringList lines;
    for (auto it = silent.cbegin(); it != silent.cend(); ++it) {
        const QString where =
            it.key() == ReadData::SwitchMainFrame
                ? QStringLiteral("%1 %2 %3")
                      .arg(identity.model(), identity.serial(), rig.switchResource())
                      .simplified()
                : rig.measureResource();
        lines << tr("%1 %2 自 %3 起无响应")
                     .arg(LoggingController::instrumentName(it.key()), where,
                          it.value().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    }
    instrumentStateLabel->setText(lines.join(QLatin1Char('\n')));
    instrumentStateLabel->setAccessibleName(lines.join(tr("；")));
    instrumentStateLabel->setVisible(!lines.isEmpty());
    if (controller.switchConnected())
        showSwitchLink(silent.contains(ReadData::SwitchMainFrame) ? SwitchLink::Silent
                                                                  : SwitchLink::Connected);
}

// Without an answering measuring instrument the window offers to try again.
void MainWidget::linkMeasureDevice()
{
    if (controller.linkMeasuringInstrument())
        return;
    if (!linkLostOverlay) {
        linkLostOverlay = new LoadingView(1, this);
        connect(linkLostOverlay, &LoadingView::confirmRequested, this,
                &MainWidget::recvLoadBtnSlot);
    }
    if (busyOverlay && busyOverlay->isVisible())
        busyOverlay->stopLoading();
    // Which instrument, where, and why; a retry that failed says so with its time.
    Rig &rig = controller.instruments();
    QString detail = tr("测量仪器 %1 无响应：%2")
                         .arg(rig.measureResource(), rig.measureSession().lastErrorText());
    if (linkLostOverlay->isVisible()) {
        detail +=
            QLatin1Char('\n') +
            tr("%1 恢复通信失败").arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")));
        linkLostOverlay->stopLoading();
    }
    linkLostOverlay->setDetailText(detail);
    linkLostOverlay->startLoading();
}
