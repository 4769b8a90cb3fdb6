// The logging controller without any window, against the simulated instruments over loopback
// sockets: its refusals, a counted run, a stop in the first second, the elapsed-time limit and
// a lost instrument. The scan thread runs at a tenth of its pace here.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <limits>

#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "localbroker.h"
#include "loggingcontroller.h"
#include "mqttsettings.h"
#include "placefile.h"
#include "readdata.h"
#include "rig.h"
#include "simulatedinstruments.h"
#include "storedcurvecursor.h"
#include "storereaderscope.h"

namespace {
const QString serial = QStringLiteral("LCT5");

QString dataSetDir()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(serial + QStringLiteral("_Data"));
}

// Readings the simulator sent per closed channel, and what the store holds per curve name.
QMap<QString, QList<double>> readingsSent(const QStringList &transcript)
{
    QMap<QString, QList<double>> sent;
    QString closed;
    for (const QString &line : transcript) {
        if (line.startsWith(QLatin1String("switch <- ROUT:CLOS (@")))
            closed = line.mid(22).chopped(1);
        if (line.startsWith(QLatin1String("measure -> ")))
            sent[closed] << line.mid(11).section(QLatin1Char(','), 0, 0).toDouble();
    }
    return sent;
}

QMap<QString, QList<double>> readingsStored(const QString &dayFile)
{
    QMap<QString, QList<double>> stored;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "check");
        db.setDatabaseName(dayFile);
        if (!db.open())
            return stored;
        QSqlQuery names(db);
        names.exec(QStringLiteral("SELECT curve_id, name FROM curve_info"));
        QMap<int, QString> curveName;
        while (names.next())
            curveName.insert(names.value(0).toInt(), names.value(1).toString());
        QSqlQuery tables(db);
        tables.exec(QStringLiteral("SELECT DISTINCT table_name FROM batch_metadata"));
        while (tables.next()) {
            QSqlQuery rows(db);
            rows.exec(QStringLiteral("SELECT curve_id, value FROM \"%1\" ORDER BY timestamp, id")
                          .arg(tables.value(0).toString()));
            while (rows.next())
                stored[curveName.value(rows.value(0).toInt())] << rows.value(1).toDouble();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return stored;
}
} // namespace

class TestLoggingController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void sanitizeFileName_data();
    void sanitizeFileName();
    void fittedSlotsAreTheOnesAFrameCanHave_data();
    void fittedSlotsAreTheOnesAFrameCanHave();
    void dataSetNameIsAlwaysAPlainName_data();
    void dataSetNameIsAlwaysAPlainName();
    void startIsRefusedWithReasons();
    void countedRunStoresEveryReadingAndReturnsToIdle();
    void aRunKeepsThePlanItStartedWith();
    void secondStartClearsTheStoreFirst();
    void stopInTheFirstSecond_data();
    void stopInTheFirstSecond();
    void elapsedLimitEndsTheRun();
    void lostFrameEndsTheRunAndSaysSo();
    void removingTheDataSetNeverLeavesTheApplicationDirectory();
    void aRunIsPublishedAndItsStateShown();
    void badPublishingConfigurationIsSaidAndLoggingGoesOn();
    void restartedLoggerDeliversTheRestOfItsRecording();
    void exportFindsEveryRowWhateverTheClockDid_data();
    void exportFindsEveryRowWhateverTheClockDid();

private:
    // A controller with both instruments linked and the channels chosen.
    void makeLinked(const QList<int> &channels);
    bool waitIdle(int timeoutMs = 30000);

    SimulatedInstruments sim;
    QTemporaryDir dir;
    std::unique_ptr<Rig> rig;
    std::unique_ptr<LoggingController> controller;
    QStringList messages;
};

void TestLoggingController::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(sim.start(
        {QStringLiteral("--slots"), QStringLiteral("1,2"), QStringLiteral("--serial"), serial}));
    QVERIFY(sim.makeOnlySearchResult(dir.path()));
}

void TestLoggingController::init()
{
    QVERIFY(sim.control(QStringLiteral("clear all")));
    messages.clear();
    rig = std::make_unique<Rig>(sim.measureResource());
    controller = std::make_unique<LoggingController>(*rig);
    controller->scanThread()->setSleeper([](int ms) { QThread::msleep(ms / 10); });
    connect(controller.get(), &LoggingController::message, this,
            [this](const QString &text) { messages << text; });
}

void TestLoggingController::cleanup()
{
    if (controller && controller->isLogging()) {
        controller->startOrStop();
        waitIdle();
    }
    controller.reset();
    rig.reset();
}

void TestLoggingController::cleanupTestCase()
{
    QDir(dataSetDir()).removeRecursively();
    QCOMPARE(SimulatedInstruments::uncleanExits(), 0);
}

void TestLoggingController::makeLinked(const QList<int> &channels)
{
    QVERIFY(controller->linkMeasuringInstrument());
    QList<int> slotNumbers;
    QVERIFY(controller->linkSwitchMainFrame(&slotNumbers));
    QCOMPARE(slotNumbers, QList<int>({1, 2}));
    QVERIFY(rig->identity().text().endsWith(QStringLiteral(" VSK3307 %1 1.0").arg(serial)));
    controller->setChannels(channels);
}

bool TestLoggingController::waitIdle(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while ((controller->isLogging() || controller->scanThread()->isRunning()) &&
           timer.elapsed() < timeoutMs)
        QTest::qWait(20);
    QTest::qWait(50);
    return !controller->isLogging() && !controller->scanThread()->isRunning();
}

void TestLoggingController::sanitizeFileName_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::newRow("separators") << "a/b:c"
                                << "a_b_c";
    QTest::newRow("all nine") << "/\\:*?\"<>|"
                              << "_________";
    QTest::newRow("nul removed") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"))
                                 << "ab";
    QTest::newRow("chinese kept") << "A1_顺序对齐曲线数据"
                                  << "A1_顺序对齐曲线数据";
}

void TestLoggingController::sanitizeFileName()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QCOMPARE(LoggingController::sanitizeFileName(input), output);
}

void TestLoggingController::fittedSlotsAreTheOnesAFrameCanHave_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QList<int>>("slotNumbers");
    QTest::addColumn<int>("ignored");
    QTest::newRow("two modules") << "1,3" << QList<int>{1, 3} << 0;
    QTest::newRow("spaces") << " 2 , 4 " << QList<int>{2, 4} << 0;
    QTest::newRow("no answer") << "" << QList<int>{} << 1;
    QTest::newRow("repeats") << "1,1,3,1" << QList<int>{1, 3} << 2;
    QTest::newRow("out of range") << "0,-1,100,99,5" << QList<int>{99, 5} << 3;
    QTest::newRow("not numbers") << "a,2x,,7,0x3" << QList<int>{7} << 4;
    QString thousand;
    QList<int> all;
    for (int slot = 1; slot <= 1000; ++slot) {
        thousand += (slot > 1 ? "," : "") + QString::number(slot);
        if (slot <= LoggingController::MaxSlot)
            all << slot;
    }
    QTest::newRow("a thousand slots") << thousand << all << 1000 - LoggingController::MaxSlot;
}

// A frame's list of module slots is bounded to the slots a frame can have, whatever it says.
void TestLoggingController::fittedSlotsAreTheOnesAFrameCanHave()
{
    QFETCH(QString, reply);
    QFETCH(QList<int>, slotNumbers);
    QFETCH(int, ignored);
    QStringList dropped;
    QCOMPARE(LoggingController::fittedSlots(reply, &dropped), slotNumbers);
    QCOMPARE(dropped.size(), ignored);
}

// The frame's reply to the identification query and the data set it names.
void TestLoggingController::dataSetNameIsAlwaysAPlainName_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("name");
    QTest::newRow("normal") << "MAKER,VSK3307,SN123,1.0"
                            << "SN123_Data";
    QTest::newRow("two fields") << "MAKER,VSK3307"
                                << "_Data";
    QTest::newRow("no reply") << ""
                              << "_Data";
    // The reply is read word by word: the third word names the data set.
    QTest::newRow("space in the maker's name") << "Maker Inc,VSK3307,SN123,1.0"
                                               << "VSK3307_Data";
    QTest::newRow("empty model") << "MAKER,,SN123,1.0"
                                 << "SN123_Data";
    QTest::newRow("parent") << "M,V,..,1"
                            << "___Data";
    QTest::newRow("path") << "M,V,../../etc,1"
                          << "______etc_Data";
    QTest::newRow("absolute") << "M,V,/tmp/x,1"
                              << "_tmp_x_Data";
    QTest::newRow("backslash and nul")
        << QString(QStringLiteral("M,V,a\\b") + QChar(0) + QStringLiteral(",1")) << "a_b__Data";
}

void TestLoggingController::dataSetNameIsAlwaysAPlainName()
{
    QFETCH(QString, reply);
    QFETCH(QString, name);
    QCOMPARE(LoggingController::dataSetName(FrameIdentity::parse(reply)), name);
}

void TestLoggingController::startIsRefusedWithReasons()
{
    QSignalSpy starting(controller.get(), &LoggingController::runStarting);
    controller->startOrStop();
    QCOMPARE(messages.value(0), QStringLiteral("设备未连接，请检查设备连接情况"));
    QVERIFY(controller->linkMeasuringInstrument());
    controller->startOrStop();
    QCOMPARE(messages.value(1), QStringLiteral("设备未连接，请检查设备连接情况"));

    makeLinked({});
    controller->startOrStop();
    QCOMPARE(messages.value(2), QStringLiteral("扫描通道未选择"));

    // The thread still runs while the controller is idle, as after a lost main frame.
    controller->setChannels({110});
    controller->scanThread()->startScanning(controller->plan());
    controller->startOrStop();
    QCOMPARE(messages.value(3), QStringLiteral("上一次扫描未停止"));
    controller->scanThread()->requestStop();
    QVERIFY(controller->scanThread()->waitForEnd(20000));
    QTest::qWait(50);
    QCOMPARE(starting.count(), 0);
    QVERIFY(!controller->isLogging());
}

void TestLoggingController::countedRunStoresEveryReadingAndReturnsToIdle()
{
    makeLinked({201, 101, 102});
    controller->setStopMode(LoggingController::StopMode::Count);
    controller->setScanCount(3);
    QStringList order;
    for (auto signal : {&LoggingController::runStarting, &LoggingController::curvesPrepared,
                        &LoggingController::scanStarted, &LoggingController::runEnded})
        connect(controller.get(), signal, this, [&order, signal] {
            order << (signal == &LoggingController::runStarting      ? "starting"
                      : signal == &LoggingController::curvesPrepared ? "curves"
                      : signal == &LoggingController::scanStarted    ? "scan"
                                                                     : "ended");
        });
    QList<LoggingController::StoredRows> scans;
    connect(controller.get(), &LoggingController::scanStored, this,
            [&scans](const LoggingController::StoredRows &rows) { scans << rows; });
    const int transcriptStart = sim.transcript().size();

    controller->startOrStop();
    QCOMPARE(messages.value(0), QStringLiteral("扫描开启中请稍等..."));
    QVERIFY(controller->isLogging());
    QVERIFY(waitIdle());
    QCOMPARE(order, QStringList({"starting", "curves", "scan", "ended"}));
    QVERIFY(controller->recordStartMs() < controller->recordEndMs());

    // Per channel, ascending: a liveness query, the relay, then a reading.
    QStringList dialogue;
    const QStringList transcript = sim.transcript().mid(transcriptStart);
    for (const QString &line : transcript)
        if (line.contains(QLatin1String(" <- ")))
            dialogue << line;
    QStringList scan;
    for (int channel : {101, 102, 201})
        scan << QStringLiteral("switch <- STAT:OPER:EVEN?")
             << QStringLiteral("switch <- ROUT:CLOS (@%1)").arg(channel)
             << QStringLiteral("measure <- FETC?");
    QCOMPARE(dialogue, scan + scan + scan);

    // Every reading reached today's day file under its own curve, in the order sent.
    const QMap<QString, QList<double>> stored = readingsStored(
        QDir(dataSetDir())
            .filePath(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + ".db"));
    QCOMPARE(stored.keys(), QStringList({"101", "102", "201"}));
    QCOMPARE(stored, readingsSent(transcript));
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        for (double value : it.value())
            QCOMPARE(qRound(value), it.key().toInt());

    QCOMPARE(scans.size(), 3);
    QCOMPARE(scans.last(), LoggingController::StoredRows({{0, 101}, {1, 102}, {2, 201}}));
    QCOMPARE(controller->curves().value(201)->count(), 3);
    QCOMPARE(controller->curves().value(201)->lastValue(), stored.value("201").last());
}

// Settings changed during a run (by a host or a script; the window holds them) are the next
// run's: the run scans the channels it started with and ends after its own count.
void TestLoggingController::aRunKeepsThePlanItStartedWith()
{
    makeLinked({101});
    controller->setStopMode(LoggingController::StopMode::Count);
    controller->setScanCount(2);
    controller->startOrStop();
    QCOMPARE(controller->runState(), LoggingController::RunState::Clearing);
    QTRY_COMPARE_WITH_TIMEOUT(controller->runState(), LoggingController::RunState::Scanning, 10000);
    controller->setChannels({101, 102});
    controller->setStopMode(LoggingController::StopMode::Button);
    controller->setIntervalMs(60000);
    QCOMPARE(controller->runProgress().scansPlanned, 2);
    QVERIFY(waitIdle());
    QCOMPARE(controller->runState(), LoggingController::RunState::Idle);
    QCOMPARE(controller->runProgress().scansDone, 2);
    QCOMPARE(controller->curves().keys(), QList<int>({101}));
    const QMap<QString, QList<double>> stored = readingsStored(
        QDir(dataSetDir())
            .filePath(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + ".db"));
    QCOMPARE(stored.keys(), QStringList({"101"}));
    QCOMPARE(stored.value("101").size(), 2);
    QCOMPARE(controller->plan().channels, QList<int>({101, 102}));

    // A run whose next plan has no channel left is still stopped by the button (it used to be
    // refused with "no channel chosen" and ran on).
    controller->setChannels({101});
    controller->startOrStop();
    QTRY_COMPARE_WITH_TIMEOUT(controller->runState(), LoggingController::RunState::Scanning, 10000);
    controller->setChannels({});
    const int messagesBefore = messages.size();
    controller->startOrStop();
    QCOMPARE(controller->runState(), LoggingController::RunState::Stopping);
    QVERIFY(waitIdle());
    QCOMPARE(messages.mid(messagesBefore), QStringList());
}

void TestLoggingController::secondStartClearsTheStoreFirst()
{
    makeLinked({103});
    controller->setStopMode(LoggingController::StopMode::Count);
    controller->setScanCount(1);
    controller->startOrStop();
    QVERIFY(waitIdle());
    QVERIFY(controller->store());
    QCOMPARE(controller->curves().value(103)->count(), 1);

    QSignalSpy cleared(controller->store(), &CurveDataDB::sigClearFinished);
    controller->setChannels({104});
    controller->startOrStop();
    QVERIFY(waitIdle());
    QCOMPARE(cleared.count(), 1);
    QVERIFY(!controller->curves().contains(103));
    QCOMPARE(controller->curves().value(104)->count(), 1);
    QCOMPARE(controller->store()->getCurveNames().values(), QStringList({"104"}));
}

void TestLoggingController::stopInTheFirstSecond_data()
{
    QTest::addColumn<int>("afterMs");
    QTest::newRow("before the scan thread runs") << 0;
    QTest::newRow("in the thread's first wait") << 300;
}

// A stop right after the start ends the run before any scan, wherever the start is.
void TestLoggingController::stopInTheFirstSecond()
{
    QFETCH(int, afterMs);
    makeLinked({105});
    // The thread's first wait at its real length.
    controller->scanThread()->setSleeper(
        [](int ms) { QThread::msleep(ms == 1000 ? ms : ms / 10); });
    QSignalSpy ended(controller.get(), &LoggingController::runEnded);
    QSignalSpy stored(controller.get(), &LoggingController::scanStored);
    const int fetchesBefore = sim.transcript().filter(QStringLiteral("measure <- FETC?")).size();
    controller->startOrStop();
    QTest::qWait(afterMs);
    controller->startOrStop();
    QVERIFY(waitIdle());
    QTest::qWait(500);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(stored.count(), 0);
    QVERIFY(!controller->scanThread()->isRunning());
    QCOMPARE(sim.transcript().filter(QStringLiteral("measure <- FETC?")).size(), fetchesBefore);
    QVERIFY(controller->endNotice().isEmpty());
}

// The elapsed-time limit ends the run by itself, and a limit beyond one timer interval (30
// days) does not end it early.
void TestLoggingController::elapsedLimitEndsTheRun()
{
    makeLinked({107});
    controller->setStopMode(LoggingController::StopMode::Elapsed);
    controller->setElapsedLimitMs(qint64(30) * 86400 * 1000);
    QSignalSpy stored(controller.get(), &LoggingController::scanStored);
    controller->startOrStop();
    QTRY_VERIFY_WITH_TIMEOUT(stored.count() >= 2, 10000);
    QVERIFY(controller->isLogging());
    controller->startOrStop();
    QVERIFY(waitIdle());

    controller->setElapsedLimitMs(2000);
    QElapsedTimer clock;
    clock.start();
    controller->startOrStop();
    QVERIFY(controller->isLogging());
    QVERIFY(waitIdle(15000));
    QVERIFY(clock.elapsed() >= 2000);
    // The limit does not start a new run later.
    QTest::qWait(2500);
    QVERIFY(!controller->isLogging());
}

// A frame that fails its whole reconnect cycle ends the run; the controller says which and
// since when, and keeps saying it until the next start.
void TestLoggingController::lostFrameEndsTheRunAndSaysSo()
{
    makeLinked({101, 102});
    controller->scanThread()->setSleeper([](int ms) { QThread::msleep(ms / 50); });
    QSignalSpy stored(controller.get(), &LoggingController::scanStored);
    QSignalSpy running(controller.get(), &LoggingController::runningTextChanged);
    controller->startOrStop();
    QTRY_VERIFY_WITH_TIMEOUT(stored.count() >= 1, 10000);
    QVERIFY(sim.control(QStringLiteral("fault switch refuse 60")));
    QVERIFY(sim.control(QStringLiteral("fault switch drop")));
    QVERIFY(waitIdle(60000));
    QVERIFY2(controller->endNotice().startsWith(QStringLiteral("开关主机自 ")) &&
                 controller->endNotice().endsWith(QStringLiteral(" 起无响应，记录已停止")),
             qPrintable(controller->endNotice()));
    QCOMPARE(messages.last(), controller->endNotice());
    QVERIFY(running.count() >= 1);
    QVERIFY(running.last().at(0).toString().contains(QStringLiteral("（开关主机自 ")));
    QVERIFY(controller->curves().value(101)->count() >= 1);
    QVERIFY(sim.control(QStringLiteral("clear switch")));
}

void TestLoggingController::removingTheDataSetNeverLeavesTheApplicationDirectory()
{
    QTemporaryDir victim;
    QVERIFY(victim.isValid());
    QFile precious(victim.filePath(QStringLiteral("precious.txt")));
    QVERIFY(precious.open(QIODevice::WriteOnly));
    precious.write("keep");
    precious.close();

    makeLinked({101});
    rig->setIdentity(FrameIdentity::parse(
        QStringLiteral("M,V,../%1,1").arg(QFileInfo(victim.path()).fileName())));
    const QString name = LoggingController::dataSetName(rig->identity());
    QVERIFY(!name.contains(QLatin1Char('/')));
    const QString link = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    QFile::remove(link);
    QVERIFY(QFile::link(victim.path(), link));
    controller->setStopMode(LoggingController::StopMode::Count);
    controller->setScanCount(1);
    controller->startOrStop();
    QVERIFY(waitIdle());
    QVERIFY(QFile::exists(precious.fileName()));
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(QFileInfo(link).isDir());
    controller.reset();
    QDir(link).removeRecursively();
}

// A counted run with a broker configured: every stored reading reaches a subscriber in time
// order per channel, and the state line says the publisher is connected.
void TestLoggingController::aRunIsPublishedAndItsStateShown()
{
    LocalBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QVERIFY(broker.subscribe(QStringLiteral("datalogger/%1/readings").arg(serial)));
    qputenv("DATALOGGER_MQTT_URL", broker.url().toUtf8());
    QString error;
    const MqttSettings settings = MqttSettings::load(dir.filePath("none.conf"), &error);
    qunsetenv("DATALOGGER_MQTT_URL");
    QVERIFY2(settings.enabled && error.isEmpty(), qPrintable(error));
    QSignalSpy state(controller.get(), &LoggingController::publishStatusChanged);
    controller->setPublishing(settings, error);
    QVERIFY(messages.isEmpty());

    makeLinked({101, 202});
    controller->setStopMode(LoggingController::StopMode::Count);
    controller->setScanCount(3);
    controller->startOrStop();
    QVERIFY(waitIdle());
    QMap<int, QList<qint64>> published;
    auto collect = [&] {
        published.clear();
        for (const QString &line : broker.received()) {
            const QJsonObject message =
                QJsonDocument::fromJson(line.section(QLatin1Char(' '), 1).toUtf8()).object();
            for (const QJsonValue &sample : message.value(QStringLiteral("samples")).toArray())
                published[sample[QStringLiteral("channel")].toInt()]
                    << qint64(sample[QStringLiteral("t")].toDouble());
        }
        return published.value(101).size() + published.value(202).size();
    };
    QTRY_VERIFY_WITH_TIMEOUT(collect() >= 6, 20000);
    for (int channel : {101, 202}) {
        QList<qint64> times = published.value(channel);
        QVERIFY(std::is_sorted(times.begin(), times.end()));
        times.erase(std::unique(times.begin(), times.end()), times.end());
        QCOMPARE(times.size(), 3);
        QCOMPARE(times.last(), qint64(controller->curves().value(channel)->sample(2).x()));
    }
    QTRY_VERIFY(!state.isEmpty() &&
                state.last().at(0).toString() == QStringLiteral("MQTT：已连接"));
    QCOMPARE(controller->publishStatus(), QStringLiteral("MQTT：已连接"));
}

void TestLoggingController::badPublishingConfigurationIsSaidAndLoggingGoesOn()
{
    QFile conf(dir.filePath(QStringLiteral("bad.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[mqtt]\nurl = ftp://nowhere\n");
    conf.close();
    QString error;
    const MqttSettings settings = MqttSettings::load(conf.fileName(), &error);
    QVERIFY(!settings.enabled);
    QVERIFY(!error.isEmpty());
    controller->setPublishing(settings, error);
    QCOMPARE(messages.value(0), error);
    QVERIFY(!controller->publisher());
    QVERIFY(controller->publishStatus().isEmpty());

    makeLinked({103});
    controller->setStopMode(LoggingController::StopMode::Count);
    controller->setScanCount(1);
    controller->startOrStop();
    QVERIFY(waitIdle());
    QCOMPARE(controller->curves().value(103)->count(), 1);
}

// The broker goes away mid-run and the logger ends ("exit"); the next logger, before any new
// start, delivers what the broker never acknowledged, from the store.
void TestLoggingController::restartedLoggerDeliversTheRestOfItsRecording()
{
    auto settingsFor = [this](const LocalBroker &broker) {
        qputenv("DATALOGGER_MQTT_URL", broker.url().toUtf8());
        QString error;
        const MqttSettings settings = MqttSettings::load(dir.filePath("none.conf"), &error);
        qunsetenv("DATALOGGER_MQTT_URL");
        return settings;
    };
    auto timesIn = [](const QStringList &lines) {
        QSet<qint64> times;
        for (const QString &line : lines)
            for (const QJsonValue &sample :
                 QJsonDocument::fromJson(line.section(QLatin1Char(' '), 1).toUtf8())
                     .object()
                     .value(QStringLiteral("samples"))
                     .toArray())
                times << qint64(sample[QStringLiteral("t")].toDouble());
        return times;
    };
    const QString topic = QStringLiteral("datalogger/%1/readings").arg(serial);
    {
        LocalBroker first;
        QVERIFY2(first.start(), qPrintable(first.errorString()));
        QVERIFY(first.subscribe(topic));
        controller->setPublishing(settingsFor(first), QString());
        makeLinked({104});
        QSignalSpy stored(controller.get(), &LoggingController::scanStored);
        controller->startOrStop();
        QTRY_VERIFY_WITH_TIMEOUT(stored.count() >= 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!timesIn(first.received()).isEmpty(), 10000);
        first.stop();
        const int before = stored.count();
        QTRY_VERIFY_WITH_TIMEOUT(stored.count() >= before + 3, 10000);
    }
    controller.reset();
    // Where the first broker stopped acknowledging.
    PublishPlace place;
    QVERIFY(PlaceFile::read(PlaceFile::pathIn(dataSetDir()), &place));
    const qint64 acknowledged = place.acknowledged.value(104);
    QVERIFY(acknowledged > 0);

    LocalBroker second;
    QVERIFY2(second.start(), qPrintable(second.errorString()));
    // The readings and the status (one subscriber per broker).
    QVERIFY(second.subscribe(QStringLiteral("datalogger/%1/#").arg(serial)));
    const QString statusTopic = QStringLiteral("datalogger/%1/status").arg(serial);
    rig = std::make_unique<Rig>(sim.measureResource());
    controller = std::make_unique<LoggingController>(*rig);
    controller->setPublishing(settingsFor(second), QString());
    QVERIFY(controller->publisher());
    QSet<qint64> unacknowledged;
    {
        CurveDataDB store(dataSetDir());
        StoreReaderScope connections;
        StoredCurveCursor cursor(&store, QStringLiteral("104"), acknowledged + 1,
                                 std::numeric_limits<qint64>::max());
        for (; cursor.hasRow(); cursor.advance())
            unacknowledged << cursor.timestamp();
    }
    QVERIFY(unacknowledged.size() >= 3);
    // Everything the first broker did not acknowledge reaches the second, and nothing the
    // first one acknowledged is sent again.
    QTRY_VERIFY_WITH_TIMEOUT(timesIn(second.received()).contains(unacknowledged), 20000);
    for (qint64 t : timesIn(second.received()))
        QVERIFY(t > acknowledged);
    // No frame is connected in this process: the status names the data set's serial alone.
    const auto announced = [&second, &statusTopic] {
        QString identity;
        for (const QString &line : second.received()) {
            if (line.startsWith(statusTopic + QLatin1Char(' ')))
                identity = QJsonDocument::fromJson(line.mid(statusTopic.size() + 1).toUtf8())
                               .object()
                               .value(QStringLiteral("identity"))
                               .toString();
        }
        return identity;
    };
    QTRY_COMPARE_WITH_TIMEOUT(announced(), QStringLiteral("- - %1 -").arg(serial), 10000);
}

void TestLoggingController::exportFindsEveryRowWhateverTheClockDid_data()
{
    QTest::addColumn<qint64>("startOffsetS");
    QTest::addColumn<qint64>("stepS");
    // Europe/Berlin, three seconds before 03:00 CEST becomes 02:00 CET: the end's local time
    // is earlier than the start's.
    const qint64 beforeChange =
        QDateTime(QDate(2026, 10, 25), QTime(0, 59, 57), Qt::UTC).toSecsSinceEpoch();
    QTest::newRow("autumn clock change")
        << beforeChange - QDateTime::currentSecsSinceEpoch() << qint64(0);
    // An NTP correction sets the wall clock back an hour in the middle of the run.
    QTest::newRow("clock stepped back") << qint64(0) << qint64(-3600);
}

// The wall clock is moved under the logger with libfaketime, in a child process of this test
// program: every reading stored, whatever the clock did, is found by the export.
void TestLoggingController::exportFindsEveryRowWhateverTheClockDid()
{
    QFETCH(qint64, startOffsetS);
    QFETCH(qint64, stepS);
    const QByteArray clockFile = qgetenv("DATALOGGER_CLOCK_FILE");
    if (clockFile.isEmpty()) {
#if defined(__SANITIZE_THREAD__)
        QSKIP("libfaketime and the thread sanitizer both take over the clock functions");
#endif
        const QString library = QString::fromLocal8Bit(qgetenv("FAKETIME_LIBRARY"));
        QVERIFY2(QFile::exists(library), "libfaketime (Debian package faketime) is needed");
        QTemporaryDir childDir;
        const QString rc = childDir.filePath(QStringLiteral("faketime.rc"));
        QFile file(rc);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(startOffsetS < 0 ? "" : "+") + QByteArray::number(startOffsetS) +
                   "s\n");
        file.close();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DATALOGGER_CLOCK_FILE"), rc);
        env.insert(QStringLiteral("LD_PRELOAD"), library);
        env.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), rc);
        env.insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
        // Qt's timers and waits keep the real monotonic clock.
        env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
        env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("%1:%2").arg(QTest::currentTestFunction(), QTest::currentDataTag())});
        QVERIFY(child.waitForFinished(120000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 output.constData());
        QVERIFY2(output.contains("PASS   : TestLoggingController::exportFindsEveryRow"),
                 output.constData());
        return;
    }

    makeLinked({101});
    const qint64 firstLocalOffset = QDateTime::currentDateTime().offsetFromUtc();
    QList<int> scans;
    connect(controller.get(), &LoggingController::scanStored, this,
            [&scans](const LoggingController::StoredRows &rows) { scans << rows.size(); });
    const int transcriptStart = sim.transcript().size();
    controller->startOrStop();
    QTRY_VERIFY_WITH_TIMEOUT(scans.size() >= 2, 20000);
    if (stepS != 0) {
        QFile file(QString::fromLocal8Bit(clockFile));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(stepS) + "s\n");
        file.close();
    }
    // Two scans after the step, or after the local time went back at the change.
    const int before = scans.size();
    QTRY_VERIFY_WITH_TIMEOUT(scans.size() >= before + 2 &&
                                 QDateTime::currentDateTime().offsetFromUtc() <=
                                     firstLocalOffset - (stepS == 0 ? 3600 : 0),
                             20000);
    controller->startOrStop();
    QVERIFY(waitIdle());

    const QStringList transcript = sim.transcript().mid(transcriptStart);
    const int sent = transcript.filter(QStringLiteral("measure -> ")).size();
    QVERIFY(sent >= 4);
    QTemporaryDir out;
    QSignalSpy finished(controller.get(), &LoggingController::exportFinished);
    QCOMPARE(controller->exportRecording(out.path(), QStringLiteral("clock"), QStringLiteral(",")),
             LoggingController::ExportStart::Started);
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.at(0).at(0).value<ExportResult>(), ExportResult::Success);
    const QStringList files = QDir(out.path()).entryList({QStringLiteral("*.csv")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QFile csv(QDir(out.path()).filePath(files.first()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'));
    // Six header lines, then one row per reading; every value of channel 101.
    QStringList rows = lines.mid(6);
    rows.removeAll(QString());
    QCOMPARE(rows.size(), sent);
    for (const QString &row : rows)
        QCOMPARE(qRound(row.section(QLatin1Char(','), 2, 2).toDouble()), 101);
}

QTEST_GUILESS_MAIN(TestLoggingController)
#include "tst_loggingcontroller.moc"
