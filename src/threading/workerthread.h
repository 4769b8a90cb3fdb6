// The one shape of this program's worker threads. A worker is started, may be woken, is asked
// to stop, and is waited for with a bound; one that does not end within the bound is
// terminated as a last resort, and said so in the log. Every hand-over between the starting
// thread and the worker goes through a std::mutex, so the thread sanitizer can follow it
// (QThread's own start and wait are invisible to it).
#pragma once

#include <QString>
#include <QThread>

#include <climits>
#include <condition_variable>
#include <functional>
#include <mutex>

// Ends thread: asks it to stop with askToStop, waits at most boundMs for it, and terminates it
// when it did not end by then. True when it ended by itself. For the threads that are not
// WorkerThreads (a plain QThread running an event loop, say).
bool endThread(QThread &thread, const std::function<void()> &askToStop, unsigned long boundMs);

class WorkerThread : public QThread
{
    Q_OBJECT
public:
    // The owner ends the thread (finish) before it destroys the worker.
    explicit WorkerThread(const QString &name, QObject *parent = nullptr);

    // Starts work() on the thread with every earlier stop request and wake-up forgotten.
    void startWork();
    // Any thread: asks work() to end; a wait in waitForWork ends at once.
    void requestStop();
    // Any thread: a wait in waitForWork ends at once.
    void wake();
    // Waits for work() to end; false when it did not within milliseconds.
    bool waitForEnd(unsigned long milliseconds = ULONG_MAX);
    // Asks to stop, waits at most boundMs, and terminates the thread when it did not end.
    bool finish(unsigned long boundMs);

    // Any thread.
    bool stopRequested() const;

protected:
    // The thread's job; it returns soon after a stop request.
    virtual void work() = 0;
    // On the thread: waits up to milliseconds (none when negative) for wake() or a stop
    // request; false when a stop was requested.
    bool waitForWork(int milliseconds);
    // A wait that only a stop request cuts short; false when it was.
    bool sleepUnlessStopped(int milliseconds);

private:
    void run() final;

    mutable std::mutex mutex;
    std::condition_variable wakeUp;
    bool stopping = false;
    bool woken = false;
};
