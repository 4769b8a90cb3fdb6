#include "recordingreadback.h"

#include "curvedatadb.h"
#include "storedcurvereader.h"

#include <QDebug>

namespace {
constexpr unsigned long threadStopWaitMs = 3000;
}

RecordingReadWorker::RecordingReadWorker(CurveDataDB *store, const std::atomic<int> *newestRequest)
    : store(store)
    , newestRequest(newestRequest)
{
}

void RecordingReadWorker::read(int requestId, const TrendRequest &request)
{
    // A clear of the store deletes the day files being read: the read lets go of them at once,
    // long before the files go.
    const auto superseded = [this, requestId] {
        return newestRequest->load() != requestId || (store && store->isClearing());
    };
    TrendReduction result;
    // Requests queue up while the user zooms: the outdated ones are answered without reading.
    if (!superseded())
        result = StoredCurveReader(store).read(request, superseded);
    result.requestId = requestId;
    emit readDone(result);
}

RecordingReadBack::RecordingReadBack(CurveDataDB *store, QObject *parent)
    : QObject(parent)
    , storeMember(store)
{
    registerTrendTypes();
    thread.setObjectName(QStringLiteral("trend-readback"));
    worker = new RecordingReadWorker(store, &newestRequest);
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &RecordingReadBack::startRead, worker, &RecordingReadWorker::read);
    connect(worker, &RecordingReadWorker::readDone, this, &RecordingReadBack::onReadDone);
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
    const int id = newestRequest.fetch_add(1) + 1;
    ++pending;
    emit startRead(id, request);
    return id;
}

void RecordingReadBack::cancel()
{
    newestRequest.fetch_add(1);
}

void RecordingReadBack::onReadDone(const TrendReduction &result)
{
    if (pending > 0)
        --pending;
    if (result.requestId != newestRequest.load())
        return;
    emit reduced(result);
}
