// The link to both instruments: the measuring instrument named on the command line and the
// switch main frame found by the resource search.
#include "mainwidget.h"

#include <QPushButton>
#include <QTreeWidget>

#include "widgets/loadingview.h"

void MainWidget::recvConBtnSlot()
{
    if (controller.switchConnected())
        return;
    setupButton->setText(tr("查找设备中,请稍等..."));
    QList<int> slotNumbers;
    if (!controller.linkSwitchMainFrame(&slotNumbers))
        return;
    setupButton->setText(tr("设备连接成功"));
    // Built in one go: no tick handling and no repaint per item.
    const bool wasBlocked = channelTree->blockSignals(true);
    channelTree->setUpdatesEnabled(false);
    for (int slot : slotNumbers)
        addModule(slot);
    channelTree->setUpdatesEnabled(true);
    channelTree->blockSignals(wasBlocked);
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
    if (linkLostOverlay->isVisible())
        linkLostOverlay->stopLoading();
    linkLostOverlay->startLoading();
}
