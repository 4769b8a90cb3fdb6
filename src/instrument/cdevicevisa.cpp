#include "cdevicevisa.h"

#include <QByteArray>
#include <vector>

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
    viSetAttribute(instrument, VI_ATTR_TMO_VALUE, 5000);
    viSetAttribute(instrument, VI_ATTR_TERMCHAR, 10);
    viSetAttribute(instrument, VI_ATTR_TERMCHAR_EN, VI_TRUE);

    staleInputPossible = false;
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
}

QString CDeviceVisa::sendCommand(const QString &command)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (!connected || instrument == 0) {
        fail(QStringLiteral("仪器未连接"));
        return QString();
    }

    const bool isQuery = command.contains(QLatin1Char('?'));
    if (isQuery && staleInputPossible)
        discardStaleInput();

    QByteArray bytes = command.toUtf8();
    bytes.append('\n');
    ViUInt32 written = 0;
    ViStatus status = viWrite(instrument, reinterpret_cast<ViConstBuf>(bytes.constData()),
                              static_cast<ViUInt32>(bytes.size()), &written);
    if (status != VI_SUCCESS) {
        fail(QStringLiteral("发送命令失败: %1").arg(statusText(instrument, status, true)), status);
        return QString();
    }

    if (!isQuery) {
        emit commandCompleted(command, QString());
        return QString();
    }

    std::vector<char> buffer(ReplyCapacity + 1, '\0');
    ViUInt32 count = 0;
    status = viRead(instrument, reinterpret_cast<ViPBuf>(buffer.data()), ReplyCapacity, &count);
    if (status != VI_SUCCESS && status != VI_SUCCESS_TERM_CHAR) {
        staleInputPossible = true;
        fail(QStringLiteral("读取响应失败: %1").arg(statusText(instrument, status, true)), status);
        return QString();
    }
    buffer[qMin<ViUInt32>(count, ReplyCapacity)] = '\0';
    const QString reply = QString::fromUtf8(buffer.data()).trimmed();
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

// Reads and drops whatever is already waiting, without waiting for more, so that the tail of
// an overlong reply or a reply that arrived after its query timed out is not returned as the
// answer to the next query.
void CDeviceVisa::discardStaleInput()
{
    viSetAttribute(instrument, VI_ATTR_TMO_VALUE, VI_TMO_IMMEDIATE);
    std::vector<char> scratch(4096);
    for (int i = 0; i < 1024; ++i) {
        ViUInt32 count = 0;
        const ViStatus status = viRead(instrument, reinterpret_cast<ViPBuf>(scratch.data()),
                                       static_cast<ViUInt32>(scratch.size()), &count);
        if (status < VI_SUCCESS || count == 0)
            break;
    }
    viSetAttribute(instrument, VI_ATTR_TMO_VALUE, 5000);
    staleInputPossible = false;
}
