// Command line of instrument-sim: what to serve, how the instruments identify themselves, the
// seed of the signals and where the transcript goes.
#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QVector>

struct SimOptions
{
    static constexpr int kAutoPort = -1; // bind a free ephemeral port

    int measurePort = 5025; // 0: not served over TCP
    int switchPort = 5026;
    bool measurePty = false; // serve on a pseudo-terminal instead of TCP
    bool switchPty = false;
    QString maker = QStringLiteral("DATALOGGER-SIM");
    QString model = QStringLiteral("VSK3307");
    QString serial = QStringLiteral("SIM0001");
    QString version = QStringLiteral("1.0");
    QString measureModel = QStringLiteral("DMM-SIM");
    QString measureSerial = QStringLiteral("DMM0001");
    QVector<int> fittedSlots{1, 3};
    quint64 seed = 1;
    bool frozenClock = false;
    QString transcriptPath;
    QHostAddress bind{QHostAddress::LocalHost};
    int controlPort = 0; // 0: no control port

    bool servesMeasure() const { return measurePty || measurePort != 0; }
    bool servesSwitch() const { return switchPty || switchPort != 0; }
};

enum class SimCommandLine
{
    Run,
    Help,
    Error
};

// Fills options from the arguments (program name excluded); on Error, why says what is wrong.
SimCommandLine parseSimOptions(const QStringList &args, SimOptions *options, QString *why);

QString simUsage();
