#include "rig.h"

#include "cdevicevisa.h"
#include "instrumentsearch.h"

namespace {
const QString clearStatus = QStringLiteral("*CLS");
const QString fetch = QStringLiteral("FETC?");
const QString apertureMedium = QStringLiteral("APER MED");
const QString apertureSlow = QStringLiteral("APER SLOW2");
const QString cardTypes = QStringLiteral("SYST:CTYP?");
const QString operationEvents = QStringLiteral("STAT:OPER:EVEN?");
const QString closeRoute = QStringLiteral("ROUT:CLOS (@%1)");

QString identify()
{
    return QString::fromLatin1(Rig::IdentifyQuery);
}
} // namespace

const QString Rig::DefaultSwitchResource =
    QStringLiteral("USB0::0x2E5B::0x4D19::f0000000000000a::0::INSTR");

Rig::Rig(const QString &measureResource, const QString &switchResource)
    : measureResourceText(measureResource)
    , switchResourceText(switchResource)
    , measure(std::make_unique<CDeviceVisa>(IdentifyQuery))
    , frame(std::make_unique<CDeviceVisa>(IdentifyQuery))
{
}

Rig::~Rig() = default;

QString Rig::measureResource() const
{
    std::lock_guard<std::mutex> lock(textMutex);
    return measureResourceText;
}

void Rig::setMeasureResource(const QString &resource)
{
    std::lock_guard<std::mutex> lock(textMutex);
    measureResourceText = resource;
}

QString Rig::switchResource() const
{
    std::lock_guard<std::mutex> lock(textMutex);
    return switchResourceText;
}

bool Rig::linkMeasure()
{
    if (!measure->connectDevice(measureResource()))
        return false;
    measure->sendCommand(clearStatus);
    return !measure->sendCommand(identify()).isEmpty();
}

void Rig::dropMeasure()
{
    measure->disconnectDevice();
}

void Rig::reopenMeasure()
{
    measure->connectDevice(measureResource());
}

bool Rig::measureIdentifies()
{
    return !measure->sendCommand(identify()).isEmpty();
}

QString Rig::fetchReading()
{
    return measure->sendCommand(fetch);
}

bool Rig::measureConnectionLost() const
{
    return !measure->isConnected() || measure->connectionLost();
}

void Rig::setSpeed(Speed speed)
{
    measure->sendCommand(speed == Speed::Fast ? apertureMedium : apertureSlow);
}

QStringList Rig::findSwitchMainFrames() const
{
    return findSupportedInstruments();
}

bool Rig::linkSwitch(const QString &resource)
{
    {
        std::lock_guard<std::mutex> lock(textMutex);
        switchResourceText = resource;
    }
    frame->connectDevice(resource);
    const FrameIdentity identity = FrameIdentity::parse(frame->sendCommand(identify()));
    setIdentity(identity);
    return identity.isKnown();
}

FrameIdentity Rig::identity() const
{
    std::lock_guard<std::mutex> lock(textMutex);
    return frameIdentity;
}

void Rig::setIdentity(const FrameIdentity &identity)
{
    std::lock_guard<std::mutex> lock(textMutex);
    frameIdentity = identity;
}

QString Rig::moduleSlots()
{
    return frame->sendCommand(cardTypes);
}

void Rig::closeChannel(int channel)
{
    frame->sendCommand(closeRoute.arg(channel));
}

bool Rig::switchAnswers()
{
    return !frame->sendCommand(operationEvents).isEmpty();
}

void Rig::dropSwitch()
{
    frame->disconnectDevice();
}

void Rig::reopenSwitch()
{
    frame->connectDevice(switchResource());
}
