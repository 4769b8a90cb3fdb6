// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal, so that a host stopped from a terminal
// or a script still ends its logger the polite way.
#pragma once

#include <QObject>

class QSocketNotifier;

class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the handlers could not be installed (the default handling stays).
    bool isActive() const { return notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *notifier = nullptr;
};
