// A wake-up from one thread to another over an eventfd: raised any number of times, taken
// once; its descriptor can be polled beside a socket or watched by a QSocketNotifier.
#pragma once

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

class WakeEvent
{
public:
    // owner names the part that uses it in the log lines, e.g. "MQTT 发布".
    explicit WakeEvent(const QString &owner)
        : owner(owner)
        , fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (fd < 0)
            qCritical().noquote() << owner + QStringLiteral("无法建立唤醒事件:") << strerror(errno);
    }
    ~WakeEvent()
    {
        if (fd >= 0)
            close(fd);
    }
    WakeEvent(const WakeEvent &) = delete;
    WakeEvent &operator=(const WakeEvent &) = delete;

    bool isValid() const { return fd >= 0; }
    int descriptor() const { return fd; }
    // Any thread.
    void raise()
    {
        // The counter only grows: a raise already pending holds this one.
        if (fd >= 0 && eventfd_write(fd, 1) < 0 && errno != EAGAIN)
            qWarning().noquote() << owner + QStringLiteral("通知失败:") << strerror(errno);
    }
    // True when raised since it was last taken.
    bool take()
    {
        eventfd_t count = 0;
        return fd >= 0 && eventfd_read(fd, &count) == 0 && count > 0;
    }

private:
    const QString owner;
    const int fd;
};
