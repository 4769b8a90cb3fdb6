// The host-link reader on a real pipe standing in for standard input.
#include <QElapsedTimer>
#include <QTest>
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
    reader.start();
    send("hello\n\n\r\nexit\r\nExit\nexit \n");
    QTRY_COMPARE(lines.size(), 4);
    QCOMPARE(lines, QStringList({"hello", "exit", "Exit", "exit "}));
    reader.stop();
    QVERIFY(reader.waitForEnd(1000));
}

void TestInputReaderThread::lineArrivingInPiecesIsOneLine()
{
    InputReaderThread reader(nullptr, fds[0]);
    collect(reader);
    reader.start();
    send("hel");
    QTest::qWait(150);
    QCOMPARE(lines.size(), 0);
    send("lo wor");
    send("ld\n");
    QTRY_COMPARE(lines.size(), 1);
    QCOMPARE(lines, QStringList({"hello world"}));
    reader.stop();
    QVERIFY(reader.waitForEnd(1000));
}

void TestInputReaderThread::lastLineWithoutLineEndCountsAtEndOfInput()
{
    InputReaderThread reader(nullptr, fds[0]);
    collect(reader);
    reader.start();
    send("first\nlast");
    close(fds[1]);
    fds[1] = -1;
    QTRY_COMPARE(lines.size(), 2);
    QCOMPARE(lines, QStringList({"first", "last"}));
    QVERIFY(reader.isRunning()); // keeps polling until stopped
    reader.stop();
    QVERIFY(reader.waitForEnd(1000));
}

void TestInputReaderThread::stopEndsAWaitingReaderQuickly()
{
    InputReaderThread reader(nullptr, fds[0]);
    reader.start();
    QTest::qWait(50);
    QElapsedTimer timer;
    timer.start();
    reader.stop();
    QVERIFY(reader.waitForEnd(1000));
    QVERIFY2(timer.elapsed() < 400, qPrintable(QString::number(timer.elapsed())));
}

void TestInputReaderThread::stopEndsAReaderAfterEndOfInput()
{
    InputReaderThread reader(nullptr, fds[0]);
    reader.start();
    close(fds[1]);
    fds[1] = -1;
    QTest::qWait(250);
    QElapsedTimer timer;
    timer.start();
    reader.stop();
    QVERIFY(reader.waitForEnd(1000));
    QVERIFY2(timer.elapsed() < 400, qPrintable(QString::number(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestInputReaderThread)
#include "tst_inputreaderthread.moc"
