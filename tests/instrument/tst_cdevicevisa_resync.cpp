// The instrument session after replies come late or not at all, against the simulator over a
// loopback socket and a pseudo-terminal: a late reply must never be returned as the answer to
// a later query, and the session must find its way back once the instrument answers again.
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <atomic>
#include <mutex>
#include <thread>

#include "cdevicevisa.h"
#include "simulatedinstruments.h"

namespace {

constexpr int kChannel = 105;

// Counts the session's log lines saying that it is back in step; passes everything on.
std::atomic<int> resyncLogLines{0};
QtMessageHandler previousHandler = nullptr;

void countResyncLines(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.startsWith(QStringLiteral("会话重新同步：")) &&
        text.contains(QStringLiteral("已恢复同步")))
        ++resyncLogLines;
    if (previousHandler)
        previousHandler(type, context, text);
}

// One query and how to recognise its own answer.
struct Query
{
    QString command;
    QString answer; // empty: a reading of kChannel with status +0
    bool matches(const QString &reply) const
    {
        if (!answer.isEmpty())
            return reply == answer;
        static const QRegularExpression reading(
            QStringLiteral("^[+-][0-9]\\.[0-9]+E[+-][0-9]+,\\+0$"));
        return reading.match(reply).hasMatch() &&
               qRound(reply.section(QLatin1Char(','), 0, 0).toDouble()) == kChannel;
    }
};

struct Outcome
{
    int failed = 0;
    bool recovered = false;
    QStringList wrong; // "<query> -> <reply>" for every reply that answered another query
};

// Asks the queries in turn until, after the fault was cleared, eight answers in a row were
// right, or until the deadline. Every reply that comes back is checked against its query.
void drive(CDeviceVisa &device, const QList<Query> &cycle, const std::atomic<bool> &cleared,
           int deadlineMs, Outcome *out)
{
    QElapsedTimer timer;
    timer.start();
    int streak = 0;
    for (int i = 0; timer.elapsed() < deadlineMs; ++i) {
        const Query &query = cycle.at(i % cycle.size());
        const bool afterClear = cleared.load();
        const QString reply = device.sendCommand(query.command);
        if (reply.isEmpty()) {
            ++out->failed;
            streak = 0;
        } else if (!query.matches(reply)) {
            out->wrong << query.command + QStringLiteral(" -> ") + reply;
            streak = 0;
        } else if (afterClear && ++streak >= 8) {
            out->recovered = true;
            return;
        }
    }
}

// The queries of a cycle, each answered once in step to learn its answer.
QList<Query> learnAnswers(CDeviceVisa &device, const QStringList &commands)
{
    QList<Query> cycle;
    for (const QString &command : commands) {
        Query query{command, QString()};
        if (command != QLatin1String("FETC?"))
            query.answer = device.sendCommand(command);
        cycle << query;
    }
    return cycle;
}

} // namespace

class TestCDeviceVisaResync : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void lateRepliesNeverAnswerALaterQuery_data();
    void lateRepliesNeverAnswerALaterQuery();
    void outOfStepSurvivesAReconnect_data();
    void outOfStepSurvivesAReconnect();
    void returningInstrumentIsTrustedAfterOneRound();
};

void TestCDeviceVisaResync::initTestCase()
{
    previousHandler = qInstallMessageHandler(countResyncLines);
}

void TestCDeviceVisaResync::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
    QCOMPARE(SimulatedInstruments::uncleanExits(), 0);
}

void TestCDeviceVisaResync::lateRepliesNeverAnswerALaterQuery_data()
{
    QTest::addColumn<QString>("fault");
    // Whether the session received the identification in step before the fault: without
    // it the session has no known answer to look for at first.
    QTest::addColumn<bool>("identified");
    QTest::newRow("5.5 s late") << "slow 5500" << true;
    QTest::newRow("6 s late") << "slow 6000" << true;
    QTest::newRow("6 s late, identity unknown") << "slow 6000" << false;
    QTest::newRow("10 s late") << "slow 10000" << true;
    QTest::newRow("30 s late") << "slow 30000" << true;
    QTest::newRow("never") << "silent" << true;
    QTest::newRow("never, identity unknown") << "silent" << false;
}

// Both instruments at once: the multimeter on a pseudo-terminal, the switch main frame on a
// socket. Consecutive queries have different answers, so a reply shifted by one shows.
void TestCDeviceVisaResync::lateRepliesNeverAnswerALaterQuery()
{
    QFETCH(QString, fault);
    QFETCH(bool, identified);
    SimulatedInstruments sim;
    // One slot: "SYST:CTYP?" answers "1", as "*OPC?" would.
    QVERIFY2(sim.start(
                 {QStringLiteral("--measure-pty"), QStringLiteral("--slots"), QStringLiteral("1")}),
             qPrintable(sim.errorString()));
    QVERIFY(sim.measureResource().startsWith(QLatin1String("ASRL")));
    QVERIFY(sim.switchResource().startsWith(QLatin1String("TCPIP")));
    CDeviceVisa meter;
    CDeviceVisa frame;
    QVERIFY(meter.connectDevice(sim.measureResource()));
    QVERIFY(frame.connectDevice(sim.switchResource()));
    QCOMPARE(frame.sendCommand(QStringLiteral("ROUT:CLOS (@%1)").arg(kChannel)), QString());

    QStringList meterCommands{QStringLiteral("FETC?"), QStringLiteral("SYST:ERR?")};
    QStringList frameCommands{QStringLiteral("SYST:CTYP?"), QStringLiteral("STAT:OPER:EVEN?"),
                              QStringLiteral("SYST:ERR?")};
    if (identified) {
        meterCommands.prepend(QStringLiteral("*IDN?"));
        frameCommands.prepend(QStringLiteral("*IDN?"));
    }
    const QList<Query> meterCycle = learnAnswers(meter, meterCommands);
    const QList<Query> frameCycle = learnAnswers(frame, frameCommands);
    for (const QList<Query> *cycle : {&meterCycle, &frameCycle})
        for (const Query &query : *cycle)
            QVERIFY2(query.command == QLatin1String("FETC?") || !query.answer.isEmpty(),
                     qPrintable(query.command));
    QVERIFY(meterCycle.first().matches(meter.sendCommand(meterCycle.first().command)));

    const int lateMs =
        fault.startsWith(QLatin1String("slow")) ? fault.section(QLatin1Char(' '), 1).toInt() : 0;
    // Cleared 7 s after the fault; replies already delayed still come that late after their
    // query. Replies withheld for good are written off after a minute out of step.
    const int deadlineMs = 7000 + lateMs + (lateMs > 0 ? 30000 : 80000);
    const int logLinesBefore = resyncLogLines.load();
    QVERIFY(sim.control(QStringLiteral("fault all ") + fault));
    std::atomic<bool> cleared{false};
    Outcome meterOutcome;
    Outcome frameOutcome;
    std::thread meterThread(drive, std::ref(meter), meterCycle, std::cref(cleared), deadlineMs,
                            &meterOutcome);
    std::thread frameThread(drive, std::ref(frame), frameCycle, std::cref(cleared), deadlineMs,
                            &frameOutcome);
    QThread::msleep(7000);
    const bool clearedOk = sim.control(QStringLiteral("clear all"));
    cleared = true;
    meterThread.join();
    frameThread.join();
    QVERIFY2(clearedOk, qPrintable(sim.errorString()));

    QVERIFY2(meterOutcome.wrong.isEmpty(), qPrintable(meterOutcome.wrong.join('\n')));
    QVERIFY2(frameOutcome.wrong.isEmpty(), qPrintable(frameOutcome.wrong.join('\n')));
    // The fault did bite, and the sessions came back and logged it.
    QVERIFY(meterOutcome.failed > 0);
    QVERIFY(frameOutcome.failed > 0);
    QVERIFY(meterOutcome.recovered);
    QVERIFY(frameOutcome.recovered);
    QVERIFY(resyncLogLines.load() >= logLinesBefore + 2);
}

void TestCDeviceVisaResync::outOfStepSurvivesAReconnect_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("socket") << false;
    QTest::newRow("pseudo-terminal") << true;
}

// A socket's late reply goes with the old connection; a serial line delivers it after the
// reconnect, into the new session.
void TestCDeviceVisaResync::outOfStepSurvivesAReconnect()
{
    QFETCH(bool, serial);
    SimulatedInstruments sim;
    QVERIFY2(sim.start(serial ? QStringList{QStringLiteral("--measure-pty")} : QStringList{}),
             qPrintable(sim.errorString()));
    CDeviceVisa meter;
    QVERIFY(meter.connectDevice(sim.measureResource()));
    const QString identity = meter.sendCommand(QStringLiteral("*IDN?"));
    QVERIFY(!identity.isEmpty());

    QVERIFY(sim.control(QStringLiteral("fault measure slow 6000")));
    QCOMPARE(meter.sendCommand(QStringLiteral("SYST:ERR?")), QString());
    QVERIFY(meter.lastErrorText().startsWith(QStringLiteral("读取响应失败: ")));
    QVERIFY(!meter.connectionLost());
    QVERIFY(meter.isConnected());
    QVERIFY(sim.control(QStringLiteral("clear measure")));
    meter.disconnectDevice();
    QVERIFY(meter.connectDevice(sim.measureResource()));

    for (int i = 0; i < 4; ++i) {
        QCOMPARE(meter.sendCommand(QStringLiteral("*IDN?")), identity);
        const QString reading = meter.sendCommand(QStringLiteral("FETC?"));
        QVERIFY2(reading.endsWith(QLatin1String(",+0")), qPrintable(reading));
    }
}

// Every marker sent to a silent meter stays unanswered for good. Once it answers again, the
// first marker round that reads its identity puts the session back in step.
void TestCDeviceVisaResync::returningInstrumentIsTrustedAfterOneRound()
{
    SimulatedInstruments sim;
    QVERIFY2(sim.start({QStringLiteral("--measure-pty")}), qPrintable(sim.errorString()));
    CDeviceVisa meter;
    QVERIFY(meter.connectDevice(sim.measureResource()));
    const QString identity = meter.sendCommand(QStringLiteral("*IDN?"));
    QVERIFY(!identity.isEmpty());

    QVERIFY(sim.control(QStringLiteral("fault measure silent")));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000)
        QCOMPARE(meter.sendCommand(QStringLiteral("FETC?")), QString());
    QVERIFY(sim.control(QStringLiteral("clear measure")));
    timer.start();
    QString reading;
    while (reading.isEmpty() && timer.elapsed() < 30000)
        reading = meter.sendCommand(QStringLiteral("FETC?"));
    qInfo("first reading %lld ms after the meter answers again", timer.elapsed());
    QVERIFY2(reading.endsWith(QLatin1String(",+0")), qPrintable(reading));
    QCOMPARE(meter.sendCommand(QStringLiteral("*IDN?")), identity);
}

QTEST_GUILESS_MAIN(TestCDeviceVisaResync)
#include "tst_cdevicevisa_resync.moc"
