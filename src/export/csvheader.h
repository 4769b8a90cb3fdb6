// The lines an export's files begin with: where the recording's frame was, which frame it was,
// and when the recording started and ended.
#pragma once

#include <QString>

struct CsvHeader
{
    // The frame's resource.
    QString address;
    QString model;
    QString serial;
    // Milliseconds since the epoch.
    qint64 startMs = 0;
    qint64 endMs = 0;

    // How the header writes an instant: local time, "yyyy MM dd hh mm ss zzz". Start and end
    // each take the offset of their own instant, so a recording across a clock change shows
    // the wall-clock times of both.
    static QString timeText(qint64 ms);
};
