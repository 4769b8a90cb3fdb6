// Live publishing of the recording: the publisher follows the runs, and its state and
// problems reach the user.
#include "loggingcontroller.h"

#include <QDebug>

#include "curvedatadb.h"
#include "livepublisher.h"
#include "mqttsettings.h"
#include "placefile.h"
#include "rig.h"

void LoggingController::setPublishing(const MqttSettings &settings,
                                      const QString &configurationError)
{
    if (!configurationError.isEmpty()) {
        qWarning().noquote() << configurationError;
        emit message(configurationError, ErrorMessage);
    }
    if (!settings.enabled)
        return;
    livePublisher = std::make_unique<LivePublisher>(settings);
    connect(livePublisher.get(), &LivePublisher::statusChanged, this,
            &LoggingController::onPublishStatus);
    connect(livePublisher.get(), &LivePublisher::problem, this, [this](const QString &text) {
        qWarning().noquote() << text;
        emit message(text, ErrorMessage);
    });
    onPublishStatus(false, 0);

    // What an earlier process published in part and did not deliver yet goes out now; a
    // recording never published (no place kept beside it) stays unpublished.
    if (curveStore || isLogging())
        return;
    if (!strandedStore)
        openStrandedRecording();
    PublishPlace place;
    if (!strandedStore ||
        !PlaceFile::read(PlaceFile::pathIn(strandedStore->dataDirectory()), &place))
        return;
    QList<int> channels;
    for (const QString &name : strandedStore->getCurveNames())
        channels << name.toInt();
    const FrameIdentity frame = rig.identity();
    livePublisher->setIdentity(frame.isKnown() ? frame : FrameIdentity::ofSerial(strandedSerial));
    livePublisher->startRecording(strandedStore.get(), channels);
    livePublisher->recordingEnded();
}

void LoggingController::onPublishStatus(bool connected, qint64 backlog)
{
    QString text = connected ? tr("MQTT：已连接") : tr("MQTT：未连接");
    if (backlog > 0)
        text += tr("，待发送 %1 条").arg(backlog);
    publishText = text;
    emit publishStatusChanged(text);
}

void LoggingController::forgetPublishedRecording()
{
    if (!livePublisher)
        return;
    const qint64 undelivered = livePublisher->forgetRecording();
    if (undelivered > 0)
        qWarning().noquote() << "上一次记录尚未发布的读数已放弃：" << undelivered << "个";
}
