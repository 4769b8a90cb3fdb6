#include "cdevicevisa.h"

#include "rig.h"

#include <QByteArray>
#include <QtGlobal>
#include <vector>

namespace {

constexpr ViUInt32 kSessionTimeoutMs = 5000;
// Most a marker round reads before it gives up for this query: an instrument streaming
// without end must not hold the session.
constexpr qint64 kMarkerRoundByteLimit = 1024 * 1024;
// Identity lines still owed after this long out of step are taken as lost: the instrument
// dropped those replies. A reply later than this cannot be told from one dropped.
constexpr qint64 kWriteOffMs = 60000;
// Once a marker round has read an identity line the instrument answers again; identity lines
// still owed that do not follow within this long are taken as lost (markers it swallowed
// while silent). It answers in order, so nothing but identity lines can still be on its way,
// and one that comes after all is skipped before the answer to the next query.
constexpr qint64 kOwedGraceMs = 1000;
// Lines kept while the identity is unknown; an instrument that streams more is not answering
// markers anyway.
constexpr int kUnidentifiedLineLimit = 1024;

bool isIdentityQuery(const QString &command)
{
    return command.trimmed().compare(QLatin1String(Rig::IdentifyQuery), Qt::CaseInsensitive) == 0;
}

} // namespace

CDeviceVisa::CDeviceVisa(QObject *parent)
    : QObject(parent)
{
    const ViStatus status = viOpenDefaultRM(&resourceManager);
    if (status != VI_SUCCESS) {
        resourceManager = 0;
        fail(QStringLiteral("VISA 初始化失败: %1").arg(statusText(VI_NULL, status, false)));
    }
}

CDeviceVisa::~CDeviceVisa()
{
    disconnectDevice();
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (resourceManager != 0) {
        viClose(resourceManager);
        resourceManager = 0;
    }
}

bool CDeviceVisa::connectDevice(const QString &resourceName)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (connected)
        disconnectDevice();

    const QByteArray name = resourceName.toLocal8Bit();
    ViSession session = 0;
    const ViStatus status = viOpen(resourceManager, name.constData(), VI_NO_LOCK, 0, &session);
    if (status != VI_SUCCESS) {
        // A warning status may still have opened a session; it is never used, so close it.
        if (status > VI_SUCCESS && session != 0)
            viClose(session);
        instrument = 0;
        fail(QStringLiteral("连接失败: %1").arg(statusText(VI_NULL, status, false)));
        return false;
    }
    instrument = session;

    if (resourceName.contains(QLatin1String("ASRL"), Qt::CaseInsensitive)) {
        viSetAttribute(instrument, VI_ATTR_ASRL_BAUD, 57600);
        viSetAttribute(instrument, VI_ATTR_ASRL_DATA_BITS, 8);
        viSetAttribute(instrument, VI_ATTR_ASRL_PARITY, VI_ASRL_PAR_NONE);
        viSetAttribute(instrument, VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_ONE);
    }
    viSetAttribute(instrument, VI_ATTR_TMO_VALUE, kSessionTimeoutMs);
    timeoutMs = kSessionTimeoutMs;
    viSetAttribute(instrument, VI_ATTR_TERMCHAR, 10);
    viSetAttribute(instrument, VI_ATTR_TERMCHAR_EN, VI_TRUE);

    // Another instrument: what was known about the old one's replies no longer holds. The same
    // one again keeps being out of step: over a serial line its late replies still arrive, and
    // one marker round on the new connection reads past them.
    if (resourceName != resource) {
        resource = resourceName;
        outOfStep = false;
        partialLineSent = false;
        identity.clear();
        markersSent = false;
    }
    forgetOwedReplies();
    lastFailure = VI_SUCCESS;
    connected = true;
    return true;
}

void CDeviceVisa::disconnectDevice()
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (connected && instrument != 0) {
        viClose(instrument);
        instrument = 0;
        connected = false;
    }
    forgetOwedReplies();
}

QString CDeviceVisa::sendCommand(const QString &command)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (!connected || instrument == 0) {
        fail(QStringLiteral("仪器未连接"));
        return QString();
    }

    const bool isQuery = command.contains(QLatin1Char('?'));
    // A query is only sent once every late reply is known to be consumed; a command expects
    // no reply, so it may go out while the session is out of step.
    if (isQuery && outOfStep && !resynchronise())
        return QString();

    QByteArray bytes = command.toUtf8();
    bytes.append('\n');
    if (partialLineSent)
        bytes.prepend('\n'); // ends whatever part of a line the instrument still holds
    const bool askedIdentity = isIdentityQuery(command);
    ViStatus status = VI_SUCCESS;
    ViUInt32 written = 0;
    if (!writeLine(bytes, &status, &written)) {
        if (askedIdentity && written > 0)
            ++identityOwed; // it may have gone out whole and be answered
        fallOutOfStep();
        fail(QStringLiteral("发送命令失败: %1").arg(statusText(instrument, status, true)), status);
        return QString();
    }

    if (!isQuery) {
        emit commandCompleted(command, QString());
        return QString();
    }

    QElapsedTimer since;
    since.start();
    std::vector<char> buffer(ReplyCapacity + 1, '\0');
    int skipped = 0;
    for (;;) {
        setTimeout(remainingMs(since, kSessionTimeoutMs));
        ViUInt32 count = 0;
        status = viRead(instrument, reinterpret_cast<ViPBuf>(buffer.data()), ReplyCapacity, &count);
        if (status == VI_SUCCESS_MAX_CNT) {
            // Too long to return, but it did arrive: read it to its end so that the session
            // stays in step, within what is left of this query's time.
            QByteArray rest;
            ViStatus restStatus = VI_SUCCESS;
            if (readLine(&rest, since, kSessionTimeoutMs, kMarkerRoundByteLimit, &restStatus) !=
                LineEnd::Complete)
                fallOutOfStep();
        }
        if (status != VI_SUCCESS && status != VI_SUCCESS_TERM_CHAR) {
            if (status != VI_SUCCESS_MAX_CNT) {
                if (askedIdentity)
                    ++identityOwed;
                fallOutOfStep();
            }
            fail(QStringLiteral("读取响应失败: %1").arg(statusText(instrument, status, true)),
                 status);
            return QString();
        }
        buffer[qMin<ViUInt32>(count, ReplyCapacity)] = '\0';
        // An identity line for another query: a marker's answer taken as lost that came
        // after all. Every marker was asked before this query, so it comes before the reply.
        if (markersSent && !askedIdentity && !identity.isEmpty() &&
            QByteArray(buffer.data()).trimmed() == identity) {
            identityOwed = qMax(0, identityOwed - 1);
            ++skipped;
            continue;
        }
        break;
    }
    if (skipped > 0)
        qWarning("%s",
                 qUtf8Printable(QStringLiteral("会话重新同步：%1 跳过 %2 条标记查询的迟到应答")
                                    .arg(resource)
                                    .arg(skipped)));
    const QString reply = QString::fromUtf8(buffer.data()).trimmed();
    if (askedIdentity && !reply.isEmpty())
        identity = reply.toUtf8();
    emit commandCompleted(command, reply);
    return reply;
}

QString CDeviceVisa::lastErrorText() const
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    return lastError;
}

bool CDeviceVisa::isConnected() const
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    return connected;
}

bool CDeviceVisa::connectionLost() const
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    return lastFailure == VI_ERROR_CONN_LOST || lastFailure == VI_ERROR_IO;
}

void CDeviceVisa::fail(const QString &message, ViStatus status)
{
    lastError = message;
    lastFailure = status;
    emit errorOccurred(lastError);
}

QString CDeviceVisa::statusText(ViSession session, ViStatus status, bool utf8) const
{
    char desc[256] = {};
    viStatusDesc(session, status, desc);
    desc[sizeof desc - 1] = '\0';
    return utf8 ? QString::fromUtf8(desc) : QString::fromLocal8Bit(desc);
}

void CDeviceVisa::setTimeout(ViUInt32 ms)
{
    if (ms == timeoutMs)
        return;
    viSetAttribute(instrument, VI_ATTR_TMO_VALUE, ms);
    timeoutMs = ms;
}

ViUInt32 CDeviceVisa::remainingMs(const QElapsedTimer &since, ViUInt32 budgetMs) const
{
    const qint64 left = qint64(budgetMs) - since.elapsed();
    return left > 0 ? ViUInt32(left) : 0;
}

// Reads one whole line (up to the termination character or the end of a message), however
// long, within what is left of budgetMs and at most byteLimit bytes.
CDeviceVisa::LineEnd CDeviceVisa::readLine(QByteArray *line, const QElapsedTimer &since,
                                           ViUInt32 budgetMs, qint64 byteLimit, ViStatus *status)
{
    line->clear();
    std::vector<char> chunk(4096);
    for (;;) {
        const ViUInt32 left = remainingMs(since, budgetMs);
        if (left == 0) {
            *status = VI_ERROR_TMO;
            return LineEnd::Failed;
        }
        setTimeout(left);
        ViUInt32 count = 0;
        *status = viRead(instrument, reinterpret_cast<ViPBuf>(chunk.data()),
                         static_cast<ViUInt32>(chunk.size()), &count);
        line->append(chunk.data(), static_cast<int>(qMin<ViUInt32>(count, chunk.size())));
        if (*status == VI_SUCCESS_MAX_CNT && line->size() <= byteLimit)
            continue;
        return *status == VI_SUCCESS || *status == VI_SUCCESS_TERM_CHAR ? LineEnd::Complete
                                                                        : LineEnd::Failed;
    }
}

bool CDeviceVisa::writeLine(const QByteArray &bytes, ViStatus *status, ViUInt32 *sent)
{
    setTimeout(kSessionTimeoutMs);
    ViUInt32 written = 0;
    *status = viWrite(instrument, reinterpret_cast<ViConstBuf>(bytes.constData()),
                      static_cast<ViUInt32>(bytes.size()), &written);
    if (sent)
        *sent = written;
    if (*status == VI_SUCCESS) {
        partialLineSent = false;
        return true;
    }
    if (written > 0)
        partialLineSent = true;
    return false;
}

// Replies owed belong to a connection: a closed one can no longer deliver them, and waiting
// for them on the next one would hold a session whose instrument answers. Lines read before
// cannot pair with those of the next connection either.
void CDeviceVisa::forgetOwedReplies()
{
    identityOwed = 0;
    unidentifiedLines.clear();
    owedSince.start();
}

// Called when an exchange failed part way: a reply may still be on its way.
void CDeviceVisa::fallOutOfStep()
{
    if (!outOfStep) {
        outOfStep = true;
        outOfStepTimer.start();
        discardedReplies = 0;
        lostExchanges = 0;
        markerRounds = 0;
        owedSince.start();
    }
    ++lostExchanges;
}

// Brings the session back into step before a query. Instruments answer in order, so once the
// answer to a marker query sent now has been read, every reply asked for earlier has been read
// before it. The marker is "*IDN?", whose answer is known once the session has been in step
// for one "*IDN?" query; every identity line owed is counted, so that the round ends at the
// answer to the last marker and not at an earlier one (or at the late reply of a failed
// "*IDN?" query). Until the identity is known two "*IDN?" markers go out together and the
// identity is the first line read twice in a row: the session has not been in step since,
// so the only reply besides marker answers that can still come is the one to the query that
// failed, and two equal lines in a row are the identity whichever they answer. A lone "1" of
// "*OPC?" would not do: a late reply may be "1" as well.
bool CDeviceVisa::resynchronise()
{
    if (identityOwed > 0 && owedSince.elapsed() > kWriteOffMs) {
        owedSince.start();
        qWarning("%s", qUtf8Printable(QStringLiteral("会话重新同步：%1 失步已超过 %2 ms，%3 "
                                                     "条标识应答视为丢失")
                                          .arg(resource)
                                          .arg(kWriteOffMs)
                                          .arg(identityOwed)));
        identityOwed = 0;
    }
    const bool identified = !identity.isEmpty();
    const int markers = identified ? 1 : 2;
    QByteArray bytes = identified
                           ? QByteArray(Rig::IdentifyQuery) + "\n"
                           : QByteArray(Rig::IdentifyQuery) + "\n" + Rig::IdentifyQuery + "\n";
    if (partialLineSent)
        bytes.prepend('\n');
    ++markerRounds;
    ViStatus status = VI_SUCCESS;
    ViUInt32 written = 0;
    const bool sent = writeLine(bytes, &status, &written);
    if (written > 0) {
        markersSent = true;
        identityOwed += markers;
    }
    if (!sent) {
        ++lostExchanges;
        fail(QStringLiteral("发送命令失败: %1").arg(statusText(instrument, status, true)), status);
        return false;
    }

    QElapsedTimer since;
    since.start();
    // Where this round stops reading, from its start: its whole budget, and once it has read
    // an identity line while more are owed, the grace for those that are still to come.
    qint64 roundEndMs = kSessionTimeoutMs;
    bool answered = false;
    for (;;) {
        QByteArray line;
        if (readLine(&line, since, static_cast<ViUInt32>(roundEndMs), kMarkerRoundByteLimit,
                     &status) != LineEnd::Complete) {
            // A part of a line still arriving may end later, so only silence writes off.
            if (answered && status == VI_ERROR_TMO && line.isEmpty()) {
                qWarning("%s",
                         qUtf8Printable(QStringLiteral("会话重新同步：%1 仪器已重新应答，%2 条"
                                                       "标识应答未在 %3 ms 内到达，视为丢失")
                                            .arg(resource)
                                            .arg(identityOwed)
                                            .arg(kOwedGraceMs)));
                backInStep();
                return true;
            }
            // Whatever part of a line was read is gone; it cannot pair with the next one.
            if (!line.isEmpty() && !unidentifiedLines.isEmpty())
                unidentifiedLines.append(QByteArray());
            ++lostExchanges;
            qWarning("%s", qUtf8Printable(
                               QStringLiteral("会话重新同步：%1 第 %2 轮标记查询 *IDN? 在 %3 ms "
                                              "内未得到应答，已丢弃 %4 条响应，%5 次交换失败")
                                   .arg(resource)
                                   .arg(markerRounds)
                                   .arg(kSessionTimeoutMs)
                                   .arg(discardedReplies)
                                   .arg(lostExchanges)));
            fail(QStringLiteral("读取响应失败: %1")
                     .arg(QStringLiteral("会话失步，标记查询 *IDN? 在 %1 ms 内未得到应答 (%2)")
                              .arg(kSessionTimeoutMs)
                              .arg(statusText(instrument, status, true))),
                 status);
            return false;
        }
        line = line.trimmed();
        ++discardedReplies;
        if (identity.isEmpty()) {
            const bool repeated =
                !line.isEmpty() && !unidentifiedLines.isEmpty() && line == unidentifiedLines.last();
            if (!repeated) {
                if (unidentifiedLines.size() >= kUnidentifiedLineLimit)
                    unidentifiedLines.removeFirst();
                unidentifiedLines.append(line);
                continue;
            }
            identity = line;
            identityOwed -= static_cast<int>(unidentifiedLines.count(identity)) + 1;
            unidentifiedLines.clear();
        } else if (line == identity) {
            --identityOwed;
        } else {
            continue;
        }
        if (identityOwed > 0) {
            answered = true;
            roundEndMs = qMin<qint64>(kSessionTimeoutMs, since.elapsed() + kOwedGraceMs);
            continue;
        }
        backInStep();
        return true;
    }
}

void CDeviceVisa::backInStep()
{
    identityOwed = 0;
    outOfStep = false;
    qWarning("%s",
             qUtf8Printable(QStringLiteral("会话重新同步：%1 已恢复同步，用时 %2 ms，%3 轮标记"
                                           "查询，丢弃 %4 条响应，%5 次交换失败")
                                .arg(resource)
                                .arg(outOfStepTimer.elapsed())
                                .arg(markerRounds)
                                .arg(discardedReplies)
                                .arg(lostExchanges)));
}
