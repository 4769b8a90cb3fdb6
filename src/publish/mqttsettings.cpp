#include "mqttsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace {

QString configError(const QString &what)
{
    return MqttSettings::tr("MQTT 配置错误：") + what;
}

// QSettings splits a value with commas into a list; a setting is one string whatever it holds.
QString textOf(const QSettings &ini, const QString &key)
{
    const QVariant value = ini.value(key);
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString().trimmed();
}

// A relative path in the file means a file next to it, not one in whatever directory the
// logger was started from.
QString resolvedPath(const QString &path, const QString &configPath)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path) || configPath.isEmpty())
        return path;
    return QFileInfo(configPath).absoluteDir().filePath(path);
}

bool readableFile(const QString &path, QString *reason)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *reason = MqttSettings::tr("文件不存在");
        return false;
    }
    if (!info.isFile()) {
        *reason = MqttSettings::tr("不是普通文件");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

MqttSettings failed(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return MqttSettings();
}

} // namespace

QString MqttSettings::defaultConfigPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/datalogger/datalogger.conf");
}

MqttSettings MqttSettings::load(const QString &configPath, QString *error)
{
    if (error)
        error->clear();
    MqttSettings settings;
    QString url;
    QString passwordFile;
    QString qosText;
    if (!configPath.isEmpty() && QFileInfo(configPath).isFile()) {
        QSettings ini(configPath, QSettings::IniFormat);
        ini.beginGroup(QStringLiteral("mqtt"));
        url = textOf(ini, QStringLiteral("url"));
        settings.topicPrefix = textOf(ini, QStringLiteral("topic_prefix"));
        settings.clientId = textOf(ini, QStringLiteral("client_id"));
        settings.userName = textOf(ini, QStringLiteral("user"));
        passwordFile = resolvedPath(textOf(ini, QStringLiteral("password_file")), configPath);
        settings.caFile = resolvedPath(textOf(ini, QStringLiteral("ca_file")), configPath);
        qosText = textOf(ini, QStringLiteral("qos"));
    }
    const QString overrideUrl = qEnvironmentVariable("DATALOGGER_MQTT_URL").trimmed();
    if (!overrideUrl.isEmpty())
        url = overrideUrl;
    if (url.isEmpty())
        return MqttSettings();

    static const QRegularExpression form(QStringLiteral(
        "^([A-Za-z][A-Za-z0-9+.-]*)://([A-Za-z0-9._-]+|\\[[0-9A-Fa-f:.]+\\])(?::(\\d{1,5}))?/?$"));
    const QRegularExpressionMatch match = form.match(url);
    if (!match.hasMatch()) {
        return failed(error,
                      configError(MqttSettings::tr("url \"%1\" 无法解析（应为 mqtt://主机:端口 "
                                                 "或 mqtts://主机:端口）")
                                      .arg(url)));
    }
    const QString scheme = match.captured(1).toLower();
    if (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) {
        return failed(error, configError(MqttSettings::tr("url \"%1\" 的协议 %2:// 不受支持（应为 "
                                                        "mqtt:// 或 mqtts://）")
                                             .arg(url, scheme)));
    }
    settings.tls = scheme == QLatin1String("mqtts");
    settings.host = match.captured(2);
    if (settings.host.startsWith(QLatin1Char('[')))
        settings.host = settings.host.mid(1, settings.host.size() - 2);
    settings.port = settings.tls ? 8883 : 1883;
    if (!match.captured(3).isEmpty()) {
        const int port = match.captured(3).toInt();
        if (port < 1 || port > 65535) {
            return failed(error,
                          configError(MqttSettings::tr("url \"%1\" 的端口 %2 无效（应为 1 到 65535）")
                                          .arg(url)
                                          .arg(port)));
        }
        settings.port = port;
    }

    QString reason;
    if (settings.tls && settings.caFile.isEmpty()) {
        return failed(error, configError(MqttSettings::tr("ca_file 未设置（mqtts:// 需要用来验证代理"
                                                        "证书的 CA 文件）")));
    }
    if (!settings.caFile.isEmpty() && !readableFile(settings.caFile, &reason)) {
        return failed(
            error,
            configError(
                MqttSettings::tr("ca_file \"%1\" 无法读取（%2）").arg(settings.caFile, reason)));
    }
    if (!passwordFile.isEmpty()) {
        if (!readableFile(passwordFile, &reason)) {
            return failed(error, configError(MqttSettings::tr("password_file \"%1\" 无法读取（%2）")
                                                 .arg(passwordFile, reason)));
        }
        QFile file(passwordFile);
        if (file.open(QIODevice::ReadOnly)) {
            QByteArray line = file.readLine();
            while (line.endsWith('\n') || line.endsWith('\r'))
                line.chop(1);
            settings.password = QString::fromUtf8(line);
        }
    }
    if (!qosText.isEmpty()) {
        if (qosText != QLatin1String("0") && qosText != QLatin1String("1") &&
            qosText != QLatin1String("2")) {
            return failed(
                error,
                configError(MqttSettings::tr("qos \"%1\" 无效（应为 0、1 或 2）").arg(qosText)));
        }
        settings.qos = qosText.toInt();
    }
    settings.enabled = true;
    return settings;
}

QString MqttSettings::topicPrefixFor(const QString &serial) const
{
    QString prefix = topicPrefix;
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    if (!prefix.isEmpty())
        return prefix;
    return QStringLiteral("datalogger/") + (serial.isEmpty() ? QStringLiteral("unknown") : serial);
}
