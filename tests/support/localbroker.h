// Runs an MQTT broker (mosquitto) for one test on a free loopback port, and a subscriber that
// collects what the broker delivers on a topic filter (mosquitto_sub, QoS 1).
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class LocalBroker
{
public:
    LocalBroker() = default;
    ~LocalBroker();
    LocalBroker(const LocalBroker &) = delete;
    LocalBroker &operator=(const LocalBroker &) = delete;

    // Starts the broker with anonymous access and extra configuration lines; false with a
    // reason in errorString() when mosquitto is missing or does not come up.
    bool start(const QStringList &extraConfig = {});
    void stop();
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port); }
    QString errorString() const { return error; }

    // Subscribes to filter; received() returns "topic payload" lines so far.
    bool subscribe(const QString &filter);
    QStringList received();

private:
    QTemporaryDir dir;
    QProcess broker;
    QProcess subscriber;
    quint16 port = 0;
    QString error;
    QByteArray pending;
    QStringList lines;
};
