#include "livepublisher.h"

#include "curvedatadb.h"
#include "livepublisher_worker.h"
#include "placefile.h"
#include "workerthread.h"

#include <QDebug>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <chrono>

namespace {

// forgetRecording waits at most this long for the thread to let go of the day files.
constexpr int releaseWaitMs = 3000;
constexpr unsigned long threadStopWaitMs = 3500;

} // namespace

LivePublisher::Worker::Worker(LivePublisher *owner, const MqttSettings &settings)
    : owner(owner)
    , link(settings, this)
    , thread(this)
{
    if (toGui.isValid()) {
        notifier = new QSocketNotifier(toGui.descriptor(), QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, owner, [this] { takeStatus(); });
    }
    thread.setObjectName(QStringLiteral("mqtt-publish"));
    thread.start(QThread::InheritPriority);
}

LivePublisher::Worker::~Worker()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    endThread(thread, [this] { rouse(); }, threadStopWaitMs);
    // Orders everything the thread did before what follows, visibly to the thread sanitizer.
    {
        std::lock_guard<std::mutex> lock(mutex);
    }
    delete notifier;
}

void LivePublisher::Worker::takeStatus()
{
    toGui.take();
    bool changed = false;
    bool connected = false;
    qint64 backlog = 0;
    QStringList problems;
    {
        std::lock_guard<std::mutex> lock(mutex);
        changed = told.changed;
        told.changed = false;
        connected = told.connected;
        backlog = told.backlog;
        problems.swap(told.problems);
    }
    for (const QString &text : problems)
        emit owner->problem(text);
    if (changed)
        emit owner->statusChanged(connected, backlog);
}

LivePublisher::LivePublisher(const MqttSettings &settings, QObject *parent)
    : QObject(parent)
    , worker(std::make_unique<Worker>(this, settings))
{
}

LivePublisher::~LivePublisher() = default;

void LivePublisher::setIdentity(const FrameIdentity &identity)
{
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->sharedIdentity = identity;
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
        if (worker->account.generation == worker->generation) {
            undelivered = worker->account.backlog;
            counted = worker->account.counted;
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
        worker->account = Worker::Account();
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
            undelivered += StoreFollower::countAfter(store, channel,
                                                     counted.value(channel, DeliveryLedger::nothing),
                                                     DeliveryLedger::openEnd);
    }
    if (QFile::exists(placePath) && !QFile::remove(placePath))
        qWarning().noquote() << "MQTT 发布位置文件无法删除:" << placePath;
    return undelivered;
}

qint64 LivePublisher::backlog() const
{
    std::lock_guard<std::mutex> lock(worker->mutex);
    return worker->told.backlog;
}

bool LivePublisher::isConnected() const
{
    std::lock_guard<std::mutex> lock(worker->mutex);
    return worker->told.connected;
}
