#include "livepublisher.h"

#include "connectionpool.h"
#include "curvedatadb.h"
#include "placefile.h"
#include "publishpayload.h"
#include "storeclock.h"
#include "storedcurvecursor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <set>
#include <tuple>
#include <vector>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How long one turn of the thread's loop may wait on the network while nothing happens; a
// wake-up from the GUI thread ends the wait at once while connected.
constexpr int loopTimeoutMs = 50;
// Read again when this many messages have been acknowledged: fewer, larger reads.
constexpr size_t refillMessages = 4;
// A reader following the recording looks its tables up again at least this often.
constexpr qint64 relistIntervalMs = 60000;
// forgetRecording waits at most this long for the thread to let go of the day files.
constexpr int releaseWaitMs = 3000;
constexpr size_t samplesPerMessage = 1000;
// Messages with readings awaiting their acknowledgement; bounds what a long backlog keeps in
// memory, while keeping enough on the wire that the broker's round trips do not set the pace.
constexpr size_t maxInFlight = 16;
// The place is saved at most this often while it moves by small steps (one message per scan
// keeps the disk quiet), and at once when the acknowledged samples not yet saved reach a full
// message: a kill then repeats fewer than that of what the broker confirmed.
constexpr qint64 placeSaveIntervalMs = 500;
constexpr qint64 unsavedLimit = qint64(samplesPerMessage);
constexpr qint64 notifyIntervalMs = 200;
constexpr qint64 statusIntervalMs = 1000;
constexpr int firstBackoffMs = 1000;
constexpr int maxBackoffMs = 30000;
constexpr qint64 connectTimeoutMs = 10000;
constexpr int keepAliveSeconds = 15;
// The goodbye status may wait this long for its acknowledgement; the destructor allows 3 s.
constexpr qint64 goodbyeWaitMs = 2000;
constexpr unsigned long threadStopWaitMs = 3500;
// No sample of the channel acknowledged yet.
constexpr qint64 nothing = -1;
constexpr qint64 openEnd = std::numeric_limits<qint64>::max();

qint64 monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString serialOf(const QString &identity)
{
    const QStringList fields = identity.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return fields.size() > 2 ? fields.at(2) : QStringLiteral("unknown");
}

void initialiseLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// Samples of one channel stored after a place (up to upTo), counted on the calling thread: whole
// slice tables from their b-trees, the others through the index, no row read. Zero when the
// count failed (the store being cleared, a damaged file).
qint64 countAfter(CurveDataDB *store, int channel, qint64 after, qint64 upTo = openEnd)
{
    StoredCurveCursor cursor(store, QString::number(channel), after + 1, upTo);
    return std::max<qint64>(0, cursor.rowCount());
}

} // namespace

class LivePublisher::Worker
{
public:
    Worker(LivePublisher *owner, const MqttSettings &settings);
    ~Worker();

    // GUI thread.
    void takeStatus();

    LivePublisher *const owner;
    const MqttSettings settings;

    // Shared with the thread, under mutex.
    mutable std::mutex mutex;
    std::condition_variable wakeCondition;
    // The thread holds the day files open (cursors, pooled connections) for this recording;
    // -1 when it holds none. released is signalled when it lets go.
    int readerGeneration = -1;
    std::condition_variable released;
    bool stopping = false;
    bool wake = false;
    int generation = 0; // counts startRecording and forgetRecording calls
    CurveDataDB *sharedStore = nullptr;
    QList<int> sharedChannels;
    bool sharedRecording = false;
    QString sharedIdentity;
    bool sharedConnected = false;
    qint64 sharedBacklog = 0;
    QMap<int, qint64> sharedCounted; // per channel the newest sample counted into the backlog
    // Told by sampleStored for the recording of `generation`, taken by the thread: per channel
    // the time stamp stored last, and the earliest stored since the thread last took them.
    std::map<int, qint64> sharedStoredLast;
    std::map<int, qint64> sharedStoredEarliest;
    QString sharedPlacePath;
    int sharedGeneration = -1; // the recording sharedBacklog and sharedCounted belong to
    QStringList sharedProblems;
    // What the thread last notified the GUI thread of.
    bool signalledConnected = false;
    qint64 signalledBacklog = 0;

    // Held by the thread while it reads the store or writes the place file; forgetRecording
    // takes it to know neither is going on. Taken before mutex when both are.
    std::mutex passMutex;

    // GUI thread only.
    bool shownConnected = false;
    qint64 shownBacklog = 0;
    int wakeRead = -1;
    int wakeWrite = -1;
    // The other way: the GUI thread ends the thread's wait on the network.
    int rouseEvent = -1;

    // Any thread: sets the wake flag and ends the thread's wait.
    void rouse();
    QSocketNotifier *notifier = nullptr;

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

    struct InFlight
    {
        int mid = 0;
        bool acknowledged = false;
        qint64 count = 0;
        std::vector<std::pair<int, qint64>> last; // channel -> newest time stamp in the message
    };

    enum class Link
    {
        Down,
        Connecting,
        Up
    };

    // All below run on the thread.
    void run();
    void takeRecording(int newGeneration, CurveDataDB *store, const QList<int> &channels);
    // Follows what sampleStored told; true when a channel's place went back.
    bool takeStored(const std::map<int, qint64> &storedLast,
                    const std::map<int, qint64> &storedEarliest);
    // The time stamp the channel's samples are read up to.
    qint64 readLimit(int channel) const;
    void keepNewest(const PublishedSample &sample);
    void clearRecording();
    bool wantLink() const;
    void manageLink();
    void startConnect();
    bool connectFailed();
    void dropLink();
    void handleLoopResult(int rc, int loopErrno);
    void readPass();
    // Opens (or re-runs) one cursor per channel after the samples already sent.
    bool seekReader();
    // Lets go of the cursors and of this thread's connections to the day files.
    void releaseReader();
    // One turn of the network while connected: waits for the socket or a wake-up.
    int serviceLink(int timeoutMs);
    // positions: each sample's channel as its place in `channels`.
    void sendSamples(const std::vector<PublishedSample> &samples,
                     const std::vector<int> &positions);
    bool moreToSend() const;
    void publishLatest();
    void publishStatus(bool force);
    int publish(const QByteArray &topic, const QByteArray &payload, bool retain);
    void savePlace(bool force);
    void shareState(bool withCounted);
    void notifyGui(bool force);
    void report(const QString &problem);
    QString broker() const;
    QString stateName() const;
    void onConnect(int rc);
    void onDisconnect(int rc);
    void onPublish(int mid);
    void shutdown();

    static void connectCallback(mosquitto *, void *self, int rc);
    static void disconnectCallback(mosquitto *, void *self, int rc);
    static void publishCallback(mosquitto *, void *self, int mid);
    static void logCallback(mosquitto *, void *self, int level, const char *text);

    QString identity;
    QString serial;
    QByteArray prefix;
    mosquitto *mosq = nullptr;
    Link link = Link::Down;
    qint64 linkSince = 0;
    qint64 nextAttempt = 0;
    int backoffMs = firstBackoffMs;
    bool dropRequested = false;
    bool refusedThisAttempt = false;
    int connectErrno = 0;
    bool shuttingDown = false;
    QString lastLibraryError;
    QString lastProblem;

    int myGeneration = 0;
    bool haveRecording = false;
    bool recordingActive = false;
    CurveDataDB *store = nullptr;
    QList<int> channels;
    QString placePath;
    qint64 recordingId = 0;
    std::map<int, qint64> acknowledged; // the place
    std::map<int, qint64> sent;         // read and handed to the library
    std::map<int, qint64> counted;      // counted into the backlog
    std::map<int, PublishedSample> newest;
    // Per channel the time stamp stored last, as sampleStored told; the reader goes no
    // further, so that samples stored later with earlier time stamps (the wall clock set back)
    // are still ahead of it. None for a recording this process does not store.
    std::map<int, qint64> storedLast;
    std::map<int, qint64> latestSent;
    // One per channel, in channel order, kept from pass to pass while connected.
    std::vector<std::unique_ptr<StoredCurveCursor>> cursors;
    qint64 lastRelist = 0;
    bool relistNext = false;
    qint64 backlog = 0;
    std::deque<InFlight> inFlight;
    // Acknowledgements that arrived inside mosquitto_publish (QoS 0), before the message was
    // listed as in flight.
    std::set<int> earlyAcks;
    bool publishingReadings = false;
    bool placeDirty = false;
    qint64 unsavedAcknowledged = 0; // samples acknowledged since the place was last saved
    qint64 lastPlaceSave = 0;
    bool statusDirty = false;
    qint64 lastStatusPublish = 0;
    qint64 lastStatusBacklog = -1;
    int goodbyeMid = -1;
    bool goodbyeAcknowledged = false;
    bool notifiedConnected = false;
    qint64 notifiedBacklog = 0;
    qint64 lastNotify = 0;
    bool problemsWaiting = false;

    Thread thread;
};

LivePublisher::Worker::Worker(LivePublisher *owner, const MqttSettings &settings)
    : owner(owner)
    , settings(settings)
    , thread(this)
{
    initialiseLibrary();
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead = fds[0];
        wakeWrite = fds[1];
        notifier = new QSocketNotifier(wakeRead, QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, owner, [this] { takeStatus(); });
    } else {
        qCritical().noquote() << "MQTT 发布无法建立通知管道:" << strerror(errno);
    }
    rouseEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (rouseEvent < 0)
        qCritical().noquote() << "MQTT 发布无法建立唤醒事件:" << strerror(errno);
    thread.setObjectName(QStringLiteral("mqtt-publish"));
    thread.start(QThread::InheritPriority);
}

LivePublisher::Worker::~Worker()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    rouse();
    if (!thread.wait(threadStopWaitMs)) {
        qWarning().noquote() << "MQTT 发布线程未能按时结束，强制终止";
        thread.terminate();
        thread.wait();
    }
    // Orders everything the thread did before what follows, visibly to the thread sanitizer.
    {
        std::lock_guard<std::mutex> lock(mutex);
    }
    delete notifier;
    if (wakeRead >= 0)
        close(wakeRead);
    if (wakeWrite >= 0)
        close(wakeWrite);
    if (rouseEvent >= 0)
        close(rouseEvent);
}

void LivePublisher::Worker::rouse()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        wake = true;
    }
    wakeCondition.notify_all();
    if (rouseEvent >= 0)
        eventfd_write(rouseEvent, 1);
}

void LivePublisher::Worker::takeStatus()
{
    char drain[64];
    while (read(wakeRead, drain, sizeof drain) > 0) {
    }
    bool connected = false;
    qint64 currentBacklog = 0;
    QStringList problems;
    {
        std::lock_guard<std::mutex> lock(mutex);
        connected = signalledConnected;
        currentBacklog = signalledBacklog;
        problems.swap(sharedProblems);
    }
    for (const QString &problem : problems)
        emit owner->problem(problem);
    if (connected != shownConnected || currentBacklog != shownBacklog) {
        shownConnected = connected;
        shownBacklog = currentBacklog;
        emit owner->statusChanged(connected, currentBacklog);
    }
}

void LivePublisher::Worker::run()
{
    while (true) {
        bool woken = false;
        int wantedGeneration = 0;
        CurveDataDB *wantedStore = nullptr;
        QList<int> wantedChannels;
        bool recordingNow = false;
        QString identityNow;
        std::map<int, qint64> storedLastNow;
        std::map<int, qint64> storedEarliestNow;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                break;
            woken = wake;
            wake = false;
            wantedGeneration = generation;
            wantedStore = sharedStore;
            wantedChannels = sharedChannels;
            recordingNow = sharedRecording;
            identityNow = sharedIdentity;
            storedLastNow.swap(sharedStoredLast);
            storedEarliestNow.swap(sharedStoredEarliest);
        }
        if (wantedGeneration != myGeneration) {
            takeRecording(wantedGeneration, wantedStore, wantedChannels);
            woken = true;
        }
        if (haveRecording && takeStored(storedLastNow, storedEarliestNow))
            woken = true;
        if (haveRecording && recordingNow != recordingActive) {
            recordingActive = recordingNow;
            statusDirty = true;
        }
        if (identityNow != identity) {
            identity = identityNow;
            // The will and the topics name the serial: a new one needs a new session.
            if (link != Link::Down && serialOf(identity) != serial) {
                dropLink();
                nextAttempt = 0;
            }
        }
        manageLink();
        const bool wantSend =
            link == Link::Up && inFlight.size() + refillMessages <= maxInFlight && moreToSend();
        if (haveRecording && (woken || wantSend))
            readPass();
        if (link == Link::Up) {
            publishLatest();
            publishStatus(false);
        }
        savePlace(false);
        shareState(false);
        notifyGui(false);
        if (mosq && link == Link::Up) {
            const int rc = serviceLink(loopTimeoutMs);
            handleLoopResult(rc, errno);
        } else if (mosq) {
            const int rc = mosquitto_loop(mosq, loopTimeoutMs, 1);
            const int loopErrno = errno;
            handleLoopResult(rc, loopErrno);
        } else {
            std::unique_lock<std::mutex> lock(mutex);
            wakeCondition.wait_for(lock, std::chrono::milliseconds(loopTimeoutMs),
                                   [this] { return stopping || wake; });
        }
        if (dropRequested)
            dropLink();
    }
    shutdown();
}

void LivePublisher::Worker::shutdown()
{
    shuttingDown = true;
    if (link == Link::Up && mosq) {
        const QByteArray payload = PublishPayload::status(serial, QStringLiteral("offline"),
                                                          identity, channels, recordingId, backlog);
        goodbyeMid = publish(prefix + "/status", payload, true);
        // Acknowledgements of readings still come in meanwhile and move the place on.
        const qint64 deadline = monotonicMs() + goodbyeWaitMs;
        while (goodbyeMid >= 0 && !goodbyeAcknowledged && !dropRequested &&
               monotonicMs() < deadline) {
            if (mosquitto_loop(mosq, loopTimeoutMs, 1) != MOSQ_ERR_SUCCESS)
                break;
        }
        mosquitto_disconnect(mosq);
    }
    if (mosq) {
        mosquitto_destroy(mosq);
        mosq = nullptr;
    }
    link = Link::Down;
    savePlace(true);
    shareState(false);
    releaseReader();
}

void LivePublisher::Worker::clearRecording()
{
    releaseReader();
    haveRecording = false;
    store = nullptr;
    channels.clear();
    placePath.clear();
    recordingId = 0;
    acknowledged.clear();
    sent.clear();
    counted.clear();
    newest.clear();
    storedLast.clear();
    latestSent.clear();
    backlog = 0;
    inFlight.clear();
    earlyAcks.clear();
    placeDirty = false;
    unsavedAcknowledged = 0;
    statusDirty = true;
}

void LivePublisher::Worker::takeRecording(int newGeneration, CurveDataDB *newStore,
                                          const QList<int> &newChannels)
{
    clearRecording();
    myGeneration = newGeneration;
    if (!newStore)
        return;
    std::lock_guard<std::mutex> pass(passMutex);
    {
        std::lock_guard<std::mutex> lock(mutex);
        // forgetRecording came in meanwhile: the store may be gone.
        if (generation != newGeneration)
            return;
    }
    store = newStore;
    channels = newChannels;
    placePath = PlaceFile::pathIn(store->dataDirectory());
    PublishPlace place;
    const bool resumed = PlaceFile::read(placePath, &place);
    if (!resumed)
        place.recording = QDateTime::currentMSecsSinceEpoch();
    recordingId = place.recording;
    for (int channel : channels)
        acknowledged[channel] = place.acknowledged.value(channel, nothing);
    sent = acknowledged;
    counted = acknowledged;
    haveRecording = true;
    recordingActive = true;
    if (!resumed) {
        PublishPlace fresh;
        fresh.recording = recordingId;
        PlaceFile::write(placePath, fresh);
    }
    lastPlaceSave = monotonicMs();
    shareState(true);
}

bool LivePublisher::Worker::takeStored(const std::map<int, qint64> &storedLastNow,
                                       const std::map<int, qint64> &storedEarliestNow)
{
    bool behind = false;
    for (const auto &entry : storedEarliestNow) {
        const auto place = acknowledged.find(entry.first);
        // Before the first time stamp told, a channel is read without a limit: what it read
        // then was not stored behind anything.
        if (place == acknowledged.end() || !storedLast.count(entry.first) ||
            entry.second > counted[entry.first])
            continue;
        place->second = std::min(place->second, entry.second - 1);
        behind = true;
    }
    for (const auto &entry : storedLastNow) {
        if (acknowledged.count(entry.first))
            storedLast[entry.first] = entry.second;
    }
    if (!behind)
        return false;
    // Everything after the place is read and counted again. What is in flight is forgotten:
    // its acknowledgements would carry the place past the samples stored behind it.
    inFlight.clear();
    earlyAcks.clear();
    sent = acknowledged;
    counted = acknowledged;
    backlog = 0;
    // On disk at once: a kill now must not leave the place ahead of them.
    placeDirty = true;
    savePlace(true);
    shareState(true);
    return true;
}

qint64 LivePublisher::Worker::readLimit(int channel) const
{
    const auto limit = storedLast.find(channel);
    return limit == storedLast.end() ? openEnd : limit->second;
}

void LivePublisher::Worker::keepNewest(const PublishedSample &sample)
{
    // The newest by time stamp: reading a span again after the clock was set back does not
    // take the retained latest reading back.
    const auto known = newest.find(sample.channel);
    if (known == newest.end() || known->second.t < sample.t)
        newest[sample.channel] = sample;
}

bool LivePublisher::Worker::wantLink() const
{
    return settings.enabled && (haveRecording || !identity.isEmpty());
}

QString LivePublisher::Worker::broker() const
{
    return QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
}

QString LivePublisher::Worker::stateName() const
{
    return haveRecording && recordingActive ? QStringLiteral("recording") : QStringLiteral("idle");
}

void LivePublisher::Worker::manageLink()
{
    const qint64 now = monotonicMs();
    if (link == Link::Down && wantLink() && now >= nextAttempt)
        startConnect();
    else if (link == Link::Connecting && connectFailed())
        dropLink();
    else if (link == Link::Connecting && now - linkSince > connectTimeoutMs) {
        report(LivePublisher::tr("MQTT 代理无法连接：%1（%2 秒内没有应答）")
                   .arg(broker())
                   .arg(connectTimeoutMs / 1000));
        dropLink();
    }
}

bool LivePublisher::Worker::connectFailed()
{
    // With TLS set up, the library swallows a refused connect: connect_async succeeds and the
    // loop keeps succeeding on a dead socket. A hung-up socket without a peer is that case.
    const int fd = mosq ? mosquitto_socket(mosq) : -1;
    if (fd < 0)
        return false;
    pollfd poller{fd, POLLOUT, 0};
    if (poll(&poller, 1, 0) <= 0 || !(poller.revents & (POLLHUP | POLLERR)))
        return false;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0)
        return false;
    int error = 0;
    socklen_t errorLength = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength);
    if (error == 0)
        error = connectErrno;
    const QString reason =
        error ? QString::fromLocal8Bit(strerror(error)) : LivePublisher::tr("连接被对方关闭");
    report(LivePublisher::tr("MQTT 代理无法连接：%1（%2）").arg(broker(), reason));
    return true;
}

void LivePublisher::Worker::startConnect()
{
    serial = serialOf(identity);
    prefix = settings.topicPrefixFor(serial).toUtf8();
    const QString clientId =
        settings.clientId.isEmpty()
            ? QStringLiteral("datalogger-%1-%2").arg(serial).arg(QCoreApplication::applicationPid())
            : settings.clientId;
    link = Link::Connecting;
    linkSince = monotonicMs();
    refusedThisAttempt = false;
    lastLibraryError.clear();
    // A new session each time: nothing the library kept of the previous one can come back.
    mosq = mosquitto_new(clientId.toUtf8().constData(), true, this);
    if (!mosq) {
        report(LivePublisher::tr("MQTT 代理无法连接：%1（%2）").arg(broker(), strerror(errno)));
        dropLink();
        return;
    }
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(mosq, 100);
    mosquitto_connect_callback_set(mosq, &Worker::connectCallback);
    mosquitto_disconnect_callback_set(mosq, &Worker::disconnectCallback);
    mosquitto_publish_callback_set(mosq, &Worker::publishCallback);
    mosquitto_log_callback_set(mosq, &Worker::logCallback);
    if (!settings.userName.isEmpty()) {
        mosquitto_username_pw_set(
            mosq, settings.userName.toUtf8().constData(),
            settings.password.isEmpty() ? nullptr : settings.password.toUtf8().constData());
    }
    if (settings.tls) {
        const int rc = mosquitto_tls_set(mosq, QFile::encodeName(settings.caFile).constData(),
                                         nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            report(LivePublisher::tr("MQTT TLS 连接失败：%1（%2）")
                       .arg(broker(), QString::fromUtf8(mosquitto_strerror(rc))));
            dropLink();
            return;
        }
    }
    const QByteArray will = PublishPayload::will(serial);
    mosquitto_will_set(mosq, (prefix + "/status").constData(), will.size(), will.constData(),
                       settings.qos, true);
    errno = 0;
    const int rc = mosquitto_connect_async(mosq, settings.host.toUtf8().constData(), settings.port,
                                           keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        handleLoopResult(rc, errno);
    else
        connectErrno = errno;
    if (dropRequested)
        dropLink();
}

void LivePublisher::Worker::dropLink()
{
    if (mosq) {
        mosquitto_destroy(mosq);
        mosq = nullptr;
    }
    if (link == Link::Up)
        qWarning().noquote() << "MQTT 与代理的连接中断:" << broker();
    link = Link::Down;
    dropRequested = false;
    // Connecting may wait on name resolution: no day file stays open meanwhile.
    releaseReader();
    // What was in flight is read again from the store once the broker is back.
    inFlight.clear();
    earlyAcks.clear();
    sent = acknowledged;
    latestSent.clear();
    nextAttempt = monotonicMs() + backoffMs;
    backoffMs = std::min(backoffMs * 2, maxBackoffMs);
}

void LivePublisher::Worker::handleLoopResult(int rc, int loopErrno)
{
    if (rc == MOSQ_ERR_SUCCESS)
        return;
    if (link == Link::Connecting && !refusedThisAttempt) {
        QString reason;
        if (rc == MOSQ_ERR_ERRNO)
            reason = QString::fromLocal8Bit(strerror(loopErrno));
        else if (rc == MOSQ_ERR_TLS && !lastLibraryError.isEmpty())
            reason = lastLibraryError;
        else
            reason = QString::fromUtf8(mosquitto_strerror(rc));
        if (rc == MOSQ_ERR_TLS || (settings.tls && !lastLibraryError.isEmpty() &&
                                   lastLibraryError.contains(QLatin1String("SSL")))) {
            if (!lastLibraryError.isEmpty())
                reason = lastLibraryError;
            report(LivePublisher::tr("MQTT TLS 连接失败：%1（%2）").arg(broker(), reason));
        } else {
            report(LivePublisher::tr("MQTT 代理无法连接：%1（%2）").arg(broker(), reason));
        }
    }
    dropRequested = true;
}

void LivePublisher::Worker::report(const QString &problem)
{
    if (problem == lastProblem)
        return;
    lastProblem = problem;
    qWarning().noquote() << problem;
    std::lock_guard<std::mutex> lock(mutex);
    sharedProblems.append(problem);
    problemsWaiting = true;
}

bool LivePublisher::Worker::moreToSend() const
{
    for (const auto &entry : counted) {
        const auto it = sent.find(entry.first);
        if (it != sent.end() && it->second < entry.second)
            return true;
    }
    return false;
}

void LivePublisher::Worker::readPass()
{
    std::vector<PublishedSample> taken;
    std::vector<int> takenPositions;
    {
        std::lock_guard<std::mutex> pass(passMutex);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (generation != myGeneration)
                return;
        }
        // A clear deletes the day files: leave them alone until the recording is forgotten.
        if (store->isClearing()) {
            releaseReader();
            return;
        }
        const size_t room = link == Link::Up && inFlight.size() < maxInFlight
                                ? (maxInFlight - inFlight.size()) * samplesPerMessage
                                : 0;
        bool allRead = true;
        bool complete = seekReader();
        const int channelCount = channels.size();
        // Per channel (by place in `channels`): the last sample taken, and how many taken are
        // newer than what the backlog has counted. A channel's samples come in time order.
        constexpr size_t none = std::numeric_limits<size_t>::max();
        std::vector<size_t> lastTaken(size_t(channelCount), none);
        std::vector<qint64> newlyCounted(size_t(channelCount), 0);
        std::vector<qint64> countedBefore(size_t(channelCount), 0);
        for (int i = 0; i < channelCount; ++i)
            countedBefore[size_t(i)] = counted[channels.at(i)];
        taken.reserve(room);
        takenPositions.reserve(room);
        if (room > 0) {
            // Merge of the channels by time stamp, ties in channel order: the cursors standing
            // on a row in a heap, the earliest (time, channel) on top.
            using Head = std::tuple<qint64, int, int>; // time, channel, place
            std::priority_queue<Head, std::vector<Head>, std::greater<Head>> heads;
            std::vector<qint64> limits(static_cast<size_t>(channelCount));
            for (int i = 0; i < channelCount; ++i) {
                limits[size_t(i)] = readLimit(channels.at(i));
                if (cursors[size_t(i)]->hasRow() &&
                    cursors[size_t(i)]->timestamp() <= limits[size_t(i)])
                    heads.emplace(cursors[size_t(i)]->timestamp(), channels.at(i), i);
            }
            while (!heads.empty()) {
                if (taken.size() == room) {
                    allRead = false;
                    break;
                }
                const int i = std::get<2>(heads.top());
                heads.pop();
                StoredCurveCursor &cursor = *cursors[size_t(i)];
                const qint64 t = cursor.timestamp();
                lastTaken[size_t(i)] = taken.size();
                newlyCounted[size_t(i)] += t > countedBefore[size_t(i)];
                taken.push_back({t, channels.at(i), cursor.value()});
                takenPositions.push_back(i);
                if (cursor.advance() && cursor.timestamp() <= limits[size_t(i)])
                    heads.emplace(cursor.timestamp(), channels.at(i), i);
            }
        }
        for (auto &cursor : cursors) {
            complete = complete && cursor->isComplete();
            // No read stays open between passes: the writer's log can be checkpointed.
            cursor->pause();
        }
        // A table that could not be read would leave a hole behind the place: nothing of this
        // pass goes out, the next one looks the tables up again and tries again.
        if (!complete) {
            taken.clear();
            takenPositions.clear();
            allRead = true;
            relistNext = true;
        }
        for (int i = 0; complete && i < channelCount; ++i) {
            if (lastTaken[size_t(i)] == none)
                continue;
            const PublishedSample &last = taken[lastTaken[size_t(i)]];
            sent[last.channel] = last.t;
            if (newlyCounted[size_t(i)] > 0) {
                backlog += newlyCounted[size_t(i)];
                counted[last.channel] = last.t;
                keepNewest(last);
            }
        }
        // What was not read for sending still counts into the backlog: counted in the index.
        if (complete && (room == 0 || !allRead)) {
            for (int i = 0; i < channels.size(); ++i) {
                const int channel = channels.at(i);
                PublishedSample last{0, channel, 0.0};
                qint64 more = 0;
                if (!cursors[size_t(i)]->tally(counted[channel] + 1, &more, &last.t, &last.value) ||
                    more == 0)
                    continue;
                // Samples past the limit were sent before the clock was set back, or are not
                // told yet: counted when the limit passes them.
                const qint64 limit = readLimit(channel);
                if (last.t > limit) {
                    more = countAfter(store, channel, counted[channel], limit);
                    last.t = limit;
                } else {
                    keepNewest(last);
                }
                if (more > 0) {
                    backlog += more;
                    counted[channel] = last.t;
                }
            }
        }
        // Kept while connected, for the next pass; otherwise the files are let go.
        if (link != Link::Up)
            releaseReader();
        shareState(true);
    }
    if (!taken.empty())
        sendSamples(taken, takenPositions);
}

bool LivePublisher::Worker::seekReader()
{
    const qint64 now = StoreClock::nowMs();
    const bool relistAll = relistNext || now - lastRelist >= relistIntervalMs;
    if (relistAll) {
        lastRelist = now;
        relistNext = false;
    }
    bool complete = true;
    if (cursors.empty()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            readerGeneration = myGeneration;
        }
        cursors.reserve(size_t(channels.size()));
        for (int channel : channels) {
            cursors.push_back(std::make_unique<StoredCurveCursor>(store, QString::number(channel),
                                                                  sent[channel] + 1, openEnd));
            complete = complete && cursors.back()->isComplete();
        }
        lastRelist = now;
        return complete;
    }
    for (int i = 0; i < channels.size(); ++i) {
        StoredCurveCursor &cursor = *cursors[size_t(i)];
        const qint64 from = sent[channels.at(i)] + 1;
        // Nothing new in the tables known, and the clock has gone past the newest of them: the
        // new samples are in a slice found only by looking again.
        if (!cursor.seek(from, relistAll) && !relistAll && cursor.isComplete() &&
            cursor.listedUntil() < now)
            cursor.seek(from, true);
        complete = complete && cursor.isComplete();
    }
    return complete;
}

void LivePublisher::Worker::releaseReader()
{
    cursors.clear();
    ConnectionPool::instance()->releaseThreadConnections();
    {
        std::lock_guard<std::mutex> lock(mutex);
        readerGeneration = -1;
    }
    released.notify_all();
}

int LivePublisher::Worker::serviceLink(int timeoutMs)
{
    const int socket = mosquitto_socket(mosq);
    if (socket < 0)
        return MOSQ_ERR_NO_CONN;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (wake || stopping || generation != myGeneration)
            timeoutMs = 0;
    }
    pollfd fds[2] = {{socket, short(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0},
                     {rouseEvent, POLLIN, 0}};
    if (poll(fds, rouseEvent >= 0 ? 2 : 1, timeoutMs) < 0 && errno != EINTR)
        return MOSQ_ERR_ERRNO;
    if (fds[1].revents & POLLIN) {
        eventfd_t count = 0;
        eventfd_read(rouseEvent, &count);
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        rc = mosquitto_loop_read(mosq, 1);
        // Acknowledge what the broker sent at once rather than after the delayed-ACK timer:
        // a broker with Nagle's algorithm holds its next acknowledgement until then, which
        // keeps the place of a burst's last messages waiting some 40 ms. The kernel drops the
        // setting on its own after a while, hence once per read.
#ifdef TCP_QUICKACK
        if (rc == MOSQ_ERR_SUCCESS && mosq) {
            const int on = 1;
            setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        }
#endif
    }
    if (rc == MOSQ_ERR_SUCCESS && mosq && (fds[0].revents & POLLOUT) && mosquitto_want_write(mosq))
        rc = mosquitto_loop_write(mosq, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosq)
        rc = mosquitto_loop_misc(mosq);
    return rc;
}

void LivePublisher::Worker::sendSamples(const std::vector<PublishedSample> &samples,
                                        const std::vector<int> &positions)
{
    const QByteArray topic = prefix + "/readings";
    std::vector<size_t> lastOf(size_t(channels.size()));
    for (size_t first = 0; first < samples.size(); first += samplesPerMessage) {
        const size_t count = std::min(samplesPerMessage, samples.size() - first);
        InFlight message;
        message.count = qint64(count);
        // The newest time stamp of each channel in the message (samples are in time order).
        std::fill(lastOf.begin(), lastOf.end(), samples.size());
        for (size_t i = first; i < first + count; ++i)
            lastOf[size_t(positions[i])] = i;
        for (size_t i : lastOf) {
            if (i < samples.size())
                message.last.emplace_back(samples[i].channel, samples[i].t);
        }
        const QByteArray payload =
            PublishPayload::readings(serial, recordingId, samples.data() + first, count);
        publishingReadings = true;
        message.mid = publish(topic, payload, false);
        publishingReadings = false;
        if (message.mid < 0) {
            dropRequested = true;
            return;
        }
        message.acknowledged = earlyAcks.erase(message.mid) > 0;
        inFlight.push_back(std::move(message));
    }
    onPublish(-1);
}

int LivePublisher::Worker::publish(const QByteArray &topic, const QByteArray &payload, bool retain)
{
    int mid = -1;
    const int rc = mosquitto_publish(mosq, &mid, topic.constData(), payload.size(),
                                     payload.constData(), settings.qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        qWarning().noquote() << "MQTT 发布失败:" << topic << mosquitto_strerror(rc);
        return -1;
    }
    return mid;
}

void LivePublisher::Worker::publishLatest()
{
    for (const auto &entry : newest) {
        qint64 &sentTime = latestSent.try_emplace(entry.first, nothing).first->second;
        if (sentTime == entry.second.t)
            continue;
        const QByteArray topic = prefix + "/channel/" + QByteArray::number(entry.first) + "/latest";
        if (publish(topic, PublishPayload::latest(serial, entry.second), true) < 0)
            return;
        sentTime = entry.second.t;
    }
}

void LivePublisher::Worker::publishStatus(bool force)
{
    const qint64 now = monotonicMs();
    const bool due = statusDirty || force ||
                     (backlog != lastStatusBacklog && now - lastStatusPublish >= statusIntervalMs);
    if (!due)
        return;
    const QByteArray payload =
        PublishPayload::status(serial, stateName(), identity, channels, recordingId, backlog);
    if (publish(prefix + "/status", payload, true) < 0)
        return;
    statusDirty = false;
    lastStatusBacklog = backlog;
    lastStatusPublish = now;
}

void LivePublisher::Worker::savePlace(bool force)
{
    if (!haveRecording || !placeDirty)
        return;
    const qint64 now = monotonicMs();
    if (!force && now - lastPlaceSave < placeSaveIntervalMs)
        return;
    std::lock_guard<std::mutex> pass(passMutex);
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Forgotten: the place file is gone with the recording and must not come back.
        if (generation != myGeneration)
            return;
    }
    PublishPlace place;
    place.recording = recordingId;
    for (const auto &entry : acknowledged) {
        if (entry.second != nothing)
            place.acknowledged.insert(entry.first, entry.second);
    }
    PlaceFile::write(placePath, place);
    placeDirty = false;
    unsavedAcknowledged = 0;
    lastPlaceSave = now;
}

void LivePublisher::Worker::shareState(bool withCounted)
{
    std::lock_guard<std::mutex> lock(mutex);
    sharedConnected = link == Link::Up;
    if (generation != myGeneration)
        return;
    sharedBacklog = backlog;
    if (withCounted || sharedGeneration != myGeneration) {
        sharedCounted.clear();
        for (const auto &entry : counted)
            sharedCounted.insert(entry.first, entry.second);
        sharedPlacePath = placePath;
        sharedGeneration = myGeneration;
    }
}

void LivePublisher::Worker::notifyGui(bool force)
{
    const bool connected = link == Link::Up;
    const qint64 now = monotonicMs();
    const bool changed = connected != notifiedConnected || backlog != notifiedBacklog;
    if (!force && !problemsWaiting && !changed)
        return;
    // A change of the connection or a problem goes at once; the backlog a few times a second.
    if (!force && !problemsWaiting && connected == notifiedConnected &&
        now - lastNotify < notifyIntervalMs)
        return;
    notifiedConnected = connected;
    notifiedBacklog = backlog;
    problemsWaiting = false;
    lastNotify = now;
    {
        // The GUI thread shows what is notified, not what has changed since: otherwise a later
        // change read early would never be followed by the notification of its undoing.
        std::lock_guard<std::mutex> lock(mutex);
        signalledConnected = connected;
        signalledBacklog = backlog;
    }
    if (wakeWrite >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up: nothing is lost when this write is refused.
        if (write(wakeWrite, &byte, 1) < 0 && errno != EAGAIN)
            qWarning().noquote() << "MQTT 发布通知失败:" << strerror(errno);
    }
}

void LivePublisher::Worker::onConnect(int rc)
{
    if (rc != 0) {
        refusedThisAttempt = true;
        report(LivePublisher::tr("MQTT 登录被拒绝：%1（%2）")
                   .arg(broker(), QString::fromUtf8(mosquitto_connack_string(rc))));
        dropRequested = true;
        return;
    }
    if (link != Link::Up)
        qInfo().noquote() << "MQTT 已连接代理:" << broker();
    link = Link::Up;
    backoffMs = firstBackoffMs;
    lastProblem.clear();
    statusDirty = true;
    latestSent.clear();
    sent = acknowledged;
}

void LivePublisher::Worker::onDisconnect(int)
{
    if (!shuttingDown)
        dropRequested = true;
}

void LivePublisher::Worker::onPublish(int mid)
{
    if (mid >= 0 && mid == goodbyeMid)
        goodbyeAcknowledged = true;
    if (mid >= 0) {
        bool known = false;
        for (InFlight &message : inFlight) {
            if (message.mid == mid) {
                message.acknowledged = true;
                known = true;
                break;
            }
        }
        if (!known && publishingReadings)
            earlyAcks.insert(mid);
    }
    // The place moves over the acknowledged front only: an earlier message still unconfirmed
    // holds it back, so that a restart never skips a sample.
    bool moved = false;
    while (!inFlight.empty() && inFlight.front().acknowledged) {
        const InFlight &front = inFlight.front();
        for (const auto &entry : front.last)
            acknowledged[entry.first] = entry.second;
        backlog -= front.count;
        unsavedAcknowledged += front.count;
        inFlight.pop_front();
        moved = true;
    }
    if (moved) {
        placeDirty = true;
        savePlace(unsavedAcknowledged >= unsavedLimit);
        shareState(false);
    }
}

void LivePublisher::Worker::connectCallback(mosquitto *, void *self, int rc)
{
    static_cast<Worker *>(self)->onConnect(rc);
}

void LivePublisher::Worker::disconnectCallback(mosquitto *, void *self, int rc)
{
    static_cast<Worker *>(self)->onDisconnect(rc);
}

void LivePublisher::Worker::publishCallback(mosquitto *, void *self, int mid)
{
    static_cast<Worker *>(self)->onPublish(mid);
}

void LivePublisher::Worker::logCallback(mosquitto *, void *self, int level, const char *text)
{
    // The library names the cause of a TLS failure only in its log.
    if (level == MOSQ_LOG_ERR && text)
        static_cast<Worker *>(self)->lastLibraryError = QString::fromUtf8(text);
}

LivePublisher::LivePublisher(const MqttSettings &settings, QObject *parent)
    : QObject(parent)
    , worker(std::make_unique<Worker>(this, settings))
{
}

LivePublisher::~LivePublisher() = default;

void LivePublisher::setIdentity(const QString &identity)
{
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->sharedIdentity = identity.simplified();
    }
    worker->rouse();
}

void LivePublisher::startRecording(CurveDataDB *store, const QList<int> &channels)
{
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        ++worker->generation;
        worker->sharedStore = store;
        worker->sharedChannels = channels;
        worker->sharedRecording = store != nullptr;
        worker->sharedBacklog = 0;
        worker->sharedStoredLast.clear();
        worker->sharedStoredEarliest.clear();
    }
    worker->rouse();
}

void LivePublisher::sampleStored(int channel, qint64 t)
{
    std::lock_guard<std::mutex> lock(worker->mutex);
    worker->sharedStoredLast[channel] = t;
    qint64 &earliest = worker->sharedStoredEarliest.try_emplace(channel, t).first->second;
    earliest = std::min(earliest, t);
}

void LivePublisher::samplesStored()
{
    worker->rouse();
}

void LivePublisher::recordingEnded()
{
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->sharedRecording = false;
    }
    worker->rouse();
}

qint64 LivePublisher::forgetRecording()
{
    CurveDataDB *store = nullptr;
    QList<int> channels;
    int forgotten = 0;
    qint64 undelivered = 0;
    QMap<int, qint64> counted;
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        // What the thread shared of this recording is final: it shares nothing of it once the
        // generation has moved on.
        if (worker->sharedGeneration == worker->generation) {
            undelivered = worker->sharedBacklog;
            counted = worker->sharedCounted;
        }
        store = worker->sharedStore;
        channels = worker->sharedChannels;
        forgotten = worker->generation;
        ++worker->generation;
        worker->sharedStore = nullptr;
        worker->sharedChannels.clear();
        worker->sharedRecording = false;
        worker->sharedStoredLast.clear();
        worker->sharedStoredEarliest.clear();
    }
    worker->rouse();
    // The thread keeps the day files open between passes; woken, it lets go of them at once
    // (it holds none while it might wait on the network).
    {
        std::unique_lock<std::mutex> lock(worker->mutex);
        if (!worker->released.wait_for(lock, std::chrono::milliseconds(releaseWaitMs),
                                       [&] { return worker->readerGeneration != forgotten; }))
            qWarning().noquote() << "MQTT 发布线程未能按时释放数据文件";
    }
    // Waits for a read pass or a place save in progress; none starts on this recording after.
    std::lock_guard<std::mutex> pass(worker->passMutex);
    if (!store)
        return 0;
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->sharedBacklog = 0;
        worker->sharedCounted.clear();
    }
    const QString placePath = PlaceFile::pathIn(store->dataDirectory());
    if (counted.isEmpty()) {
        // The thread never took the recording up: what was delivered is in the file, if any.
        PublishPlace place;
        if (PlaceFile::read(placePath, &place))
            counted = place.acknowledged;
    }
    // Samples stored since the thread last looked (all of them when it never took the
    // recording up), counted here on the caller's thread.
    if (!store->isClearing()) {
        for (int channel : channels)
            undelivered += countAfter(store, channel, counted.value(channel, nothing));
    }
    if (QFile::exists(placePath) && !QFile::remove(placePath))
        qWarning().noquote() << "MQTT 发布位置文件无法删除:" << placePath;
    return undelivered;
}

qint64 LivePublisher::backlog() const
{
    std::lock_guard<std::mutex> lock(worker->mutex);
    return worker->sharedBacklog;
}

bool LivePublisher::isConnected() const
{
    std::lock_guard<std::mutex> lock(worker->mutex);
    return worker->sharedConnected;
}
