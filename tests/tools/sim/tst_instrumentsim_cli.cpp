// instrument-sim as a program: its command line, what it prints, how it ends.
#include "lineclients.h"
#include "simulatedinstruments.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

struct Run
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
};

Run runToEnd(const QStringList &args)
{
    QProcess p;
    p.start(SimulatedInstruments::simulatorPath(), args);
    Run r;
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitCode();
    r.status = p.exitStatus();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// Reads stdout until "ready\n"; returns what came before it.
QByteArray waitReady(QProcess *p)
{
    QByteArray out;
    if (!p->waitForStarted(5000))
        return out;
    QElapsedTimer timer;
    timer.start();
    while (!out.contains("ready\n") && timer.elapsed() < 10000 && p->state() == QProcess::Running) {
        p->waitForReadyRead(200);
        out += p->readAllStandardOutput();
    }
    return out;
}

} // namespace

class InstrumentSimCliTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();
    void badArguments_data();
    void badArguments();
    void help();
    void portZeroNotServed_data();
    void portZeroNotServed();
    void fixedPortAndBindAddress();
    void portInUse();
    void transcriptUnwritable();
    void endOfInputDoesNotEnd();
    void signalsEndCleanly_data();
    void signalsEndCleanly();
    void launcherOverridesDefaults();
};

void InstrumentSimCliTest::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "unknown argument";
    QTest::newRow("stray word") << QStringList{"5025"} << "unknown argument";
    QTest::newRow("missing value") << QStringList{"--measure-port"} << "needs a value";
    QTest::newRow("port too big") << QStringList{"--measure-port", "65536"} << "--measure-port";
    QTest::newRow("port negative") << QStringList{"--switch-port", "-1"} << "--switch-port";
    QTest::newRow("port text") << QStringList{"--switch-port", "five"} << "--switch-port";
    QTest::newRow("control port 0") << QStringList{"--control-port", "0"} << "--control-port";
    QTest::newRow("nothing served")
        << QStringList{"--measure-port", "0", "--switch-port", "0"} << "nothing to serve";
    QTest::newRow("slot 0") << QStringList{"--slots", "0"} << "--slots";
    QTest::newRow("slot 100") << QStringList{"--slots", "1,100"} << "--slots";
    QTest::newRow("slot twice") << QStringList{"--slots", "3,3"} << "--slots";
    QTest::newRow("slots empty") << QStringList{"--slots", ""} << "--slots";
    QTest::newRow("slots trailing comma") << QStringList{"--slots", "1,"} << "--slots";
    QTest::newRow("seed negative") << QStringList{"--seed", "-3"} << "--seed";
    QTest::newRow("seed too big") << QStringList{"--seed", "18446744073709551616"} << "--seed";
    QTest::newRow("seed text") << QStringList{"--seed", "0x10"} << "--seed";
    QTest::newRow("model with comma") << QStringList{"--model", "VSK,3307"} << "--model";
    QTest::newRow("serial empty") << QStringList{"--serial", ""} << "--serial";
    QTest::newRow("maker with newline") << QStringList{"--maker", "A\nB"} << "--maker";
    QTest::newRow("bind not an address") << QStringList{"--bind", "localhost"} << "--bind";
    QTest::newRow("clock") << QStringList{"--clock", "fast"} << "--clock";
    QTest::newRow("flag with value") << QStringList{"--measure-pty=yes"} << "takes no value";
    QTest::newRow("transcript empty") << QStringList{"--transcript", ""} << "--transcript";
}

void InstrumentSimCliTest::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const Run r = runToEnd(QStringList{"--measure-port", "auto", "--switch-port", "auto"} + args);
    QCOMPARE(r.status, QProcess::NormalExit);
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.startsWith("instrument-sim: "), r.err);
    QVERIFY2(r.err.contains(message.toUtf8()), r.err);
    QVERIFY(r.err.contains("--help"));
}

void InstrumentSimCliTest::help()
{
    for (const char *flag : {"--help", "-h"}) {
        const Run r = runToEnd({flag});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QByteArray());
        QVERIFY(r.out.startsWith("Usage: instrument-sim"));
        for (const char *option : {"--measure-port",
                                   "--switch-port",
                                   "--model",
                                   "--serial",
                                   "--version",
                                   "--maker",
                                   "--measure-model",
                                   "--measure-serial",
                                   "--slots",
                                   "--seed",
                                   "--transcript",
                                   "--measure-pty",
                                   "--switch-pty",
                                   "--bind",
                                   "--control-port",
                                   "--clock",
                                   "fault",
                                   "clear",
                                   "silent",
                                   "slow MS",
                                   "badstatus",
                                   "drop",
                                   "refuse SECONDS",
                                   "garbage",
                                   "nonutf8",
                                   "overlong N",
                                   "nolf"})
            QVERIFY2(r.out.contains(option), option);
    }
}

void InstrumentSimCliTest::portZeroNotServed_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("role");
    QTest::newRow("multimeter only") << QStringList{"--switch-port", "0"} << QByteArray("measure");
    QTest::newRow("switch only") << QStringList{"--measure-port", "0"} << QByteArray("switch");
    QTest::newRow("switch on a pty, port 0")
        << QStringList{"--measure-port", "0", "--switch-port", "0", "--switch-pty"}
        << QByteArray("switch");
}

void InstrumentSimCliTest::portZeroNotServed()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, role);
    QProcess p;
    p.start(SimulatedInstruments::simulatorPath(),
            QStringList{"--measure-port", "auto", "--switch-port", "auto"} + args);
    const QByteArray out = waitReady(&p);
    const QList<QByteArray> lines = out.split('\n');
    // Exactly: one resource line, "ready", and the empty rest after the last line feed.
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).startsWith(role + ' '), out);
    QCOMPARE(lines.at(1), QByteArray("ready"));
    p.terminate();
    QVERIFY(p.waitForFinished(5000));
}

void InstrumentSimCliTest::fixedPortAndBindAddress()
{
    // A port that was free a moment ago.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--measure-port", QString::number(port), "--switch-port", "0", "--bind",
                        "127.0.0.1"}),
             qPrintable(sim.errorString()));
    QCOMPARE(sim.measureResource(), QStringLiteral("TCPIP0::127.0.0.1::%1::SOCKET").arg(port));
    QCOMPARE(sim.measurePort(), port);
    TcpLineClient client;
    QVERIFY(client.connectTo(port));
    QVERIFY(client.query("*IDN?").contains("DMM-SIM"));
    sim.stop();

    // IPv6 loopback, where the machine has it.
    QTcpServer v6;
    if (!v6.listen(QHostAddress::LocalHostIPv6, 0))
        QSKIP("no IPv6 loopback here");
    v6.close();
    QVERIFY2(sim.start({"--bind", "::1"}), qPrintable(sim.errorString()));
    QVERIFY2(sim.switchResource().startsWith("TCPIP0::[::1]::"), qPrintable(sim.switchResource()));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHostIPv6, sim.switchPort());
    QVERIFY(socket.waitForConnected(3000));
}

void InstrumentSimCliTest::portInUse()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    const Run r =
        runToEnd({"--measure-port", QString::number(holder.serverPort()), "--switch-port", "auto"});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.contains("cannot listen"), r.err);
}

void InstrumentSimCliTest::transcriptUnwritable()
{
    QTemporaryDir dir;
    const Run r = runToEnd({"--measure-port", "auto", "--switch-port", "auto", "--transcript",
                            dir.filePath("missing/sub/transcript.txt")});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.contains("cannot write the transcript"), r.err);
}

void InstrumentSimCliTest::endOfInputDoesNotEnd()
{
    QProcess p;
    p.start(SimulatedInstruments::simulatorPath(),
            {"--measure-port", "auto", "--switch-port", "0"});
    const QByteArray out = waitReady(&p);
    QVERIFY(out.endsWith("ready\n"));
    const quint16 port = out.split(':').value(4).toUShort();
    QVERIFY(port != 0);
    p.closeWriteChannel();
    QTest::qWait(300);
    QCOMPARE(p.state(), QProcess::Running);
    TcpLineClient client;
    QVERIFY(client.connectTo(port));
    QVERIFY(client.query("*IDN?").contains("DMM-SIM"));
    p.terminate();
    QVERIFY(p.waitForFinished(5000));
}

void InstrumentSimCliTest::signalsEndCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void InstrumentSimCliTest::signalsEndCleanly()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    const QString transcript = dir.filePath("t.txt");
    QProcess p;
    p.start(SimulatedInstruments::simulatorPath(),
            {"--measure-port", "auto", "--switch-port", "0", "--transcript", transcript});
    const QByteArray out = waitReady(&p);
    const quint16 port = out.split(':').value(4).toUShort();
    TcpLineClient client;
    QVERIFY(client.connectTo(port));
    // A client still connected, with a reply on its way, does not hold the simulator up.
    QVERIFY(client.query("*IDN?").contains("DMM-SIM"));
    p.write("fault measure slow 10000\n");
    QByteArray err;
    QTRY_VERIFY2((err += p.readAllStandardError()).contains("control: ok"), err.constData());
    QVERIFY(client.send("*IDN?\n"));
    QTest::qWait(100);
    ::kill(static_cast<pid_t>(p.processId()), signalNumber);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
    QFile file(transcript);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("measure <- *IDN?\n"
                                        "measure -> DATALOGGER-SIM,DMM-SIM,DMM0001,1.0\n"
                                        "measure !! fault slow 10000\n"
                                        "measure <- *IDN?\n"));
}

void InstrumentSimCliTest::launcherOverridesDefaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mine.txt");
    SimulatedInstruments sim;
    QVERIFY2(sim.start({"--transcript=" + path, "--switch-port", "0"}),
             qPrintable(sim.errorString()));
    QCOMPARE(sim.transcriptPath(), path);
    QVERIFY(sim.switchResource().isEmpty());
    QCOMPARE(sim.switchPort(), quint16(0));
    TcpLineClient client;
    QVERIFY(client.connectTo(sim.measurePort()));
    QVERIFY(!client.query("FETC?").isEmpty());
    QCOMPARE(sim.transcript().value(0), QStringLiteral("measure <- FETC?"));
    // A second start replaces the first simulator.
    QVERIFY(sim.start());
    QVERIFY(!sim.switchResource().isEmpty());
    QVERIFY(sim.transcriptPath() != path);
    sim.stop();
    QVERIFY(!sim.isRunning());
    QVERIFY(!sim.control("status"));
}

void InstrumentSimCliTest::cleanupTestCase()
{
    // Every simulator of the suite ended cleanly (no crash, no sanitizer report).
    QCOMPARE(SimulatedInstruments::uncleanExits(), 0);
}

QTEST_GUILESS_MAIN(InstrumentSimCliTest)
#include "tst_instrumentsim_cli.moc"
