// Runs the instrument simulator (instrument-sim) for one test: starts it on free loopback
// ports, reports the VISA resources it serves, injects faults and reads its transcript.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

class SimulatedInstruments
{
public:
    SimulatedInstruments();
    ~SimulatedInstruments();
    SimulatedInstruments(const SimulatedInstruments &) = delete;
    SimulatedInstruments &operator=(const SimulatedInstruments &) = delete;

    // Starts the simulator with "--measure-port auto --switch-port auto --transcript <file>";
    // an option given in extraArgs replaces its default. Waits up to 10 s for "ready".
    bool start(const QStringList &extraArgs = {});
    // SIGTERM, then kill if it has not ended after 5 s. The destructor calls it.
    void stop();
    bool isRunning() const;
    // How many simulators of this process did not end with exit code 0 after stop(): a
    // crash, a hang, or a sanitizer report in the simulator. A suite checks it at its end.
    static int uncleanExits();

    QString measureResource() const { return measure; }
    QString switchResource() const { return switchFrame; }
    // 0 when the instrument is not served over TCP.
    quint16 measurePort() const { return portOf(measure); }
    quint16 switchPort() const { return portOf(switchFrame); }
    // The control port when "--control-port auto" was passed, else 0.
    quint16 controlPort() const { return control_; }

    // Sends one control line ("fault measure silent", "clear all", ...) on standard input and
    // waits up to 5 s for the simulator to acknowledge it; false when refused or unanswered.
    bool control(const QString &line);

    QString transcriptPath() const { return transcriptFile; }
    // The transcript's lines as written so far.
    QStringList transcript() const;

    // Why start() or control() failed, and what the simulator wrote on standard error.
    QString errorString() const { return error; }
    QString diagnostics() const;
    // Anything the simulator printed on standard output after "ready" (it should be nothing).
    QByteArray outputAfterReady() const;

    // Makes the simulated switch main frame the only resource the VISA search finds: a resource
    // list naming it, and empty stand-ins for /dev and /sys, all made in dir. False on failure.
    bool makeOnlySearchResult(const QString &dir) const;

    // The device path of a serial resource: ASRL/dev/pts/7::INSTR gives /dev/pts/7.
    static QString serialDevice(const QString &resource);
    static QString simulatorPath();

private:
    static quint16 portOf(const QString &resource);
    void collectDiagnostics() const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QProcess> process;
    QString measure;
    QString switchFrame;
    quint16 control_ = 0;
    QString transcriptFile;
    QString error;
    mutable QByteArray stderrLog;
    mutable QByteArray stdoutLog;
    mutable int ackScanPos = 0;
    mutable QList<QByteArray> acks;
    int abandonedAcks = 0;
};
