#include "frameidentity.h"

#include <QStringList>

FrameIdentity FrameIdentity::parse(const QString &idnReply)
{
    FrameIdentity identity;
    identity.words = idnReply;
    identity.words.replace(QLatin1Char(','), QLatin1Char(' '));
    const QStringList fields = identity.words.split(QLatin1Char(' '));
    identity.makerField = fields.value(0);
    identity.modelField = fields.value(1);
    identity.serialField = fields.value(2);
    identity.versionField = fields.value(3);
    return identity;
}

FrameIdentity FrameIdentity::ofSerial(const QString &serial)
{
    const QString unknown = QStringLiteral("-");
    FrameIdentity identity;
    identity.words = QStringList{unknown, unknown, serial, unknown}.join(QLatin1Char(' '));
    identity.makerField = unknown;
    identity.modelField = unknown;
    identity.serialField = serial;
    identity.versionField = unknown;
    return identity;
}

// Counted on the announced words, where runs of spaces and empty fields have gone: for a reply
// with an empty field this is not serial().
QString FrameIdentity::topicSerial() const
{
    const QStringList announced = statusText().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return announced.size() > 2 ? announced.at(2) : QStringLiteral("unknown");
}
