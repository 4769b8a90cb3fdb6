// The host-link reader on a real pipe standing in for standard input.
#include <QElapsedTimer>
#include <QSignalSpy>
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
    QStringList received(QSignalSpy &spy);
    int fds[2] = {-1, -1};
};

void TestInputReaderThread::init()
{
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

QStringList TestInputReaderThread::received(QSignalSpy &spy)
{
    QStringList lines;
    for (const QList<QVariant> &args : spy)
        lines << args.at(0).toString();
    return lines;
}

void TestInputReaderThread::splitsLinesAndDropsEmptyOnes()
{
    InputReaderThread reader(nullptr, fds[0]);
    QSignalSpy spy(&reader, &InputReaderThread::newInputReceived);
    reader.start();
    send("hello\n\n\r\nexit\r\nExit\nexit \n");
    QTRY_COMPARE(spy.count(), 4);
    QCOMPARE(received(spy), QStringList({"hello", "exit", "Exit", "exit "}));
    reader.stop();
    QVERIFY(reader.wait(1000));
}

void TestInputReaderThread::lineArrivingInPiecesIsOneLine()
{
    InputReaderThread reader(nullptr, fds[0]);
    QSignalSpy spy(&reader, &InputReaderThread::newInputReceived);
    reader.start();
    send("hel");
    QTest::qWait(150);
    QCOMPARE(spy.count(), 0);
    send("lo wor");
    send("ld\n");
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(received(spy), QStringList({"hello world"}));
    reader.stop();
    QVERIFY(reader.wait(1000));
}

void TestInputReaderThread::lastLineWithoutLineEndCountsAtEndOfInput()
{
    InputReaderThread reader(nullptr, fds[0]);
    QSignalSpy spy(&reader, &InputReaderThread::newInputReceived);
    reader.start();
    send("first\nlast");
    close(fds[1]);
    fds[1] = -1;
    QTRY_COMPARE(spy.count(), 2);
    QCOMPARE(received(spy), QStringList({"first", "last"}));
    QVERIFY(reader.isRunning()); // keeps polling until stopped
    reader.stop();
    QVERIFY(reader.wait(1000));
}

void TestInputReaderThread::stopEndsAWaitingReaderQuickly()
{
    InputReaderThread reader(nullptr, fds[0]);
    reader.start();
    QTest::qWait(50);
    QElapsedTimer timer;
    timer.start();
    reader.stop();
    QVERIFY(reader.wait(1000));
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
    QVERIFY(reader.wait(1000));
    QVERIFY2(timer.elapsed() < 400, qPrintable(QString::number(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestInputReaderThread)
#include "tst_inputreaderthread.moc"
