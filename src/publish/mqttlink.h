// The publisher's session with the MQTT broker through libmosquitto: connecting with back-off,
// the last will, the problems a user is told about, publishing and the broker's
// acknowledgements, and the goodbye status at the end. Lives on the publisher's thread and
// tells it through a Listener.
#pragma once

#include "frameidentity.h"
#include "mqttsettings.h"

#include <QByteArray>
#include <QString>

#include <set>

struct mosquitto;

class MqttLink
{
public:
    // The monotonic clock the link and the publisher's thread keep their times by, in ms.
    static qint64 monotonicMs();

    class Listener
    {
    public:
        virtual ~Listener() = default;
        // The broker accepted the session.
        virtual void linkUp() = 0;
        // The session ended; what was in flight will not be acknowledged.
        virtual void linkDown() = 0;
        // The broker acknowledged the message mid (also while publish is still running).
        virtual void acknowledged(int mid) = 0;
        // A problem for the user (Chinese text), each one once until the link comes up.
        virtual void problem(const QString &text) = 0;
    };

    enum class State
    {
        Down,
        Connecting,
        Up
    };

    MqttLink(const MqttSettings &settings, Listener *listener);
    ~MqttLink();
    MqttLink(const MqttLink &) = delete;
    MqttLink &operator=(const MqttLink &) = delete;

    State state() const { return linkState; }
    bool isUp() const { return linkState == State::Up; }
    // The serial and the topic prefix of the session (set when it starts).
    const QString &serial() const { return sessionSerial; }
    const QByteArray &prefix() const { return topicPrefix; }
    QString broker() const;

    // Starts a session when wanted and the back-off has passed (identity names the frame for
    // the will and the topics); gives up a connect that failed or took too long.
    void manage(bool wanted, const FrameIdentity &identity);
    // The identity changed: the will and the topics name its serial, so a new serial needs a
    // new session, started at once.
    void identityChanged(const FrameIdentity &identity);
    // One turn of the network, at most timeoutMs; wakeFd readable ends the wait (it is not
    // read here).
    void turn(int wakeFd, int timeoutMs);
    // Publishes with the configured QoS; the message id, or -1 (logged). acknowledgedAlready:
    // the acknowledgement came before this returned (QoS 0).
    int publish(const QByteArray &topic, const QByteArray &payload, bool retain,
                bool *acknowledgedAlready = nullptr);
    // Ends the session after this turn of the network (a publish the library refused).
    void requestDrop() { dropRequested = true; }
    // The last word: the status payload retained, its acknowledgement awaited a while
    // (acknowledgements of readings still come in meanwhile), a clean disconnect.
    void goodbye(const QByteArray &statusPayload);

private:
    void startConnect(const FrameIdentity &identity);
    bool connectFailed();
    void drop();
    void handleLoopResult(int rc, int loopErrno);
    int serviceSocket(int wakeFd, int timeoutMs);
    void report(const QString &problem);
    void onConnect(int rc);
    void onDisconnect();
    void onPublish(int mid);

    static void connectCallback(mosquitto *, void *self, int rc);
    static void disconnectCallback(mosquitto *, void *self, int rc);
    static void publishCallback(mosquitto *, void *self, int mid);
    static void logCallback(mosquitto *, void *self, int level, const char *text);

    const MqttSettings settings;
    Listener *const listener;
    mosquitto *mosq = nullptr;
    State linkState = State::Down;
    QString sessionSerial;
    QByteArray topicPrefix;
    qint64 linkSince = 0;
    qint64 nextAttempt = 0;
    int backoffMs;
    bool dropRequested = false;
    bool refusedThisAttempt = false;
    int connectErrno = 0;
    bool shuttingDown = false;
    QString lastLibraryError;
    QString lastProblem;
    // Acknowledgements that arrived inside mosquitto_publish, before its id was known.
    bool publishing = false;
    std::set<int> acknowledgedWhilePublishing;
    int goodbyeMid = -1;
    bool goodbyeAcknowledged = false;
};
