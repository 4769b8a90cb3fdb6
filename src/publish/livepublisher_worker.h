// The thread behind LivePublisher and what it shares with the GUI thread: one loop joining the
// link to the broker, the ledger of what was delivered and the follower of the store; one
// wake-up event each way and one record of what the GUI thread is told.
#pragma once

#include "deliveryledger.h"
#include "livepublisher.h"
#include "mqttlink.h"
#include "storefollower.h"
#include "wakeevent.h"

#include <QMap>
#include <QStringList>
#include <QThread>

#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

class QSocketNotifier;

class LivePublisher::Worker : private MqttLink::Listener
{
public:
    Worker(LivePublisher *owner, const MqttSettings &settings);
    ~Worker() override;

    // GUI thread: emits what the thread told.
    void takeStatus();
    // Any thread: ends the thread's wait; it then looks at what it was told.
    void rouse() { toThread.raise(); }

    LivePublisher *const owner;

    // All below under mutex.
    mutable std::mutex mutex;
    // What the GUI thread asks for. generation counts startRecording and forgetRecording calls.
    bool stopping = false;
    int generation = 0;
    CurveDataDB *sharedStore = nullptr;
    QList<int> sharedChannels;
    bool sharedRecording = false;
    FrameIdentity sharedIdentity;
    // Told by sampleStored for the recording of `generation`, taken by the thread: per channel
    // the time stamp stored last, and the earliest stored since the thread last took them.
    std::map<int, qint64> sharedStoredLast;
    std::map<int, qint64> sharedStoredEarliest;
    // The thread's account of the recording of `generation`, for forgetRecording: the backlog
    // and per channel the newest sample counted into it.
    struct Account
    {
        int generation = -1;
        qint64 backlog = 0;
        QMap<int, qint64> counted;
    } account;
    // What the GUI thread is told, written by the thread when it notifies; changed until the
    // GUI thread has emitted it.
    struct Told
    {
        bool connected = false;
        qint64 backlog = 0;
        bool changed = false;
        QStringList problems;
    } told;
    // The thread holds the day files open (cursors, pooled connections) for this recording;
    // -1 when it holds none. released is signalled when it lets go.
    int readerGeneration = -1;
    std::condition_variable released;

    // Held by the thread while it reads the store or writes the place file; forgetRecording
    // takes it to know neither is going on. Taken before mutex when both are.
    std::mutex passMutex;

private:
    class Thread : public QThread
    {
    public:
        explicit Thread(Worker *worker)
            : worker(worker)
        {
        }

    protected:
        void run() override { worker->run(); }

    private:
        Worker *worker;
    };

    // All below run on the thread.
    void run();
    void takeRecording(int newGeneration, CurveDataDB *store, const QList<int> &channels);
    void clearRecording();
    void readPass();
    // What was not read for sending still counts into the backlog: counted in the index.
    void countUnread();
    void releaseReader();
    void sendSamples(const std::vector<PublishedSample> &samples);
    void publishLatest();
    void publishStatus();
    void savePlace(bool force);
    void shareAccount(bool withCounted);
    void notifyGui();
    QString stateName() const;

    void linkUp() override;
    void linkDown() override;
    void acknowledged(int mid) override;
    void problem(const QString &text) override;

    WakeEvent toThread{QStringLiteral("MQTT 发布")};
    WakeEvent toGui{QStringLiteral("MQTT 发布")};
    QSocketNotifier *notifier = nullptr;

    FrameIdentity identity;
    int myGeneration = 0;
    bool haveRecording = false;
    bool recordingActive = false;
    CurveDataDB *store = nullptr;
    QList<int> channels;
    QString placePath;
    MqttLink link;
    DeliveryLedger ledger;
    StoreFollower follower;
    // Per channel the time stamp of the latest value retained on the broker this session.
    std::map<int, qint64> latestSent;
    bool statusDirty = false;
    qint64 lastStatusPublish = 0;
    qint64 lastStatusBacklog = -1;
    qint64 lastNotify = 0;
    bool problemsWaiting = false;

    Thread thread;
};
