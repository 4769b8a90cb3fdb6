#include "plotscreens.h"

#include "resources/dataloggerresources.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QWidget>

namespace PlotTest {

bool applyDarkTheme()
{
    initDataloggerResources();
    QFile sheet(QStringLiteral(":/qss/styles.qss"));
    if (!sheet.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    return true;
}

QString saveScreenshot(QWidget *widget, const QString &name)
{
    const QString dir = qEnvironmentVariable("DATALOGGER_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return QString();
    QDir().mkpath(dir);
    const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    // Layouts settle on the next turn of the event loop: the picture shows them settled.
    QApplication::processEvents();
    return widget->grab().save(path) ? path : QString();
}

} // namespace PlotTest
