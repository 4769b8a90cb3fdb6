// The host against the real logger and against children that misbehave, on a private Xvfb:
// the announced window must end up inside the host's window in the X server's own tree.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>

#include "hostwindow.h"
#include "simulatedinstruments.h"
#include "xvfbserver.h"

namespace {

// The X server's view of a window: its parent and size, read with xwininfo.
struct XWindowInfo
{
    quint64 parent = 0;
    bool parentIsRoot = false;
    QSize size;
    bool ok = false;
};

XWindowInfo queryWindow(quint64 id)
{
    XWindowInfo info;
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"),
                   {QStringLiteral("-children"), QStringLiteral("-id"), QString::number(id)});
    if (!xwininfo.waitForFinished(10000) || xwininfo.exitCode() != 0)
        return info;
    const QString text = QString::fromLocal8Bit(xwininfo.readAllStandardOutput());
    const QRegularExpressionMatch parent =
        QRegularExpression(QStringLiteral("Parent window id: (0x[0-9a-fA-F]+)( \\(the root)?"))
            .match(text);
    if (!parent.hasMatch())
        return info;
    info.parent = parent.captured(1).toULongLong(nullptr, 16);
    info.parentIsRoot = !parent.captured(2).isEmpty();
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(id)});
    if (!xwininfo.waitForFinished(10000))
        return info;
    const QString geometry = QString::fromLocal8Bit(xwininfo.readAllStandardOutput());
    const auto width = QRegularExpression(QStringLiteral("Width: (\\d+)")).match(geometry);
    const auto height = QRegularExpression(QStringLiteral("Height: (\\d+)")).match(geometry);
    info.size = QSize(width.captured(1).toInt(), height.captured(1).toInt());
    info.ok = true;
    return info;
}

// Every ancestor of the window up to (not including) the root.
QList<quint64> ancestors(quint64 id)
{
    QList<quint64> chain;
    for (int depth = 0; depth < 16; ++depth) {
        const XWindowInfo info = queryWindow(id);
        if (!info.ok || info.parentIsRoot || info.parent == 0)
            break;
        chain.append(info.parent);
        id = info.parent;
    }
    return chain;
}

QString hexList(const QList<quint64> &ids)
{
    QStringList parts;
    for (quint64 id : ids)
        parts.append(QStringLiteral("0x%1").arg(id, 0, 16));
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestDataloggerHost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void embedsTalksAndEndsTheLogger();
    void loggerKilledWhileEmbedded();
    void misbehavingChildren_data();
    void misbehavingChildren();
    void hostProgram_data();
    void hostProgram();
    void launcherEndsOnSignal();
    void helpWithoutADisplay();

private:
    QString writeScript(const QString &name, const QString &body);
    bool startEmbedded(HostWindow &window);

    SimulatedInstruments sim;
    QTemporaryDir scripts;
    QString logger;
};

void TestDataloggerHost::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    logger = qEnvironmentVariable("DATALOGGER_BIN_DIR") + QStringLiteral("/datalogger");
    QVERIFY2(QFile::exists(logger), qPrintable(logger));
    QVERIFY(scripts.isValid());
    QVERIFY2(sim.start({QStringLiteral("--serial"), QStringLiteral("HOSTTEST1")}),
             qPrintable(sim.errorString()));
}

void TestDataloggerHost::cleanupTestCase()
{
    sim.stop();
    QCOMPARE(SimulatedInstruments::uncleanExits(), 0);
}

QString TestDataloggerHost::writeScript(const QString &name, const QString &body)
{
    const QString path = scripts.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write("#!/bin/sh\n" + body.toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

bool TestDataloggerHost::startEmbedded(HostWindow &window)
{
    window.logger()->setProgram(logger);
    window.show();
    window.startLogger(sim.measureResource());
    QElapsedTimer timer;
    timer.start();
    while (window.embeddedWindowId() == 0 && timer.elapsed() < 30000 &&
           window.logger()->state() != LoggerProcess::State::Ended)
        QTest::qWait(50);
    return window.embeddedWindowId() != 0;
}

void TestDataloggerHost::embedsTalksAndEndsTheLogger()
{
    HostWindow window;
    QSignalSpy endedSpy(&window, &HostWindow::loggerEnded);
    QVERIFY2(startEmbedded(window), qPrintable(window.logText()));

    // The background announced by the logger surrounds its window.
    QCOMPARE(window.announcedBackground(), QColor(QStringLiteral("#2b2b2b")));
    QCOMPARE(window.embeddingArea()->palette().color(QPalette::Window),
             QColor(QStringLiteral("#2b2b2b")));
    QVERIFY(window.logText().contains(QRegularExpression(
        QStringLiteral("child: WID:%1;COLOR:#2b2b2b").arg(window.embeddedWindowId()))));

    // In the X server the logger's window now lives inside the host's window, at the
    // logger's own size.
    const quint64 hostWindow = window.winId();
    QTRY_VERIFY2_WITH_TIMEOUT(ancestors(window.embeddedWindowId()).contains(hostWindow),
                              qPrintable(QStringLiteral("host 0x%1, ancestors %2")
                                             .arg(hostWindow, 0, 16)
                                             .arg(hexList(ancestors(window.embeddedWindowId())))),
                              10000);
    QTRY_COMPARE_WITH_TIMEOUT(queryWindow(window.embeddedWindowId()).size, HostWindow::loggerSize(),
                              10000);

    // A typed line goes to the logger and its echo comes back; a line with a line break
    // would be two commands and is refused.
    QTest::keyClicks(window.lineEdit(), QStringLiteral("hello host"));
    QTest::keyClick(window.lineEdit(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(
        window.logText().contains(QStringLiteral("child: receive msg: hello host")), 10000);
    QVERIFY(window.lineEdit()->text().isEmpty());
    QVERIFY(!window.logger()->sendLine(QStringLiteral("first\nexit")));
    QCOMPARE(window.logger()->state(), LoggerProcess::State::Running);

    // Closing the host ends the logger with "exit" and waits for it.
    window.close();
    QVERIFY(window.isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(endedSpy.count(), 1, 20000);
    const auto outcome = endedSpy.first().first().value<LoggerOutcome>();
    QVERIFY2(outcome.clean(), qPrintable(outcome.description));
    QVERIFY(outcome.exitRequested);
    QVERIFY(!outcome.forced);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(window.exitCode(), 0);
    QVERIFY(window.logText().contains(QStringLiteral("sent: exit\n")));
    QVERIFY(window.logText().contains(QStringLiteral("child: receive msg: exit\n")));
    QCOMPARE(window.statusText(), QStringLiteral("The logger ended with exit status 0."));
    QTRY_VERIFY(!window.isVisible());
}

void TestDataloggerHost::loggerKilledWhileEmbedded()
{
    HostWindow window;
    QSignalSpy endedSpy(&window, &HostWindow::loggerEnded);
    QVERIFY2(startEmbedded(window), qPrintable(window.logText()));
    const qint64 pid = window.logger()->processId();
    QVERIFY(pid > 0);
    ::kill(pid_t(pid), SIGKILL);

    QTRY_COMPARE_WITH_TIMEOUT(endedSpy.count(), 1, 10000);
    const auto outcome = endedSpy.first().first().value<LoggerOutcome>();
    QVERIFY(outcome.crashed);
    QVERIFY(!outcome.forced);
    QVERIFY(!outcome.exitRequested);
    QVERIFY2(window.statusText().contains(QStringLiteral("crashed")),
             qPrintable(window.statusText()));
    QCOMPARE(window.exitCode(), 1);
    // The host outlives its child, keeps the report on screen and refuses to send.
    QVERIFY(window.isVisible());
    QVERIFY(!window.lineEdit()->isEnabled());
    QVERIFY(!window.logger()->sendLine(QStringLiteral("hello")));
    window.close();
    QVERIFY(!window.isVisible());
}

void TestDataloggerHost::misbehavingChildren_data()
{
    QTest::addColumn<QString>("script");        // empty: a program that does not exist
    QTest::addColumn<int>("announceTimeoutMs"); // 0: no limit
    QTest::addColumn<int>("closeAfterMs");      // -1: the host is not closed
    QTest::addColumn<QStringList>("reported");  // fragments of the final report
    QTest::addColumn<QStringList>("logged");    // fragments of the conversation
    QTest::addColumn<bool>("forced");

    QTest::newRow("exits before announcing")
        << "echo starting up\necho 'no instrument here' >&2\nexit 3\n"
        << 30000 << -1
        << QStringList{"ended with exit status 3 before announcing its window",
                       "Its last message: no instrument here"}
        << QStringList{"child: starting up"} << false;
    QTest::newRow("garbage, never announces")
        << "printf 'x\\001\\377y\\r\\n'\necho 'WID:xyz;COLOR:#2b2b2b'\n"
           "echo 'WID:12;COLOR:red'\nexec sleep 60\n"
        << 1500 << -1
        << QStringList{"before announcing its window", "no window announcement within 1.5 s"}
        << QStringList{"problem: Malformed window announcement ignored: WID:xyz;COLOR:#2b2b2b",
                       "problem: Malformed window announcement ignored: WID:12;COLOR:red"}
        << true;
    QTest::newRow("endless line") << "head -c 70000 /dev/zero | tr '\\0' 'x'\nexec sleep 60\n"
                                  << 1500 << -1
                                  << QStringList{"no window announcement within 1.5 s"}
                                  << QStringList{} << true;
    QTest::newRow("ignores exit") << "exec sleep 60\n"
                                  << 0 << 300 << QStringList{"did not end within 1.5 s after exit"}
                                  << QStringList{"sent: exit"} << true;
    QTest::newRow("missing program")
        << QString() << 30000 << -1 << QStringList{"Could not start the logger"} << QStringList{}
        << false;
}

void TestDataloggerHost::misbehavingChildren()
{
    QFETCH(QString, script);
    QFETCH(int, announceTimeoutMs);
    QFETCH(int, closeAfterMs);
    QFETCH(QStringList, reported);
    QFETCH(QStringList, logged);
    QFETCH(bool, forced);

    const QString program =
        script.isEmpty()
            ? scripts.filePath(QStringLiteral("no-such-logger"))
            : writeScript(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'), script);
    QVERIFY(!program.isEmpty());

    HostWindow window;
    window.logger()->setProgram(program);
    window.logger()->setAnnounceTimeout(announceTimeoutMs);
    window.logger()->setExitTimeout(1500);
    QSignalSpy endedSpy(&window, &HostWindow::loggerEnded);
    QSignalSpy lineSpy(window.logger(), &LoggerProcess::lineReceived);
    window.show();
    QElapsedTimer timer;
    timer.start();
    window.startLogger(sim.measureResource());
    if (closeAfterMs >= 0) {
        QTest::qWait(closeAfterMs);
        window.close();
    }
    // Reported within the timeouts (plus the grace before SIGKILL), not waited for forever.
    QTRY_COMPARE_WITH_TIMEOUT(endedSpy.count(), 1, 10000);
    QVERIFY(timer.elapsed() < 8000);
    const auto outcome = endedSpy.first().first().value<LoggerOutcome>();
    QCOMPARE(outcome.forced, forced);
    QVERIFY(!outcome.clean());
    QCOMPARE(window.exitCode(), 1);
    QCOMPARE(window.embeddedWindowId(), quint64(0));
    for (const QString &fragment : reported) {
        QVERIFY2(outcome.description.contains(fragment), qPrintable(outcome.description));
        QVERIFY2(window.statusText().contains(fragment), qPrintable(window.statusText()));
    }
    for (const QString &fragment : logged)
        QVERIFY2(window.logText().contains(fragment), qPrintable(window.logText()));
    // No line handed on is ever longer than the cut-off for unterminated output.
    for (const QList<QVariant> &arguments : qAsConst(lineSpy))
        QVERIFY(arguments.first().toString().size() <= 64 * 1024);
    if (QByteArray(QTest::currentDataTag()) == "endless line") {
        int received = 0;
        for (const QList<QVariant> &arguments : qAsConst(lineSpy))
            received += arguments.first().toString().size();
        QCOMPARE(received, 70000);
    }
    // Closed by the user: the window goes once the child is gone.
    if (closeAfterMs >= 0)
        QTRY_VERIFY(!window.isVisible());
    else
        QVERIFY(window.isVisible());
}

void TestDataloggerHost::hostProgram_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("withResource");
    QTest::addColumn<bool>("waitForEmbedding");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastLine");

    QTest::newRow("SIGTERM ends the logger politely")
        << QStringList{} << true << true << 0 << "ended: The logger ended with exit status 0.";
    QTest::newRow("logger that cannot start")
        << QStringList{"--logger", "/nonexistent/datalogger"} << true << false << 1
        << "ended: Could not start the logger /nonexistent/datalogger";
    QTest::newRow("two resources")
        << QStringList{"TCPIP0::127.0.0.1::1::SOCKET"} << true << false << 2 << "";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << true << false << 2 << "";
    QTest::newRow("bad timeout") << QStringList{"--announce-timeout", "soon"} << true << false << 2
                                 << "";
}

void TestDataloggerHost::hostProgram()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, withResource);
    QFETCH(bool, waitForEmbedding);
    QFETCH(int, exitCode);
    QFETCH(QString, lastLine);

    const QString host = qEnvironmentVariable("DATALOGGER_BIN_DIR") + "/datalogger-host";
    QVERIFY2(QFile::exists(host), qPrintable(host));
    if (withResource)
        arguments.append(sim.measureResource());
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(host, arguments);
    QVERIFY(process.waitForStarted(5000));
    QByteArray output;
    const QByteArray awaited = waitForEmbedding ? "\nembedded: " : "\nended: ";
    QElapsedTimer timer;
    timer.start();
    while (exitCode != 2 && !output.contains(awaited) && timer.elapsed() < 30000 &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        output += process.readAllStandardOutput();
    }
    if (exitCode != 2) {
        QVERIFY2(output.contains(awaited), output.constData());
        ::kill(pid_t(process.processId()), SIGTERM);
    }
    QVERIFY(process.waitForFinished(30000));
    output += process.readAllStandardOutput();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    if (!lastLine.isEmpty()) {
        const QList<QByteArray> lines = output.trimmed().split('\n');
        QVERIFY2(lines.last().startsWith(lastLine.toUtf8()), output.constData());
    }
    if (waitForEmbedding) {
        QVERIFY(output.contains("\nsent: exit\nchild: receive msg: exit\n"));
        QVERIFY(
            QRegularExpression(QStringLiteral("child: WID:(\\d+);COLOR:#2b2b2b\\nembedded: \\1\\n"))
                .match(QString::fromUtf8(output))
                .hasMatch());
    }
}

// Without a resource the host asks for one; a signal then is a cancel: status 0, no logger.
void TestDataloggerHost::launcherEndsOnSignal()
{
    const QString listPath = scripts.filePath(QStringLiteral("resources"));
    QFile list(listPath);
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write(sim.measureResource().toUtf8() + '\n');
    list.close();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VISA_RESOURCE_LIST"), listPath);
    environment.insert(QStringLiteral("VISA_NO_VENDOR"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(qEnvironmentVariable("DATALOGGER_BIN_DIR") + "/datalogger-host", QStringList());
    QVERIFY(process.waitForStarted(5000));
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    while (!output.contains('\n') && timer.elapsed() < 30000 &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        output += process.readAllStandardOutput();
    }
    // The simulator's listed socket at least; the machine's serial ports may add more.
    QVERIFY2(
        QRegularExpression(QStringLiteral("^host: choose a resource \\([1-9]\\d* found\\)\\n$"))
            .match(QString::fromUtf8(output))
            .hasMatch(),
        output.constData());
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(30000));
    output += process.readAllStandardOutput();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(output.endsWith("host: no resource chosen\n"), output.constData());
    QVERIFY2(!output.contains("starting"), output.constData());
}

void TestDataloggerHost::helpWithoutADisplay()
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.start(qEnvironmentVariable("DATALOGGER_BIN_DIR") + "/datalogger-host",
                  {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(20000));
    const QByteArray output = process.readAllStandardOutput();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    QVERIFY2(output.contains("Usage:") && output.contains("--exit-timeout"), output.constData());
}

int main(int argc, char *argv[])
{
    // Embedding by native handle needs a real X server; this process brings its own.
    XvfbServer xvfb;
    if (!xvfb.start()) {
        std::fprintf(stderr, "FAIL: %s\n", qPrintable(xvfb.errorString()));
        return 1;
    }
    qputenv("DISPLAY", xvfb.display());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    int result = 0;
    {
        QApplication app(argc, argv);
        TestDataloggerHost test;
        QTEST_SET_MAIN_SOURCE_PATH
        result = QTest::qExec(&test, argc, argv);
    }
    xvfb.stop();
    return result;
}

#include "tst_datalogger_host.moc"
