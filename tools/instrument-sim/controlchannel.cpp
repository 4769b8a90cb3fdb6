#include "controlchannel.h"

#include "faults.h"
#include "instrumentendpoint.h"
#include "rigstate.h"
#include "tcplink.h"
#include "tcplistener.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {
constexpr int kMaxControlLine = 4096;
}

ControlChannel::ControlChannel(const QList<InstrumentEndpoint *> &endpoints, const RigState *rig,
                               QObject *parent)
    : QObject(parent)
    , endpoints(endpoints)
    , rig(rig)
{
}

void ControlChannel::watchStandardInput()
{
    stdinNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(stdinNotifier, &QSocketNotifier::activated, this, &ControlChannel::readStandardInput);
}

void ControlChannel::readStandardInput()
{
    char buffer[4096];
    ssize_t n;
    do {
        n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        // End of input (or a broken one) does not end the simulator; it only stops listening.
        stdinNotifier->setEnabled(false);
        return;
    }
    stdinPartial.append(buffer, static_cast<int>(n));
    int lf;
    while ((lf = stdinPartial.indexOf('\n')) >= 0) {
        const QByteArray line = stdinPartial.left(lf).trimmed();
        stdinPartial.remove(0, lf + 1);
        if (line.isEmpty())
            continue;
        QByteArrayList statusLines;
        const QByteArray answer = execute(line, &statusLines);
        for (const QByteArray &s : qAsConst(statusLines))
            std::fprintf(stderr, "status: %s\n", s.constData());
        std::fprintf(stderr, "control: %s\n", answer.constData());
        std::fflush(stderr);
    }
    if (stdinPartial.size() > kMaxControlLine) {
        std::fprintf(stderr, "control: error line too long\n");
        stdinPartial.clear();
    }
}

bool ControlChannel::listen(quint16 port, QString *why)
{
    server = new TcpListener(this);
    connect(server, &TcpListener::clientAccepted, this, &ControlChannel::serveControlClient);
    // Loopback only, whatever --bind says: the control port is not for the network.
    if (!server->listen(QHostAddress::LocalHost, port)) {
        *why = QStringLiteral("cannot listen on control port %1: %2")
                   .arg(port)
                   .arg(server->errorString());
        return false;
    }
    return true;
}

quint16 ControlChannel::port() const
{
    return server ? server->serverPort() : 0;
}

void ControlChannel::serveControlClient(int socketFd)
{
    // The instruments' own link type, so a client that sends its line and half-closes
    // ("echo status | nc") still gets the answer.
    auto *link = new TcpLink(socketFd, this);
    connect(link, &LineLink::lineReceived, this,
            [this, link](const QByteArray &line) { answerControlLine(link, line); });
    connect(link, &LineLink::lineTooLong, link, &LineLink::closeLink);
    connect(link, &LineLink::linkClosed, link, &QObject::deleteLater);
}

void ControlChannel::answerControlLine(LineLink *link, const QByteArray &line)
{
    const QByteArray command = line.trimmed();
    if (command.isEmpty())
        return;
    QByteArrayList statusLines;
    QByteArray answer = execute(command, &statusLines);
    if (!statusLines.isEmpty())
        answer += ' ' + statusLines.join("; ");
    link->queueReply(answer + '\n', 0, QByteArray());
}

QByteArray ControlChannel::execute(const QByteArray &line, QByteArrayList *statusLines)
{
    ControlCommand command;
    QString why;
    if (!parseControlLine(line, &command, &why))
        return "error " + why.toUtf8();

    if (command.action == ControlCommand::Action::Status) {
        for (InstrumentEndpoint *endpoint : qAsConst(endpoints))
            statusLines->append(endpoint->describe());
        statusLines->append("closed channel " + QByteArray::number(rig->closedChannel) + ", t " +
                            QByteArray::number(rig->seconds(), 'f', 3) + " s");
        return "ok";
    }

    QList<InstrumentEndpoint *> targets;
    for (InstrumentEndpoint *endpoint : qAsConst(endpoints)) {
        if (command.target == "all" || roleName(endpoint->role()) == command.target)
            targets.append(endpoint);
    }
    if (targets.isEmpty())
        return "error " + command.target + " is not served";
    for (InstrumentEndpoint *endpoint : qAsConst(targets)) {
        if (command.action == ControlCommand::Action::Clear)
            endpoint->clearFaults();
        else
            endpoint->setFault(command);
    }
    return "ok";
}
