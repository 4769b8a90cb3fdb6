// A client connected to a simulated instrument over TCP. When the client ends its sending
// side, replies still owed are sent before the connection is closed (as with
// "printf '*IDN?\n' | nc host port").
#pragma once

#include "fdlink.h"

class TcpLink : public FdLink
{
    Q_OBJECT
public:
    // Takes ownership of the connected socket descriptor.
    explicit TcpLink(int socketFd, QObject *parent = nullptr);

    void closeLink() override;

protected:
    void inputEnded() override;
    void outputFailed() override { closeLink(); }
    void drained() override;

private:
    bool inputFinished = false;
    bool closed = false;
};
