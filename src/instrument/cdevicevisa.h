// One VISA instrument session: SCPI commands in, trimmed replies out, every exchange serialised
// behind one recursive lock; failures land in the last error text and the errorOccurred signal.
#pragma once

#include <QObject>
#include <QString>
#include <mutex>

#include "visa.h"

class CDeviceVisa : public QObject
{
    Q_OBJECT
public:
    // Largest reply one query can receive; the read buffer holds one byte more for the NUL.
    static constexpr ViUInt32 ReplyCapacity = 40959;

    explicit CDeviceVisa(QObject *parent = nullptr);
    ~CDeviceVisa() override;

    bool connectDevice(const QString &resourceName);
    void disconnectDevice();
    QString sendCommand(const QString &command);

    QString lastErrorText() const;
    bool isConnected() const;
    // True when the last failed exchange found the connection gone (cable pulled, instrument
    // restarted), as opposed to an instrument that merely did not answer in time.
    bool connectionLost() const;

signals:
    void commandCompleted(const QString &command, const QString &response);
    void errorOccurred(const QString &errorMessage);

private:
    void fail(const QString &message, ViStatus status = VI_SUCCESS);
    QString statusText(ViSession session, ViStatus status, bool utf8) const;
    void discardStaleInput();

    ViSession resourceManager = 0;
    ViSession instrument = 0;
    QString lastError;
    // Recursive: connectDevice calls disconnectDevice while holding it. A standard mutex so
    // that the thread sanitizer sees the ordering it gives.
    mutable std::recursive_mutex lock;
    bool connected = false;
    ViStatus lastFailure = VI_SUCCESS;
    // Set when a query ended before its reply was complete: the rest of that reply (or a late
    // reply) may still arrive and must not be taken for the answer to the next query.
    bool staleInputPossible = false;
};
