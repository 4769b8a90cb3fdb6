// datalogger-host: a small host application for the data logger. It starts the logger with a
// VISA resource (asked for in a dialog when none is given), embeds the logger's window and
// talks to it over the line protocol.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <cstdio>

#include "hostlook.h"
#include "hostwindow.h"
#include "resourcedialog.h"
#include "terminationsignals.h"

namespace {

bool positiveSeconds(const QString &text, int *ms)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || value < 0 || value > 24 * 3600)
        return false;
    *ms = int(value * 1000);
    return true;
}

// The logger as given on the command line. A relative path stays relative (the host never
// changes its working directory), so the conversation shows the path the user typed and no
// folder of the machine; a bare name means the file in the working directory, not a PATH search.
QString loggerProgram(const QString &given)
{
    const QString path = QDir::cleanPath(given);
    if (QDir::isRelativePath(path) && !path.contains(QLatin1Char('/')))
        return QStringLiteral("./") + path;
    return path;
}

// -h, --help, -? or --help-all before a "--".
bool asksForHelp(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--")
            break;
        if (argument == "-h" || argument == "--help" || argument == "-?" ||
            argument == "--help-all")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // Windows of other processes can only be adopted by handle under X11 (XWayland included).
    // The usage needs no display: asked for it, the host starts without one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", asksForHelp(argc, argv) ? "offscreen" : "xcb");
    QApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("datalogger-host"));
    applyHostLook(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Starts the data logger as a child process with the measuring "
                       "instrument's VISA resource, embeds its window and shows what it "
                       "prints. Closing the window (or SIGINT/SIGTERM) sends \"exit\" and waits "
                       "for the logger to end.\n"
                       "Without a resource it lists the VISA resources found in a dialog, where "
                       "one can also be typed; Cancel ends the host with exit status 0.\n"
                       "Standard output carries the conversation, one line each: "
                       "\"child: <line>\", \"sent: <line>\", \"embedded: <window id>\", "
                       "\"problem: <text>\", \"ended: <text>\", \"host: <text>\".\n"
                       "Exit status: 0 when the logger ended with status 0, 1 otherwise, "
                       "2 for bad arguments."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("resource"),
                                 QStringLiteral("VISA resource of the measuring instrument, "
                                                "e.g. TCPIP0::192.168.1.20::5025::SOCKET "
                                                "(asked for when left out)"),
                                 QStringLiteral("[resource]"));
    const QCommandLineOption loggerOption(
        QStringLiteral("logger"),
        QStringLiteral("The logger program (default: datalogger beside this program); a "
                       "relative path is taken from the working directory."),
        QStringLiteral("path"));
    const QCommandLineOption announceOption(
        QStringLiteral("announce-timeout"),
        QStringLiteral("Seconds the logger may take to announce its window; 0 waits without "
                       "limit (default 30)."),
        QStringLiteral("seconds"), QStringLiteral("30"));
    const QCommandLineOption exitOption(
        QStringLiteral("exit-timeout"),
        QStringLiteral("Seconds the logger may take to end after \"exit\" before it is "
                       "terminated (default 15)."),
        QStringLiteral("seconds"), QStringLiteral("15"));
    parser.addOption(loggerOption);
    parser.addOption(announceOption);
    parser.addOption(exitOption);
    // Unknown options are bad arguments like any other (status 2), not Qt's generic failure.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "datalogger-host: %s\n\n%s", qPrintable(parser.errorText()),
                     qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(helpOption))
        parser.showHelp(0);

    const QStringList positional = parser.positionalArguments();
    int announceMs = 0;
    int exitMs = 0;
    if (positional.size() > 1 || !positiveSeconds(parser.value(announceOption), &announceMs) ||
        !positiveSeconds(parser.value(exitOption), &exitMs) || exitMs == 0) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }
    const QString logger =
        parser.isSet(loggerOption)
            ? loggerProgram(parser.value(loggerOption))
            : QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("datalogger"));

    TerminationSignals termination;
    QString resource = positional.value(0);
    if (resource.isEmpty()) {
        const QStringList found = findVisaResources();
        ResourceDialog dialog(found);
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &dialog,
                         &ResourceDialog::reject);
        std::printf("host: choose a resource (%lld found)\n", static_cast<long long>(found.size()));
        std::fflush(stdout);
        if (dialog.exec() != QDialog::Accepted) {
            std::printf("host: no resource chosen\n");
            return 0;
        }
        resource = dialog.resource();
    }

    HostWindow window;
    window.logger()->setProgram(logger);
    window.logger()->setAnnounceTimeout(announceMs);
    window.logger()->setExitTimeout(exitMs);
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window,
                     &HostWindow::requestClose);

    window.show();
    window.startLogger(resource);
    app.exec();
    return window.exitCode();
}
