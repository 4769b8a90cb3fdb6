// Takes fault-injection lines ("fault ...", "clear ...", "status") from standard input and,
// when asked, from a loopback TCP control port, and applies them to the instruments.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

class InstrumentEndpoint;
class LineLink;
class QSocketNotifier;
class TcpListener;
struct RigState;

class ControlChannel : public QObject
{
    Q_OBJECT
public:
    ControlChannel(const QList<InstrumentEndpoint *> &endpoints, const RigState *rig,
                   QObject *parent = nullptr);

    // Reads control lines from standard input; each is acknowledged on standard error with
    // "control: ok" or "control: error <why>", so standard output stays machine-readable.
    void watchStandardInput();
    // port 0 binds a free port; lines there are answered "ok" or "error <why>".
    bool listen(quint16 port, QString *why);
    quint16 port() const;

    // Carries out one control line; returns "ok..." or "error <why>".
    QByteArray execute(const QByteArray &line, QByteArrayList *statusLines);

private:
    void readStandardInput();
    void serveControlClient(int socketFd);
    void answerControlLine(LineLink *link, const QByteArray &line);

    QList<InstrumentEndpoint *> endpoints;
    const RigState *rig;
    QSocketNotifier *stdinNotifier = nullptr;
    QByteArray stdinPartial;
    TcpListener *server = nullptr;
};
