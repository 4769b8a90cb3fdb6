// Runs the reads of stored curves for the plot on a thread of its own, so that the window never
// waits for the disk. A newer request supersedes the older ones: they stop early and only the
// newest result is reported.
#ifndef DATALOGGER_RECORDINGREADBACK_H
#define DATALOGGER_RECORDINGREADBACK_H

#include "trendreduction.h"

#include <QObject>
#include <QThread>

#include <atomic>

class CurveDataDB;

// Lives on the read-back thread; reads one request after the other.
class RecordingReadWorker : public QObject
{
    Q_OBJECT
public:
    RecordingReadWorker(CurveDataDB *store, const std::atomic<int> *newestRequest);

public slots:
    void read(int requestId, const TrendRequest &request);

signals:
    void readDone(const TrendReduction &result);

private:
    CurveDataDB *store;
    const std::atomic<int> *newestRequest;
};

class RecordingReadBack : public QObject
{
    Q_OBJECT
public:
    explicit RecordingReadBack(CurveDataDB *store, QObject *parent = nullptr);
    // Abandons the read in progress and ends the thread (terminated after 3000 ms at worst).
    ~RecordingReadBack() override;

    CurveDataDB *store() const { return storeMember; }
    // Queues a read; returns its id. Earlier reads still running are abandoned.
    int request(const TrendRequest &request);
    // Abandons every read asked for so far; none of them will be reported.
    void cancel();
    // A read asked for has not been reported yet.
    bool isBusy() const { return pending != 0; }
    int newestRequestId() const { return newestRequest.load(); }

signals:
    // Only for the newest request; in the thread of this object.
    void reduced(const TrendReduction &result);
    void startRead(int requestId, const TrendRequest &request);

private:
    void onReadDone(const TrendReduction &result);

    CurveDataDB *storeMember;
    QThread thread;
    RecordingReadWorker *worker = nullptr;
    std::atomic<int> newestRequest{0};
    int pending = 0;
};

#endif
