// The simulator's SCPI dialogue over real loopback TCP and pseudo-terminals: identification,
// slots, scans that read the closed channel, determinism, line endings, errors, transcript.
#include "lineclients.h"
#include "simsignal.h"
#include "simulatedinstruments.h"

#include <QRegularExpression>
#include <QtTest>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QRegularExpression kReadingFormat(QStringLiteral("^[+-][0-9]\\.[0-9]{8}E[+-][0-9]{2},\\+0$"));

double readingValue(const QByteArray &reply)
{
    bool ok = false;
    const double v = reply.split(',').value(0).toDouble(&ok);
    return ok ? v : std::nan("");
}

QByteArray expectedReading(quint64 seed, int channel)
{
    return QByteArray::fromStdString(
        simsignal::formatReading(simsignal::value(seed, channel, 0.0)));
}

} // namespace

class InstrumentSimProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();
    void identification_data();
    void identification();
    void slotList_data();
    void slotList();
    void scanReadsTheClosedChannel();
    void frozenClockMatchesFormula_data();
    void frozenClockMatchesFormula();
    void sameSeedSameReadings();
    void openRelaysReadNearZero();
    void invalidChannelKeepsState_data();
    void invalidChannelKeepsState();
    void lineEndingsAndKeywords_data();
    void lineEndingsAndKeywords();
    void commandSplitAcrossWrites();
    void unknownCommandsAreNotAnswered_data();
    void unknownCommandsAreNotAnswered();
    void errorQueueAndClear();
    void transcriptLinesExact();
    void twoClientsAtOnce();
    void reconnects();
    void replyComesInOneReceive();
    void halfClosedClientStillAnswered();
    void overlongCommandLineDiscarded();
    void pseudoTerminals();
    void readingFormatIsPrintfInCLocale_data();
    void readingFormatIsPrintfInCLocale();
    void phasesSpreadAndStayInRange();
};

void InstrumentSimProtocolTest::identification_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("measureIdn");
    QTest::addColumn<QByteArray>("switchIdn");
    QTest::newRow("defaults") << QStringList() << QByteArray("DATALOGGER-SIM,DMM-SIM,DMM0001,1.0")
                              << QByteArray("DATALOGGER-SIM,VSK3307,SIM0001,1.0");
    QTest::newRow("custom")
        << QStringList{"--maker",         "ACME",  "--model",          "TRX6200M",
                       "--serial",        "SN123", "--version",        "2.5",
                       "--measure-model", "DMM7",  "--measure-serial", "M42"}
        << QByteArray("ACME,DMM7,M42,2.5") << QByteArray("ACME,TRX6200M,SN123,2.5");
    QTest::newRow("inline values") << QStringList{"--model=vsk3307", "--serial=X 1"}
                                   << QByteArray("DATALOGGER-SIM,DMM-SIM,DMM0001,1.0")
                                   << QByteArray("DATALOGGER-SIM,vsk3307,X 1,1.0");
}

void InstrumentSimProtocolTest::identification()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, measureIdn);
    QFETCH(QByteArray, switchIdn);
    SimulatedInstruments sim;
    QVERIFY2(sim.start(args), qPrintable(sim.errorString()));
    QVERIFY(sim.measureResource().startsWith("TCPIP0::127.0.0.1::"));
    QVERIFY(sim.switchResource().endsWith("::SOCKET"));
    QVERIFY(sim.measurePort() != 0 && sim.switchPort() != 0);
    QVERIFY(sim.measurePort() != sim.switchPort());

    TcpLineClient measure, frame;
    QVERIFY(measure.connectTo(sim.measurePort()));
    QVERIFY(frame.connectTo(sim.switchPort()));
    QCOMPARE(measure.query("*IDN?"), measureIdn);
    QCOMPARE(frame.query("*IDN?"), switchIdn);
    // "*CLS" is answered by nothing; the next query's reply must be the next line.
    QVERIFY(measure.send("*CLS\n"));
    QVERIFY(frame.send("*CLS\n"));
    QCOMPARE(measure.query("*IDN?"), measureIdn);
    QCOMPARE(frame.query("*IDN?"), switchIdn);
}

void InstrumentSimProtocolTest::slotList_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<int>>("validChannels");
    QTest::addColumn<QList<int>>("invalidChannels");
    QTest::newRow("default") << QStringList() << QByteArray("1,3") << QList<int>{101, 110, 301, 310}
                             << QList<int>{201, 111, 100, 401};
    QTest::newRow("one slot") << QStringList{"--slots", "2"} << QByteArray("2")
                              << QList<int>{201, 205, 210} << QList<int>{101, 301, 211};
    QTest::newRow("given order kept") << QStringList{"--slots", "5,1,7"} << QByteArray("5,1,7")
                                      << QList<int>{501, 101, 710} << QList<int>{301, 801};
}

void InstrumentSimProtocolTest::slotList()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, reply);
    QFETCH(QList<int>, validChannels);
    QFETCH(QList<int>, invalidChannels);
    SimulatedInstruments sim;
    QVERIFY2(sim.start(args << "--clock"
                            << "frozen"),
             qPrintable(sim.errorString()));
    TcpLineClient measure, frame;
    QVERIFY(measure.connectTo(sim.measurePort()));
    QVERIFY(frame.connectTo(sim.switchPort()));
    QCOMPARE(frame.query("SYST:CTYP?"), reply);
    QCOMPARE(frame.query("STAT:OPER:EVEN?"), QByteArray("+0"));
    // Each close is followed by a query on the same connection, so the frame has acted on it
    // before the multimeter is asked.
    for (int channel : validChannels) {
        QVERIFY(frame.send("ROUT:CLOS (@" + QByteArray::number(channel) + ")\n"));
        QCOMPARE(frame.query("SYST:ERR?"), QByteArray("+0,\"No error\""));
        QCOMPARE(measure.query("FETC?"), expectedReading(1, channel));
    }
    const int last = validChannels.last();
    for (int channel : invalidChannels) {
        QVERIFY(frame.send("ROUT:CLOS (@" + QByteArray::number(channel) + ")\n"));
        QCOMPARE(frame.query("SYST:ERR?"), QByteArray("-222,\"Data out of range\""));
        QCOMPARE(measure.query("FETC?"), expectedReading(1, last));
    }
}

void InstrumentSimProtocolTest::scanReadsTheClosedChannel()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--seed", "7"}), qPrintable(sim.errorString()));
    TcpLineClient measure, frame;
    QVERIFY(measure.connectTo(sim.measurePort()));
    QVERIFY(frame.connectTo(sim.switchPort()));
    const QList<int> channels{101, 102, 105, 110, 301, 306, 310};
    for (int pass = 0; pass < 3; ++pass) {
        for (int channel : channels) {
            QCOMPARE(frame.query("STAT:OPER:EVEN?"), QByteArray("+0"));
            QVERIFY(frame.send("ROUT:CLOS (@" + QByteArray::number(channel) + ")\n"));
            // The relay closes when the frame has read the command; a query to the frame
            // first makes sure it has (the logger waits a settling time instead).
            QCOMPARE(frame.query("STAT:OPER:EVEN?"), QByteArray("+0"));
            const QByteArray reply = measure.query("FETC?");
            QVERIFY2(kReadingFormat.match(QString::fromLatin1(reply)).hasMatch(), reply);
            const double v = readingValue(reply);
            QCOMPARE(std::lround(v), long(channel));
            QVERIFY2(std::fabs(v - channel) <= simsignal::kChannelAmplitude + 1e-8, reply);
        }
    }
}

void InstrumentSimProtocolTest::frozenClockMatchesFormula_data()
{
    QTest::addColumn<QString>("seed");
    QTest::addColumn<quint64>("seedValue");
    QTest::newRow("1") << "1" << quint64(1);
    QTest::newRow("42") << "42" << quint64(42);
    QTest::newRow("max") << "18446744073709551615" << quint64(18446744073709551615ull);
}

void InstrumentSimProtocolTest::frozenClockMatchesFormula()
{
    QFETCH(QString, seed);
    QFETCH(quint64, seedValue);
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--seed", seed, "--clock", "frozen"}), qPrintable(sim.errorString()));
    TcpLineClient measure, frame;
    QVERIFY(measure.connectTo(sim.measurePort()));
    QVERIFY(frame.connectTo(sim.switchPort()));
    QCOMPARE(measure.query("FETC?"), expectedReading(seedValue, 0));
    for (int channel : {101, 104, 110, 303, 310}) {
        QVERIFY(frame.send("ROUT:CLOS (@" + QByteArray::number(channel) + ")\n"));
        QCOMPARE(frame.query("*IDN?").isEmpty(), false);
        QCOMPARE(measure.query("FETC?"), expectedReading(seedValue, channel));
        // Frozen means frozen: the same reading again later.
        QTest::qWait(20);
        QCOMPARE(measure.query("FETC?"), expectedReading(seedValue, channel));
    }
}

void InstrumentSimProtocolTest::sameSeedSameReadings()
{
    auto readings = [](const QStringList &args, QList<QByteArray> *out) {
        SimulatedInstruments sim;
        QVERIFY2(sim.start(args), qPrintable(sim.errorString()));
        TcpLineClient measure, frame;
        QVERIFY(measure.connectTo(sim.measurePort()));
        QVERIFY(frame.connectTo(sim.switchPort()));
        for (int channel : {101, 102, 103, 301, 302}) {
            QVERIFY(frame.send("ROUT:CLOS (@" + QByteArray::number(channel) + ")\n"));
            QVERIFY(!frame.query("STAT:OPER:EVEN?").isEmpty());
            out->append(measure.query("FETC?"));
        }
    };
    QList<QByteArray> a, b, c;
    readings({"--seed", "99", "--clock", "frozen"}, &a);
    readings({"--seed", "99", "--clock", "frozen"}, &b);
    readings({"--seed", "100", "--clock", "frozen"}, &c);
    QCOMPARE(a.size(), 5);
    QCOMPARE(a, b);
    // Another seed moves every channel's phase.
    for (int i = 0; i < a.size(); ++i)
        QVERIFY2(a.at(i) != c.at(i), a.at(i));
    // Channels of one simulator differ by more than their number.
    QVERIFY(readingValue(a.at(0)) - 101 != readingValue(a.at(1)) - 102);
}

void InstrumentSimProtocolTest::openRelaysReadNearZero()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    TcpLineClient measure, frame;
    QVERIFY(measure.connectTo(sim.measurePort()));
    QVERIFY(frame.connectTo(sim.switchPort()));
    auto nearZero = [&] {
        const QByteArray reply = measure.query("FETC?");
        return kReadingFormat.match(QString::fromLatin1(reply)).hasMatch() &&
               std::fabs(readingValue(reply)) < 0.3;
    };
    QVERIFY(nearZero());
    QVERIFY(frame.send("ROUT:CLOS (@103)\n"));
    QVERIFY(!frame.query("*IDN?").isEmpty());
    QCOMPARE(std::lround(readingValue(measure.query("FETC?"))), 103L);
    // Opening another channel leaves 103 closed; opening 103 opens it.
    QVERIFY(frame.send("ROUT:OPEN (@104)\n"));
    QVERIFY(!frame.query("*IDN?").isEmpty());
    QCOMPARE(std::lround(readingValue(measure.query("FETC?"))), 103L);
    QVERIFY(frame.send("ROUT:OPEN (@103)\n"));
    QVERIFY(!frame.query("*IDN?").isEmpty());
    QVERIFY(nearZero());
    QVERIFY(frame.send("ROUT:CLOS (@301)\n"));
    QVERIFY(frame.send("ROUT:OPEN:ALL\n"));
    QVERIFY(!frame.query("*IDN?").isEmpty());
    QVERIFY(nearZero());
}

void InstrumentSimProtocolTest::invalidChannelKeepsState_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("slot not fitted")
        << QByteArray("ROUT:CLOS (@205)") << QByteArray("-222,\"Data out of range\"");
    QTest::newRow("channel 0 of slot")
        << QByteArray("ROUT:CLOS (@100)") << QByteArray("-222,\"Data out of range\"");
    QTest::newRow("channel 11") << QByteArray("ROUT:CLOS (@111)")
                                << QByteArray("-222,\"Data out of range\"");
    QTest::newRow("zero") << QByteArray("ROUT:CLOS (@0)")
                          << QByteArray("-222,\"Data out of range\"");
    QTest::newRow("not a number") << QByteArray("ROUT:CLOS (@abc)")
                                  << QByteArray("-224,\"Illegal parameter value\"");
    QTest::newRow("no list") << QByteArray("ROUT:CLOS 101")
                             << QByteArray("-224,\"Illegal parameter value\"");
    QTest::newRow("two channels") << QByteArray("ROUT:CLOS (@101,102)")
                                  << QByteArray("-224,\"Illegal parameter value\"");
    QTest::newRow("missing") << QByteArray("ROUT:CLOS") << QByteArray("-109,\"Missing parameter\"");
}

void InstrumentSimProtocolTest::invalidChannelKeepsState()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, error);
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--clock", "frozen"}), qPrintable(sim.errorString()));
    TcpLineClient measure, frame;
    QVERIFY(measure.connectTo(sim.measurePort()));
    QVERIFY(frame.connectTo(sim.switchPort()));
    QVERIFY(frame.send("ROUT:CLOS (@303)\n"));
    QVERIFY(frame.send(command + '\n'));
    QCOMPARE(frame.query("SYST:ERR?"), error);
    QCOMPARE(frame.query("SYST:ERR?"), QByteArray("+0,\"No error\""));
    QCOMPARE(measure.query("FETC?"), expectedReading(1, 303));
    const QStringList lines = sim.transcript();
    const int at = lines.indexOf("switch <- " + QString::fromLatin1(command));
    QVERIFY2(at >= 0, qPrintable(lines.join('\n')));
    QCOMPARE(lines.value(at + 1), "switch !! error " + QString::fromLatin1(error));
}

void InstrumentSimProtocolTest::lineEndingsAndKeywords_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("reply");
    const QByteArray idn("DATALOGGER-SIM,VSK3307,SIM0001,1.0");
    QTest::newRow("LF") << QByteArray("*IDN?\n") << idn;
    QTest::newRow("CR LF") << QByteArray("*IDN?\r\n") << idn;
    QTest::newRow("surrounding blanks") << QByteArray(" \t*IDN?  \r\n") << idn;
    QTest::newRow("lower case") << QByteArray("*idn?\n") << idn;
    QTest::newRow("blank lines before") << QByteArray("\n\r\n  \n*IDN?\n") << idn;
    QTest::newRow("short form") << QByteArray("syst:ctyp?\n") << QByteArray("1,3");
    QTest::newRow("long form") << QByteArray("SYSTem:CTYPe?\n") << QByteArray("1,3");
    QTest::newRow("leading colon") << QByteArray(":SYST:CTYP?\r\n") << QByteArray("1,3");
    QTest::newRow("optional node") << QByteArray("STAT:OPER?\n") << QByteArray("+0");
    QTest::newRow("status long") << QByteArray("status:operation:event?\n") << QByteArray("+0");
    QTest::newRow("operation complete") << QByteArray("*opc?\n") << QByteArray("1");
}

void InstrumentSimProtocolTest::lineEndingsAndKeywords()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, reply);
    SimulatedInstruments sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    TcpLineClient frame;
    QVERIFY(frame.connectTo(sim.switchPort()));
    QVERIFY(frame.send(bytes));
    QCOMPARE(frame.readLine(), reply);
    // Exactly one reply: nothing else follows.
    QCOMPARE(frame.readFor(150), QByteArray());
}

void InstrumentSimProtocolTest::commandSplitAcrossWrites()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--clock", "frozen"}), qPrintable(sim.errorString()));
    TcpLineClient measure, frame;
    QVERIFY(measure.connectTo(sim.measurePort()));
    QVERIFY(frame.connectTo(sim.switchPort()));
    for (char c : QByteArray("ROUT:CLOS (@102)\r\nSTAT:OPER:EVEN?\r\n")) {
        QVERIFY(frame.send(QByteArray(1, c)));
        QTest::qWait(2);
    }
    QCOMPARE(frame.readLine(), QByteArray("+0"));
    // Two queries in one write get two replies in order.
    QVERIFY(measure.send("FETC?\n*IDN?\n"));
    QCOMPARE(measure.readLine(), expectedReading(1, 102));
    QCOMPARE(measure.readLine(), QByteArray("DATALOGGER-SIM,DMM-SIM,DMM0001,1.0"));
}

void InstrumentSimProtocolTest::unknownCommandsAreNotAnswered_data()
{
    QTest::addColumn<bool>("toSwitch");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("error");
    const QByteArray undefined("-113,\"Undefined header\"");
    QTest::newRow("unknown query") << false << QByteArray("BOGUS?") << undefined;
    QTest::newRow("unknown command") << true << QByteArray("MAKE:COFFEE") << undefined;
    QTest::newRow("reading asked of the switch") << true << QByteArray("FETC?") << undefined;
    QTest::newRow("slots asked of the multimeter")
        << false << QByteArray("SYST:CTYP?") << undefined;
    QTest::newRow("close asked of the multimeter")
        << false << QByteArray("ROUT:CLOS (@101)") << undefined;
    QTest::newRow("parameter on a query")
        << false << QByteArray("*IDN? 1") << QByteArray("-108,\"Parameter not allowed\"");
    QTest::newRow("bad aperture") << false << QByteArray("APER FAST")
                                  << QByteArray("-224,\"Illegal parameter value\"");
    QTest::newRow("aperture missing")
        << false << QByteArray("APER") << QByteArray("-109,\"Missing parameter\"");
    QTest::newRow("truncated keyword") << false << QByteArray("FET?") << undefined;
}

void InstrumentSimProtocolTest::unknownCommandsAreNotAnswered()
{
    QFETCH(bool, toSwitch);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, error);
    SimulatedInstruments sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    TcpLineClient client;
    QVERIFY(client.connectTo(toSwitch ? sim.switchPort() : sim.measurePort()));
    QVERIFY(client.send(command + '\n'));
    QCOMPARE(client.readFor(300), QByteArray());
    QVERIFY(client.query("*IDN?").contains(toSwitch ? "VSK3307" : "DMM-SIM"));
    QCOMPARE(client.query("SYST:ERR?"), error);
    QCOMPARE(client.query("SYST:ERR?"), QByteArray("+0,\"No error\""));
}

void InstrumentSimProtocolTest::errorQueueAndClear()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    TcpLineClient measure;
    QVERIFY(measure.connectTo(sim.measurePort()));
    // "APER MED" and "APER SLOW2" are accepted silently and queue nothing.
    QVERIFY(measure.send("APER MED\nAPER SLOW2\naper slow2\n"));
    QCOMPARE(measure.query("SYST:ERR?"), QByteArray("+0,\"No error\""));
    // The queue keeps the oldest errors and marks an overflow.
    for (int i = 0; i < 15; ++i)
        QVERIFY(measure.send("NOPE" + QByteArray::number(i) + "\n"));
    for (int i = 0; i < 9; ++i)
        QCOMPARE(measure.query("SYST:ERR?"), QByteArray("-113,\"Undefined header\""));
    QCOMPARE(measure.query("SYST:ERR?"), QByteArray("-350,\"Queue overflow\""));
    QCOMPARE(measure.query("SYST:ERR?"), QByteArray("+0,\"No error\""));
    QVERIFY(measure.send("NOPE\n*CLS\n"));
    QCOMPARE(measure.query("SYST:ERR?"), QByteArray("+0,\"No error\""));
}

void InstrumentSimProtocolTest::transcriptLinesExact()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--clock", "frozen", "--seed", "3"}), qPrintable(sim.errorString()));
    TcpLineClient measure, frame;
    QVERIFY(measure.connectTo(sim.measurePort()));
    QVERIFY(frame.connectTo(sim.switchPort()));
    QVERIFY(!frame.query("*IDN?").isEmpty());
    QCOMPARE(frame.query("SYST:CTYP?"), QByteArray("1,3"));
    QVERIFY(!measure.query("  *idn?\r").isEmpty());
    QVERIFY(measure.send("*CLS\r\n"));
    QVERIFY(measure.send("APER MED\n"));
    QCOMPARE(measure.query("SYST:ERR?"), QByteArray("+0,\"No error\""));
    QCOMPARE(frame.query("STAT:OPER:EVEN?"), QByteArray("+0"));
    QVERIFY(frame.send("ROUT:CLOS (@102)\n"));
    QVERIFY(!frame.query("STAT:OPER:EVEN?").isEmpty());
    const QByteArray reading = measure.query("FETC?");
    QVERIFY(frame.send("ROUT:CLOS (@402)\n"));
    QVERIFY(!frame.query("STAT:OPER:EVEN?").isEmpty());

    const QStringList expected{
        "switch <- *IDN?",
        "switch -> DATALOGGER-SIM,VSK3307,SIM0001,1.0",
        "switch <- SYST:CTYP?",
        "switch -> 1,3",
        "measure <-   *idn?",
        "measure -> DATALOGGER-SIM,DMM-SIM,DMM0001,1.0",
        "measure <- *CLS",
        "measure <- APER MED",
        "measure <- SYST:ERR?",
        "measure -> +0,\"No error\"",
        "switch <- STAT:OPER:EVEN?",
        "switch -> +0",
        "switch <- ROUT:CLOS (@102)",
        "switch <- STAT:OPER:EVEN?",
        "switch -> +0",
        "measure <- FETC?",
        "measure -> " + QString::fromLatin1(expectedReading(3, 102)),
        "switch <- ROUT:CLOS (@402)",
        "switch !! error -222,\"Data out of range\"",
        "switch <- STAT:OPER:EVEN?",
        "switch -> +0",
    };
    QCOMPARE(reading, expectedReading(3, 102));
    const QStringList actual = sim.transcript();
    for (int i = 0; i < qMax(actual.size(), expected.size()); ++i)
        QCOMPARE(actual.value(i), expected.value(i));
}

void InstrumentSimProtocolTest::twoClientsAtOnce()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--clock", "frozen"}), qPrintable(sim.errorString()));
    TcpLineClient measureA, measureB, frameA, frameB;
    QVERIFY(measureA.connectTo(sim.measurePort()));
    QVERIFY(measureB.connectTo(sim.measurePort()));
    QVERIFY(frameA.connectTo(sim.switchPort()));
    QVERIFY(frameB.connectTo(sim.switchPort()));
    // Both send before either reads: each reply goes back to the client that asked.
    QVERIFY(measureA.send("FETC?\n"));
    QVERIFY(measureB.send("*IDN?\n"));
    QCOMPARE(measureB.readLine(), QByteArray("DATALOGGER-SIM,DMM-SIM,DMM0001,1.0"));
    QCOMPARE(measureA.readLine(), expectedReading(1, 0));
    // The relays are one: a channel closed through one connection is read through both.
    QVERIFY(frameA.send("ROUT:CLOS (@107)\n"));
    QCOMPARE(frameA.query("STAT:OPER:EVEN?"), QByteArray("+0"));
    QCOMPARE(measureA.query("FETC?"), expectedReading(1, 107));
    QCOMPARE(measureB.query("FETC?"), expectedReading(1, 107));
    QVERIFY(frameB.send("ROUT:CLOS (@308)\n"));
    QCOMPARE(frameB.query("STAT:OPER:EVEN?"), QByteArray("+0"));
    QCOMPARE(measureB.query("FETC?"), expectedReading(1, 308));
    // One client leaving does not disturb the other.
    measureA.disconnect();
    QCOMPARE(measureB.query("FETC?"), expectedReading(1, 308));
}

void InstrumentSimProtocolTest::reconnects()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    for (int i = 0; i < 10; ++i) {
        TcpLineClient frame;
        QVERIFY(frame.connectTo(sim.switchPort()));
        QCOMPARE(frame.query("SYST:CTYP?"), QByteArray("1,3"));
        if (i % 2)
            frame.disconnect();
    }
    QVERIFY(sim.isRunning());
}

void InstrumentSimProtocolTest::replyComesInOneReceive()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(sim.switchPort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    for (int i = 0; i < 20; ++i) {
        // Some clients take one receive as the whole reply; it must hold the complete line.
        const char *command = i % 2 ? "*IDN?\n" : "SYST:CTYP?\n";
        QCOMPARE(::write(fd, command, std::strlen(command)), ssize_t(std::strlen(command)));
        pollfd p{fd, POLLIN, 0};
        QCOMPARE(::poll(&p, 1, 3000), 1);
        char buffer[256];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        QCOMPARE(QByteArray(buffer, int(qMax<ssize_t>(n, 0))),
                 QByteArray(i % 2 ? "DATALOGGER-SIM,VSK3307,SIM0001,1.0\n" : "1,3\n"));
    }
    ::close(fd);
}

void InstrumentSimProtocolTest::halfClosedClientStillAnswered()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--clock", "frozen"}), qPrintable(sim.errorString()));
    QVERIFY(sim.control("fault measure slow 200"));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(sim.measurePort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const QByteArray commands("*IDN?\nFETC?\n");
    QCOMPARE(::write(fd, commands.constData(), size_t(commands.size())), ssize_t(commands.size()));
    // Like "printf '*IDN?\n' | nc": the client is done sending but still wants the replies.
    QCOMPARE(::shutdown(fd, SHUT_WR), 0);
    QByteArray received;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) != 1)
            break;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        received.append(buffer, int(n));
    }
    ::close(fd);
    QCOMPARE(received, "DATALOGGER-SIM,DMM-SIM,DMM0001,1.0\n" + expectedReading(1, 0) + '\n');
}

void InstrumentSimProtocolTest::overlongCommandLineDiscarded()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    TcpLineClient frame;
    QVERIFY(frame.connectTo(sim.switchPort()));
    QVERIFY(frame.send(QByteArray(200000, 'A')));
    QVERIFY(frame.send("?\n"));
    QCOMPARE(frame.query("SYST:CTYP?"), QByteArray("1,3"));
    bool logged = false;
    for (const QString &line : sim.transcript())
        logged = logged || (line.startsWith("switch !! error: line of") &&
                            line.endsWith("without line feed discarded"));
    QVERIFY(logged);
}

void InstrumentSimProtocolTest::pseudoTerminals()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--measure-pty", "--switch-pty", "--clock", "frozen"}),
             qPrintable(sim.errorString()));
    QVERIFY2(sim.measureResource().startsWith("ASRL/dev/pts/"), qPrintable(sim.measureResource()));
    QVERIFY(sim.measureResource().endsWith("::INSTR"));
    QVERIFY(sim.switchResource().startsWith("ASRL/dev/pts/"));
    QVERIFY(sim.measureResource() != sim.switchResource());
    QCOMPARE(sim.measurePort(), quint16(0));

    const QString measureDevice = SimulatedInstruments::serialDevice(sim.measureResource());
    const QString switchDevice = SimulatedInstruments::serialDevice(sim.switchResource());
    for (int session = 0; session < 3; ++session) {
        // Each session opens and closes the devices, as a logger run does.
        PtyLineClient measure, frame;
        QVERIFY(measure.open(measureDevice));
        QVERIFY(frame.open(switchDevice));
        QCOMPARE(frame.query("*IDN?\r"), QByteArray("DATALOGGER-SIM,VSK3307,SIM0001,1.0"));
        QCOMPARE(measure.query("*IDN?"), QByteArray("DATALOGGER-SIM,DMM-SIM,DMM0001,1.0"));
        QCOMPARE(frame.query("SYST:CTYP?"), QByteArray("1,3"));
        for (int channel : {101 + session, 310 - session}) {
            QVERIFY(frame.send("ROUT:CLOS (@" + QByteArray::number(channel) + ")\r\n"));
            QCOMPARE(frame.query("STAT:OPER:EVEN?"), QByteArray("+0"));
            QCOMPARE(measure.query("FETC?"), expectedReading(1, channel));
        }
    }
    const QStringList lines = sim.transcript();
    QVERIFY(lines.contains("switch <- ROUT:CLOS (@101)"));
    QVERIFY(lines.contains("measure -> " + QString::fromLatin1(expectedReading(1, 308))));
}

void InstrumentSimProtocolTest::readingFormatIsPrintfInCLocale_data()
{
    QTest::addColumn<double>("value");
    for (double v : {0.0, 1.0, -1.0, 101.23456789, 310.25, 0.0012345678912, -0.099999999, 9.9e37,
                     1e-300, 123456789.0, 109.99999999})
        QTest::newRow(qPrintable(QString::number(v, 'g', 17))) << v;
}

void InstrumentSimProtocolTest::readingFormatIsPrintfInCLocale()
{
    QFETCH(double, value);
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "C");
    char expected[64];
    std::snprintf(expected, sizeof expected, "%+.8E,+0", value);
    std::setlocale(LC_NUMERIC, saved.c_str());
    QCOMPARE(QByteArray::fromStdString(simsignal::formatReading(value)), QByteArray(expected));
    QVERIFY(QByteArray::fromStdString(simsignal::formatReading(value, false)).endsWith(",+1"));
}

void InstrumentSimProtocolTest::phasesSpreadAndStayInRange()
{
    double lowest = 10, highest = -10;
    for (quint64 seed : {0ull, 1ull, 2ull, 12345ull, ~0ull}) {
        for (int channel = 0; channel <= 1010; ++channel) {
            const double p = simsignal::phase(seed, channel);
            QVERIFY(p >= 0 && p < simsignal::kTwoPi);
            lowest = qMin(lowest, p);
            highest = qMax(highest, p);
            for (double t : {0.0, 7.5, 15.0, 59.9, 3600.0}) {
                const double v = simsignal::value(seed, channel, t);
                if (channel == 0)
                    QVERIFY(std::fabs(v) < 0.3);
                else
                    QCOMPARE(std::lround(v), long(channel));
            }
        }
    }
    // The phases cover the circle rather than bunching up.
    QVERIFY(lowest < 0.1 && highest > simsignal::kTwoPi - 0.1);
    // A period later the reading repeats.
    QVERIFY(std::fabs(simsignal::value(5, 204, 3.0) -
                      simsignal::value(5, 204, 3.0 + simsignal::kPeriodSeconds)) < 1e-9);
}

void InstrumentSimProtocolTest::cleanupTestCase()
{
    // Every simulator of the suite ended cleanly (no crash, no sanitizer report).
    QCOMPARE(SimulatedInstruments::uncleanExits(), 0);
}

QTEST_GUILESS_MAIN(InstrumentSimProtocolTest)
#include "tst_instrumentsim_protocol.moc"
