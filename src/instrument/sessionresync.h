// What one instrument session knows about the replies still on their way, and how it gets back
// in step after a reply came late or not at all. No I/O: the session tells it what it wrote and
// read and what time it is (a monotonic count of milliseconds), and acts on its verdicts.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class SessionResync
{
public:
    // Identity lines still owed after this long out of step are taken as lost: the instrument
    // dropped those replies. A reply later than this cannot be told from one dropped.
    static constexpr qint64 WriteOffMs = 60000;
    // Once a marker round has read an identity line the instrument answers again; identity
    // lines still owed that do not follow within this long are taken as lost (markers it
    // swallowed while silent). It answers in order, so nothing but identity lines can still be
    // on its way, and one that comes after all is skipped before the answer to the next query
    // or counted by the next marker round.
    static constexpr qint64 OwedGraceMs = 1000;
    // Lines kept while the identity is unknown; an instrument that streams more is not
    // answering markers anyway.
    static constexpr int UnidentifiedLineLimit = 1024;

    // What a line read for a query is.
    enum class Reply
    {
        Answer,       // the answer to the query
        StrayIdentity // a marker's answer that came after all: skip it and read on
    };

    // Where a marker round stands after a line or a failed read.
    enum class Round
    {
        ReadOn, // read the next line before roundDeadlineMs()
        InStep, // back in step: the query may go out
        Failed  // no answer this round: the query fails, the session stays out of step
    };

    // The bytes of a marker round, and the log lines that go with starting it.
    struct MarkerRound
    {
        QByteArray bytes;
        QStringList log;
    };
    // Where a round stands, and the log lines that go with it, one message each.
    struct RoundStep
    {
        Round next;
        QStringList log;
    };

    // marker: the identification query (without line end) whose answer is the same each time;
    // replyTimeoutMs: how long one reply, and so one marker round, may take.
    SessionResync(const QByteArray &marker, qint64 replyTimeoutMs);

    bool asksIdentity(const QString &command) const;
    bool outOfStep() const { return outOfStepNow; }

    // A session to resource was opened. Another instrument than before: nothing known about
    // the old one's replies holds. The same one again stays out of step: over a serial line its
    // late replies still arrive, and one marker round on the new connection reads past them.
    void opened(const QString &resource, qint64 nowMs);
    // The session was closed: the replies it owed can no longer arrive.
    void closed(qint64 nowMs);

    // The bytes to write for one command line: a line feed first when a write stopped part
    // way, to end whatever part of a line the instrument still holds.
    QByteArray commandBytes(const QString &command) const;
    // The command's line went out whole, or bytesWritten of it before the write failed.
    void commandWritten(const QString &command, bool whole, quint64 bytesWritten, qint64 nowMs);
    // The reply to command did not come (timeout or transport error).
    void replyLost(const QString &command, qint64 nowMs);
    // A reply too long to return could not be read to its end: the rest is still on its way.
    void replyCutShort(qint64 nowMs);
    // A line read for command (cut at its first NUL, not trimmed).
    Reply replyLine(const QString &command, const QByteArray &line);
    // The trimmed reply returned for command; the log line says how many stray lines went.
    QString replyTaken(const QString &command, const QString &reply);

    // A marker round, before a query while out of step: the bytes to write, with the log line
    // of owed replies written off after WriteOffMs.
    MarkerRound beginMarkerRound(qint64 nowMs);
    // The markers went out whole, or bytesWritten of them before the write failed.
    void markersWritten(bool whole, quint64 bytesWritten, qint64 nowMs);
    // Until when (in the caller's milliseconds) the round reads.
    qint64 roundDeadlineMs() const { return roundDeadline; }
    // A whole line read in the round.
    RoundStep markerLine(const QByteArray &line, qint64 nowMs);
    // A read of the round failed: timedOut when by timeout; partLine what part of a line came.
    RoundStep markerReadFailed(bool timedOut, const QByteArray &partLine, qint64 nowMs);
    // The error text of a failed round, after the transport's statusText.
    QString roundFailure(const QString &statusText) const;

private:
    void forgetOwedReplies(qint64 nowMs);
    void fallOutOfStep(qint64 nowMs);
    void noteWrite(bool whole, quint64 bytesWritten);
    RoundStep backInStep(qint64 nowMs);

    const QByteArray marker;
    const qint64 replyTimeoutMs;
    QString resource;

    // Out of step: a reply may still be on its way (a read failed, or a write went out in
    // part), so the next line that arrives cannot be trusted as the answer to the next query.
    // Cleared by a marker round; survives a reopen of the same resource.
    bool outOfStepNow = false;
    // A write stopped part way: the instrument may hold the start of a command line.
    bool partialLineSent = false;
    // The marker's reply of this instrument, learned in step or from a marker round.
    QByteArray identity;
    // Set once a marker has been sent: an identity line is then never taken for the answer to
    // a query other than the marker.
    bool markersSent = false;
    // Identity lines the instrument still owes on this connection: one per marker and per
    // identification query whose reply was not read. The session is back in step only when
    // none is owed, so that no reply asked for before the last marker can still arrive, or
    // when a marker round read one and the rest did not follow (see OwedGraceMs).
    int identityOwed = 0;
    // When the owed lines were last counted afresh: at falling out of step, at each reopen and
    // at each write-off.
    qint64 owedSinceMs = 0;
    // Identity lines written off at the end of an answered round's grace. They may only have
    // been late: one that comes after all while the session is out of step again must not be
    // taken for the answer to the next round's marker, with the reply of the failed query still
    // behind it, so the next round counts them as owed once more. Forgotten WriteOffMs after
    // they were written off, and with the connection.
    int lateIdentities = 0;
    qint64 lateSinceMs = 0;
    // Identity unknown: the lines read in marker rounds so far, to find the two equal lines in
    // a row that a doubled marker gives and to count the identity lines among them.
    QList<QByteArray> unidentifiedLines;
    // Stray identity lines skipped before the current query's answer.
    int skippedLines = 0;

    // The current marker round.
    int roundMarkers = 0;
    qint64 roundStart = 0;
    qint64 roundDeadline = 0;
    bool roundAnswered = false;

    // Figures of the current out-of-step period, for the log.
    qint64 outOfStepSinceMs = 0;
    int discardedReplies = 0;
    int lostExchanges = 0;
    int markerRounds = 0;
};
