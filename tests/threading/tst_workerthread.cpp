// The worker-thread shape every worker shares: a stop request ends a long wait at once, a new
// start forgets the last stop, and a worker that never ends does not hold its owner for ever.
#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <unistd.h>

#include "workerthread.h"

namespace {

// Waits for work in long slices and counts the wake-ups it saw.
class Waiter : public WorkerThread
{
public:
    Waiter()
        : WorkerThread(QStringLiteral("waiter"))
    {
    }
    ~Waiter() override { finish(5000); }
    std::atomic<int> wakeUps{0};
    std::atomic<int> runs{0};

protected:
    void work() override
    {
        ++runs;
        while (waitForWork(60000))
            ++wakeUps;
    }
};

// Blocks in a read that nothing answers, deaf to stop requests.
class Stuck : public WorkerThread
{
public:
    Stuck()
        : WorkerThread(QStringLiteral("stuck"))
    {
        if (pipe(fds) != 0)
            fds[0] = fds[1] = -1;
    }
    ~Stuck() override
    {
        finish(100);
        ::close(fds[0]);
        ::close(fds[1]);
    }
    int fds[2];

protected:
    void work() override
    {
        char byte = 0;
        while (::read(fds[0], &byte, 1) < 0) {
        }
    }
};

} // namespace

class TestWorkerThread : public QObject
{
    Q_OBJECT

private slots:
    void wakeAndStopEndWaitsAtOnce();
    void deafWorkerIsEndedWithinTheBound();
};

void TestWorkerThread::wakeAndStopEndWaitsAtOnce()
{
    Waiter waiter;
    // A stop asked for before the start belongs to no run: the run waits for work.
    waiter.requestStop();
    waiter.startWork();
    QTRY_COMPARE(waiter.runs.load(), 1);
    waiter.wake();
    QTRY_COMPARE(waiter.wakeUps.load(), 1);
    QVERIFY(waiter.isRunning());

    QElapsedTimer timer;
    timer.start();
    QVERIFY(waiter.finish(5000));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

    // The same object runs again after a stop.
    waiter.startWork();
    QTRY_COMPARE(waiter.runs.load(), 2);
    QVERIFY(waiter.isRunning());
    waiter.requestStop();
    QVERIFY(waiter.waitForEnd(5000));
}

void TestWorkerThread::deafWorkerIsEndedWithinTheBound()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Both sanitizers lose track of a thread cancelled in the middle of a call (AddressSanitizer
    // reports its unwound stack, ThreadSanitizer an interceptor never left) and then hang.
    QSKIP("a terminated thread cannot be followed by the sanitizers");
#endif
    Stuck stuck;
    QVERIFY(stuck.fds[0] >= 0);
    stuck.startWork();
    QTRY_VERIFY(stuck.isRunning());
    QTest::ignoreMessage(QtWarningMsg, "线程 stuck 未在 100 ms 内结束，强制终止");
    QVERIFY(!stuck.finish(100));
    QVERIFY(stuck.isFinished());
}

QTEST_GUILESS_MAIN(TestWorkerThread)
#include "tst_workerthread.moc"
