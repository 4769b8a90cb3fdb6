// The host-link reader on a real pipe standing in for standard input.
#include <QElapsedTimer>
#include <QTest>
#include <thread>
#include <unistd.h>

#include "inputreaderthread.h"

class TestInputReaderThread : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void splitsLinesAndDropsEmptyOnes();
    void lineArrivingInPiecesIsOneLine();
    void lastLineWithoutLineEndCountsAtEndOfInput();
    void nulBytesBelongToTheLine();
    void overlongLinesAreDroppedAndReadingGoesOn();
    void stopEndsAWaitingReaderQuickly();
    void stopEndsAReaderAfterEndOfInput();

private:
    void send(const QByteArray &bytes);
    // Lines arrive queued on this thread, as they do in the window.
    void collect(InputReaderThread &reader);
    QStringList lines;
    int fds[2] = {-1, -1};
};

void TestInputReaderThread::init()
{
    lines.clear();
    QCOMPARE(pipe(fds), 0);
}

void TestInputReaderThread::cleanup()
{
    for (int &fd : fds) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

void TestInputReaderThread::send(const QByteArray &bytes)
{
    QCOMPARE(write(fds[1], bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

void TestInputReaderThread::collect(InputReaderThread &reader)
{
    connect(&reader, &InputReaderThread::newInputReceived, this,
            [this](const QString &line) { lines << line; });
}

void TestInputReaderThread::splitsLinesAndDropsEmptyOnes()
{
    InputReaderThread reader(nullptr, fds[0]);
    collect(reader);
    reader.startWork();
    send("hello\n\n\r\nexit\r\nExit\nexit \n");
    QTRY_COMPARE(lines.size(), 4);
    QCOMPARE(lines, QStringList({"hello", "exit", "Exit", "exit "}));
    reader.requestStop();
    QVERIFY(reader.waitForEnd(1000));
}

void TestInputReaderThread::lineArrivingInPiecesIsOneLine()
{
    InputReaderThread reader(nullptr, fds[0]);
    collect(reader);
    reader.startWork();
    send("hel");
    QTest::qWait(150);
    QCOMPARE(lines.size(), 0);
    send("lo wor");
    send("ld\n");
    QTRY_COMPARE(lines.size(), 1);
    QCOMPARE(lines, QStringList({"hello world"}));
    reader.requestStop();
    QVERIFY(reader.waitForEnd(1000));
}

void TestInputReaderThread::lastLineWithoutLineEndCountsAtEndOfInput()
{
    InputReaderThread reader(nullptr, fds[0]);
    collect(reader);
    reader.startWork();
    send("first\nlast");
    close(fds[1]);
    fds[1] = -1;
    QTRY_COMPARE(lines.size(), 2);
    QCOMPARE(lines, QStringList({"first", "last"}));
    QVERIFY(reader.isRunning()); // keeps polling until stopped
    reader.requestStop();
    QVERIFY(reader.waitForEnd(1000));
}

void TestInputReaderThread::nulBytesBelongToTheLine()
{
    InputReaderThread reader(nullptr, fds[0]);
    collect(reader);
    reader.startWork();
    send(QByteArray("exit\0 not really\nA\0B\n", 21));
    QTRY_COMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QString::fromLatin1("exit\0 not really", 16));
    QCOMPARE(lines.at(1), QString::fromLatin1("A\0B", 3));
    reader.requestStop();
    QVERIFY(reader.waitForEnd(1000));
}

// A 20 MB line (once minutes of quadratic copying) is dropped with a warning as it streams in;
// the lines around it, one exactly at the limit among them, arrive unharmed.
void TestInputReaderThread::overlongLinesAreDroppedAndReadingGoesOn()
{
    const int limit = InputReaderThread::MaxLineBytes;
    QTest::ignoreMessage(
        QtWarningMsg,
        qPrintable(QStringLiteral("[主机输入] 丢弃过长的输入行：%1 字节（上限 %2 字节）")
                       .arg(20 * 1024 * 1024)
                       .arg(limit)));
    QTest::ignoreMessage(
        QtWarningMsg,
        qPrintable(QStringLiteral("[主机输入] 丢弃过长的输入行：%1 字节（上限 %2 字节）")
                       .arg(limit + 1)
                       .arg(limit)));
    InputReaderThread reader(nullptr, fds[0]);
    collect(reader);
    reader.startWork();
    const int fd = fds[1];
    // The pipe holds 64 KiB: the host writes from a thread of its own while lines are taken.
    std::thread host([fd, limit] {
        auto put = [fd](const QByteArray &bytes) {
            for (qint64 done = 0; done < bytes.size();) {
                const ssize_t n = write(fd, bytes.constData() + done, size_t(bytes.size() - done));
                if (n <= 0)
                    return;
                done += n;
            }
        };
        put("before\n");
        const QByteArray chunk(1024 * 1024, 'x');
        for (int i = 0; i < 20; ++i)
            put(chunk);
        put("\nafter\n");
        put(QByteArray(limit, 'y') + '\n');
        put(QByteArray(limit + 1, 'z') + "\nlast\n");
    });
    QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 4, 20000);
    host.join();
    QCOMPARE(lines.at(0), QStringLiteral("before"));
    QCOMPARE(lines.at(1), QStringLiteral("after"));
    QCOMPARE(lines.at(2), QString(limit, QLatin1Char('y')));
    QCOMPARE(lines.at(3), QStringLiteral("last"));
    reader.requestStop();
    QVERIFY(reader.waitForEnd(1000));
}

void TestInputReaderThread::stopEndsAWaitingReaderQuickly()
{
    InputReaderThread reader(nullptr, fds[0]);
    reader.startWork();
    QTest::qWait(50);
    QElapsedTimer timer;
    timer.start();
    reader.requestStop();
    QVERIFY(reader.waitForEnd(1000));
    QVERIFY2(timer.elapsed() < 400, qPrintable(QString::number(timer.elapsed())));
}

void TestInputReaderThread::stopEndsAReaderAfterEndOfInput()
{
    InputReaderThread reader(nullptr, fds[0]);
    reader.startWork();
    close(fds[1]);
    fds[1] = -1;
    QTest::qWait(250);
    QElapsedTimer timer;
    timer.start();
    reader.requestStop();
    QVERIFY(reader.waitForEnd(1000));
    QVERIFY2(timer.elapsed() < 400, qPrintable(QString::number(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestInputReaderThread)
#include "tst_inputreaderthread.moc"
