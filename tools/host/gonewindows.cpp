#include "gonewindows.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QString>

namespace {

QMutex mutex;
QSet<quint64> goneIds;
QtMessageHandler previousHandler = nullptr;
bool installed = false;

bool namesGoneWindow(const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "qt.qpa.xcb") != 0 ||
        !message.contains(QLatin1String("BadWindow")))
        return false;
    const int at = message.indexOf(QLatin1String("resource id: "));
    if (at < 0)
        return false;
    const QString rest = message.mid(at + 13);
    const quint64 id = rest.left(rest.indexOf(QLatin1Char(','))).toULongLong();
    QMutexLocker lock(&mutex);
    return goneIds.contains(id);
}

void filterMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (namesGoneWindow(context, message))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
    else
        qt_message_output(type, context, message);
}

} // namespace

void forgetGoneWindow(quint64 windowId)
{
    QMutexLocker lock(&mutex);
    goneIds.insert(windowId);
    if (!installed) {
        installed = true;
        previousHandler = qInstallMessageHandler(filterMessage);
    }
}
