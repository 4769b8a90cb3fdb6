// Runs the reads of stored curves for the plot on a thread of its own, so that the window never
// waits for the disk. A newer request supersedes the older ones: a read in progress stops early,
// requests not started yet are dropped, and only the newest result is reported.
#ifndef DATALOGGER_RECORDINGREADBACK_H
#define DATALOGGER_RECORDINGREADBACK_H

#include "trendreduction.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <mutex>

class CurveDataDB;

// What the window and the read-back thread hand each other. Requests and results pass here
// under the lock, not as arguments of queued signals, so that the hand-over is ordered in a
// way the thread sanitizer can see as well.
struct ReadBackExchange
{
    std::mutex mutex;
    bool requestWaiting = false;
    int requestId = 0;
    TrendRequest request;
    bool reading = false;
    bool resultWaiting = false;
    TrendReduction result;
    // Id of the newest request; anything older is abandoned.
    std::atomic<int> newest{0};
};

// Lives on the read-back thread; reads the waiting request, and the next one if another came
// meanwhile.
class RecordingReadWorker : public QObject
{
    Q_OBJECT
public:
    RecordingReadWorker(CurveDataDB *store, ReadBackExchange *exchange);

public slots:
    void readWaiting();

signals:
    void resultReady();

private:
    CurveDataDB *store;
    ReadBackExchange *exchange;
};

class RecordingReadBack : public QObject
{
    Q_OBJECT
public:
    explicit RecordingReadBack(CurveDataDB *store, QObject *parent = nullptr);
    // Abandons the read in progress and ends the thread (terminated after 3000 ms at worst).
    ~RecordingReadBack() override;

    CurveDataDB *store() const { return storeMember; }
    // Hands a read to the thread; returns its id. Earlier reads are abandoned.
    int request(const TrendRequest &request);
    // Abandons every read asked for so far; none of them will be reported.
    void cancel();
    // A read asked for has not been reported (or dropped) yet.
    bool isBusy() const;
    int newestRequestId() const { return exchange.newest.load(); }

signals:
    // Only for the newest request; in the thread of this object.
    void reduced(const TrendReduction &result);
    void readRequested();

private:
    void takeResult();

    CurveDataDB *storeMember;
    mutable ReadBackExchange exchange;
    QThread thread;
    RecordingReadWorker *worker = nullptr;
};

#endif
