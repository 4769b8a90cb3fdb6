// A private X server for one test process: Xvfb on a display number it picks itself, so
// tests that need real X11 windows run where no display exists.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

class XvfbServer
{
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // Starts Xvfb with the given screen ("1280x1024x24") and waits up to 10 s until it
    // reports its display. False with errorString() set when it cannot be started.
    bool start(const char *screen = "1280x1024x24");
    void stop();
    // ":N", valid after a successful start.
    QByteArray display() const { return displayName; }
    QString errorString() const { return error; }

private:
    pid_t pid = -1;
    QByteArray displayName;
    QString error;
};
