// A real mosquitto broker for the publisher's suites, started on a free loopback port from a
// configuration written into a temporary directory, and a subscriber on libmosquitto that the
// test's own thread drives (no library thread), collecting what arrives.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

struct mosquitto;

class MqttTestBroker
{
public:
    ~MqttTestBroker();

    // A port nobody listens on at the moment.
    static int freePort();
    // Starts mosquitto with the listener lines (each may use %1 for the port) and the extra
    // lines given; waits until it accepts connections. port 0 picks a free one.
    bool start(const QString &directory, const QStringList &listeners,
               const QStringList &extra = {}, int port = 0, int secondPort = 0);
    void stop();
    // SIGSTOP / SIGCONT: a broker that holds its connections open but answers nothing.
    void freeze();
    void thaw();
    int port() const { return portMember; }
    int secondPort() const { return secondPortMember; }
    QByteArray log() const;

private:
    bool waitAccepting(int port);
    QProcess process;
    QString configPath;
    int portMember = 0;
    int secondPortMember = 0;
};

class MqttTestSubscriber
{
public:
    struct Message
    {
        QByteArray topic;
        QByteArray payload;
        bool retained = false;
    };

    // cleanSession false keeps the subscription and the queued messages in the broker while
    // the subscriber is away (a persistent session).
    MqttTestSubscriber(const QString &clientId, bool cleanSession);
    ~MqttTestSubscriber();

    // Connects to the plain listener on port and subscribes to filter at QoS 1; waits for the
    // subscription to be granted.
    bool connectTo(int port, const QString &filter);
    // One turn of the network loop (reconnecting after a lost connection).
    void pump(int timeoutMs);
    // Pumps this subscriber and the Qt events until done() or timeoutMs.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);

    std::vector<Message> messages;

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onSubscribe(mosquitto *, void *self, int, int, const int *);
    static void onMessage(mosquitto *, void *self, const struct mosquitto_message *message);

    mosquitto *mosq = nullptr;
    QByteArray filter;
    bool subscribed = false;
    bool connected = false;
};

// Each stored sample as a consumer sees it in the readings messages.
struct ReceivedSample
{
    QString serial;
    qint64 recording = 0;
    int channel = 0;
    qint64 t = 0;
    double value = 0.0;
    bool invalid = false;
};

// The samples of every message on a topic ending in "/readings", in arrival order; a message
// that is not valid JSON of the expected shape fails the parse (ok false).
std::vector<ReceivedSample> readingsIn(const std::vector<MqttTestSubscriber::Message> &messages,
                                       bool *ok);
// The newest retained-or-not message on topic; empty when none arrived.
QByteArray lastPayloadOn(const std::vector<MqttTestSubscriber::Message> &messages,
                         const QByteArray &topic);
