// Turns SIGTERM and SIGINT into a clean quit of the event loop, so open files are closed.
#pragma once

#include <QObject>

class QSocketNotifier;

class TerminationWatch : public QObject
{
    Q_OBJECT
public:
    explicit TerminationWatch(QObject *parent = nullptr);
    ~TerminationWatch() override;

    bool install();

signals:
    void terminationRequested();

private:
    QSocketNotifier *notifier = nullptr;
};
