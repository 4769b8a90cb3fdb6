#include "mqttlink.h"

#include "livepublisher.h"
#include "publishpayload.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QStringList>

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr int firstBackoffMs = 1000;
constexpr int maxBackoffMs = 30000;
constexpr qint64 connectTimeoutMs = 10000;
constexpr int keepAliveSeconds = 15;
// The goodbye status may wait this long for its acknowledgement; the destructor allows 3 s.
constexpr qint64 goodbyeWaitMs = 2000;
constexpr int goodbyeTurnMs = 50;

void initialiseLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

qint64 MqttLink::monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

MqttLink::MqttLink(const MqttSettings &settings, Listener *listener)
    : settings(settings)
    , listener(listener)
    , backoffMs(firstBackoffMs)
{
    initialiseLibrary();
}

MqttLink::~MqttLink()
{
    if (mosq)
        mosquitto_destroy(mosq);
}

QString MqttLink::broker() const
{
    return QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
}

void MqttLink::identityChanged(const FrameIdentity &identity)
{
    if (linkState != State::Down && identity.topicSerial() != sessionSerial) {
        drop();
        nextAttempt = 0;
    }
}

void MqttLink::manage(bool wanted, const FrameIdentity &identity)
{
    const qint64 now = monotonicMs();
    if (linkState == State::Down && wanted && settings.enabled && now >= nextAttempt)
        startConnect(identity);
    else if (linkState == State::Connecting && connectFailed())
        drop();
    else if (linkState == State::Connecting && now - linkSince > connectTimeoutMs) {
        report(LivePublisher::tr("MQTT 代理无法连接：%1（%2 秒内没有应答）")
                   .arg(broker())
                   .arg(connectTimeoutMs / 1000));
        drop();
    }
}

bool MqttLink::connectFailed()
{
    // With TLS set up, the library swallows a refused connect: connect_async succeeds and the
    // loop keeps succeeding on a dead socket. A hung-up socket without a peer is that case.
    const int fd = mosq ? mosquitto_socket(mosq) : -1;
    if (fd < 0)
        return false;
    pollfd poller{fd, POLLOUT, 0};
    if (poll(&poller, 1, 0) <= 0 || !(poller.revents & (POLLHUP | POLLERR)))
        return false;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0)
        return false;
    int error = 0;
    socklen_t errorLength = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength);
    if (error == 0)
        error = connectErrno;
    const QString reason =
        error ? QString::fromLocal8Bit(strerror(error)) : LivePublisher::tr("连接被对方关闭");
    report(LivePublisher::tr("MQTT 代理无法连接：%1（%2）").arg(broker(), reason));
    return true;
}

void MqttLink::startConnect(const FrameIdentity &identity)
{
    sessionSerial = identity.topicSerial();
    topicPrefix = settings.topicPrefixFor(sessionSerial).toUtf8();
    const QString clientId = settings.clientId.isEmpty()
                                 ? QStringLiteral("datalogger-%1-%2")
                                       .arg(sessionSerial)
                                       .arg(QCoreApplication::applicationPid())
                                 : settings.clientId;
    linkState = State::Connecting;
    linkSince = monotonicMs();
    refusedThisAttempt = false;
    lastLibraryError.clear();
    // A new session each time: nothing the library kept of the previous one can come back.
    mosq = mosquitto_new(clientId.toUtf8().constData(), true, this);
    if (!mosq) {
        report(LivePublisher::tr("MQTT 代理无法连接：%1（%2）").arg(broker(), strerror(errno)));
        drop();
        return;
    }
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(mosq, 100);
    mosquitto_connect_callback_set(mosq, &MqttLink::connectCallback);
    mosquitto_disconnect_callback_set(mosq, &MqttLink::disconnectCallback);
    mosquitto_publish_callback_set(mosq, &MqttLink::publishCallback);
    mosquitto_log_callback_set(mosq, &MqttLink::logCallback);
    if (!settings.userName.isEmpty()) {
        mosquitto_username_pw_set(
            mosq, settings.userName.toUtf8().constData(),
            settings.password.isEmpty() ? nullptr : settings.password.toUtf8().constData());
    }
    if (settings.tls) {
        const int rc = mosquitto_tls_set(mosq, QFile::encodeName(settings.caFile).constData(),
                                         nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            report(LivePublisher::tr("MQTT TLS 连接失败：%1（%2）")
                       .arg(broker(), QString::fromUtf8(mosquitto_strerror(rc))));
            drop();
            return;
        }
    }
    const QByteArray will = PublishPayload::will(sessionSerial);
    mosquitto_will_set(mosq, (topicPrefix + "/status").constData(), will.size(), will.constData(),
                       settings.qos, true);
    errno = 0;
    const int rc = mosquitto_connect_async(mosq, settings.host.toUtf8().constData(), settings.port,
                                           keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        handleLoopResult(rc, errno);
    else
        connectErrno = errno;
    if (dropRequested)
        drop();
}

void MqttLink::drop()
{
    if (mosq) {
        mosquitto_destroy(mosq);
        mosq = nullptr;
    }
    if (linkState == State::Up)
        qWarning().noquote() << "MQTT 与代理的连接中断:" << broker();
    linkState = State::Down;
    dropRequested = false;
    nextAttempt = monotonicMs() + backoffMs;
    backoffMs = std::min(backoffMs * 2, maxBackoffMs);
    listener->linkDown();
}

void MqttLink::handleLoopResult(int rc, int loopErrno)
{
    if (rc == MOSQ_ERR_SUCCESS)
        return;
    if (linkState == State::Connecting && !refusedThisAttempt) {
        QString reason;
        if (rc == MOSQ_ERR_ERRNO)
            reason = QString::fromLocal8Bit(strerror(loopErrno));
        else if (rc == MOSQ_ERR_TLS && !lastLibraryError.isEmpty())
            reason = lastLibraryError;
        else
            reason = QString::fromUtf8(mosquitto_strerror(rc));
        if (rc == MOSQ_ERR_TLS || (settings.tls && !lastLibraryError.isEmpty() &&
                                   lastLibraryError.contains(QLatin1String("SSL")))) {
            if (!lastLibraryError.isEmpty())
                reason = lastLibraryError;
            report(LivePublisher::tr("MQTT TLS 连接失败：%1（%2）").arg(broker(), reason));
        } else {
            report(LivePublisher::tr("MQTT 代理无法连接：%1（%2）").arg(broker(), reason));
        }
    }
    dropRequested = true;
}

void MqttLink::report(const QString &problem)
{
    if (problem == lastProblem)
        return;
    lastProblem = problem;
    qWarning().noquote() << problem;
    listener->problem(problem);
}

void MqttLink::turn(int wakeFd, int timeoutMs)
{
    if (mosq && linkState == State::Up) {
        const int rc = serviceSocket(wakeFd, timeoutMs);
        handleLoopResult(rc, errno);
    } else if (mosq) {
        const int rc = mosquitto_loop(mosq, timeoutMs, 1);
        const int loopErrno = errno;
        handleLoopResult(rc, loopErrno);
    } else {
        pollfd wake{wakeFd, POLLIN, 0};
        poll(&wake, wakeFd >= 0 ? 1 : 0, timeoutMs);
    }
    if (dropRequested)
        drop();
}

int MqttLink::serviceSocket(int wakeFd, int timeoutMs)
{
    const int socket = mosquitto_socket(mosq);
    if (socket < 0)
        return MOSQ_ERR_NO_CONN;
    pollfd fds[2] = {{socket, short(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0},
                     {wakeFd, POLLIN, 0}};
    if (poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs) < 0 && errno != EINTR)
        return MOSQ_ERR_ERRNO;
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        rc = mosquitto_loop_read(mosq, 1);
        // Acknowledge what the broker sent at once rather than after the delayed-ACK timer:
        // a broker with Nagle's algorithm holds its next acknowledgement until then, which
        // keeps the place of a burst's last messages waiting some 40 ms. The kernel drops the
        // setting on its own after a while, hence once per read.
#ifdef TCP_QUICKACK
        if (rc == MOSQ_ERR_SUCCESS && mosq) {
            const int on = 1;
            setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        }
#endif
    }
    if (rc == MOSQ_ERR_SUCCESS && mosq && (fds[0].revents & POLLOUT) && mosquitto_want_write(mosq))
        rc = mosquitto_loop_write(mosq, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosq)
        rc = mosquitto_loop_misc(mosq);
    return rc;
}

int MqttLink::publish(const QByteArray &topic, const QByteArray &payload, bool retain,
                      bool *acknowledgedAlready)
{
    int mid = -1;
    publishing = true;
    acknowledgedWhilePublishing.clear();
    const int rc = mosquitto_publish(mosq, &mid, topic.constData(), payload.size(),
                                     payload.constData(), settings.qos, retain);
    publishing = false;
    if (acknowledgedAlready)
        *acknowledgedAlready = acknowledgedWhilePublishing.count(mid) > 0;
    acknowledgedWhilePublishing.clear();
    if (rc != MOSQ_ERR_SUCCESS) {
        qWarning().noquote() << "MQTT 发布失败:" << topic << mosquitto_strerror(rc);
        return -1;
    }
    return mid;
}

void MqttLink::goodbye(const QByteArray &statusPayload)
{
    shuttingDown = true;
    if (linkState == State::Up && mosq) {
        goodbyeMid = publish(topicPrefix + "/status", statusPayload, true);
        const qint64 deadline = monotonicMs() + goodbyeWaitMs;
        while (goodbyeMid >= 0 && !goodbyeAcknowledged && !dropRequested &&
               monotonicMs() < deadline) {
            if (mosquitto_loop(mosq, goodbyeTurnMs, 1) != MOSQ_ERR_SUCCESS)
                break;
        }
        mosquitto_disconnect(mosq);
    }
    if (mosq) {
        mosquitto_destroy(mosq);
        mosq = nullptr;
    }
    linkState = State::Down;
}

void MqttLink::onConnect(int rc)
{
    if (rc != 0) {
        refusedThisAttempt = true;
        report(LivePublisher::tr("MQTT 登录被拒绝：%1（%2）")
                   .arg(broker(), QString::fromUtf8(mosquitto_connack_string(rc))));
        dropRequested = true;
        return;
    }
    if (linkState != State::Up)
        qInfo().noquote() << "MQTT 已连接代理:" << broker();
    linkState = State::Up;
    backoffMs = firstBackoffMs;
    lastProblem.clear();
    listener->linkUp();
}

void MqttLink::onDisconnect()
{
    if (!shuttingDown)
        dropRequested = true;
}

void MqttLink::onPublish(int mid)
{
    if (mid == goodbyeMid)
        goodbyeAcknowledged = true;
    if (publishing)
        acknowledgedWhilePublishing.insert(mid);
    listener->acknowledged(mid);
}

void MqttLink::connectCallback(mosquitto *, void *self, int rc)
{
    static_cast<MqttLink *>(self)->onConnect(rc);
}

void MqttLink::disconnectCallback(mosquitto *, void *self, int)
{
    static_cast<MqttLink *>(self)->onDisconnect();
}

void MqttLink::publishCallback(mosquitto *, void *self, int mid)
{
    static_cast<MqttLink *>(self)->onPublish(mid);
}

void MqttLink::logCallback(mosquitto *, void *self, int level, const char *text)
{
    // The library names the cause of a TLS failure only in its log.
    if (level == MOSQ_LOG_ERR && text)
        static_cast<MqttLink *>(self)->lastLibraryError = QString::fromUtf8(text);
}
