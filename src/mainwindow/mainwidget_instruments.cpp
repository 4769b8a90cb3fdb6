// The link to both instruments: the measuring instrument named on the command line and the
// switch main frame found by the resource search.
#include "mainwidget.h"

#include <QPushButton>

#include "cdevicevisa.h"
#include "instrumentsearch.h"
#include "processvalues.h"
#include "widgets/CustomMessageDialog.h"
#include "widgets/LoadingView.h"

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

    const QString fittedSlots = switchDevice->sendCommand(QStringLiteral("SYST:CTYP?"));
    for (const QString &field : fittedSlots.split(QLatin1Char(','), Qt::KeepEmptyParts))
        addModule(field.trimmed().toInt(nullptr, 10));
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
