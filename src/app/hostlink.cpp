#include "hostlink.h"

#include <QColor>
#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QTextStream>
#include <QWidget>

#include <cstdio>

#include "inputreaderthread.h"

namespace {
constexpr int ThreadStopWaitMs = 3000;
}

HostLink::HostLink(QWidget *window, QObject *parent)
    : QObject(parent)
    , reader(new InputReaderThread(this))
{
    connect(reader, &InputReaderThread::newInputReceived, this, &HostLink::handleInput);
    window->installEventFilter(this);
}

HostLink::~HostLink()
{
    reader->finish(ThreadStopWaitMs);
}

void HostLink::start()
{
    reader->startWork();
}

bool HostLink::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType())
        announce(static_cast<QWidget *>(watched));
    return QObject::eventFilter(watched, event);
}

void HostLink::handleInput(const QString &input)
{
    if (input.isEmpty())
        return;
    replyToParent(input);
    if (input == QLatin1String("exit")) {
        qDebug() << "child app received exit cmd!";
        QCoreApplication::quit();
    }
}

void HostLink::replyToParent(const QString &message)
{
    QTextStream out(stdout);
    out << "receive msg: " << message << "\n";
    out.flush();
}

void HostLink::announce(QWidget *window)
{
    const QString announcement = QStringLiteral("WID:%1;COLOR:%2")
                                     .arg(static_cast<quint64>(window->winId()))
                                     .arg(QColor(43, 43, 43).name(QColor::HexRgb));
    const QByteArray bytes = announcement.toUtf8() + '\n';
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    fflush(stdout);
}
