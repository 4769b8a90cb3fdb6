#include "localbroker.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

LocalBroker::~LocalBroker()
{
    stop();
}

bool LocalBroker::start(const QStringList &extraConfig)
{
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (program.isEmpty() || !dir.isValid()) {
        error = QStringLiteral("mosquitto not found (scripts/setup.sh installs it)");
        return false;
    }
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        error = probe.errorString();
        return false;
    }
    port = probe.serverPort();
    probe.close();
    QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!conf.open(QIODevice::WriteOnly))
        return false;
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n")
                   .arg(port)
                   .toUtf8());
    conf.write(extraConfig.join(QLatin1Char('\n')).toUtf8() + '\n');
    conf.close();
    broker.setProcessChannelMode(QProcess::MergedChannels);
    broker.start(program, {QStringLiteral("-c"), conf.fileName()});
    if (!broker.waitForStarted(5000)) {
        error = broker.errorString();
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(100))
            return true;
        if (broker.state() != QProcess::Running)
            break;
        QThread::msleep(50);
    }
    error = QStringLiteral("mosquitto did not listen: ") + QString::fromUtf8(broker.readAll());
    return false;
}

void LocalBroker::stop()
{
    for (QProcess *process : {&subscriber, &broker}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

bool LocalBroker::subscribe(const QString &filter)
{
    subscriber.start(QStringLiteral("mosquitto_sub"),
                     {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                      QString::number(port), QStringLiteral("-q"), QStringLiteral("1"),
                      QStringLiteral("-v"), QStringLiteral("-t"), filter});
    if (!subscriber.waitForStarted(5000))
        return false;
    // The subscription is in place once mosquitto_sub has connected; give it that moment.
    QThread::msleep(300);
    return subscriber.state() == QProcess::Running;
}

QStringList LocalBroker::received()
{
    pending += subscriber.readAllStandardOutput();
    int end;
    while ((end = pending.indexOf('\n')) >= 0) {
        lines << QString::fromUtf8(pending.left(end));
        pending.remove(0, end + 1);
    }
    return lines;
}
