#include "recordingreadback.h"

#include "curvedatadb.h"
#include "recordingreducer.h"
#include "workerthread.h"

#include <QDebug>
#include <QSocketNotifier>


namespace {
constexpr unsigned long threadStopWaitMs = 3000;
}

RecordingReadBack::RecordingReadBack(CurveDataDB *store, QObject *parent)
    : QObject(parent)
    , storeMember(store)
    , thread(this)
{
    registerTrendTypes();
    if (resultReady.isValid()) {
        notifier = new QSocketNotifier(resultReady.descriptor(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &RecordingReadBack::takeResult);
    }
    thread.setObjectName(QStringLiteral("trend-readback"));
    thread.start(QThread::InheritPriority);
}

RecordingReadBack::~RecordingReadBack()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        requestWaiting = false;
        newest.fetch_add(1);
    }
    endThread(thread, [this] { wake.notify_all(); }, threadStopWaitMs);
    // The thread's last step releases the mutex; taking it once more orders everything the
    // thread did before what follows here, in a way the thread sanitizer can see.
    {
        std::lock_guard<std::mutex> lock(mutex);
    }
    delete notifier;
}

int RecordingReadBack::request(const TrendRequest &request)
{
    int id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        id = newest.fetch_add(1) + 1;
        // A request still waiting is replaced: only the newest is worth reading.
        requestWaiting = true;
        requestId = id;
        waiting = request;
    }
    wake.notify_all();
    return id;
}

void RecordingReadBack::cancel()
{
    std::lock_guard<std::mutex> lock(mutex);
    newest.fetch_add(1);
    requestWaiting = false;
}

bool RecordingReadBack::isBusy() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return requestWaiting || reading || resultWaiting;
}

void RecordingReadBack::serve()
{
    while (true) {
        int id = 0;
        TrendRequest request;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || requestWaiting; });
            if (stopping)
                return;
            requestWaiting = false;
            reading = true;
            id = requestId;
            request = waiting;
        }
        // A clear of the store deletes the day files being read: the read lets go of them at
        // once, long before the files go.
        const auto superseded = [this, id] {
            return newest.load() != id || (storeMember && storeMember->isClearing());
        };
        TrendReduction read;
        if (!superseded())
            read = RecordingReducer(storeMember).read(request, superseded);
        read.requestId = id;
        {
            std::lock_guard<std::mutex> lock(mutex);
            reading = false;
            // An unclaimed older result is of no use any more: the newer one replaces it.
            result = std::move(read);
            resultWaiting = true;
        }
        resultReady.raise();
    }
}

void RecordingReadBack::takeResult()
{
    resultReady.take();
    TrendReduction taken;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!resultWaiting)
            return;
        resultWaiting = false;
        taken = std::move(result);
        result = TrendReduction();
    }
    if (taken.requestId != newest.load())
        return;
    emit reduced(taken);
}
