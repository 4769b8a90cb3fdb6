#include "announcement.h"

#include <QRegularExpression>

#include <limits>

bool looksLikeAnnouncement(const QString &line)
{
    return line.startsWith(QLatin1String("WID:"));
}

bool parseAnnouncement(const QString &line, WindowAnnouncement *out)
{
    static const QRegularExpression pattern(
        QStringLiteral("^WID:([0-9]{1,20});COLOR:(#[0-9A-Fa-f]{6})$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return false;
    bool ok = false;
    const quint64 id = match.captured(1).toULongLong(&ok);
    // X11 window ids are 32-bit; a larger number cannot name a window of ours.
    if (!ok || id == 0 || id > std::numeric_limits<quint32>::max())
        return false;
    if (out) {
        out->windowId = id;
        out->background = QColor(match.captured(2));
    }
    return true;
}
