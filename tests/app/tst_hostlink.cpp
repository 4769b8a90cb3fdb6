// The host's side of the line protocol: the built program runs as a real child process whose
// standard output and input the test reads and writes.
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include "simulatedinstruments.h"

class TestHostLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void announcesEchoesAndExits();
    void exitWorksWithoutInstrument_data();
    void exitWorksWithoutInstrument();
    void terminationSignalEndsTheLoggerInOrder();

private:
    bool startChild(QProcess &child, const QStringList &arguments);
    QString readLine(QProcess &child, int timeoutMs = 15000);

    SimulatedInstruments sim;
    QString program;
};

void TestHostLink::initTestCase()
{
    program = qEnvironmentVariable("DATALOGGER_BIN_DIR") + QStringLiteral("/datalogger");
    QVERIFY2(QFile::exists(program), qPrintable(program));
    QVERIFY(sim.start({QStringLiteral("--serial"), QStringLiteral("HOSTLINK1")}));
}

bool TestHostLink::startChild(QProcess &child, const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(program, arguments);
    return child.waitForStarted(5000);
}

QString TestHostLink::readLine(QProcess &child, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!child.canReadLine() && timer.elapsed() < timeoutMs)
        if (!child.waitForReadyRead(100) && child.state() == QProcess::NotRunning)
            break;
    const QByteArray line = child.readLine();
    return QString::fromUtf8(line.constData(), line.size()).trimmed();
}

void TestHostLink::announcesEchoesAndExits()
{
    QProcess child;
    QVERIFY(startChild(child, {sim.measureResource() + QStringLiteral(";ignored text")}));
    const QString announcement = readLine(child);
    QVERIFY2(QRegularExpression(QStringLiteral("^WID:\\d+;COLOR:#2b2b2b$"))
                 .match(announcement)
                 .hasMatch(),
             qPrintable(announcement));

    child.write("hello\n\n\r\nExit\nexit \n");
    QCOMPARE(readLine(child), QStringLiteral("receive msg: hello"));
    QCOMPARE(readLine(child), QStringLiteral("receive msg: Exit"));
    QCOMPARE(readLine(child), QStringLiteral("receive msg: exit"));
    // A line is every byte up to its line feed: NULs neither end it nor make it "exit".
    child.write(QByteArray("exit\0 not really\nA\0B\n", 21));
    QCOMPARE(readLine(child), QString::fromLatin1("receive msg: exit\0 not really", 29));
    QCOMPARE(readLine(child), QString::fromLatin1("receive msg: A\0B", 16));
    QVERIFY(child.state() == QProcess::Running);

    child.write("exit\n");
    QCOMPARE(readLine(child), QStringLiteral("receive msg: exit"));
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 0, child.readAllStandardError().right(4000).constData());
    // Nothing but protocol lines on standard output.
    QCOMPARE(child.readAllStandardOutput(), QByteArray());
}

void TestHostLink::exitWorksWithoutInstrument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unreachable instrument") << QStringList({"TCPIP0::127.0.0.1::1::SOCKET"});
    QTest::newRow("empty before separator") << QStringList({";extra"});
    QTest::newRow("no argument") << QStringList();
}

void TestHostLink::exitWorksWithoutInstrument()
{
    QFETCH(QStringList, arguments);
    QProcess child;
    QVERIFY(startChild(child, arguments));
    QVERIFY(readLine(child).startsWith(QLatin1String("WID:")));
    child.write("exit\n");
    QCOMPARE(readLine(child), QStringLiteral("receive msg: exit"));
    QVERIFY(child.waitForFinished(10000));
    QVERIFY2(child.exitCode() == 0, child.readAllStandardError().right(4000).constData());
}

// A host that terminates the logger instead of sending "exit" still gets an orderly end (the
// window goes away and the store closes), not a process killed mid-write.
void TestHostLink::terminationSignalEndsTheLoggerInOrder()
{
    QProcess child;
    QVERIFY(startChild(child, {sim.measureResource()}));
    QVERIFY(readLine(child).startsWith(QLatin1String("WID:")));
    child.terminate();
    QVERIFY(child.waitForFinished(15000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestHostLink)
#include "tst_hostlink.moc"
