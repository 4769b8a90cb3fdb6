// Drops the warnings the offscreen platform prints for every top-level resize and
// raise, so that test logs and warning checks show only what the widgets themselves report.
#pragma once

#include <QString>
#include <QtGlobal>

namespace quietoffscreen {

inline QtMessageHandler &forward()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline bool isPlatformNoise(const QString &message)
{
    return message == QLatin1String("This plugin does not support propagateSizeHints()") ||
           message == QLatin1String("This plugin does not support raise()") ||
           message == QLatin1String("This plugin does not support grabbing the keyboard");
}

inline void filter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (isPlatformNoise(message))
        return;
    if (forward())
        forward()(type, context, message);
}

} // namespace quietoffscreen

// Call from initTestCase, after QtTest has installed its own handler.
inline void silenceOffscreenSizeHints()
{
    if (!quietoffscreen::forward())
        quietoffscreen::forward() = qInstallMessageHandler(quietoffscreen::filter);
}
