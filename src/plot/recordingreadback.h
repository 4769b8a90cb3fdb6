// Runs the reads of stored curves for the plot on a thread of its own, so that the window never
// waits for the disk. A newer request supersedes the older ones: a read in progress stops early,
// a request not started yet is replaced, and only the newest result is reported.
//
// Requests and results pass under a std::mutex, the reading thread waits on a condition
// variable, and it wakes the window through a WakeEvent watched by a socket notifier: no Qt event
// crosses between the two threads, so every hand-over is one the thread sanitizer can follow.
#pragma once

#include "trendreduction.h"
#include "wakeevent.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

class CurveDataDB;
class QSocketNotifier;

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
    int newestRequestId() const { return newest.load(); }

signals:
    // Only for the newest request; in the thread of this object.
    void reduced(const TrendReduction &result);

private:
    // The reading thread's loop.
    void serve();
    void takeResult();

    class ReadThread : public QThread
    {
    public:
        explicit ReadThread(RecordingReadBack *owner)
            : owner(owner)
        {
        }

    protected:
        void run() override { owner->serve(); }

    private:
        RecordingReadBack *owner;
    };

    CurveDataDB *const storeMember;
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool requestWaiting = false;
    int requestId = 0;
    TrendRequest waiting;
    bool reading = false;
    bool resultWaiting = false;
    TrendReduction result;
    // Id of the newest request; anything older is abandoned.
    std::atomic<int> newest{0};
    // Raised by the reading thread when a result is waiting; the window takes it.
    WakeEvent resultReady{QStringLiteral("曲线回读")};
    QSocketNotifier *notifier = nullptr;
    ReadThread thread;
};
