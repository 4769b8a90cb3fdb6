// One VISA instrument session: SCPI commands in, trimmed replies out, every exchange serialised
// behind one recursive lock; failures land in the last error text. After a reply came late or
// not at all, SessionResync decides what may be trusted and how the session gets back in step.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <mutex>

#include "identifyquery.h"
#include "sessionresync.h"
#include "visa.h"

class CDeviceVisa : public QObject
{
    Q_OBJECT
public:
    // Largest reply one query can receive; the read buffer holds one byte more for the NUL.
    static constexpr ViUInt32 ReplyCapacity = 40959;

    // identifyQuery: the instrument's identification query, also the marker of a resync.
    explicit CDeviceVisa(const QByteArray &identifyQuery = Scpi::IdentifyQuery,
                         QObject *parent = nullptr);
    ~CDeviceVisa() override;

    bool connectDevice(const QString &resourceName);
    void disconnectDevice();
    QString sendCommand(const QString &command);

    QString lastErrorText() const;
    bool isConnected() const;
    // True when the last failed exchange found the connection gone (cable pulled, instrument
    // restarted), as opposed to an instrument that merely did not answer in time.
    bool connectionLost() const;

private:
    // How one line of input ended.
    enum class LineEnd
    {
        Complete, // termination character or end of message
        Failed    // timeout or transport error; the status says which
    };

    void fail(const QString &message, ViStatus status = VI_SUCCESS);
    QString statusText(ViSession session, ViStatus status, bool utf8) const;
    void setTimeout(ViUInt32 ms);
    qint64 now() const { return clock.elapsed(); }
    ViUInt32 remainingMs(qint64 deadlineMs) const;
    LineEnd readLine(QByteArray *line, qint64 deadlineMs, qint64 byteLimit, ViStatus *status);
    bool writeLine(const QByteArray &bytes, ViStatus *status, ViUInt32 *written);
    bool resynchronise();
    static void log(const QStringList &lines);

    ViSession resourceManager = 0;
    ViSession instrument = 0;
    QString lastError;
    // Recursive: connectDevice calls disconnectDevice while holding it. A standard mutex so
    // that the thread sanitizer sees the ordering it gives.
    mutable std::recursive_mutex lock;
    bool connected = false;
    ViStatus lastFailure = VI_SUCCESS;
    ViUInt32 timeoutMs = 0;
    // The session's time, for reply budgets and the resync's periods.
    QElapsedTimer clock;
    SessionResync resync;
};
