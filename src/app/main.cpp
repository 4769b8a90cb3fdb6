// The logger's entry point: run as the child of a host application, with the measuring
// instrument's VISA resource as the first argument.
#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QPointer>
#include <QTimer>

#include "mainwidget.h"
#include "processvalues.h"
#include "resources/DataloggerResources.h"

// The bundle is registered during static initialisation, before the window loads its icons.
static const bool resourcesRegistered = initDataloggerResources();

int main(int argc, char *argv[])
{
    Q_UNUSED(resourcesRegistered);
    QApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QApplication app(argc, argv);

    // The host always names the instrument; without an argument the resource stays empty and
    // the window offers to retry the link.
    const QStringList arguments = QCoreApplication::arguments();
    measureResource = arguments.value(1).section(QLatin1Char(';'), 0, 0);

    auto *window = new MainWidget;
    // Closing the window deletes it; the guard keeps main from deleting it a second time.
    QPointer<MainWidget> guard(window);

    QFile styleFile(QStringLiteral(":/qss/styles.qss"));
    if (styleFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QByteArray bytes = styleFile.readAll();
        app.setStyleSheet(QString::fromUtf8(bytes.constData()));
        styleFile.close();
    } else {
        qDebug() << "Failed to open style.qss:" << styleFile.errorString();
    }

    window->resize(1000, 600);
    window->show();
    QTimer::singleShot(0, window, [window] { window->show(); });

    const int result = app.exec();
    delete guard.data();
    return result;
}
