#include "cdevicevisa.h"

#include <QtGlobal>
#include <vector>

namespace {

constexpr ViUInt32 kSessionTimeoutMs = 5000;
// Most a marker round reads before it gives up for this query: an instrument streaming
// without end must not hold the session.
constexpr qint64 kMarkerRoundByteLimit = 1024 * 1024;

} // namespace

CDeviceVisa::CDeviceVisa(const QByteArray &identifyQuery, QObject *parent)
    : QObject(parent)
    , resync(identifyQuery, kSessionTimeoutMs)
{
    clock.start();
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

    resync.opened(resourceName, now());
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
    resync.closed(now());
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
    if (isQuery && resync.outOfStep() && !resynchronise())
        return QString();

    ViStatus status = VI_SUCCESS;
    ViUInt32 written = 0;
    const bool sent = writeLine(resync.commandBytes(command), &status, &written);
    resync.commandWritten(command, sent, written, now());
    if (!sent) {
        fail(QStringLiteral("发送命令失败: %1").arg(statusText(instrument, status, true)), status);
        return QString();
    }
    if (!isQuery)
        return QString();

    const qint64 deadline = now() + kSessionTimeoutMs;
    std::vector<char> buffer(ReplyCapacity + 1, '\0');
    for (;;) {
        setTimeout(remainingMs(deadline));
        ViUInt32 count = 0;
        status = viRead(instrument, reinterpret_cast<ViPBuf>(buffer.data()), ReplyCapacity, &count);
        if (status == VI_SUCCESS_MAX_CNT) {
            // Too long to return, but it did arrive: read it to its end so that the session
            // stays in step, within what is left of this query's time.
            QByteArray rest;
            ViStatus restStatus = VI_SUCCESS;
            if (readLine(&rest, deadline, kMarkerRoundByteLimit, &restStatus) != LineEnd::Complete)
                resync.replyCutShort(now());
        }
        if (status != VI_SUCCESS && status != VI_SUCCESS_TERM_CHAR) {
            if (status != VI_SUCCESS_MAX_CNT)
                resync.replyLost(command, now());
            fail(QStringLiteral("读取响应失败: %1").arg(statusText(instrument, status, true)),
                 status);
            return QString();
        }
        buffer[qMin<ViUInt32>(count, ReplyCapacity)] = '\0';
        if (resync.replyLine(command, QByteArray(buffer.data())) == SessionResync::Reply::Answer)
            break;
    }
    const QString reply = QString::fromUtf8(buffer.data()).trimmed();
    const QString skipped = resync.replyTaken(command, reply);
    if (!skipped.isEmpty())
        log({skipped});
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

ViUInt32 CDeviceVisa::remainingMs(qint64 deadlineMs) const
{
    const qint64 left = deadlineMs - now();
    return left > 0 ? ViUInt32(left) : 0;
}

// Reads one whole line (up to the termination character or the end of a message), however
// long, before deadlineMs and at most byteLimit bytes.
CDeviceVisa::LineEnd CDeviceVisa::readLine(QByteArray *line, qint64 deadlineMs, qint64 byteLimit,
                                           ViStatus *status)
{
    line->clear();
    std::vector<char> chunk(4096);
    for (;;) {
        const ViUInt32 left = remainingMs(deadlineMs);
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

bool CDeviceVisa::writeLine(const QByteArray &bytes, ViStatus *status, ViUInt32 *written)
{
    setTimeout(kSessionTimeoutMs);
    *written = 0;
    *status = viWrite(instrument, reinterpret_cast<ViConstBuf>(bytes.constData()),
                      static_cast<ViUInt32>(bytes.size()), written);
    return *status == VI_SUCCESS;
}

// One marker round before a query while out of step (see SessionResync): the markers go out
// and the lines that come are read until the resync finds the session back in step.
bool CDeviceVisa::resynchronise()
{
    const SessionResync::MarkerRound round = resync.beginMarkerRound(now());
    log(round.log);
    ViStatus status = VI_SUCCESS;
    ViUInt32 written = 0;
    const bool sent = writeLine(round.bytes, &status, &written);
    resync.markersWritten(sent, written, now());
    if (!sent) {
        fail(QStringLiteral("发送命令失败: %1").arg(statusText(instrument, status, true)), status);
        return false;
    }

    for (;;) {
        QByteArray line;
        const bool whole = readLine(&line, resync.roundDeadlineMs(), kMarkerRoundByteLimit,
                                    &status) == LineEnd::Complete;
        const SessionResync::RoundStep step =
            whole ? resync.markerLine(line, now())
                  : resync.markerReadFailed(status == VI_ERROR_TMO, line, now());
        log(step.log);
        switch (step.next) {
        case SessionResync::Round::ReadOn:
            continue;
        case SessionResync::Round::InStep:
            return true;
        case SessionResync::Round::Failed:
            fail(QStringLiteral("读取响应失败: %1")
                     .arg(resync.roundFailure(statusText(instrument, status, true))),
                 status);
            return false;
        }
    }
}

void CDeviceVisa::log(const QStringList &lines)
{
    for (const QString &line : lines)
        qWarning("%s", qUtf8Printable(line));
}
