#include "benchsimulator.h"

#include <QElapsedTimer>

bool BenchSimulator::start(const QString &binDir, const QStringList &extraArgs)
{
    process.start(binDir + QStringLiteral("/instrument-sim"),
                  QStringList{QStringLiteral("--measure-port"), QStringLiteral("auto"),
                              QStringLiteral("--switch-port"), QStringLiteral("auto")} +
                      extraArgs);
    if (!process.waitForStarted(5000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (!process.canReadLine() && !process.waitForReadyRead(200))
            continue;
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        if (line.startsWith(QLatin1String("measure ")))
            measure = line.mid(8);
        else if (line.startsWith(QLatin1String("switch ")))
            switchFrame = line.mid(7);
        else if (line == QLatin1String("ready"))
            return true;
    }
    return false;
}

bool BenchSimulator::control(const QByteArray &line)
{
    process.setReadChannel(QProcess::StandardError);
    process.readAll();
    process.write(line + '\n');
    QElapsedTimer timer;
    timer.start();
    QByteArray seen;
    while (timer.elapsed() < 5000) {
        process.waitForReadyRead(100);
        seen += process.readAll();
        if (seen.contains("control: ok"))
            return true;
    }
    return false;
}

BenchSimulator::~BenchSimulator()
{
    process.terminate();
    process.waitForFinished(3000);
}
