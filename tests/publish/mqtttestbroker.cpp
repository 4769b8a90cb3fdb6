#include "mqtttestbroker.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <mosquitto.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool tcpConnects(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

MqttTestBroker::~MqttTestBroker()
{
    thaw();
    stop();
}

int MqttTestBroker::freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool MqttTestBroker::start(const QString &directory, const QStringList &listeners,
                           const QStringList &extra, int port, int secondPort)
{
    portMember = port ? port : freePort();
    secondPortMember = secondPort ? secondPort : freePort();
    QStringList lines;
    // As root the broker would switch to its own user, which cannot read the test's files.
    if (getuid() == 0)
        lines << QStringLiteral("user root");
    lines << QStringLiteral("log_dest stderr") << QStringLiteral("log_type error")
          << QStringLiteral("log_type warning") << QStringLiteral("log_type notice");
    lines += extra;
    for (QString listener : listeners) {
        listener.replace(QLatin1String("%1"), QString::number(portMember));
        listener.replace(QLatin1String("%2"), QString::number(secondPortMember));
        lines << listener;
    }
    configPath = QDir(directory).filePath(QStringLiteral("mosquitto-%1.conf").arg(portMember));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    config.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    config.close();
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), configPath});
    if (!process.waitForStarted(5000))
        return false;
    return waitAccepting(portMember);
}

bool MqttTestBroker::waitAccepting(int port)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (process.state() != QProcess::Running)
            return false;
        if (tcpConnects(port))
            return true;
        QThread::msleep(20);
    }
    return false;
}

void MqttTestBroker::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void MqttTestBroker::freeze()
{
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), SIGSTOP);
}

void MqttTestBroker::thaw()
{
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), SIGCONT);
}

QByteArray MqttTestBroker::log() const
{
    return const_cast<QProcess &>(process).readAll();
}

MqttTestSubscriber::MqttTestSubscriber(const QString &clientId, bool cleanSession)
{
    mosquitto_lib_init();
    mosq = mosquitto_new(clientId.toUtf8().constData(), cleanSession, this);
    mosquitto_connect_callback_set(mosq, &MqttTestSubscriber::onConnect);
    mosquitto_subscribe_callback_set(mosq, &MqttTestSubscriber::onSubscribe);
    mosquitto_message_callback_set(mosq, &MqttTestSubscriber::onMessage);
}

MqttTestSubscriber::~MqttTestSubscriber()
{
    if (connected)
        mosquitto_disconnect(mosq);
    mosquitto_destroy(mosq);
}

bool MqttTestSubscriber::connectTo(int port, const QString &filterText)
{
    filter = filterText.toUtf8();
    if (mosquitto_connect(mosq, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS)
        return false;
    return waitUntil([this] { return subscribed; }, 10000);
}

void MqttTestSubscriber::pump(int timeoutMs)
{
    if (mosquitto_loop(mosq, timeoutMs, 1) != MOSQ_ERR_SUCCESS) {
        connected = false;
        QThread::msleep(quint64(timeoutMs));
        mosquitto_reconnect(mosq);
    }
}

bool MqttTestSubscriber::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        pump(20);
    }
    return true;
}

void MqttTestSubscriber::onConnect(mosquitto *mosq, void *self, int rc)
{
    auto *subscriber = static_cast<MqttTestSubscriber *>(self);
    if (rc != 0)
        return;
    subscriber->connected = true;
    // Also after a reconnect: a broker that lost its state has lost the subscription too.
    mosquitto_subscribe(mosq, nullptr, subscriber->filter.constData(), 1);
}

void MqttTestSubscriber::onSubscribe(mosquitto *, void *self, int, int, const int *)
{
    static_cast<MqttTestSubscriber *>(self)->subscribed = true;
}

void MqttTestSubscriber::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    Message received;
    received.topic = QByteArray(message->topic);
    received.payload = QByteArray(static_cast<const char *>(message->payload), message->payloadlen);
    received.retained = message->retain;
    static_cast<MqttTestSubscriber *>(self)->messages.push_back(received);
}

std::vector<ReceivedSample> readingsIn(const std::vector<MqttTestSubscriber::Message> &messages,
                                       bool *ok)
{
    *ok = true;
    std::vector<ReceivedSample> samples;
    for (const auto &message : messages) {
        if (!message.topic.endsWith("/readings"))
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(message.payload, &error);
        const QJsonObject object = document.object();
        if (error.error != QJsonParseError::NoError || !object.value("samples").isArray() ||
            !object.value("serial").isString() || !object.value("recording").isDouble()) {
            *ok = false;
            continue;
        }
        const QJsonArray array = object.value("samples").toArray();
        for (const QJsonValue &entry : array) {
            const QJsonObject sample = entry.toObject();
            ReceivedSample received;
            received.serial = object.value("serial").toString();
            received.recording = qint64(object.value("recording").toDouble());
            received.channel = sample.value("channel").toInt(-1);
            received.t = qint64(sample.value("t").toDouble(-1));
            received.value = sample.value("value").toDouble();
            received.invalid = sample.value("invalid").toBool(false);
            if (!sample.value("value").isDouble() || received.channel < 0 || received.t < 0)
                *ok = false;
            samples.push_back(received);
        }
    }
    return samples;
}

QByteArray lastPayloadOn(const std::vector<MqttTestSubscriber::Message> &messages,
                         const QByteArray &topic)
{
    for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
        if (it->topic == topic)
            return it->payload;
    }
    return QByteArray();
}
