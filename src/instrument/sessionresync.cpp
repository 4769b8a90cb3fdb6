#include "sessionresync.h"

#include <QtGlobal>

SessionResync::SessionResync(const QByteArray &marker, qint64 replyTimeoutMs)
    : marker(marker)
    , replyTimeoutMs(replyTimeoutMs)
{
}

bool SessionResync::asksIdentity(const QString &command) const
{
    return command.trimmed().compare(QLatin1String(marker), Qt::CaseInsensitive) == 0;
}

void SessionResync::opened(const QString &resourceName, qint64 nowMs)
{
    if (resourceName != resource) {
        resource = resourceName;
        outOfStepNow = false;
        partialLineSent = false;
        identity.clear();
        markersSent = false;
    }
    forgetOwedReplies(nowMs);
}

void SessionResync::closed(qint64 nowMs)
{
    forgetOwedReplies(nowMs);
}

// Replies owed belong to a connection: a closed one can no longer deliver them, and waiting
// for them on the next one would hold a session whose instrument answers. Lines read before
// cannot pair with those of the next connection either.
void SessionResync::forgetOwedReplies(qint64 nowMs)
{
    identityOwed = 0;
    lateIdentities = 0;
    unidentifiedLines.clear();
    owedSinceMs = nowMs;
}

// An exchange failed part way: a reply may still be on its way.
void SessionResync::fallOutOfStep(qint64 nowMs)
{
    if (!outOfStepNow) {
        outOfStepNow = true;
        outOfStepSinceMs = nowMs;
        discardedReplies = 0;
        lostExchanges = 0;
        markerRounds = 0;
        owedSinceMs = nowMs;
    }
    ++lostExchanges;
}

void SessionResync::noteWrite(bool whole, quint64 bytesWritten)
{
    if (whole)
        partialLineSent = false;
    else if (bytesWritten > 0)
        partialLineSent = true;
}

QByteArray SessionResync::commandBytes(const QString &command) const
{
    QByteArray bytes = command.toUtf8();
    bytes.append('\n');
    if (partialLineSent)
        bytes.prepend('\n');
    return bytes;
}

void SessionResync::commandWritten(const QString &command, bool whole, quint64 bytesWritten,
                                   qint64 nowMs)
{
    noteWrite(whole, bytesWritten);
    skippedLines = 0;
    if (whole)
        return;
    if (asksIdentity(command) && bytesWritten > 0)
        ++identityOwed; // it may have gone out whole and be answered
    fallOutOfStep(nowMs);
}

void SessionResync::replyLost(const QString &command, qint64 nowMs)
{
    if (asksIdentity(command))
        ++identityOwed;
    fallOutOfStep(nowMs);
}

void SessionResync::replyCutShort(qint64 nowMs)
{
    fallOutOfStep(nowMs);
}

// An identity line for another query: a marker's answer taken as lost that came after all.
// Every marker was asked before this query, so it comes before the reply.
SessionResync::Reply SessionResync::replyLine(const QString &command, const QByteArray &line)
{
    if (markersSent && !identity.isEmpty() && !asksIdentity(command) &&
        line.trimmed() == identity) {
        lateIdentities = qMax(0, lateIdentities - 1);
        ++skippedLines;
        return Reply::StrayIdentity;
    }
    return Reply::Answer;
}

QString SessionResync::replyTaken(const QString &command, const QString &reply)
{
    if (asksIdentity(command) && !reply.isEmpty())
        identity = reply.toUtf8();
    if (skippedLines == 0)
        return QString();
    return QStringLiteral("会话重新同步：%1 跳过 %2 条标记查询的迟到应答")
        .arg(resource)
        .arg(skippedLines);
}

// Brings the session back into step before a query. Instruments answer in order, so once the
// answer to a marker query sent now has been read, every reply asked for earlier has been read
// before it. The marker's answer is known once the session has been in step for one marker
// query; every identity line owed is counted, so that the round ends at the answer to the last
// marker and not at an earlier one (or at the late reply of a failed identification query).
// Until the identity is known two markers go out together and the identity is the first line
// read twice in a row: the session has not been in step since, so the only reply besides
// marker answers that can still come is the one to the query that failed, and two equal lines
// in a row are the identity whichever they answer. A lone "1" of "*OPC?" would not do: a late
// reply may be "1" as well.
SessionResync::MarkerRound SessionResync::beginMarkerRound(qint64 nowMs)
{
    MarkerRound round{QByteArray(), QStringList()};
    if (identityOwed > 0 && nowMs - owedSinceMs > WriteOffMs) {
        owedSinceMs = nowMs;
        round.log << QStringLiteral("会话重新同步：%1 失步已超过 %2 ms，%3 条标识应答视为丢失")
                         .arg(resource)
                         .arg(WriteOffMs)
                         .arg(identityOwed);
        identityOwed = 0;
    }
    if (lateIdentities > 0 && nowMs - lateSinceMs <= WriteOffMs)
        identityOwed += lateIdentities;
    lateIdentities = 0;
    roundMarkers = identity.isEmpty() ? 2 : 1;
    for (int i = 0; i < roundMarkers; ++i)
        round.bytes += marker + '\n';
    if (partialLineSent)
        round.bytes.prepend('\n');
    ++markerRounds;
    return round;
}

void SessionResync::markersWritten(bool whole, quint64 bytesWritten, qint64 nowMs)
{
    noteWrite(whole, bytesWritten);
    if (bytesWritten > 0) {
        markersSent = true;
        identityOwed += roundMarkers;
    }
    if (!whole)
        ++lostExchanges;
    // The round's budget, and once it has read an identity line while more are owed, the
    // grace for those that are still to come.
    roundStart = nowMs;
    roundDeadline = nowMs + replyTimeoutMs;
    roundAnswered = false;
}

SessionResync::RoundStep SessionResync::markerLine(const QByteArray &whole, qint64 nowMs)
{
    const QByteArray line = whole.trimmed();
    ++discardedReplies;
    if (identity.isEmpty()) {
        const bool repeated =
            !line.isEmpty() && !unidentifiedLines.isEmpty() && line == unidentifiedLines.last();
        if (!repeated) {
            if (unidentifiedLines.size() >= UnidentifiedLineLimit)
                unidentifiedLines.removeFirst();
            unidentifiedLines.append(line);
            return {Round::ReadOn, QStringList()};
        }
        identity = line;
        identityOwed -= static_cast<int>(unidentifiedLines.count(identity)) + 1;
        unidentifiedLines.clear();
    } else if (line == identity) {
        --identityOwed;
    } else {
        return {Round::ReadOn, QStringList()};
    }
    if (identityOwed > 0) {
        roundAnswered = true;
        roundDeadline = qMin(roundStart + replyTimeoutMs, nowMs + OwedGraceMs);
        return {Round::ReadOn, QStringList()};
    }
    return backInStep(nowMs);
}

SessionResync::RoundStep SessionResync::markerReadFailed(bool timedOut, const QByteArray &partLine,
                                                         qint64 nowMs)
{
    // A part of a line still arriving may end later, so only silence writes off.
    if (roundAnswered && timedOut && partLine.isEmpty()) {
        const QString writeOff = QStringLiteral("会话重新同步：%1 仪器已重新应答，%2 条"
                                                "标识应答未在 %3 ms 内到达，视为丢失")
                                     .arg(resource)
                                     .arg(identityOwed)
                                     .arg(OwedGraceMs);
        lateIdentities += identityOwed;
        lateSinceMs = nowMs;
        RoundStep inStep = backInStep(nowMs);
        inStep.log.prepend(writeOff);
        return inStep;
    }
    // Whatever part of a line was read is gone; it cannot pair with the next one.
    if (!partLine.isEmpty() && !unidentifiedLines.isEmpty())
        unidentifiedLines.append(QByteArray());
    ++lostExchanges;
    return {Round::Failed,
            QStringList{QStringLiteral("会话重新同步：%1 第 %2 轮标记查询 %3 在 %4 ms "
                                       "内未得到应答，已丢弃 %5 条响应，%6 次交换失败")
                            .arg(resource)
                            .arg(markerRounds)
                            .arg(QString::fromLatin1(marker))
                            .arg(replyTimeoutMs)
                            .arg(discardedReplies)
                            .arg(lostExchanges)}};
}

QString SessionResync::roundFailure(const QString &statusText) const
{
    return QStringLiteral("会话失步，标记查询 %1 在 %2 ms 内未得到应答 (%3)")
        .arg(QString::fromLatin1(marker))
        .arg(replyTimeoutMs)
        .arg(statusText);
}

SessionResync::RoundStep SessionResync::backInStep(qint64 nowMs)
{
    identityOwed = 0;
    outOfStepNow = false;
    return {Round::InStep,
            QStringList{QStringLiteral("会话重新同步：%1 已恢复同步，用时 %2 ms，%3 轮标记"
                                       "查询，丢弃 %4 条响应，%5 次交换失败")
                            .arg(resource)
                            .arg(nowMs - outOfStepSinceMs)
                            .arg(markerRounds)
                            .arg(discardedReplies)
                            .arg(lostExchanges)}};
}
