#include "placefile.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace PlaceFile {

QString pathIn(const QString &dataDirectory)
{
    return QDir(dataDirectory).filePath(QStringLiteral("mqtt-place.ini"));
}

bool read(const QString &path, PublishPlace *place)
{
    if (!QFileInfo(path).isFile())
        return false;
    QSettings ini(path, QSettings::IniFormat);
    bool ok = false;
    const qint64 recording = ini.value(QStringLiteral("recording/id")).toString().toLongLong(&ok);
    if (!ok || recording <= 0) {
        qWarning().noquote() << "MQTT 发布位置文件无效，从头发布:" << path;
        return false;
    }
    PublishPlace read;
    read.recording = recording;
    ini.beginGroup(QStringLiteral("place"));
    const QStringList keys = ini.childKeys();
    for (const QString &key : keys) {
        bool channelOk = false;
        bool timeOk = false;
        const int channel = key.toInt(&channelOk);
        const qint64 time = ini.value(key).toString().toLongLong(&timeOk);
        if (channelOk && timeOk)
            read.acknowledged.insert(channel, time);
    }
    *place = read;
    return true;
}

bool write(const QString &path, const PublishPlace &place)
{
    QByteArray text = "[recording]\nid=" + QByteArray::number(place.recording) + "\n\n[place]\n";
    for (auto it = place.acknowledged.cbegin(); it != place.acknowledged.cend(); ++it)
        text += QByteArray::number(it.key()) + '=' + QByteArray::number(it.value()) + '\n';
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        qWarning().noquote() << "MQTT 发布位置无法保存:" << path << file.errorString();
        return false;
    }
    return true;
}

} // namespace PlaceFile
