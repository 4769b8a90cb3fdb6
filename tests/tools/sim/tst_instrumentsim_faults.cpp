// Faults injected into a running simulator (on standard input and on the control port):
// every kind, its target, clearing, and refusal followed by acceptance on the same port.
#include "lineclients.h"
#include "simsignal.h"
#include "simulatedinstruments.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

const QByteArray kMeasureIdn("DATALOGGER-SIM,DMM-SIM,DMM0001,1.0");
const QByteArray kSwitchIdn("DATALOGGER-SIM,VSK3307,SIM0001,1.0");

QByteArray expectedReading(int channel, bool good = true)
{
    return QByteArray::fromStdString(
        simsignal::formatReading(simsignal::value(1, channel, 0.0), good));
}

bool validUtf8(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

} // namespace

class InstrumentSimFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();
    void init();
    void cleanup();

    void silent();
    void slow();
    void badStatus();
    void drop();
    void refuseThenAcceptOnSamePort_data();
    void refuseThenAcceptOnSamePort();
    void garbage();
    void nonUtf8();
    void overlong_data();
    void overlong();
    void noLineFeed();
    void faultsHitOnlyTheirTarget();
    void clearRemovesEveryFault();
    void badControlLinesRefused_data();
    void badControlLinesRefused();
    void faultOnUnservedInstrument();
    void controlPort();
    void pseudoTerminalFaults();
    void standardOutputStaysClean();

private:
    SimulatedInstruments *sim = nullptr;
    TcpLineClient *measure = nullptr;
    TcpLineClient *frame = nullptr;
    bool startDefault(const QStringList &extra = {});
};

void InstrumentSimFaultsTest::init()
{
    sim = new SimulatedInstruments;
    measure = new TcpLineClient;
    frame = new TcpLineClient;
}

void InstrumentSimFaultsTest::cleanup()
{
    delete measure;
    delete frame;
    delete sim;
}

bool InstrumentSimFaultsTest::startDefault(const QStringList &extra)
{
    if (!sim->start(QStringList{"--clock", "frozen"} + extra)) {
        qWarning() << sim->errorString();
        return false;
    }
    return measure->connectTo(sim->measurePort()) && frame->connectTo(sim->switchPort());
}

void InstrumentSimFaultsTest::silent()
{
    QVERIFY(startDefault());
    QVERIFY(sim->control("fault all silent"));
    QVERIFY(measure->send("*IDN?\nFETC?\n"));
    QVERIFY(frame->send("STAT:OPER:EVEN?\n"));
    // Commands are still obeyed while nothing is answered.
    QVERIFY(frame->send("ROUT:CLOS (@104)\n"));
    QCOMPARE(measure->readFor(500), QByteArray());
    QCOMPARE(frame->readFor(100), QByteArray());
    QVERIFY(measure->isConnected());
    QVERIFY(sim->control("clear all"));
    QCOMPARE(frame->query("STAT:OPER:EVEN?"), QByteArray("+0"));
    QCOMPARE(measure->query("FETC?"), expectedReading(104));
    const QStringList lines = sim->transcript();
    QCOMPARE(lines.count("measure !! silent: reply withheld"), 2);
    QCOMPARE(lines.count("switch !! silent: reply withheld"), 1);
    QVERIFY(lines.contains("measure !! fault silent"));
    QVERIFY(lines.contains("switch !! clear"));
}

void InstrumentSimFaultsTest::slow()
{
    QVERIFY(startDefault());
    QVERIFY(sim->control("fault measure slow 400"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(measure->send("*IDN?\nFETC?\n"));
    // Not there early...
    QCOMPARE(measure->readFor(200), QByteArray());
    // ...but complete and in order later.
    QCOMPARE(measure->readLine(5000), kMeasureIdn);
    QVERIFY2(timer.elapsed() >= 390, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(measure->readLine(5000), expectedReading(0));
    // The switch main frame is not slowed.
    QCOMPARE(frame->query("*IDN?", 300), kSwitchIdn);
    QVERIFY(sim->control("clear measure"));
    QCOMPARE(measure->query("*IDN?", 300), kMeasureIdn);
}

void InstrumentSimFaultsTest::badStatus()
{
    QVERIFY(startDefault());
    QVERIFY(frame->send("ROUT:CLOS (@306)\n"));
    QCOMPARE(frame->query("STAT:OPER:EVEN?"), QByteArray("+0"));
    QVERIFY(sim->control("fault measure badstatus"));
    QCOMPARE(measure->query("FETC?"), expectedReading(306, false));
    QVERIFY(measure->query("FETC?").endsWith(",+1"));
    // Only the reading's status changes.
    QCOMPARE(measure->query("*IDN?"), kMeasureIdn);
    QCOMPARE(frame->query("STAT:OPER:EVEN?"), QByteArray("+0"));
    QVERIFY(sim->control("clear measure"));
    QCOMPARE(measure->query("FETC?"), expectedReading(306));
}

void InstrumentSimFaultsTest::drop()
{
    QVERIFY(startDefault());
    TcpLineClient second;
    QVERIFY(second.connectTo(sim->measurePort()));
    QCOMPARE(second.query("*IDN?"), kMeasureIdn);
    QVERIFY(sim->control("fault measure drop"));
    QVERIFY(measure->waitClosed(3000));
    QVERIFY(second.waitClosed(3000));
    // The other instrument keeps its connection; the dropped one takes new ones at once.
    QCOMPARE(frame->query("*IDN?"), kSwitchIdn);
    TcpLineClient again;
    QVERIFY(again.connectTo(sim->measurePort()));
    QCOMPARE(again.query("*IDN?"), kMeasureIdn);
    QVERIFY(sim->transcript().contains("measure !! fault drop"));
}

void InstrumentSimFaultsTest::refuseThenAcceptOnSamePort_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("clearEarly");
    QTest::addColumn<int>("minimumMs");
    QTest::newRow("runs out") << "fault switch refuse 1.5" << false << 1400;
    QTest::newRow("cleared early") << "fault switch refuse 600" << true << 0;
}

void InstrumentSimFaultsTest::refuseThenAcceptOnSamePort()
{
    QFETCH(QString, fault);
    QFETCH(bool, clearEarly);
    QFETCH(int, minimumMs);
    QVERIFY(startDefault());
    const quint16 port = sim->switchPort();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(sim->control(fault));
    QVERIFY(frame->waitClosed(3000));

    TcpLineClient refused;
    refused.socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!refused.socket.waitForConnected(1000));
    QCOMPARE(refused.socket.error(), QAbstractSocket::ConnectionRefusedError);
    // The measuring instrument is not affected.
    QCOMPARE(measure->query("*IDN?"), kMeasureIdn);

    if (clearEarly)
        QVERIFY(sim->control("clear switch"));
    TcpLineClient later;
    bool connected = false;
    while (!connected && timer.elapsed() < 8000) {
        later.socket.abort();
        later.socket.connectToHost(QHostAddress::LocalHost, port);
        connected = later.socket.waitForConnected(1000);
        if (!connected)
            QTest::qWait(50);
    }
    QVERIFY(connected);
    QVERIFY2(timer.elapsed() >= minimumMs, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(later.query("SYST:CTYP?"), QByteArray("1,3"));
    QVERIFY(sim->transcript().contains("switch !! accepting connections again"));
}

void InstrumentSimFaultsTest::garbage()
{
    QVERIFY(startDefault());
    QVERIFY(sim->control("fault measure garbage"));
    for (int i = 0; i < 20; ++i) {
        const QByteArray reply = measure->query("FETC?");
        QVERIFY(!reply.isEmpty());
        bool isNumber = true;
        reply.split(',').value(0).toDouble(&isNumber);
        QVERIFY2(!isNumber, reply);
        for (char c : reply) {
            QVERIFY2(c > ' ' && c < 0x7F, reply);
            QVERIFY2(!(c >= '0' && c <= '9'), reply);
        }
    }
    QVERIFY(sim->transcript().contains("measure !! reply replaced: garbage"));
    QVERIFY(sim->control("clear measure"));
    QCOMPARE(measure->query("FETC?"), expectedReading(0));
}

void InstrumentSimFaultsTest::nonUtf8()
{
    QVERIFY(startDefault());
    QVERIFY(sim->control("fault switch nonutf8"));
    const QByteArray reply = frame->query("*IDN?");
    QVERIFY(!reply.isEmpty());
    QVERIFY(!validUtf8(reply));
    QVERIFY(!reply.contains('\n'));
    // The transcript stays readable text: the bytes are written as \xHH.
    const QStringList lines = sim->transcript();
    QVERIFY(lines.contains("switch !! reply replaced: nonutf8"));
    QVERIFY(lines.contains("switch -> \\x80\\xC0\\xAF\\xE2\\x82\\xFE\\xFF"));
    QVERIFY(sim->control("clear switch"));
    QCOMPARE(frame->query("*IDN?"), kSwitchIdn);
}

void InstrumentSimFaultsTest::overlong_data()
{
    QTest::addColumn<int>("bytes");
    QTest::newRow("beyond a 40959-byte read") << 50000;
    QTest::newRow("exactly 40959") << 40959;
    QTest::newRow("short") << 100;
    QTest::newRow("empty") << 0;
    QTest::newRow("a megabyte") << 1024 * 1024;
}

void InstrumentSimFaultsTest::overlong()
{
    QFETCH(int, bytes);
    QVERIFY(startDefault());
    QVERIFY(sim->control(QStringLiteral("fault measure overlong %1").arg(bytes)));
    const QByteArray reply = measure->query("FETC?", 10000);
    QCOMPARE(reply.size(), bytes);
    for (int i = 0; i < reply.size(); i += 997)
        QCOMPARE(reply.at(i), char('A' + i % 26));
    QVERIFY(sim->control("clear measure"));
    QCOMPARE(measure->query("*IDN?"), kMeasureIdn);
}

void InstrumentSimFaultsTest::noLineFeed()
{
    QVERIFY(startDefault());
    QVERIFY(sim->control("fault measure nolf"));
    QVERIFY(measure->send("*IDN?\n"));
    QCOMPARE(measure->readFor(300), kMeasureIdn);
    QVERIFY(sim->transcript().contains("measure !! reply sent without line feed"));
    QVERIFY(sim->control("clear measure"));
    // The stream carries on: the next reply's line feed ends where the last one left off.
    QCOMPARE(measure->query("*IDN?"), kMeasureIdn);
}

void InstrumentSimFaultsTest::faultsHitOnlyTheirTarget()
{
    QVERIFY(startDefault());
    QVERIFY(sim->control("fault switch silent"));
    QCOMPARE(measure->query("*IDN?"), kMeasureIdn);
    QVERIFY(frame->send("*IDN?\n"));
    QCOMPARE(frame->readFor(300), QByteArray());
    QVERIFY(sim->control("fault all nolf"));
    QVERIFY(measure->send("*IDN?\n"));
    QCOMPARE(measure->readFor(300), kMeasureIdn);
    // Clearing one instrument leaves the other's faults.
    QVERIFY(sim->control("clear measure"));
    QCOMPARE(measure->query("SYST:ERR?"), QByteArray("+0,\"No error\""));
    QVERIFY(frame->send("*IDN?\n"));
    QCOMPARE(frame->readFor(300), QByteArray());
}

void InstrumentSimFaultsTest::clearRemovesEveryFault()
{
    QVERIFY(startDefault());
    for (const char *fault : {"silent", "slow 3000", "badstatus", "overlong 10", "nolf"})
        QVERIFY(sim->control(QStringLiteral("fault all %1").arg(fault)));
    QVERIFY(sim->control("clear all"));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(measure->query("FETC?"), expectedReading(0));
    QCOMPARE(frame->query("*IDN?"), kSwitchIdn);
    QVERIFY(timer.elapsed() < 2500);
}

void InstrumentSimFaultsTest::badControlLinesRefused_data()
{
    QTest::addColumn<QString>("line");
    for (const char *line : {"fault",
                             "fault printer silent",
                             "fault measure",
                             "fault measure explode",
                             "fault measure slow",
                             "fault measure slow -5",
                             "fault measure slow abc",
                             "fault measure slow 600001",
                             "fault measure refuse 0",
                             "fault measure refuse -1",
                             "fault measure refuse x",
                             "fault measure overlong 99999999999",
                             "fault measure silent x",
                             "fault measure drop now",
                             "clear",
                             "clear everything",
                             "clear all now",
                             "status now",
                             "reboot",
                             "FAULT measure silent"})
        QTest::newRow(line) << QString::fromLatin1(line);
}

void InstrumentSimFaultsTest::badControlLinesRefused()
{
    QFETCH(QString, line);
    QVERIFY(startDefault());
    QVERIFY(!sim->control(line));
    QVERIFY2(sim->errorString().startsWith("control: error "), qPrintable(sim->errorString()));
    // Nothing took effect and the simulator carries on.
    QCOMPARE(measure->query("FETC?", 1000), expectedReading(0));
    QCOMPARE(frame->query("*IDN?", 1000), kSwitchIdn);
    QVERIFY(sim->control("status"));
}

void InstrumentSimFaultsTest::faultOnUnservedInstrument()
{
    QVERIFY(sim->start({"--switch-port", "0", "--clock", "frozen"}));
    QVERIFY(sim->switchResource().isEmpty());
    QVERIFY(!sim->control("fault switch silent"));
    QVERIFY(!sim->control("clear switch"));
    QVERIFY(sim->control("fault all badstatus"));
    QVERIFY(measure->connectTo(sim->measurePort()));
    QCOMPARE(measure->query("FETC?"), expectedReading(0, false));
}

void InstrumentSimFaultsTest::controlPort()
{
    QVERIFY(startDefault({"--control-port", "auto"}));
    QVERIFY(sim->controlPort() != 0);
    TcpLineClient control;
    QVERIFY(control.connectTo(sim->controlPort()));
    QCOMPARE(control.query("fault measure badstatus"), QByteArray("ok"));
    QCOMPARE(measure->query("FETC?"), expectedReading(0, false));
    QVERIFY(control.query("fault measure slow").startsWith("error usage: fault <target> slow MS"));
    QVERIFY(control.query("what").startsWith("error unknown control command"));
    const QByteArray status = control.query("status");
    QVERIFY2(status.startsWith("ok measure TCPIP0::127.0.0.1::"), status);
    QVERIFY2(status.contains("faults badstatus"), status);
    QVERIFY2(status.contains("closed channel 0"), status);
    // A second control client at the same time, with CR LF.
    TcpLineClient other;
    QVERIFY(other.connectTo(sim->controlPort()));
    QCOMPARE(other.query("clear all\r"), QByteArray("ok"));
    QCOMPARE(measure->query("FETC?"), expectedReading(0));
    QCOMPARE(control.query("fault switch drop"), QByteArray("ok"));
    QVERIFY(frame->waitClosed(3000));
}

void InstrumentSimFaultsTest::pseudoTerminalFaults()
{
    QVERIFY(sim->start({"--measure-pty", "--switch-pty", "--clock", "frozen"}));
    PtyLineClient ptyMeasure, ptyFrame;
    QVERIFY(ptyMeasure.open(SimulatedInstruments::serialDevice(sim->measureResource())));
    QVERIFY(ptyFrame.open(SimulatedInstruments::serialDevice(sim->switchResource())));
    QCOMPARE(ptyMeasure.query("*IDN?"), kMeasureIdn);

    QVERIFY(sim->control("fault measure silent"));
    QVERIFY(ptyMeasure.send("*IDN?\n"));
    QCOMPARE(ptyMeasure.readFor(300), QByteArray());
    QVERIFY(sim->control("clear measure"));
    QCOMPARE(ptyMeasure.query("*IDN?"), kMeasureIdn);

    QVERIFY(sim->control("fault measure badstatus"));
    QCOMPARE(ptyMeasure.query("FETC?"), expectedReading(0, false));
    QVERIFY(sim->control("clear measure"));

    // A serial line cannot be hung up: drop keeps the port usable.
    QVERIFY(sim->control("fault switch drop"));
    QCOMPARE(ptyFrame.query("SYST:CTYP?"), QByteArray("1,3"));

    // Refusing, a serial instrument ignores what it is sent, then answers again.
    QVERIFY(sim->control("fault switch refuse 0.8"));
    QVERIFY(ptyFrame.send("ROUT:CLOS (@101)\n*IDN?\n"));
    QCOMPARE(ptyFrame.readFor(300), QByteArray());
    QTRY_VERIFY_WITH_TIMEOUT(sim->transcript().contains("switch !! accepting connections again"),
                             5000);
    QCOMPARE(ptyFrame.query("*IDN?"), kSwitchIdn);
    QCOMPARE(ptyMeasure.query("FETC?"), expectedReading(0));
    QVERIFY(sim->transcript().contains("switch !! refusing: command ignored"));
}

void InstrumentSimFaultsTest::standardOutputStaysClean()
{
    QVERIFY(startDefault());
    QVERIFY(sim->control("status"));
    QVERIFY(sim->control("fault all slow 1"));
    QVERIFY(!sim->control("fault all nonsense"));
    QVERIFY(sim->control("clear all"));
    QCOMPARE(frame->query("*IDN?"), kSwitchIdn);
    QCOMPARE(sim->outputAfterReady(), QByteArray());
    QVERIFY(sim->diagnostics().contains("status: closed channel 0"));
}

void InstrumentSimFaultsTest::cleanupTestCase()
{
    // Every simulator of the suite ended cleanly (no crash, no sanitizer report).
    QCOMPARE(SimulatedInstruments::uncleanExits(), 0);
}

QTEST_GUILESS_MAIN(InstrumentSimFaultsTest)
#include "tst_instrumentsim_faults.moc"
