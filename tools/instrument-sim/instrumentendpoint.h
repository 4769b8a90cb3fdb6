// Serves one simulated instrument on TCP or on a pseudo-terminal: accepts clients, answers
// their commands through the instrument's responder, records the transcript and carries out
// injected faults.
#pragma once

#include "faults.h"
#include "scpiresponder.h"
#include "simrole.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>

class LineLink;
class PtyLink;
class TcpListener;
class Transcript;

class InstrumentEndpoint : public QObject
{
    Q_OBJECT
public:
    InstrumentEndpoint(SimRole role, ScpiResponder *responder, Transcript *transcript, quint64 seed,
                       QObject *parent = nullptr);

    // port 0 binds a free ephemeral port.
    bool listenTcp(const QHostAddress &address, quint16 port, QString *why);
    bool openPty(QString *why);

    SimRole role() const { return instrumentRole; }
    // The VISA resource name clients open, e.g. TCPIP0::127.0.0.1::5025::SOCKET.
    QString resource() const;
    quint16 port() const { return listenPort; }

    void setFault(const ControlCommand &command);
    void clearFaults();
    QByteArray describe() const;

private:
    void acceptClient(int socketFd);
    void adoptLink(LineLink *link);
    void forgetLink(LineLink *link);
    void handleLine(LineLink *link, const QByteArray &line);
    void dropClients();
    void startRefusing(double seconds);
    void stopRefusing();
    bool relisten();

    SimRole instrumentRole;
    ScpiResponder *responder;
    Transcript *transcript;
    FaultSet faults;
    QRandomGenerator garbageSource;

    TcpListener *server = nullptr;
    QHostAddress listenAddress;
    quint16 listenPort = 0;
    PtyLink *pty = nullptr;
    QList<QPointer<LineLink>> clients;

    bool refusing = false;
    QTimer refuseTimer;
    QTimer relistenTimer;
};
