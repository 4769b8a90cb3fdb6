#include "dataloggerresources.h"

#include <QFile>

// Q_INIT_RESOURCE declares a function and therefore has to stay outside any namespace.
static void registerBundle()
{
    Q_INIT_RESOURCE(datalogger);
}

// Any program that calls initDataloggerResources() links this file, so the bundle is
// registered during static initialisation already, before main and before a window
// constructor looks for its icons.
static const bool bundleRegisteredEarly = (registerBundle(), true);

bool initDataloggerResources()
{
    (void)bundleRegisteredEarly;
    registerBundle();
    return QFile::exists(QStringLiteral(":/qss/styles.qss"));
}
