// The logger's window announcement, "WID:<native handle>;COLOR:#rrggbb", parsed strictly.
#pragma once

#include <QColor>
#include <QString>
#include <QtGlobal>

struct WindowAnnouncement
{
    quint64 windowId = 0;
    QColor background;
};

// True when line is exactly one announcement: a non-zero decimal handle that fits a native
// window id and a colour of a number sign and six hexadecimal digits. Anything else (spaces,
// signs, missing fields, trailing text) is refused and out is left untouched.
bool parseAnnouncement(const QString &line, WindowAnnouncement *out);

// A line that claims to be an announcement: it starts with "WID:".
bool looksLikeAnnouncement(const QString &line);
