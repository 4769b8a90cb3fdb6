// The instrument session against the simulator and against throw-away responders, over real
// loopback sockets and pseudo-terminals.
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <termios.h>

#include "cdevicevisa.h"
#include "lineresponder.h"
#include "simulatedinstruments.h"

class TestCDeviceVisa : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void commandBeforeConnectIsRefused();
    void plainCommandWritesOneLineAndReadsNothing();
    void queryReturnsTrimmedReply();
    void routeCommandIsNeverFollowedByARead();
    void repliesOfTheCapacityAndBeyond_data();
    void repliesOfTheCapacityAndBeyond();
    void droppedConnectionFailsWithoutCrash();
    void failedReconnectEndsDisconnected();
    void serialSessionGetsItsLineSettings();
    void concurrentQueriesNeverInterleave();

private:
    SimulatedInstruments sim;
};

void TestCDeviceVisa::initTestCase()
{
    QVERIFY(sim.start());
}

void TestCDeviceVisa::commandBeforeConnectIsRefused()
{
    CDeviceVisa device;
    QCOMPARE(device.sendCommand(QStringLiteral("*IDN?")), QString());
    QCOMPARE(device.lastErrorText(), QStringLiteral("仪器未连接"));
    QVERIFY(!device.isConnected());
}

void TestCDeviceVisa::plainCommandWritesOneLineAndReadsNothing()
{
    LineResponder responder([](const QByteArray &) { return QByteArray(); });
    QVERIFY(responder.listenTcp());
    CDeviceVisa device;
    QVERIFY(device.connectDevice(responder.resourceName()));

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(device.sendCommand(QStringLiteral("*CLS")), QString());
    // No read: the call must not wait for the 5000 ms timeout of a reply that never comes.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QTRY_COMPARE(responder.receivedLines().size(), size_t(1));
    QCOMPARE(responder.receivedLines().front(), QByteArray("*CLS"));
}

void TestCDeviceVisa::queryReturnsTrimmedReply()
{
    LineResponder responder([](const QByteArray &line) {
        return line == "FETC?" ? QByteArray(" +1.02E+00,+0\n") : QByteArray();
    });
    QVERIFY(responder.listenTcp());
    CDeviceVisa device;
    QVERIFY(device.connectDevice(responder.resourceName()));
    QCOMPARE(device.sendCommand(QStringLiteral("FETC?")), QStringLiteral("+1.02E+00,+0"));

    CDeviceVisa simulated;
    QVERIFY(simulated.connectDevice(sim.switchResource()));
    const QString identity = simulated.sendCommand(QStringLiteral("*IDN?"));
    QVERIFY2(identity.contains(QLatin1String("VSK3307")), qPrintable(identity));
    QCOMPARE(simulated.sendCommand(QStringLiteral("SYST:CTYP?")), QStringLiteral("1,3"));
}

void TestCDeviceVisa::routeCommandIsNeverFollowedByARead()
{
    CDeviceVisa switchFrame;
    CDeviceVisa meter;
    QVERIFY(switchFrame.connectDevice(sim.switchResource()));
    QVERIFY(meter.connectDevice(sim.measureResource()));
    for (int channel : {105, 301}) {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(switchFrame.sendCommand(QStringLiteral("ROUT:CLOS (@%1)").arg(channel)),
                 QString());
        QVERIFY(timer.elapsed() < 1000);
        // The relay closes on the other connection: give it the settling time a scan gives.
        QThread::msleep(50);
        const QString reading = meter.sendCommand(QStringLiteral("FETC?"));
        const QStringList fields = reading.split(QLatin1Char(','));
        QCOMPARE(fields.size(), 2);
        QCOMPARE(fields.at(1), QStringLiteral("+0"));
        QCOMPARE(qRound(fields.at(0).toDouble()), channel);
    }
    const QStringList transcript = sim.transcript();
    const int close105 = transcript.indexOf(QStringLiteral("switch <- ROUT:CLOS (@105)"));
    QVERIFY(close105 >= 0);
    QVERIFY(!transcript.value(close105 + 1).startsWith(QLatin1String("switch ->")));
}

void TestCDeviceVisa::repliesOfTheCapacityAndBeyond_data()
{
    QTest::addColumn<int>("payload");
    QTest::addColumn<bool>("accepted");
    // Payload plus line feed: 40958 + 1 fills the read exactly and ends on the terminator.
    QTest::newRow("fits with terminator") << 40958 << true;
    QTest::newRow("capacity without room for terminator") << 40959 << false;
    QTest::newRow("far beyond capacity") << 100000 << false;
}

void TestCDeviceVisa::repliesOfTheCapacityAndBeyond()
{
    QFETCH(int, payload);
    QFETCH(bool, accepted);
    LineResponder responder([payload](const QByteArray &line) {
        if (line == "BIG?")
            return QByteArray(payload, 'A') + '\n';
        if (line == "*IDN?")
            return QByteArray("MAKER,MODEL,SN1,1.0\n");
        return QByteArray();
    });
    QVERIFY(responder.listenTcp());
    CDeviceVisa device;
    QVERIFY(device.connectDevice(responder.resourceName()));
    const QString reply = device.sendCommand(QStringLiteral("BIG?"));
    if (accepted) {
        QCOMPARE(reply.size(), payload);
    } else {
        QCOMPARE(reply, QString());
        QVERIFY(device.lastErrorText().startsWith(QStringLiteral("读取响应失败: ")));
    }
    // Whatever was left of the long reply must not be taken for the next answer.
    QCOMPARE(device.sendCommand(QStringLiteral("*IDN?")), QStringLiteral("MAKER,MODEL,SN1,1.0"));
}

void TestCDeviceVisa::droppedConnectionFailsWithoutCrash()
{
    SimulatedInstruments own;
    QVERIFY(own.start());
    CDeviceVisa device;
    QVERIFY(device.connectDevice(own.measureResource()));
    QVERIFY(!device.sendCommand(QStringLiteral("*IDN?")).isEmpty());
    QVERIFY(own.control(QStringLiteral("fault measure drop")));
    QThread::msleep(300);
    QCOMPARE(device.sendCommand(QStringLiteral("*IDN?")), QString());
    QVERIFY(!device.lastErrorText().isEmpty());
    // The object keeps its session; reconnecting is the caller's decision.
    QVERIFY(device.isConnected());
    QVERIFY(own.control(QStringLiteral("clear all")));
    QVERIFY(device.connectDevice(own.measureResource()));
    QVERIFY(!device.sendCommand(QStringLiteral("*IDN?")).isEmpty());
}

void TestCDeviceVisa::failedReconnectEndsDisconnected()
{
    CDeviceVisa device;
    QVERIFY(device.connectDevice(sim.measureResource()));
    QVERIFY(!device.connectDevice(QStringLiteral("TCPIP0::127.0.0.1::1::SOCKET")));
    QVERIFY(!device.isConnected());
    QVERIFY(device.lastErrorText().startsWith(QStringLiteral("连接失败: ")));
    QVERIFY(device.lastErrorText().size() > QStringLiteral("连接失败: ").size());
    QCOMPARE(device.sendCommand(QStringLiteral("*IDN?")), QString());
    QCOMPARE(device.lastErrorText(), QStringLiteral("仪器未连接"));

    QVERIFY(!device.connectDevice(QStringLiteral("not a resource")));
    QVERIFY(device.lastErrorText().startsWith(QStringLiteral("连接失败: ")));
}

void TestCDeviceVisa::serialSessionGetsItsLineSettings()
{
    LineResponder responder([](const QByteArray &line) {
        return line == "*IDN?" ? QByteArray("MAKER,VSK3307,SN9,2.0\n") : QByteArray();
    });
    QVERIFY(responder.openPseudoTerminal());
    // The keywords are case-insensitive; the device path is not.
    for (const QString &name : {QStringLiteral("ASRL%1::INSTR").arg(responder.devicePath()),
                                QStringLiteral("asrl%1::instr").arg(responder.devicePath())}) {
        CDeviceVisa device;
        QVERIFY2(device.connectDevice(name), qPrintable(name + device.lastErrorText()));
        termios settings{};
        QCOMPARE(tcgetattr(responder.slaveFd(), &settings), 0);
        QCOMPARE(cfgetospeed(&settings), speed_t(B57600));
        QCOMPARE(settings.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(settings.c_cflag & PARENB, tcflag_t(0));
        QCOMPARE(settings.c_cflag & CSTOPB, tcflag_t(0));
        QCOMPARE(device.sendCommand(QStringLiteral("*IDN?")),
                 QStringLiteral("MAKER,VSK3307,SN9,2.0"));
    }
}

void TestCDeviceVisa::concurrentQueriesNeverInterleave()
{
    CDeviceVisa device;
    QVERIFY(device.connectDevice(sim.switchResource()));
    const QString expected = device.sendCommand(QStringLiteral("*IDN?"));
    QVERIFY(!expected.isEmpty());
    std::atomic<int> wrong{0};
    auto worker = [&](const QString &command, const QString &answer) {
        for (int i = 0; i < 60; ++i)
            if (device.sendCommand(command) != answer)
                ++wrong;
    };
    std::thread a(worker, QStringLiteral("*IDN?"), expected);
    std::thread b(worker, QStringLiteral("SYST:CTYP?"), QStringLiteral("1,3"));
    a.join();
    b.join();
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(TestCDeviceVisa)
#include "tst_cdevicevisa.moc"
