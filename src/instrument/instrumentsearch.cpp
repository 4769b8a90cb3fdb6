#include "instrumentsearch.h"

#include "rig.h"

#include <QByteArray>
#include <QDebug>

bool isSupportedMainFrame(const QString &identification)
{
    return identification.contains(QLatin1String("VSK3307"), Qt::CaseInsensitive) ||
           identification.contains(QLatin1String("TRX6200M"), Qt::CaseInsensitive);
}

bool probeResource(ViSession resourceManager, const QString &resourceName)
{
    const QByteArray name = resourceName.toUtf8();
    ViSession session = 0;
    // Warnings count as success here: the probe only needs a session that answers.
    if (viOpen(resourceManager, name.constData(), VI_NO_LOCK, 0, &session) < VI_SUCCESS)
        return false;

    viSetAttribute(session, VI_ATTR_TMO_VALUE, 3000);
    if (resourceName.startsWith(QLatin1String("TCPIP"), Qt::CaseInsensitive)) {
        viSetAttribute(session, VI_ATTR_TERMCHAR, 10);
        viSetAttribute(session, VI_ATTR_TERMCHAR_EN, VI_TRUE);
    } else if (resourceName.startsWith(QLatin1String("ASRL"), Qt::CaseInsensitive)) {
        viSetAttribute(session, VI_ATTR_ASRL_BAUD, 115200);
        viSetAttribute(session, VI_ATTR_ASRL_DATA_BITS, 8);
        viSetAttribute(session, VI_ATTR_ASRL_PARITY, VI_ASRL_PAR_NONE);
        viSetAttribute(session, VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_ONE);
    }

    // The width keeps an overlong identification reply inside the buffer.
    char reply[256] = {};
    const ViStatus status =
        viQueryf(session, (QByteArray(Rig::IdentifyQuery) + "\n").constData(), "%255t", reply);
    viClose(session);
    if (status < VI_SUCCESS)
        return false;

    reply[sizeof reply - 1] = '\0';
    return isSupportedMainFrame(QString::fromUtf8(reply).trimmed());
}

QStringList findSupportedInstruments()
{
    QStringList found;
    ViSession resourceManager = 0;
    const ViStatus opened = viOpenDefaultRM(&resourceManager);
    if (opened < VI_SUCCESS) {
        qDebug().noquote() << QStringLiteral("无法打开VISA资源管理器: ") + QString::number(opened);
        return found;
    }

    for (const char *expression : {"USB?*INSTR", "TCPIP?*SOCKET", "ASRL?*INSTR"}) {
        ViFindList list = 0;
        ViUInt32 count = 0;
        char desc[VI_FIND_BUFLEN] = {};
        if (viFindRsrc(resourceManager, expression, &list, &count, desc) < VI_SUCCESS)
            continue;
        for (ViUInt32 i = 0; i < count; ++i) {
            if (i > 0 && viFindNext(list, desc) < VI_SUCCESS)
                break;
            desc[VI_FIND_BUFLEN - 1] = '\0';
            const QString name = QString::fromUtf8(desc);
            if (probeResource(resourceManager, name))
                found.append(name);
        }
        viClose(list);
    }

    viClose(resourceManager);
    return found;
}
