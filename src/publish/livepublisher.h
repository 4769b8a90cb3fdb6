// Publishes the readings of the current recording to an MQTT broker from the store, in time
// order, at least once: on a thread of its own with libmosquitto, it reads the samples after
// its place (the last sample the broker acknowledged, kept in a small state file in the data
// set's directory) and publishes them — one message per scan while it keeps up, batches after
// an outage or a restart. Also a retained latest value per channel and a retained status with
// a last will. Used from the GUI thread; never blocks it for the network.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

#include "frameidentity.h"
#include "mqttsettings.h"

class CurveDataDB;

class LivePublisher : public QObject
{
    Q_OBJECT
public:
    explicit LivePublisher(const MqttSettings &settings, QObject *parent = nullptr);
    // Ends the thread: a last status ("idle" or the will's "offline") and a clean disconnect,
    // waiting at most 3 s for the broker.
    ~LivePublisher() override;

    // The frame's identity for the status topic and the default topic prefix; set before the
    // first recording.
    void setIdentity(const FrameIdentity &identity);

    // A recording starts (or resumes after a restart) on store, whose curves are named by
    // their channel numbers; its place file lives in the store's data directory. The store
    // outlives the recording (until forgetRecording).
    void startRecording(CurveDataDB *store, const QList<int> &channels);
    // A sample of channel was stored with time stamp t: called for each stored sample, in the
    // order they are stored, before samplesStored. The store is followed in time order up to
    // the time stamp stored last; a sample stored behind what was already read (the wall clock
    // was set back) sends the channel's samples again from just before it.
    void sampleStored(int channel, qint64 t);
    // New samples are stored: publish them (wakes the thread, returns at once).
    void samplesStored();
    // The run ended: the status says idle; what is not delivered yet keeps being delivered.
    void recordingEnded();
    // The store is about to be cleared or closed: the thread lets go of it before this returns
    // (no read in progress afterwards). Returns the number of samples not delivered, which are
    // now given up.
    qint64 forgetRecording();

    // Samples stored but not yet acknowledged by the broker, and the connection, as last told
    // to the GUI thread with statusChanged (the backlog at most a fifth of a second behind).
    qint64 backlog() const;
    bool isConnected() const;

signals:
    // Connection state or backlog changed (queued from the thread, at most a few per second).
    void statusChanged(bool connected, qint64 backlog);
    // A problem for the user: login refused, broker unreachable, TLS failure (Chinese text).
    void problem(const QString &text);

private:
    class Worker;
    std::unique_ptr<Worker> worker;
};
