#include "ptylink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

PtyLink::PtyLink(QObject *parent)
    : FdLink(parent)
{
}

PtyLink::~PtyLink()
{
    closeDescriptor();
    if (slaveFd >= 0)
        ::close(slaveFd);
}

bool PtyLink::open(QString *why)
{
    const int masterFd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (masterFd < 0) {
        *why = QStringLiteral("cannot create a pseudo-terminal: %1")
                   .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    attach(masterFd);
    const char *name = nullptr;
    if (::grantpt(masterFd) != 0 || ::unlockpt(masterFd) != 0 ||
        (name = ::ptsname(masterFd)) == nullptr) {
        *why = QStringLiteral("cannot set up the pseudo-terminal: %1")
                   .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    path = QString::fromLocal8Bit(name);
    // Holding the slave open ourselves keeps the master from reading EIO whenever the last
    // client closes it, so clients can come and go.
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd < 0) {
        *why = QStringLiteral("cannot open %1: %2")
                   .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    termios tio{};
    if (::tcgetattr(slaveFd, &tio) == 0) {
        // Raw: no echo of replies back to us, no line editing, no CR/LF translation.
        ::cfmakeraw(&tio);
        ::tcsetattr(slaveFd, TCSANOW, &tio);
    }
    return true;
}

void PtyLink::closeLink()
{
    discardPending();
    discardUnsent();
    ::tcflush(slaveFd, TCIOFLUSH);
}
