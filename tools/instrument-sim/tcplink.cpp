#include "tcplink.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

TcpLink::TcpLink(int socketFd, QObject *parent)
    : FdLink(parent)
{
    const int on = 1;
    ::setsockopt(socketFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    attach(socketFd);
}

void TcpLink::closeLink()
{
    if (closed)
        return;
    closed = true;
    discardPending();
    closeDescriptor();
    emit linkClosed();
}

void TcpLink::inputEnded()
{
    inputFinished = true;
    if (idle())
        closeLink();
}

void TcpLink::drained()
{
    if (inputFinished)
        closeLink();
}
