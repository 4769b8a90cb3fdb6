// The link to both instruments: the measuring instrument named on the command line and the
// switch main frame found by the resource search.
#include "mainwidget.h"

#include <QDebug>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>

#include "cdevicevisa.h"
#include "instrumentsearch.h"
#include "processvalues.h"
#include "widgets/custommessagedialog.h"
#include "widgets/loadingview.h"

QStringList MainWidget::findInstruments()
{
    return findSupportedInstruments();
}

void MainWidget::recvConBtnSlot()
{
    if (switchConnected)
        return;
    setupButton->setText(tr("查找设备中,请稍等..."));

    const QStringList found = findInstruments();
    if (found.isEmpty()) {
        messageDialog->showMessage(tr("未查找到设备，请检查设备连接情况"), 1, 3000);
        return;
    }
    switchResource = found.first();
    switchDevice->connectDevice(switchResource);
    instrumentIdentity = switchDevice->sendCommand(QStringLiteral("*IDN?"));
    instrumentIdentity.replace(QLatin1Char(','), QLatin1Char(' '));
    if (instrumentIdentity.isEmpty())
        return;
    switchConnected = true;
    setupButton->setText(tr("设备连接成功"));

    QStringList ignored;
    const QList<int> slotNumbers =
        fittedSlots(switchDevice->sendCommand(QStringLiteral("SYST:CTYP?")), &ignored);
    if (!ignored.isEmpty())
        qWarning().noquote() << "开关主机报告的插槽号无效，已忽略" << ignored.size()
                             << "个:" << QStringList(ignored.mid(0, 10)).join(QLatin1Char(','));
    // Built in one go: no tick handling and no repaint per item.
    const bool wasBlocked = channelTree->blockSignals(true);
    channelTree->setUpdatesEnabled(false);
    for (int slot : slotNumbers)
        addModule(slot);
    channelTree->setUpdatesEnabled(true);
    channelTree->blockSignals(wasBlocked);
}

// The slots of the frame's reply that a frame can have: whole numbers 1 to MaxSlot, each
// once, in the order given. Anything else (text, an empty field, a repeat, a number out of
// range, a list longer than any frame) lands in ignored.
QList<int> MainWidget::fittedSlots(const QString &reply, QStringList *ignored)
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

void MainWidget::linkMeasureDevice()
{
    if (measureDevice->connectDevice(measureResource)) {
        measureDevice->sendCommand(QStringLiteral("*CLS"));
        if (!measureDevice->sendCommand(QStringLiteral("*IDN?")).isEmpty())
            measureConnected = true;
        return;
    }

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
