// One VISA instrument session: SCPI commands in, trimmed replies out, every exchange serialised
// behind one recursive lock; failures land in the last error text and the errorOccurred signal.
#pragma once

#include <QElapsedTimer>
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
    // How one line of input ended.
    enum class LineEnd
    {
        Complete, // termination character or end of message
        Failed    // timeout or transport error; the status says which
    };

    void fail(const QString &message, ViStatus status = VI_SUCCESS);
    QString statusText(ViSession session, ViStatus status, bool utf8) const;
    void setTimeout(ViUInt32 ms);
    ViUInt32 remainingMs(const QElapsedTimer &since, ViUInt32 budgetMs) const;
    LineEnd readLine(QByteArray *line, const QElapsedTimer &since, ViUInt32 budgetMs,
                     qint64 byteLimit, ViStatus *status);
    bool writeLine(const QByteArray &bytes, ViStatus *status, ViUInt32 *written = nullptr);
    void forgetOwedReplies();
    void fallOutOfStep();
    bool resynchronise();
    void backInStep();

    ViSession resourceManager = 0;
    ViSession instrument = 0;
    QString resource;
    QString lastError;
    // Recursive: connectDevice calls disconnectDevice while holding it. A standard mutex so
    // that the thread sanitizer sees the ordering it gives.
    mutable std::recursive_mutex lock;
    bool connected = false;
    ViStatus lastFailure = VI_SUCCESS;
    ViUInt32 timeoutMs = 0;

    // Out of step: a reply may still be on its way (a read failed, or a write went out in part),
    // so the next line that arrives cannot be trusted as the answer to the next query. Cleared
    // by a marker round (see resynchronise); survives a reconnect to the same resource, since a
    // serial line keeps delivering what the instrument sends.
    bool outOfStep = false;
    // A write stopped part way: the instrument may hold the start of a command line.
    bool partialLineSent = false;
    // The "*IDN?" reply of this instrument, learned in step or from a marker round.
    QByteArray identity;
    // Set once a marker has been sent: an identity line is then never taken for the answer to
    // a query other than "*IDN?".
    bool markersSent = false;
    // Identity lines the instrument still owes on this connection: one per marker and per
    // "*IDN?" query whose reply was not read. The session is back in step only when none is
    // owed, so that no reply asked for before the last marker can still arrive, or when a
    // marker round read one and the rest did not follow (see kOwedGraceMs). Forgotten when
    // the session is closed or reopened.
    int identityOwed = 0;
    // Started when the session falls out of step, at each reopen and at each write-off: lines
    // still owed after kWriteOffMs are taken as lost (an instrument that dropped replies).
    QElapsedTimer owedSince;
    // Identity unknown: the lines read in marker rounds so far, to find the two equal lines in
    // a row that a doubled marker gives and to count the identity lines among them.
    QList<QByteArray> unidentifiedLines;
    // Figures of the current out-of-step period, for the log.
    QElapsedTimer outOfStepTimer;
    int discardedReplies = 0;
    int lostExchanges = 0;
    int markerRounds = 0;
};
