#include "instrumentendpoint.h"

#include "ptylink.h"
#include "tcplink.h"
#include "tcplistener.h"
#include "transcript.h"

#include <cstdio>
#include <unistd.h>

InstrumentEndpoint::InstrumentEndpoint(SimRole role, ScpiResponder *responder,
                                       Transcript *transcript, quint64 seed, QObject *parent)
    : QObject(parent)
    , instrumentRole(role)
    , responder(responder)
    , transcript(transcript)
    , garbageSource(static_cast<quint32>(seed ^ (seed >> 32)) + static_cast<quint32>(role))
{
    refuseTimer.setSingleShot(true);
    connect(&refuseTimer, &QTimer::timeout, this, &InstrumentEndpoint::stopRefusing);
    relistenTimer.setInterval(200);
    connect(&relistenTimer, &QTimer::timeout, this, [this] {
        if (relisten())
            relistenTimer.stop();
    });
}

bool InstrumentEndpoint::listenTcp(const QHostAddress &address, quint16 port, QString *why)
{
    server = new TcpListener(this);
    connect(server, &TcpListener::clientAccepted, this, &InstrumentEndpoint::acceptClient);
    if (!server->listen(address, port)) {
        *why = QStringLiteral("%1: cannot listen on %2 port %3: %4")
                   .arg(QString::fromLatin1(roleName(instrumentRole)), address.toString())
                   .arg(port)
                   .arg(server->errorString());
        return false;
    }
    listenAddress = address;
    listenPort = server->serverPort();
    return true;
}

bool InstrumentEndpoint::openPty(QString *why)
{
    pty = new PtyLink(this);
    if (!pty->open(why))
        return false;
    adoptLink(pty);
    return true;
}

QString InstrumentEndpoint::resource() const
{
    if (pty)
        return QStringLiteral("ASRL%1::INSTR").arg(pty->slavePath());
    QHostAddress host = listenAddress;
    // A wildcard address cannot be connected to; loopback reaches it from this machine.
    if (host == QHostAddress::AnyIPv4 || host == QHostAddress::Any)
        host = QHostAddress::LocalHost;
    else if (host == QHostAddress::AnyIPv6)
        host = QHostAddress::LocalHostIPv6;
    const QString name = host.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(host.toString())
                             : host.toString();
    return QStringLiteral("TCPIP0::%1::%2::SOCKET").arg(name).arg(listenPort);
}

void InstrumentEndpoint::acceptClient(int socketFd)
{
    if (refusing) {
        ::close(socketFd);
        return;
    }
    adoptLink(new TcpLink(socketFd, this));
}

void InstrumentEndpoint::adoptLink(LineLink *link)
{
    clients.append(link);
    connect(link, &LineLink::lineReceived, this,
            [this, link](const QByteArray &line) { handleLine(link, line); });
    connect(link, &LineLink::lineTooLong, this, [this](int bytes) {
        transcript->event(instrumentRole, "error: line of " + QByteArray::number(bytes) +
                                              " bytes without line feed discarded");
    });
    connect(link, &LineLink::replySending, this,
            [this](const QByteArray &text) { transcript->sent(instrumentRole, text); });
    connect(link, &LineLink::linkClosed, this, [this, link] { forgetLink(link); });
}

void InstrumentEndpoint::forgetLink(LineLink *link)
{
    if (link == pty || !clients.removeAll(link))
        return;
    link->deleteLater();
}

void InstrumentEndpoint::handleLine(LineLink *link, const QByteArray &line)
{
    // A blank line is no command: nothing to record or answer.
    if (line.trimmed().isEmpty())
        return;
    transcript->received(instrumentRole, line);
    if (refusing) {
        // Only a pseudo-terminal gets here: a serial line cannot refuse, it ignores.
        transcript->event(instrumentRole, "refusing: command ignored");
        return;
    }
    const ScpiOutcome outcome = responder->execute(line, faults.badStatus);
    if (!outcome.error.isEmpty())
        transcript->event(instrumentRole, "error " + outcome.error);
    if (!outcome.hasReply)
        return;
    if (faults.silent) {
        transcript->event(instrumentRole, "silent: reply withheld");
        return;
    }
    const QByteArray bytes = shapeReply(outcome.reply, faults, &garbageSource);
    if (faults.body != FaultSet::Body::Normal)
        transcript->event(instrumentRole, "reply replaced: " + faults.describe());
    else if (faults.noLf)
        transcript->event(instrumentRole, "reply sent without line feed");
    QByteArray logText = bytes;
    if (logText.endsWith('\n'))
        logText.chop(1);
    link->queueReply(bytes, faults.slowMs, logText);
}

void InstrumentEndpoint::setFault(const ControlCommand &command)
{
    QByteArray text = "fault " + command.kind;
    if (command.kind == "slow" || command.kind == "overlong")
        text += ' ' + QByteArray::number(command.number);
    else if (command.kind == "refuse")
        text += ' ' + QByteArray::number(command.seconds);
    transcript->event(instrumentRole, text);
    if (command.kind == "drop")
        dropClients();
    else if (command.kind == "refuse")
        startRefusing(command.seconds);
    else
        applyFault(&faults, command);
}

void InstrumentEndpoint::clearFaults()
{
    transcript->event(instrumentRole, "clear");
    faults = FaultSet();
    if (refusing)
        stopRefusing();
}

void InstrumentEndpoint::dropClients()
{
    const QList<QPointer<LineLink>> current = clients;
    for (const QPointer<LineLink> &link : current) {
        if (link)
            link->closeLink();
    }
}

void InstrumentEndpoint::startRefusing(double seconds)
{
    refusing = true;
    dropClients();
    // Closing the listening socket makes new connections fail at once, as with an instrument
    // that is switched off, instead of hanging in the backlog.
    if (server)
        server->close();
    relistenTimer.stop();
    refuseTimer.start(static_cast<int>(seconds * 1000.0 + 0.5));
}

void InstrumentEndpoint::stopRefusing()
{
    refuseTimer.stop();
    refusing = false;
    if (server && !server->isListening() && !relisten()) {
        // Something else may hold the port for a moment; keep trying.
        relistenTimer.start();
    }
    transcript->event(instrumentRole, "accepting connections again");
}

bool InstrumentEndpoint::relisten()
{
    if (server->listen(listenAddress, listenPort))
        return true;
    std::fprintf(stderr, "instrument-sim: %s: cannot listen on port %u again yet: %s\n",
                 roleName(instrumentRole).constData(), listenPort,
                 qPrintable(server->errorString()));
    return false;
}

QByteArray InstrumentEndpoint::describe() const
{
    int connected = 0;
    for (const QPointer<LineLink> &link : clients) {
        if (link && link != pty)
            ++connected;
    }
    QByteArray text = roleName(instrumentRole) + ' ' + resource().toUtf8();
    if (!pty)
        text += " clients " + QByteArray::number(connected);
    text += " faults " + faults.describe();
    if (refusing)
        text += " refusing " + QByteArray::number(refuseTimer.remainingTime()) + " ms";
    return text;
}
