// The README's first command in its headless form, run against this build: the whole system
// (simulator, host, logger under Xvfb, driven with xdotool) must log three scans and export
// them to a CSV whose every reading traces back to its channel.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

class TestDemoHeadless : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void csvHeader();
    void csvRows();
    void screenshotsAndConversation();
    void everyScanClosedTheTickedChannels();
    void dataSetRemoved();

private:
    QTemporaryDir out;
    QString serial;
    QString output;
    QStringList csvLines;
    const QStringList channels{"101", "102", "103", "104", "105", "106",
                               "107", "108", "109", "110", "301", "302"};
};

void TestDemoHeadless::initTestCase()
{
    QVERIFY(out.isValid());
    const QString source = qEnvironmentVariable("DATALOGGER_SOURCE_DIR");
    const QString bin = qEnvironmentVariable("DATALOGGER_BIN_DIR");
    // A serial number of its own keeps the logger's data set apart from a user's demo.
    serial = QStringLiteral("DEMOTEST%1").arg(QCoreApplication::applicationPid());

    QProcess demo;
    demo.setProcessChannelMode(QProcess::MergedChannels);
    demo.start(QStringLiteral("bash"),
               {source + QStringLiteral("/scripts/demo-headless.sh"), QStringLiteral("--bin"), bin,
                QStringLiteral("--out"), out.path(), QStringLiteral("--serial"), serial,
                QStringLiteral("--remove-data")});
    QVERIFY(demo.waitForStarted(5000));
    QVERIFY(demo.waitForFinished(240000));
    output = QString::fromUtf8(demo.readAll());
    QVERIFY2(demo.exitStatus() == QProcess::NormalExit && demo.exitCode() == 0, qPrintable(output));

    const QStringList csvFiles =
        QDir(out.path()).entryList({serial + QStringLiteral("_Trace_1_*.csv")}, QDir::Files);
    QCOMPARE(csvFiles.size(), 1);
    QVERIFY2(output.contains(csvFiles.first()), qPrintable(output));
    QFile csv(out.filePath(csvFiles.first()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray bytes = csv.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.endsWith('\n'));
    csvLines = QString::fromUtf8(bytes.mid(3)).split(QLatin1Char('\n'));
    csvLines.removeLast(); // after the final line feed
}

void TestDemoHeadless::csvHeader()
{
    QCOMPARE(csvLines.size(), 9);
    QVERIFY2(QRegularExpression(QStringLiteral("^地址,TCPIP0::127\\.0\\.0\\.1::\\d+::SOCKET$"))
                 .match(csvLines[0])
                 .hasMatch(),
             qPrintable(csvLines[0]));
    QCOMPARE(csvLines[1], QStringLiteral("型号,VSK3307"));
    QCOMPARE(csvLines[2], QStringLiteral("序列号：,") + serial);
    QVERIFY(csvLines[3].startsWith(QStringLiteral("开始时间,")));
    QVERIFY(csvLines[4].startsWith(QStringLiteral("结束时间,")));
    const QString format = QStringLiteral("yyyy MM dd hh mm ss zzz");
    const QDateTime start = QDateTime::fromString(csvLines[3].section(',', 1), format);
    const QDateTime end = QDateTime::fromString(csvLines[4].section(',', 1), format);
    QVERIFY2(start.isValid() && end.isValid(), qPrintable(csvLines[3] + ' ' + csvLines[4]));
    // Three scans of twelve channels at 0.5 s settling each, and one second of grace.
    QVERIFY2(start.msecsTo(end) >= 3 * 12 * 500 && start.msecsTo(end) < 120000,
             qPrintable(csvLines[3] + ' ' + csvLines[4]));
    QCOMPARE(csvLines[5],
             QStringLiteral("编号,时间,") + channels.join(QLatin1Char(',')) + QLatin1Char(','));
}

void TestDemoHeadless::csvRows()
{
    QCOMPARE(csvLines.size(), 9);
    const QDateTime start = QDateTime::fromString(csvLines[3].section(',', 1),
                                                  QStringLiteral("yyyy MM dd hh mm ss zzz"));
    const QDateTime end = QDateTime::fromString(csvLines[4].section(',', 1),
                                                QStringLiteral("yyyy MM dd hh mm ss zzz"));
    const QRegularExpression cell(QStringLiteral("^\\d\\.\\d{15}E[+-]\\d{2,}$"));
    QDateTime previous;
    for (int row = 1; row <= 3; ++row) {
        const QStringList cells = csvLines[5 + row].split(QLatin1Char(','));
        QCOMPARE(cells.size(), 2 + channels.size());
        QCOMPARE(cells[0], QString::number(row));
        const QDateTime time =
            QDateTime::fromString(cells[1], QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY2(time.isValid(), qPrintable(cells[1]));
        // Whole seconds in the file; the recording's own bounds are in milliseconds.
        QVERIFY(time.toSecsSinceEpoch() >= start.toSecsSinceEpoch());
        QVERIFY(time <= end);
        if (previous.isValid())
            QVERIFY(time >= previous);
        previous = time;
        for (int c = 0; c < channels.size(); ++c) {
            const QString &text = cells[2 + c];
            QVERIFY2(cell.match(text).hasMatch(), qPrintable(text));
            bool ok = false;
            const double value = text.toDouble(&ok);
            QVERIFY(ok);
            // The simulator's signal: channel + 0.25 sin(...).
            const int channel = channels[c].toInt();
            QVERIFY2(std::lround(value) == channel && std::fabs(value - channel) <= 0.25 + 1e-9,
                     qPrintable(
                         QStringLiteral("row %1 channel %2: %3").arg(row).arg(channel).arg(text)));
        }
    }
}

void TestDemoHeadless::screenshotsAndConversation()
{
    for (const QString name : {"channels.png", "logging.png", "exported.png"}) {
        QFile png(out.filePath(name));
        QVERIFY2(png.open(QIODevice::ReadOnly), qPrintable(name));
        QVERIFY(png.read(8) == QByteArray("\x89PNG\r\n\x1a\n"));
        QVERIFY2(png.size() > 20000, qPrintable(name)); // a drawn window, not a blank screen
    }
    QFile log(out.filePath(QStringLiteral("host.log")));
    QVERIFY(log.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString conversation = QString::fromUtf8(log.readAll());
    QVERIFY(QRegularExpression(QStringLiteral("^child: WID:(\\d+);COLOR:#2b2b2b\\nembedded: \\1$"),
                               QRegularExpression::MultilineOption)
                .match(conversation)
                .hasMatch());
    QVERIFY(conversation.contains(QStringLiteral("sent: hello from the demo\n"
                                                 "child: receive msg: hello from the demo\n")));
    QVERIFY(conversation.endsWith(QStringLiteral("sent: exit\nchild: receive msg: exit\n"
                                                 "ended: The logger ended with exit status 0.\n")));
    // The picture in the README shows this conversation: no folder of the machine in it.
    QVERIFY2(QRegularExpression(QStringLiteral("^host: starting [^/ ][^ ]*/datalogger TCPIP0::"))
                 .match(conversation)
                 .hasMatch(),
             qPrintable(conversation));
    QVERIFY2(!conversation.contains(qEnvironmentVariable("DATALOGGER_SOURCE_DIR")),
             qPrintable(conversation));
}

void TestDemoHeadless::everyScanClosedTheTickedChannels()
{
    QFile file(out.filePath(QStringLiteral("transcript.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList closed;
    int fetches = 0;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const auto match =
            QRegularExpression(QStringLiteral("^switch <- ROUT:CLOS \\(@(\\d+)\\)$")).match(line);
        if (match.hasMatch())
            closed.append(match.captured(1));
        if (line == QLatin1String("measure <- FETC?"))
            ++fetches;
    }
    QCOMPARE(closed, channels + channels + channels);
    QCOMPARE(fetches, 3 * channels.size());
}

void TestDemoHeadless::dataSetRemoved()
{
    const QString dataSet = qEnvironmentVariable("DATALOGGER_BIN_DIR") + QLatin1Char('/') + serial +
                            QStringLiteral("_Data");
    QVERIFY2(!QFileInfo::exists(dataSet), qPrintable(dataSet));
    QVERIFY(output.contains(QStringLiteral("was removed")));
}

QTEST_GUILESS_MAIN(TestDemoHeadless)
#include "tst_demo_headless.moc"
