// The JSON messages the live publisher sends: a batch of readings, a channel's latest value,
// the frame's status and its last will. Built by hand, numbers at full precision.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>

struct PublishedSample
{
    qint64 t = 0; // ms since the epoch
    int channel = 0;
    double value = 0.0;
};

namespace PublishPayload {

// The value stored for overloads and readings with a bad status.
bool isInvalid(double value);
QByteArray readings(const QString &serial, qint64 recording, const PublishedSample *samples,
                    size_t count);
QByteArray latest(const QString &serial, const PublishedSample &sample);
QByteArray status(const QString &serial, const QString &state, const QString &identity,
                  const QList<int> &channels, qint64 recording, qint64 backlog);
QByteArray will(const QString &serial);

} // namespace PublishPayload
