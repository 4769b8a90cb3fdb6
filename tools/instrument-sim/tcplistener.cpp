#include "tcplistener.h"

void TcpListener::incomingConnection(qintptr socketFd)
{
    emit clientAccepted(static_cast<int>(socketFd));
}
