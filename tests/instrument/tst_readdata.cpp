// The scan loop against the simulated instruments over loopback sockets. Waits go through a
// shortened sleeper except in the one test that keeps real timing.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "cdevicevisa.h"
#include "readdata.h"
#include "readingvalue.h"
#include "rig.h"
#include "simulatedinstruments.h"

namespace {
// Sleeps a tenth of every wait: the loop's logic at a tenth of its pace.
void tenthSleeper(int ms)
{
    QThread::msleep(static_cast<unsigned long>(ms / 10));
}

QStringList switchCommands(const QStringList &transcript)
{
    QStringList commands;
    for (const QString &line : transcript)
        if (line.startsWith(QLatin1String("switch <- ")))
            commands << line.mid(10);
    return commands;
}
// A run of channels; scans 0: until stopped.
ScanPlan plan(const QList<int> &channels, int scans = 0)
{
    ScanPlan run;
    run.setChannels(channels);
    if (scans > 0) {
        run.stop = ScanPlan::Stop::Count;
        run.scanCount = scans;
    }
    return run;
}
} // namespace

class TestReadData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void parsesReplies_data();
    void parsesReplies();
    void countedScansWalkChannelsInOrder();
    void noChannelsOnlySleeps();
    void stopRightAfterStartEndsTheRun();
    void stopDuringSettlingClosesNoFurtherChannel();
    void badStatusIsStoredAsInvalid();
    void lostSwitchEndsTheRunAfterOneCycle();
    void lostMeasureEndsTheRun();
    void switchThatComesBackKeepsLogging();
    void droppedMeasureConnectionIsReopened();
    void silentMeasureYieldsNoReadingButNoReconnect();
    void realTimingOfAScan();

private:
    void runToEnd(ReadData &thread, int timeoutMs = 20000);
    SimulatedInstruments sim;
    std::unique_ptr<Rig> rig;
};

void TestReadData::initTestCase()
{
    registerMeasurementDataTypes();
    QVERIFY(sim.start({QStringLiteral("--slots"), QStringLiteral("1,2")}));
    rig = std::make_unique<Rig>(sim.measureResource(), sim.switchResource());
}

void TestReadData::init()
{
    QVERIFY(sim.control(QStringLiteral("clear all")));
    QVERIFY(rig->measureSession().connectDevice(rig->measureResource()));
    QVERIFY(rig->switchSession().connectDevice(rig->switchResource()));
}

void TestReadData::cleanup()
{
    sim.control(QStringLiteral("clear all"));
}

void TestReadData::runToEnd(ReadData &thread, int timeoutMs)
{
    QVERIFY(thread.waitForEnd(static_cast<unsigned long>(timeoutMs)));
    // Signals from the finished thread are queued to this one.
    QCoreApplication::processEvents();
}

void TestReadData::parsesReplies_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("measured");
    QTest::newRow("good") << "+2.5E-03,+0" << 0.0025 << true;
    QTest::newRow("bad status") << "+2.5E-03,+1" << 9.9e37 << false;
    QTest::newRow("no comma") << "+2.5E-03" << 9.9e37 << false;
    QTest::newRow("status case") << "+1.0E+00,+0 " << 9.9e37 << false;
    QTest::newRow("extra fields") << "-1.5E+02,+0,7,8" << -150.0 << true;
    // The instrument's own overload, with a good status: stored as it came.
    QTest::newRow("overload") << "+9.90000000E+37,+0" << 9.9e37 << false;
    QTest::newRow("negative overload") << "-9.90000000E+37,+0" << -9.9e37 << false;
    // Not a number: never a 0.0 that looks like a reading.
    QTest::newRow("text") << "abc,+0" << qQNaN() << false;
    QTest::newRow("minus nan") << "-nan,+0" << qQNaN() << false;
    QTest::newRow("nan") << "nan,+0" << qQNaN() << false;
    QTest::newRow("infinite") << "inf,+0" << qQNaN() << false;
    QTest::newRow("empty value") << ",+0" << qQNaN() << false;
}

void TestReadData::parsesReplies()
{
    QFETCH(QString, reply);
    QFETCH(double, value);
    QFETCH(bool, measured);
    const QDateTime before = QDateTime::currentDateTime();
    const MeasurementData data = ReadData::parseReading(reply, 105);
    QCOMPARE(ReadingValue::isMeasured(data.value), measured);
    if (qIsNaN(value))
        QVERIFY2(qIsNaN(data.value), qPrintable(QString::number(data.value)));
    else
        QCOMPARE(data.value, value);
    QCOMPARE(data.channel, 105);
    QVERIFY(data.time >= before && data.time <= QDateTime::currentDateTime());
}

void TestReadData::countedScansWalkChannelsInOrder()
{
    ReadData thread(*rig);
    thread.setSleeper(tenthSleeper);
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    QSignalSpy stops(&thread, &ReadData::sigStopScan);
    const int before = switchCommands(sim.transcript()).size();
    thread.startScanning(plan({201, 105}, 3));
    runToEnd(thread);

    QCOMPARE(scans.count(), 3);
    QCOMPARE(stops.count(), 1);
    for (const QList<QVariant> &scan : scans) {
        const auto readings = scan.at(0).value<QList<MeasurementData>>();
        QCOMPARE(readings.size(), 2);
        QCOMPARE(readings.at(0).channel, 105);
        QCOMPARE(readings.at(1).channel, 201);
        for (const MeasurementData &reading : readings) {
            QVERIFY(ReadingValue::isMeasured(reading.value));
            QCOMPARE(qRound(reading.value), reading.channel);
        }
    }
    const QStringList expectedScan = {
        QStringLiteral("STAT:OPER:EVEN?"), QStringLiteral("ROUT:CLOS (@105)"),
        QStringLiteral("STAT:OPER:EVEN?"), QStringLiteral("ROUT:CLOS (@201)")};
    QCOMPARE(switchCommands(sim.transcript()).mid(before),
             expectedScan + expectedScan + expectedScan);
}

void TestReadData::noChannelsOnlySleeps()
{
    ReadData thread(*rig);
    thread.setSleeper(tenthSleeper);
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    thread.startScanning(plan({}, 2));
    runToEnd(thread);
    QCOMPARE(scans.count(), 2);
    QVERIFY(scans.at(0).at(0).value<QList<MeasurementData>>().isEmpty());
}

void TestReadData::stopRightAfterStartEndsTheRun()
{
    ReadData thread(*rig);
    thread.setSleeper(tenthSleeper);
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    QSignalSpy stops(&thread, &ReadData::sigStopScan);
    thread.startScanning(plan({101}));
    thread.requestStop();
    runToEnd(thread, 5000);
    QCOMPARE(scans.count(), 0);
    QCOMPARE(stops.count(), 1);

    // The object is reused: a new run after the stopped one scans again.
    thread.startScanning(plan({101}, 1));
    runToEnd(thread);
    QCOMPARE(scans.count(), 1);
    QCOMPARE(stops.count(), 2);
}

// A stop in the middle of a channel's settling: that channel is not fetched (its reading could
// still carry the previous channel's signal) and no further relay is closed.
void TestReadData::stopDuringSettlingClosesNoFurtherChannel()
{
    ReadData thread(*rig);
    std::atomic<int> settles{0};
    thread.setSleeper([&](int ms) {
        if (ms == 500 && ++settles == 2)
            thread.requestStop(); // while 102 settles
        thread.sleepUnlessStopped(ms / 10);
    });
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    QSignalSpy stops(&thread, &ReadData::sigStopScan);
    const int before = sim.transcript().size();
    thread.startScanning(plan({101, 102, 103}));
    runToEnd(thread);
    QCOMPARE(scans.count(), 1);
    const auto readings = scans.at(0).at(0).value<QList<MeasurementData>>();
    QCOMPARE(readings.size(), 1);
    QCOMPARE(readings.at(0).channel, 101);
    QCOMPARE(qRound(readings.at(0).value), 101);
    QCOMPARE(stops.count(), 1);
    // The last relay command has no reply: the simulator may write it down a moment later.
    const auto closed = [&] {
        return switchCommands(sim.transcript().mid(before)).filter(QStringLiteral("ROUT:CLOS"));
    };
    QTRY_COMPARE_WITH_TIMEOUT(
        closed(),
        QStringList({QStringLiteral("ROUT:CLOS (@101)"), QStringLiteral("ROUT:CLOS (@102)")}),
        5000);
    QCOMPARE(sim.transcript().mid(before).filter(QStringLiteral("measure <- FETC?")).size(), 1);
}

void TestReadData::badStatusIsStoredAsInvalid()
{
    QVERIFY(sim.control(QStringLiteral("fault measure badstatus")));
    ReadData thread(*rig);
    thread.setSleeper(tenthSleeper);
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    thread.startScanning(plan({102}, 1));
    runToEnd(thread);
    const auto readings = scans.at(0).at(0).value<QList<MeasurementData>>();
    QCOMPARE(readings.size(), 1);
    QCOMPARE(readings.at(0).value, ReadingValue::Overload);
}

// Once the frame fails its reconnect cycle no channel can be closed: the run ends with the
// frame named as lost and when it went silent, and no reading is taken on a stale relay.
void TestReadData::lostSwitchEndsTheRunAfterOneCycle()
{
    ReadData thread(*rig);
    int reconnectWaits = 0;
    thread.setSleeper([&](int ms) {
        if (ms == 2500)
            ++reconnectWaits;
        QThread::msleep(1);
    });
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    QSignalSpy stops(&thread, &ReadData::sigStopScan);
    QSignalSpy lost(&thread, &ReadData::sigInstrumentLost);
    QVERIFY(sim.control(QStringLiteral("fault switch refuse 30")));
    QThread::msleep(200);
    const QDateTime before = QDateTime::currentDateTime();
    const int fetchesBefore = sim.transcript().filter(QStringLiteral("measure <- FETC?")).size();
    thread.startScanning(plan({101, 102}));
    runToEnd(thread, 30000);
    QCOMPARE(reconnectWaits, 6);
    QCOMPARE(scans.count(), 1);
    QVERIFY(scans.at(0).at(0).value<QList<MeasurementData>>().isEmpty());
    QCOMPARE(stops.count(), 1);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(lost.at(0).at(0).toInt(), int(ReadData::SwitchMainFrame));
    QVERIFY(lost.at(0).at(1).toDateTime() >= before);
    QCOMPARE(sim.transcript().filter(QStringLiteral("measure <- FETC?")).size(), fetchesBefore);
}

// A measuring instrument that drops its connection and refuses every reconnect is lost for
// good: the run ends, saying so, instead of scanning on without readings.
void TestReadData::lostMeasureEndsTheRun()
{
    ReadData thread(*rig);
    thread.setSleeper(tenthSleeper);
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    QSignalSpy stops(&thread, &ReadData::sigStopScan);
    QSignalSpy lost(&thread, &ReadData::sigInstrumentLost);
    QSignalSpy states(&thread, &ReadData::sigInstrumentState);
    thread.startScanning(plan({101, 102}));
    QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 1, 10000);
    QVERIFY(sim.control(QStringLiteral("fault measure refuse 60")));
    QVERIFY(sim.control(QStringLiteral("fault measure drop")));
    runToEnd(thread, 30000);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(lost.at(0).at(0).toInt(), int(ReadData::MeasureInstrument));
    QVERIFY(lost.at(0).at(1).toDateTime().isValid());
    QCOMPARE(stops.count(), 1);
    QVERIFY(!thread.isRunning());
    QVERIFY(states.count() >= 1);
    QCOMPARE(states.last().at(1).toBool(), false);
    QVERIFY(sim.control(QStringLiteral("clear measure")));
    QTRY_VERIFY_WITH_TIMEOUT(rig->measureSession().connectDevice(rig->measureResource()), 70000);
}

void TestReadData::switchThatComesBackKeepsLogging()
{
    ReadData thread(*rig);
    thread.setSleeper(tenthSleeper);
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    QSignalSpy stops(&thread, &ReadData::sigStopScan);
    QVERIFY(sim.control(QStringLiteral("fault switch refuse 1")));
    QThread::msleep(100);
    thread.startScanning(plan({101}, 2));
    runToEnd(thread, 30000);
    QCOMPARE(stops.count(), 1);
    QCOMPARE(scans.count(), 2);
    QCOMPARE(scans.at(0).at(0).value<QList<MeasurementData>>().size(), 1);
}

void TestReadData::droppedMeasureConnectionIsReopened()
{
    ReadData thread(*rig);
    thread.setSleeper(tenthSleeper);
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    QVERIFY(sim.control(QStringLiteral("fault measure drop")));
    QThread::msleep(100);
    thread.startScanning(plan({103}, 2));
    runToEnd(thread, 30000);
    QCOMPARE(scans.count(), 2);
    for (const QList<QVariant> &scan : scans) {
        const auto readings = scan.at(0).value<QList<MeasurementData>>();
        QCOMPARE(readings.size(), 1);
        QCOMPARE(qRound(readings.at(0).value), 103);
    }
}

void TestReadData::silentMeasureYieldsNoReadingButNoReconnect()
{
    QVERIFY(sim.control(QStringLiteral("fault measure silent")));
    ReadData thread(*rig);
    thread.setSleeper(tenthSleeper);
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    const int before = sim.transcript().size();
    thread.startScanning(plan({101}, 1));
    runToEnd(thread, 15000);
    QCOMPARE(scans.count(), 1);
    QVERIFY(scans.at(0).at(0).value<QList<MeasurementData>>().isEmpty());
    const QStringList after = sim.transcript().mid(before);
    QVERIFY(!after.contains(QStringLiteral("measure <- *IDN?")));
    QVERIFY(rig->measureSession().isConnected());
}

void TestReadData::realTimingOfAScan()
{
    ReadData thread(*rig);
    ScanPlan run = plan({101, 201}, 2);
    run.intervalMs = 200;
    QSignalSpy scans(&thread, &ReadData::sigSendMeasure);
    QElapsedTimer timer;
    timer.start();
    thread.startScanning(run);
    runToEnd(thread);
    // 1000 ms start-up, then per scan: interval, 2 x 500 ms settling and 40 ms, except that
    // the last counted scan ends before its second 20 ms pause.
    const qint64 ideal = 1000 + 2 * (200 + 2 * 500 + 40) - 20;
    QVERIFY2(timer.elapsed() >= ideal, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(timer.elapsed() < ideal + 3000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(scans.count(), 2);
}

QTEST_GUILESS_MAIN(TestReadData)
#include "tst_readdata.moc"
