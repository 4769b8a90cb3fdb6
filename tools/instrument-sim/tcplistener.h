// Listening socket of a simulated instrument; hands over accepted connections as bare
// descriptors, which the links drive themselves.
#pragma once

#include <QTcpServer>

class TcpListener : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

signals:
    void clientAccepted(int socketFd);

protected:
    void incomingConnection(qintptr socketFd) override;
};
