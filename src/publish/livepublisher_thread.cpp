// The publisher's thread: takes what the GUI thread asked for, keeps the link up, reads the
// store after the samples sent, publishes, moves and saves the place, tells the GUI thread.
#include "livepublisher_worker.h"

#include "curvedatadb.h"
#include "placefile.h"
#include "publishpayload.h"

#include <QDateTime>

#include <algorithm>

namespace {

// How long one turn of the thread's loop may wait on the network while nothing happens; a
// wake-up from the GUI thread ends the wait at once while connected.
constexpr int loopTimeoutMs = 50;
// Read again when this many messages have been acknowledged: fewer, larger reads.
constexpr size_t refillMessages = 4;
constexpr size_t samplesPerMessage = 1000;
// Messages with readings awaiting their acknowledgement; bounds what a long backlog keeps in
// memory, while keeping enough on the wire that the broker's round trips do not set the pace.
constexpr size_t maxInFlight = 16;
constexpr qint64 notifyIntervalMs = 200;
constexpr qint64 statusIntervalMs = 1000;

} // namespace

void LivePublisher::Worker::run()
{
    while (true) {
        bool woken = toThread.take();
        int wantedGeneration = 0;
        CurveDataDB *wantedStore = nullptr;
        QList<int> wantedChannels;
        bool recordingNow = false;
        FrameIdentity identityNow;
        std::map<int, qint64> storedLastNow;
        std::map<int, qint64> storedEarliestNow;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                break;
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
        if (haveRecording && ledger.storedUpTo(storedLastNow, storedEarliestNow)) {
            savePlace(true);
            shareAccount(true);
            woken = true;
        }
        if (haveRecording && recordingNow != recordingActive) {
            recordingActive = recordingNow;
            statusDirty = true;
        }
        if (identityNow != identity) {
            identity = identityNow;
            link.identityChanged(identity);
        }
        link.manage(haveRecording || !identity.statusText().isEmpty(), identity);
        const bool wantSend = link.isUp() &&
                              ledger.inFlightCount() + refillMessages <= maxInFlight &&
                              ledger.moreToSend();
        if (haveRecording && (woken || wantSend))
            readPass();
        if (link.isUp()) {
            publishLatest();
            publishStatus();
        }
        savePlace(false);
        shareAccount(false);
        notifyGui();
        link.turn(toThread.descriptor(), loopTimeoutMs);
    }
    link.goodbye(PublishPayload::status(link.serial(), QStringLiteral("offline"),
                                        identity.statusText(), channels, ledger.recording(),
                                        ledger.backlog()));
    savePlace(true);
    shareAccount(false);
    releaseReader();
}

void LivePublisher::Worker::clearRecording()
{
    releaseReader();
    haveRecording = false;
    store = nullptr;
    channels.clear();
    placePath.clear();
    follower.follow(nullptr, {});
    ledger.close();
    latestSent.clear();
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
    ledger.open(place, channels, MqttLink::monotonicMs());
    follower.follow(store, channels);
    haveRecording = true;
    recordingActive = true;
    if (!resumed) {
        PublishPlace fresh;
        fresh.recording = ledger.recording();
        PlaceFile::write(placePath, fresh);
    }
    shareAccount(true);
}

QString LivePublisher::Worker::stateName() const
{
    return haveRecording && recordingActive ? QStringLiteral("recording") : QStringLiteral("idle");
}

void LivePublisher::Worker::readPass()
{
    std::vector<PublishedSample> taken;
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
        const size_t inFlight = ledger.inFlightCount();
        const size_t room =
            link.isUp() && inFlight < maxInFlight ? (maxInFlight - inFlight) * samplesPerMessage
                                                  : 0;
        if (!follower.isReading()) {
            std::lock_guard<std::mutex> lock(mutex);
            readerGeneration = myGeneration;
        }
        StoreFollower::Pass read = follower.read(
            [this](int channel) { return ledger.sentUpTo(channel) + 1; },
            [this](int channel) { return ledger.readLimit(channel); }, room);
        if (read.complete) {
            ledger.read(read.samples);
            if (room == 0 || !read.allRead)
                countUnread();
        }
        // Kept while connected, for the next pass; otherwise the files are let go.
        if (!link.isUp())
            releaseReader();
        shareAccount(true);
        taken = std::move(read.samples);
    }
    if (!taken.empty())
        sendSamples(taken);
}

void LivePublisher::Worker::countUnread()
{
    for (int channel : channels) {
        const qint64 counted = ledger.countedUpTo(channel);
        PublishedSample last;
        qint64 more = 0;
        if (!follower.tally(channel, counted + 1, &more, &last) || more == 0)
            continue;
        // Samples past the limit were sent before the clock was set back, or are not told
        // yet: counted when the limit passes them.
        const qint64 limit = ledger.readLimit(channel);
        if (last.t > limit) {
            more = StoreFollower::countAfter(store, channel, counted, limit);
            last.t = limit;
        } else {
            ledger.keepNewest(last);
        }
        ledger.countUnread(channel, more, last.t);
    }
}

void LivePublisher::Worker::releaseReader()
{
    follower.release();
    {
        std::lock_guard<std::mutex> lock(mutex);
        readerGeneration = -1;
    }
    released.notify_all();
}

void LivePublisher::Worker::sendSamples(const std::vector<PublishedSample> &samples)
{
    const QByteArray topic = link.prefix() + "/readings";
    for (size_t first = 0; first < samples.size(); first += samplesPerMessage) {
        const size_t count = std::min(samplesPerMessage, samples.size() - first);
        const QByteArray payload = PublishPayload::readings(link.serial(), ledger.recording(),
                                                            samples.data() + first, count);
        bool acknowledgedAlready = false;
        const int mid = link.publish(topic, payload, false, &acknowledgedAlready);
        if (mid < 0) {
            link.requestDrop();
            return;
        }
        ledger.handedOver(mid, samples.data() + first, count, acknowledgedAlready);
    }
    if (ledger.settle()) {
        savePlace(false);
        shareAccount(false);
    }
}

void LivePublisher::Worker::publishLatest()
{
    for (const auto &entry : ledger.newest()) {
        qint64 &sentTime =
            latestSent.try_emplace(entry.first, DeliveryLedger::nothing).first->second;
        if (sentTime == entry.second.t)
            continue;
        const QByteArray topic =
            link.prefix() + "/channel/" + QByteArray::number(entry.first) + "/latest";
        if (link.publish(topic, PublishPayload::latest(link.serial(), entry.second), true) < 0)
            return;
        sentTime = entry.second.t;
    }
}

void LivePublisher::Worker::publishStatus()
{
    const qint64 now = MqttLink::monotonicMs();
    const qint64 backlog = ledger.backlog();
    const bool due = statusDirty ||
                     (backlog != lastStatusBacklog && now - lastStatusPublish >= statusIntervalMs);
    if (!due)
        return;
    const QByteArray payload = PublishPayload::status(
        link.serial(), stateName(), identity.statusText(), channels, ledger.recording(), backlog);
    if (link.publish(link.prefix() + "/status", payload, true) < 0)
        return;
    statusDirty = false;
    lastStatusBacklog = backlog;
    lastStatusPublish = now;
}

void LivePublisher::Worker::savePlace(bool force)
{
    const qint64 now = MqttLink::monotonicMs();
    if (!haveRecording || !ledger.placeDue(now, force))
        return;
    std::lock_guard<std::mutex> pass(passMutex);
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Forgotten: the place file is gone with the recording and must not come back.
        if (generation != myGeneration)
            return;
    }
    PlaceFile::write(placePath, ledger.place());
    ledger.placeSaved(now);
}

void LivePublisher::Worker::shareAccount(bool withCounted)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (generation != myGeneration)
        return;
    account.backlog = ledger.backlog();
    if (withCounted || account.generation != myGeneration) {
        account.counted.clear();
        for (const auto &entry : ledger.countedAll())
            account.counted.insert(entry.first, entry.second);
        account.generation = myGeneration;
    }
}

void LivePublisher::Worker::notifyGui()
{
    const bool connected = link.isUp();
    const qint64 backlog = ledger.backlog();
    const qint64 now = MqttLink::monotonicMs();
    {
        std::lock_guard<std::mutex> lock(mutex);
        const bool changed = connected != told.connected || backlog != told.backlog;
        if (!problemsWaiting && !changed)
            return;
        // A change of the connection, a problem, and the backlog emptying or filling go at
        // once; the backlog's size a few times a second.
        const bool caughtUpChanged = (backlog == 0) != (told.backlog == 0);
        if (!problemsWaiting && connected == told.connected && !caughtUpChanged &&
            now - lastNotify < notifyIntervalMs)
            return;
        // The GUI thread shows what is told, not what has changed since: otherwise a later
        // change read early would never be followed by the notification of its undoing.
        told.connected = connected;
        told.backlog = backlog;
        told.changed = told.changed || changed;
    }
    problemsWaiting = false;
    lastNotify = now;
    toGui.raise();
}

void LivePublisher::Worker::linkUp()
{
    statusDirty = true;
    latestSent.clear();
    ledger.resendFromPlace();
}

void LivePublisher::Worker::linkDown()
{
    // Connecting may wait on name resolution: no day file stays open meanwhile.
    releaseReader();
    // What was in flight is read again from the store once the broker is back.
    ledger.resendFromPlace();
    latestSent.clear();
}

void LivePublisher::Worker::acknowledged(int mid)
{
    if (ledger.acknowledge(mid)) {
        savePlace(false);
        shareAccount(false);
    }
}

void LivePublisher::Worker::problem(const QString &text)
{
    std::lock_guard<std::mutex> lock(mutex);
    told.problems.append(text);
    problemsWaiting = true;
}
