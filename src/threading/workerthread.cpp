#include "workerthread.h"

#include <QDebug>

#include <chrono>

bool endThread(QThread &thread, const std::function<void()> &askToStop, unsigned long boundMs)
{
    if (thread.isFinished() || !thread.isRunning())
        return true;
    askToStop();
    if (thread.wait(boundMs))
        return true;
    qWarning().noquote() << QStringLiteral("线程 %1 未在 %2 ms 内结束，强制终止")
                                .arg(thread.objectName())
                                .arg(boundMs);
    thread.terminate();
    thread.wait();
    return false;
}

WorkerThread::WorkerThread(const QString &name, QObject *parent)
    : QThread(parent)
{
    setObjectName(name);
}

void WorkerThread::startWork()
{
    {
        // Also orders the previous run's last steps before this one's.
        std::lock_guard<std::mutex> lock(mutex);
        stopping = false;
        woken = false;
    }
    start();
}

void WorkerThread::requestStop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wakeUp.notify_all();
}

void WorkerThread::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        woken = true;
    }
    wakeUp.notify_all();
}

bool WorkerThread::stopRequested() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return stopping;
}

bool WorkerThread::waitForEnd(unsigned long milliseconds)
{
    if (!wait(milliseconds))
        return false;
    // The thread's last step releases the mutex: taking it orders all it did before the
    // caller's next step.
    std::lock_guard<std::mutex> lock(mutex);
    return true;
}

bool WorkerThread::finish(unsigned long boundMs)
{
    const bool ended = endThread(*this, [this] { requestStop(); }, boundMs);
    std::lock_guard<std::mutex> lock(mutex);
    return ended;
}

bool WorkerThread::waitForWork(int milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    wakeUp.wait_for(lock, std::chrono::milliseconds(qMax(milliseconds, 0)),
                    [this] { return stopping || woken; });
    woken = false;
    return !stopping;
}

bool WorkerThread::sleepUnlessStopped(int milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    wakeUp.wait_for(lock, std::chrono::milliseconds(qMax(milliseconds, 0)),
                    [this] { return stopping; });
    return !stopping;
}

void WorkerThread::run()
{
    work();
    // The last step under the mutex, for waitForEnd.
    std::lock_guard<std::mutex> lock(mutex);
}
