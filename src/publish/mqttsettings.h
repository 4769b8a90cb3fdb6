// Where and how live readings are published: the [mqtt] section of the logger's configuration
// file, with DATALOGGER_MQTT_URL overriding the broker URL. Publishing is off unless a URL is
// configured.
#pragma once

#include <QCoreApplication>
#include <QString>

struct MqttSettings
{
    Q_DECLARE_TR_FUNCTIONS(MqttSettings)

public:
    bool enabled = false;
    bool tls = false;     // mqtts://
    QString host;
    int port = 1883;      // 8883 for mqtts:// without a port
    QString topicPrefix;  // default "datalogger/<serial>", filled in by topicPrefixFor
    QString clientId;     // default "datalogger-<serial>-<pid>"
    QString userName;
    QString password;     // read from the password file (first line, without its line end)
    QString caFile;
    int qos = 1;

    // "$XDG_CONFIG_HOME/datalogger/datalogger.conf", or "~/.config/datalogger/datalogger.conf".
    static QString defaultConfigPath();
    // Reads the file (a missing file is no error: publishing is off) and the environment
    // override. On a bad setting returns settings with enabled false and sets error to a
    // message for the user (in the window's language, naming the setting and the reason).
    static MqttSettings load(const QString &configPath, QString *error);
    // The prefix to use for a frame's serial: topicPrefix when set, else "datalogger/<serial>".
    QString topicPrefixFor(const QString &serial) const;
};
