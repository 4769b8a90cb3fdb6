// The logger's exit with publishing on before anything else opened a day file: the publisher's
// thread is then the first to ask for the process-wide connection pool, which the application
// deletes at exit. Its own program, since the pool is made once per process; fails when the
// exit complains of a timer stopped from a thread that does not own it.
#include "livepublisher.h"
#include "mqtttestbroker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <mutex>

namespace {

std::mutex messagesMutex;
QStringList messages;

void keepMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    std::lock_guard<std::mutex> lock(messagesMutex);
    messages << text;
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(keepMessage);
    bool connected = false;
    {
        QCoreApplication app(argc, argv);
        QTemporaryDir brokerDir;
        MqttTestBroker broker;
        if (broker.start(brokerDir.path(), {QStringLiteral("listener %1 127.0.0.1"),
                                            QStringLiteral("allow_anonymous true")})) {
            MqttSettings settings;
            settings.enabled = true;
            settings.host = QStringLiteral("127.0.0.1");
            settings.port = broker.port();
            LivePublisher publisher(settings);
            publisher.setIdentity(
                FrameIdentity::parse(QStringLiteral("MAKER,VSK3307,SIM0001,1.0")));
            QElapsedTimer waited;
            waited.start();
            while (!(connected = publisher.isConnected()) && waited.elapsed() < 20000) {
                QCoreApplication::processEvents();
                QThread::msleep(20);
            }
        }
    }
    qInstallMessageHandler(nullptr);
    bool complained = false;
    for (const QString &text : messages) {
        fprintf(stderr, "%s\n", qPrintable(text));
        complained = complained || text.contains(QLatin1String("Timers cannot"));
    }
    if (!connected)
        fprintf(stderr, "FAIL: the publisher never connected to the broker\n");
    if (complained)
        fprintf(stderr, "FAIL: a timer was used from a thread that does not own it\n");
    return connected && !complained ? 0 : 1;
}
