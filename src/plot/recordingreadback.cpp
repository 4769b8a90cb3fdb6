#include "recordingreadback.h"

#include "curvedatadb.h"
#include "storedcurvereader.h"

#include <QDebug>

namespace {
constexpr unsigned long threadStopWaitMs = 3000;
}

RecordingReadWorker::RecordingReadWorker(CurveDataDB *store, ReadBackExchange *exchange)
    : store(store)
    , exchange(exchange)
{
}

void RecordingReadWorker::readWaiting()
{
    while (true) {
        int id = 0;
        TrendRequest request;
        {
            std::lock_guard<std::mutex> lock(exchange->mutex);
            if (!exchange->requestWaiting)
                return;
            exchange->requestWaiting = false;
            exchange->reading = true;
            id = exchange->requestId;
            request = exchange->request;
        }
        // A clear of the store deletes the day files being read: the read lets go of them at
        // once, long before the files go.
        const auto superseded = [this, id] {
            return exchange->newest.load() != id || (store && store->isClearing());
        };
        TrendReduction result;
        if (!superseded())
            result = StoredCurveReader(store).read(request, superseded);
        result.requestId = id;
        {
            std::lock_guard<std::mutex> lock(exchange->mutex);
            exchange->reading = false;
            // An unclaimed older result is of no use any more: the newer one replaces it.
            exchange->result = std::move(result);
            exchange->resultWaiting = true;
        }
        emit resultReady();
    }
}

RecordingReadBack::RecordingReadBack(CurveDataDB *store, QObject *parent)
    : QObject(parent)
    , storeMember(store)
{
    registerTrendTypes();
    thread.setObjectName(QStringLiteral("trend-readback"));
    worker = new RecordingReadWorker(store, &exchange);
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &RecordingReadBack::readRequested, worker, &RecordingReadWorker::readWaiting);
    connect(worker, &RecordingReadWorker::resultReady, this, &RecordingReadBack::takeResult);
    thread.start(QThread::InheritPriority);
}

RecordingReadBack::~RecordingReadBack()
{
    cancel();
    thread.quit();
    if (!thread.wait(threadStopWaitMs)) {
        qWarning().noquote() << "曲线回读线程未能按时结束，强制终止";
        thread.terminate();
        thread.wait();
    }
}

int RecordingReadBack::request(const TrendRequest &request)
{
    int id = 0;
    {
        std::lock_guard<std::mutex> lock(exchange.mutex);
        id = exchange.newest.fetch_add(1) + 1;
        // A request still waiting is replaced: only the newest is worth reading.
        exchange.requestWaiting = true;
        exchange.requestId = id;
        exchange.request = request;
    }
    emit readRequested();
    return id;
}

void RecordingReadBack::cancel()
{
    std::lock_guard<std::mutex> lock(exchange.mutex);
    exchange.newest.fetch_add(1);
    exchange.requestWaiting = false;
}

bool RecordingReadBack::isBusy() const
{
    std::lock_guard<std::mutex> lock(exchange.mutex);
    return exchange.requestWaiting || exchange.reading || exchange.resultWaiting;
}

void RecordingReadBack::takeResult()
{
    TrendReduction result;
    {
        std::lock_guard<std::mutex> lock(exchange.mutex);
        if (!exchange.resultWaiting)
            return;
        exchange.resultWaiting = false;
        result = std::move(exchange.result);
        exchange.result = TrendReduction();
    }
    if (result.requestId != exchange.newest.load())
        return;
    emit reduced(result);
}
