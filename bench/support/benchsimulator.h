// The bundled simulator for one benchmark: started on free loopback ports, its resources read
// from what it prints, stopped when the object goes.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

struct BenchSimulator
{
    QProcess process;
    QString measure;
    QString switchFrame;

    // binDir holds instrument-sim; extraArgs follow the automatic ports. Waits up to 10 s.
    bool start(const QString &binDir, const QStringList &extraArgs = {});
    // Sends a control line and waits for its acknowledgement on standard error.
    bool control(const QByteArray &line);
    ~BenchSimulator();
};
