// The resync rules of an instrument session on their own: what it owes, when a line is a stray
// marker answer, when it is back in step. Time is the test's own count of milliseconds; the
// real sockets and pseudo-terminals are in tst_cdevicevisa_resync.
#include <QTest>

#include "sessionresync.h"

namespace {

constexpr qint64 kTimeoutMs = 5000;
const QString kResource = QStringLiteral("ASRL/dev/pts/7::INSTR");
const QByteArray kIdentity = "MAKER,MODEL,SN1,1.0";
using Round = SessionResync::Round;

// A session on kResource that learned its identity in step, then lost the reply to FETC? at
// t = 1000.
void identifiedThenLost(SessionResync *resync)
{
    resync->opened(kResource, 0);
    resync->commandWritten(QStringLiteral("*IDN?"), true, 6, 10);
    QCOMPARE(resync->replyLine(QStringLiteral("*IDN?"), kIdentity + "\r\n"),
             SessionResync::Reply::Answer);
    QCOMPARE(resync->replyTaken(QStringLiteral("*IDN?"), QString::fromLatin1(kIdentity)),
             QString());
    resync->commandWritten(QStringLiteral("FETC?"), true, 6, 20);
    resync->replyLost(QStringLiteral("FETC?"), 1000);
    QVERIFY(resync->outOfStep());
}

// One marker round whose markers went out whole at nowMs; returns the bytes written.
QByteArray sendMarkers(SessionResync *resync, qint64 nowMs)
{
    const SessionResync::MarkerRound round = resync->beginMarkerRound(nowMs);
    resync->markersWritten(true, round.bytes.size(), nowMs);
    return round.bytes;
}

// A round that heard nothing: it fails, and the session stays out of step.
void silentRound(SessionResync *resync, qint64 nowMs)
{
    sendMarkers(resync, nowMs);
    QCOMPARE(resync->markerReadFailed(true, QByteArray(), nowMs + kTimeoutMs).next, Round::Failed);
    QVERIFY(resync->outOfStep());
}

} // namespace

class TestSessionResync : public QObject
{
    Q_OBJECT

private slots:
    void strayIdentityAfterReturnIsSkipped();
    void answeredRoundWritesOffTheRestAfterOneSecond();
    void writtenOffLineStillCountsInTheNextRound();
    void partLineInGraceIsNoSilence();
    void reopenForgetsOwedLines();
    void anotherInstrumentStartsAfresh();
    void backstopWritesOffAfterAMinute();
    void unknownIdentityIsTheFirstLineTwiceInARow();
    void lostIdentificationQueryIsOwed_data();
    void lostIdentificationQueryIsOwed();
    void partialWriteEndsTheLineFirst();
};

// Markers sent to a silent instrument are owed; once it answers one, the round takes it back
// in step after the grace, and a swallowed marker's answer that comes after all is skipped
// before the answer to the next query, never returned for it.
void TestSessionResync::strayIdentityAfterReturnIsSkipped()
{
    SessionResync resync("*IDN?", kTimeoutMs);
    identifiedThenLost(&resync);
    silentRound(&resync, 2000);
    sendMarkers(&resync, 8000);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 8200).next, Round::ReadOn);
    QCOMPARE(resync.markerReadFailed(true, QByteArray(), 9200).next, Round::InStep);

    resync.commandWritten(QStringLiteral("FETC?"), true, 6, 9300);
    QCOMPARE(resync.replyLine(QStringLiteral("FETC?"), kIdentity + "\r\n"),
             SessionResync::Reply::StrayIdentity);
    QCOMPARE(resync.replyLine(QStringLiteral("FETC?"), "+1.05E+02,+0\n"),
             SessionResync::Reply::Answer);
    QCOMPARE(resync.replyTaken(QStringLiteral("FETC?"), QStringLiteral("+1.05E+02,+0")),
             QStringLiteral("会话重新同步：%1 跳过 1 条标记查询的迟到应答").arg(kResource));
    // The identification query's own answer is never skipped, however it is spelt.
    resync.commandWritten(QStringLiteral(" *idn? "), true, 8, 9400);
    QCOMPARE(resync.replyLine(QStringLiteral(" *idn? "), kIdentity + "\n"),
             SessionResync::Reply::Answer);
    QCOMPARE(resync.replyTaken(QStringLiteral(" *idn? "), QString::fromLatin1(kIdentity)),
             QString());
}

void TestSessionResync::answeredRoundWritesOffTheRestAfterOneSecond()
{
    SessionResync resync("*IDN?", kTimeoutMs);
    identifiedThenLost(&resync);
    silentRound(&resync, 2000);
    silentRound(&resync, 8000);
    sendMarkers(&resync, 14000); // three markers owed
    QCOMPARE(resync.roundDeadlineMs(), 14000 + kTimeoutMs);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 14300).next, Round::ReadOn);
    QCOMPARE(resync.roundDeadlineMs(), 14300 + SessionResync::OwedGraceMs);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 14500).next, Round::ReadOn);
    // Each identity line read restarts the grace, but never past the round's own budget.
    QCOMPARE(resync.roundDeadlineMs(), 14500 + SessionResync::OwedGraceMs);
    QCOMPARE(resync.markerLine("0,\"No error\"\n", 15000).next, Round::ReadOn);
    QCOMPARE(resync.roundDeadlineMs(), 14500 + SessionResync::OwedGraceMs);
    const SessionResync::RoundStep back = resync.markerReadFailed(true, QByteArray(), 15500);
    QCOMPARE(back.next, Round::InStep);
    QCOMPARE(back.log, (QStringList{QStringLiteral("会话重新同步：%1 仪器已重新应答，1 条标识应答"
                                                   "未在 1000 ms 内到达，视为丢失")
                                        .arg(kResource),
                                    QStringLiteral("会话重新同步：%1 已恢复同步，用时 14500 ms，3 "
                                                   "轮标记查询，丢弃 3 条响应，3 次交换失败")
                                        .arg(kResource)}));
    QVERIFY(!resync.outOfStep());
}

// Replies 10 s late, both instruments: the round's grace runs into its budget and writes off
// its own marker's answer, which is only late. The next query's reply queues behind it and
// times out just before it comes; the next round must not take that late line for its own
// marker's answer with the failed query's reply still behind it, or every later reply is
// returned for the query after its own.
void TestSessionResync::writtenOffLineStillCountsInTheNextRound()
{
    SessionResync resync("*IDN?", kTimeoutMs);
    resync.opened(kResource, 0);
    resync.commandWritten(QStringLiteral("*IDN?"), true, 6, 10);
    resync.replyLine(QStringLiteral("*IDN?"), kIdentity + "\n");
    resync.replyTaken(QStringLiteral("*IDN?"), QString::fromLatin1(kIdentity));
    resync.commandWritten(QStringLiteral("*IDN?"), true, 6, 100);
    resync.replyLost(QStringLiteral("*IDN?"), 5100);
    sendMarkers(&resync, 5100);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 10100).next, Round::ReadOn);
    QCOMPARE(resync.markerReadFailed(true, QByteArray(), 10100).next, Round::InStep);

    resync.commandWritten(QStringLiteral("FETC?"), true, 6, 10110);
    resync.replyLost(QStringLiteral("FETC?"), 15110);
    sendMarkers(&resync, 15110);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 15115).next, Round::ReadOn);
    QCOMPARE(resync.markerLine("+1.05E+02,+0\n", 15116).next, Round::ReadOn);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 15117).next, Round::InStep);
    resync.commandWritten(QStringLiteral("SYST:ERR?"), true, 10, 15120);
    QCOMPARE(resync.replyLine(QStringLiteral("SYST:ERR?"), "+0,\"No error\"\n"),
             SessionResync::Reply::Answer);

    // Lines written off that never come cost the next round its grace, for a minute only.
    resync.replyLost(QStringLiteral("*IDN?"), 20000);
    sendMarkers(&resync, 20000);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 20100).next, Round::ReadOn);
    QCOMPARE(resync.markerReadFailed(true, QByteArray(), 21100).next, Round::InStep);
    resync.replyLost(QStringLiteral("FETC?"), 22000);
    sendMarkers(&resync, 22000);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 22100).next, Round::ReadOn);
    QCOMPARE(resync.markerReadFailed(true, QByteArray(), 23100).next, Round::InStep);
    resync.replyLost(QStringLiteral("FETC?"), 23200 + SessionResync::WriteOffMs);
    sendMarkers(&resync, 23200 + SessionResync::WriteOffMs);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 23300 + SessionResync::WriteOffMs).next,
             Round::InStep);
}

// Only silence ends the grace: a part of a line still arriving, or a transport error, fails
// the round and leaves the session out of step.
void TestSessionResync::partLineInGraceIsNoSilence()
{
    for (const bool timedOut : {true, false}) {
        SessionResync resync("*IDN?", kTimeoutMs);
        identifiedThenLost(&resync);
        silentRound(&resync, 2000);
        sendMarkers(&resync, 8000);
        QCOMPARE(resync.markerLine(kIdentity + "\n", 8100).next, Round::ReadOn);
        const SessionResync::RoundStep failed =
            resync.markerReadFailed(timedOut, timedOut ? QByteArray("MAK") : QByteArray(), 9100);
        QCOMPARE(failed.next, Round::Failed);
        QCOMPARE(failed.log,
                 QStringList{QStringLiteral("会话重新同步：%1 第 2 轮标记查询 *IDN? 在 5000 ms "
                                            "内未得到应答，已丢弃 1 条响应，3 次交换失败")
                                 .arg(kResource)});
        QCOMPARE(
            resync.roundFailure(QStringLiteral("Timeout expired")),
            QStringLiteral("会话失步，标记查询 *IDN? 在 5000 ms 内未得到应答 (Timeout expired)"));
        QVERIFY(resync.outOfStep());
    }
}

// The reconnect cycle closes and reopens a silent instrument's session: markers sent on the
// closed connection can never be answered. The same resource stays out of step (a serial line
// still delivers the late reply), but one identity line now ends the round at once.
void TestSessionResync::reopenForgetsOwedLines()
{
    SessionResync resync("*IDN?", kTimeoutMs);
    identifiedThenLost(&resync);
    qint64 t = 2000;
    for (int attempt = 0; attempt < 3; ++attempt, t += 10000) {
        silentRound(&resync, t);
        resync.closed(t + 6000);
        resync.opened(kResource, t + 7000);
        QVERIFY(resync.outOfStep());
    }
    QCOMPARE(sendMarkers(&resync, t), QByteArray("*IDN?\n"));
    QCOMPARE(resync.markerLine("+1.05E+02,+0\n", t + 100).next, Round::ReadOn);
    const SessionResync::RoundStep back = resync.markerLine(kIdentity + "\n", t + 200);
    QCOMPARE(back.next, Round::InStep);
    QCOMPARE(back.log.size(), 1);
    QVERIFY(!back.log.first().contains(QStringLiteral("视为丢失")));

    // Without the reopen the same round would still wait for the owed lines.
    SessionResync kept("*IDN?", kTimeoutMs);
    identifiedThenLost(&kept);
    silentRound(&kept, 2000);
    sendMarkers(&kept, 8000);
    QCOMPARE(kept.markerLine(kIdentity + "\n", 8200).next, Round::ReadOn);
}

void TestSessionResync::anotherInstrumentStartsAfresh()
{
    SessionResync resync("*IDN?", kTimeoutMs);
    identifiedThenLost(&resync);
    resync.opened(QStringLiteral("TCPIP0::127.0.0.1::5025::SOCKET"), 1200);
    QVERIFY(!resync.outOfStep());
    // The old identity means nothing here: two markers in the next round.
    resync.replyLost(QStringLiteral("SYST:ERR?"), 2000);
    QCOMPARE(sendMarkers(&resync, 2100), QByteArray("*IDN?\n*IDN?\n"));
}

// Owed lines that never come hold the session for a minute at most: the first round after
// that writes them off, and then one identity line is enough.
void TestSessionResync::backstopWritesOffAfterAMinute()
{
    SessionResync resync("*IDN?", kTimeoutMs);
    identifiedThenLost(&resync);
    int rounds = 0;
    for (qint64 t = 2000; t <= 1000 + SessionResync::WriteOffMs - kTimeoutMs;
         t += kTimeoutMs + 1, ++rounds)
        silentRound(&resync, t);
    QCOMPARE(rounds, 11);
    // Exactly a minute since it fell out of step is not yet past it.
    const SessionResync::MarkerRound atMinute =
        resync.beginMarkerRound(1000 + SessionResync::WriteOffMs);
    QVERIFY(atMinute.log.isEmpty());
    resync.markersWritten(true, atMinute.bytes.size(), 1000 + SessionResync::WriteOffMs);
    QCOMPARE(resync.markerReadFailed(true, QByteArray(), 66000).next, Round::Failed);

    // One marker owed for each of the twelve rounds.
    const SessionResync::MarkerRound past = resync.beginMarkerRound(66001);
    QCOMPARE(past.log, QStringList{QStringLiteral("会话重新同步：%1 失步已超过 60000 ms，12 条标识"
                                                  "应答视为丢失")
                                       .arg(kResource)});
    resync.markersWritten(true, past.bytes.size(), 66001);
    // Still silent: the lines owed from now on get their minute from the write-off.
    silentRound(&resync, 66001);
    QVERIFY(resync.beginMarkerRound(66001 + SessionResync::WriteOffMs).log.isEmpty());
    const SessionResync::MarkerRound again =
        resync.beginMarkerRound(66002 + SessionResync::WriteOffMs);
    QCOMPARE(again.log.size(), 1);
    resync.markersWritten(true, again.bytes.size(), 66002 + SessionResync::WriteOffMs);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 126100).next, Round::InStep);

    // Falling out of step again starts a new minute.
    resync.replyLost(QStringLiteral("FETC?"), 200000);
    silentRound(&resync, 200100);
    QVERIFY(resync.beginMarkerRound(200000 + SessionResync::WriteOffMs).log.isEmpty());
    QCOMPARE(resync.beginMarkerRound(200001 + SessionResync::WriteOffMs).log.size(), 1);
}

// Before any identity was read, two markers go out together and the first line read twice in
// a row is the identity; a late reply before them is discarded, and a part of a line keeps two
// lines around it from pairing.
void TestSessionResync::unknownIdentityIsTheFirstLineTwiceInARow()
{
    SessionResync resync("*IDN?", kTimeoutMs);
    resync.opened(kResource, 0);
    resync.commandWritten(QStringLiteral("SYST:CTYP?"), true, 11, 10);
    resync.replyLost(QStringLiteral("SYST:CTYP?"), 5010);
    QCOMPARE(sendMarkers(&resync, 5100), QByteArray("*IDN?\n*IDN?\n"));
    QCOMPARE(resync.markerLine(kIdentity + "\n", 5200).next, Round::ReadOn);
    QCOMPARE(resync.markerReadFailed(true, "MAKER,MO", 10100).next, Round::Failed);
    QCOMPARE(sendMarkers(&resync, 10200), QByteArray("*IDN?\n*IDN?\n"));
    QCOMPARE(resync.markerLine(kIdentity + "\n", 10300).next, Round::ReadOn);
    // Four markers sent, one identity line read before the part line and two now.
    QCOMPARE(resync.markerLine(kIdentity + "\n", 10400).next, Round::ReadOn);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 10500).next, Round::InStep);
    // Learned: from now on one marker a round, and its line is skipped before other answers.
    resync.commandWritten(QStringLiteral("SYST:CTYP?"), true, 11, 10600);
    QCOMPARE(resync.replyLine(QStringLiteral("SYST:CTYP?"), kIdentity + "\n"),
             SessionResync::Reply::StrayIdentity);
    resync.replyLost(QStringLiteral("SYST:CTYP?"), 15600);
    QCOMPARE(sendMarkers(&resync, 15700), QByteArray("*IDN?\n"));
}

void TestSessionResync::lostIdentificationQueryIsOwed_data()
{
    QTest::addColumn<bool>("lostInWrite");
    QTest::newRow("reply lost") << false;
    QTest::newRow("written in part") << true;
}

// An identification query whose reply was not read may still be answered: its line is owed
// like a marker's, so the round waits for the marker's own answer after it.
void TestSessionResync::lostIdentificationQueryIsOwed()
{
    QFETCH(bool, lostInWrite);
    SessionResync resync("*IDN?", kTimeoutMs);
    identifiedThenLost(&resync);
    sendMarkers(&resync, 1100);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 1200).next, Round::InStep);
    if (lostInWrite) {
        resync.commandWritten(QStringLiteral("*IDN?"), false, 3, 1300);
    } else {
        resync.commandWritten(QStringLiteral("*IDN?"), true, 6, 1300);
        resync.replyLost(QStringLiteral("*IDN?"), 6300);
    }
    sendMarkers(&resync, 6400);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 6500).next, Round::ReadOn);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 6600).next, Round::InStep);

    // Not a byte of it went out: nothing is owed.
    resync.commandWritten(QStringLiteral("*IDN?"), false, 0, 7000);
    sendMarkers(&resync, 7100);
    QCOMPARE(resync.markerLine(kIdentity + "\n", 7200).next, Round::InStep);
}

// A write that stopped part way leaves the start of a line in the instrument: the next line
// written, command or markers, starts with a line feed, until one goes out whole.
void TestSessionResync::partialWriteEndsTheLineFirst()
{
    SessionResync resync("*IDN?", kTimeoutMs);
    identifiedThenLost(&resync);
    resync.commandWritten(QStringLiteral("ROUT:CLOS (@105)"), false, 0, 1100);
    QCOMPARE(resync.commandBytes(QStringLiteral("*CLS")), QByteArray("*CLS\n"));
    resync.commandWritten(QStringLiteral("ROUT:CLOS (@105)"), false, 4, 1200);
    QCOMPARE(resync.beginMarkerRound(1300).bytes, QByteArray("\n*IDN?\n"));
    resync.markersWritten(false, 0, 1300);
    QCOMPARE(resync.commandBytes(QStringLiteral("*CLS")), QByteArray("\n*CLS\n"));
    resync.commandWritten(QStringLiteral("*CLS"), true, 6, 1400);
    QCOMPARE(resync.commandBytes(QStringLiteral("*CLS")), QByteArray("*CLS\n"));
}

QTEST_GUILESS_MAIN(TestSessionResync)
#include "tst_sessionresync.moc"
