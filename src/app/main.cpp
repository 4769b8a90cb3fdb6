// The logger's entry point: run as the child of a host application, with the measuring
// instrument's VISA resource as the first argument.
#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "hostlink.h"
#include "loggingcontroller.h"
#include "mainwidget.h"
#include "mqttsettings.h"
#include "resources/dataloggerresources.h"
#include "resources/uitranslation.h"
#include "rig.h"

// The bundle is registered during static initialisation, before the window loads its icons.
static const bool resourcesRegistered = initDataloggerResources();

namespace {
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    (void)!write(signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP (a host that terminates the logger, a closed terminal) end the
// event loop like "exit" does, so the window goes away the orderly way and every reading
// already fetched is stored before the store closes.
void quitOnTerminationSignals(QApplication &app)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        char byte;
        (void)!read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        qDebug() << "child app received a termination signal";
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signalNumber, &action, nullptr);
}
} // namespace

int main(int argc, char *argv[])
{
    Q_UNUSED(resourcesRegistered);
    QApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QApplication app(argc, argv);
    quitOnTerminationSignals(app);
    // English when the locale asks for it; Chinese otherwise (the C/POSIX locale included).
    const std::unique_ptr<QTranslator> translation = loadUiTranslation();
    if (translation)
        QCoreApplication::installTranslator(translation.get());

    // The theme first: every widget is polished once, as it is made, instead of all of them
    // again when a style sheet arrives after the window is built.
    QFile styleFile(QStringLiteral(":/qss/styles.qss"));
    if (styleFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QByteArray bytes = styleFile.readAll();
        app.setStyleSheet(QString::fromUtf8(bytes.constData()));
        styleFile.close();
    } else {
        qDebug() << "Failed to open style.qss:" << styleFile.errorString();
    }

    // The host always names the instrument; without an argument the resource stays empty and
    // the window offers to retry the link.
    Rig rig(QCoreApplication::arguments().value(1).section(QLatin1Char(';'), 0, 0));
    // Outlives the window: a run the window's end interrupts is stored by the controller's.
    LoggingController controller(rig);
    auto *window = new MainWidget(controller);
    // Closing the window deletes it; the guard keeps main from deleting it a second time.
    QPointer<MainWidget> guard(window);
    // Outlives the window: its reader stops after the window (and the scan) have ended.
    HostLink hostLink(window);
    hostLink.start();

    // Live readings to an MQTT broker, when the configuration asks for it.
    QString mqttError;
    const MqttSettings mqtt = MqttSettings::load(MqttSettings::defaultConfigPath(), &mqttError);
    controller.setPublishing(mqtt, mqttError);

    window->resize(1000, 600);
    window->show();
    QTimer::singleShot(0, window, [window] { window->show(); });

    const int result = app.exec();
    delete guard.data();
    return result;
}
