// instrument-sim: a SCPI multimeter and a switch main frame in one process, for tests and for
// trying the data logger without instruments. Run with --help for the options.
#include "controlchannel.h"
#include "instrumentendpoint.h"
#include "rigstate.h"
#include "scpiresponder.h"
#include "simoptions.h"
#include "terminationwatch.h"
#include "transcript.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

int startFailure(const QString &why)
{
    std::fprintf(stderr, "instrument-sim: %s\n", qPrintable(why));
    return 1;
}

quint16 listenPort(int port)
{
    return port == SimOptions::kAutoPort ? 0 : static_cast<quint16>(port);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    SimOptions options;
    QString why;
    switch (parseSimOptions(args, &options, &why)) {
    case SimCommandLine::Help:
        std::fputs(qPrintable(simUsage()), stdout);
        return 0;
    case SimCommandLine::Error:
        std::fprintf(stderr, "instrument-sim: %s\nTry 'instrument-sim --help'.\n", qPrintable(why));
        return 2;
    case SimCommandLine::Run:
        break;
    }

    QCoreApplication app(argc, argv);
    // A client that goes away while we write must not kill the simulator.
    std::signal(SIGPIPE, SIG_IGN);

    RigState rig;
    rig.seed = options.seed;
    rig.fittedSlots = options.fittedSlots;
    rig.frozenClock = options.frozenClock;
    rig.started.start();

    Transcript transcript;
    if (!transcript.open(options.transcriptPath, &why))
        return startFailure(why);

    ScpiResponder measureResponder(SimRole::Measure,
                                   {options.maker.toLatin1(), options.measureModel.toLatin1(),
                                    options.measureSerial.toLatin1(), options.version.toLatin1()},
                                   &rig);
    ScpiResponder switchResponder(SimRole::Switch,
                                  {options.maker.toLatin1(), options.model.toLatin1(),
                                   options.serial.toLatin1(), options.version.toLatin1()},
                                  &rig);

    QList<InstrumentEndpoint *> endpoints;
    auto serve = [&](SimRole role, ScpiResponder *responder, bool pty, int port) {
        auto *endpoint = new InstrumentEndpoint(role, responder, &transcript, options.seed, &app);
        const bool ok = pty ? endpoint->openPty(&why)
                            : endpoint->listenTcp(options.bind, listenPort(port), &why);
        if (ok)
            endpoints.append(endpoint);
        return ok;
    };
    if (options.servesMeasure() &&
        !serve(SimRole::Measure, &measureResponder, options.measurePty, options.measurePort))
        return startFailure(why);
    if (options.servesSwitch() &&
        !serve(SimRole::Switch, &switchResponder, options.switchPty, options.switchPort))
        return startFailure(why);

    ControlChannel control(endpoints, &rig);
    if (options.controlPort != 0 && !control.listen(listenPort(options.controlPort), &why))
        return startFailure(why);

    TerminationWatch termination;
    if (!termination.install())
        return startFailure(QStringLiteral("cannot watch for termination signals"));
    QObject::connect(&termination, &TerminationWatch::terminationRequested, &app,
                     &QCoreApplication::quit);

    for (InstrumentEndpoint *endpoint : qAsConst(endpoints)) {
        std::printf("%s %s\n", roleName(endpoint->role()).constData(),
                    qPrintable(endpoint->resource()));
    }
    if (options.controlPort == SimOptions::kAutoPort)
        std::printf("control %u\n", control.port());
    std::printf("ready\n");
    std::fflush(stdout);

    control.watchStandardInput();
    const int status = app.exec();
    // Endpoints hold links whose sockets must go before the application object does.
    qDeleteAll(endpoints);
    return status;
}
