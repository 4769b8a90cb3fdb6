// A simulated instrument's serial port: the master side of a pseudo-terminal whose slave path
// (/dev/pts/N) clients open as a serial device, one after another.
#pragma once

#include "fdlink.h"

#include <QString>

class PtyLink : public FdLink
{
    Q_OBJECT
public:
    explicit PtyLink(QObject *parent = nullptr);
    ~PtyLink() override;

    bool open(QString *why);
    QString slavePath() const { return path; }

    // A serial line cannot be hung up from this end: forget queued replies and flush both
    // directions of the terminal instead.
    void closeLink() override;

protected:
    void inputEnded() override {}
    void outputFailed() override {}

private:
    int slaveFd = -1;
    QString path;
};
