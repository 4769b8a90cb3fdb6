// The publisher's place in a recording, kept next to the store's day files: the recording's id
// and, per channel, the time stamp of the last sample the broker acknowledged. Lets a restarted
// logger carry on where the broker stopped confirming.
#pragma once

#include <QMap>
#include <QString>

struct PublishPlace
{
    qint64 recording = 0;
    QMap<int, qint64> acknowledged; // channel -> time stamp (ms) of the last acknowledged sample
};

namespace PlaceFile {

QString pathIn(const QString &dataDirectory);
// False when there is no file or it holds no recording id.
bool read(const QString &path, PublishPlace *place);
// Replaces the file as a whole (a crash leaves the old one or the new one); false, with the
// cause logged, when it could not be written.
bool write(const QString &path, const PublishPlace &place);

} // namespace PlaceFile
