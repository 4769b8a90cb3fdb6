// The live publisher against a real mosquitto broker: delivery in time order with the right
// messages, a broker outage, a restart within a recording, TLS with a password, and the
// problems a user is told about.
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "livepublisher.h"
#include "mqtttestbroker.h"
#include "placefile.h"
#include "storeclock.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>
#include <set>

namespace {

// The frame's reply to the identification query, and the identity its status announces.
const FrameIdentity frame = FrameIdentity::parse(QStringLiteral("MAKER,VSK3307,SIM0001,1.0"));
const QString identity = QStringLiteral("MAKER VSK3307 SIM0001 1.0");
const QByteArray prefix = "datalogger/SIM0001";

// A store in a temporary directory with one curve per channel, filled scan by scan.
struct Recording
{
    explicit Recording(const QList<int> &channels)
        : channels(channels)
    {
        store = std::make_unique<CurveDataDB>(dir.path());
        for (int channel : channels)
            curves.push_back(
                std::make_unique<CurveSeriesData>(QString::number(channel), store.get()));
        base = QDateTime::currentMSecsSinceEpoch() - 60000;
    }

    void storeScan() { storeScanAt(base + scans * 100); }
    // One scan: the first two channels share a time stamp, the others follow 1 ms apart.
    void storeScanAt(qint64 scanTime)
    {
        lastScan.clear();
        for (int i = 0; i < channels.size(); ++i) {
            const qint64 t = scanTime + std::max(0, i - 1);
            double value = channels.at(i) + scans + 1.0 / 3.0;
            // Every fifth scan the second channel is overloaded.
            if (i == 1 && scans % 5 == 2)
                value = 9.9e37;
            QCOMPARE(curves[size_t(i)]->addSample(double(t), value),
                     CurveSeriesData::SampleResult::Stored);
            stored[{channels.at(i), t}] = value;
            lastScan.push_back({channels.at(i), t});
        }
        ++scans;
    }

    QString placePath() const { return PlaceFile::pathIn(dir.path()); }

    QTemporaryDir dir;
    QList<int> channels;
    std::unique_ptr<CurveDataDB> store;
    std::vector<std::unique_ptr<CurveSeriesData>> curves;
    std::map<std::pair<int, qint64>, double> stored; // (channel, t) -> value
    std::vector<std::pair<int, qint64>> lastScan;    // (channel, t) of the last scan's samples
    qint64 base = 0;
    int scans = 0;
};

MqttSettings plainSettings(int port)
{
    MqttSettings settings;
    settings.enabled = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    return settings;
}

QStringList plainListener()
{
    return {QStringLiteral("listener %1 127.0.0.1"), QStringLiteral("allow_anonymous true")};
}

// Every stored sample arrived, with its value; per channel the samples come in time order
// once a consumer drops the repeats (unless the clock was set back while storing).
bool deliveredInOrder(const Recording &recording, const std::vector<ReceivedSample> &received,
                      QString *why, bool timeOrdered = true)
{
    std::set<std::pair<int, qint64>> seen;
    std::map<int, qint64> lastPerChannel;
    for (const ReceivedSample &sample : received) {
        const std::pair<int, qint64> key{sample.channel, sample.t};
        if (!seen.insert(key).second)
            continue;
        auto found = recording.stored.find(key);
        if (found == recording.stored.end()) {
            *why = QStringLiteral("never stored: %1 @ %2").arg(sample.channel).arg(sample.t);
            return false;
        }
        if (sample.value != found->second || sample.invalid != (found->second >= 9.9e37)) {
            *why = QStringLiteral("value of %1 @ %2: %3")
                       .arg(sample.channel)
                       .arg(sample.t)
                       .arg(sample.value, 0, 'g', 17);
            return false;
        }
        auto last = lastPerChannel.find(sample.channel);
        if (timeOrdered && last != lastPerChannel.end() && last->second >= sample.t) {
            *why =
                QStringLiteral("channel %1 out of order at %2").arg(sample.channel).arg(sample.t);
            return false;
        }
        lastPerChannel[sample.channel] = sample.t;
    }
    if (seen.size() != recording.stored.size()) {
        *why = QStringLiteral("%1 of %2 samples arrived")
                   .arg(seen.size())
                   .arg(recording.stored.size());
        return false;
    }
    return true;
}

size_t distinctReceived(const MqttTestSubscriber &subscriber)
{
    bool ok = false;
    std::set<std::pair<int, qint64>> seen;
    for (const ReceivedSample &sample : readingsIn(subscriber.messages, &ok))
        seen.insert({sample.channel, sample.t});
    return seen.size();
}

QJsonObject jsonOf(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

bool run(const QString &program, const QStringList &arguments, const QString &directory)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning() << program << arguments << process.readAll();
        return false;
    }
    return true;
}

} // namespace

class TestLivePublisher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void scansArriveInOrderWithLatestAndStatus();
    void brokerOutageLosesNothing();
    void restartResumesFromThePlace();
    void killRepeatsOnlyWhatWasUnconfirmed();
    void clockSetBackLosesNothing();
    void tlsWithPassword();
    void problemsAreReported_data();
    void problemsAreReported();

private:
    // A TLS listener with a CA, a server certificate and a password file made here, and a
    // plain one for the test's subscriber.
    QTemporaryDir tlsDir;
    MqttTestBroker tlsBroker;
};

void TestLivePublisher::initTestCase()
{
    QVERIFY(tlsDir.isValid());
    const QString d = tlsDir.path();
    QFile extension(tlsDir.filePath("server.ext"));
    QVERIFY(extension.open(QIODevice::WriteOnly));
    extension.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    extension.close();
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    for (const QString &ca : {QStringLiteral("ca"), QStringLiteral("other-ca")}) {
        QVERIFY(run("openssl",
                    QStringList{"req", "-x509"} + ec +
                        QStringList{"-keyout", ca + ".key", "-out", ca + ".crt", "-days", "2",
                                    "-subj", "/CN=Test " + ca},
                    d));
    }
    QVERIFY(run(
        "openssl",
        QStringList{"req"} + ec +
            QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"},
        d));
    QVERIFY(run("openssl",
                {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                 "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "server.ext"},
                d));
    QVERIFY(run("mosquitto_passwd", {"-c", "-b", "passwd", "logger", "right horse"}, d));
    QFile password(tlsDir.filePath("password.txt"));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write("right horse\n");
    password.close();
    QVERIFY(tlsBroker.start(d,
                            {"listener %1 127.0.0.1", "allow_anonymous true",
                             "listener %2 127.0.0.1", "cafile " + d + "/ca.crt",
                             "certfile " + d + "/server.crt", "keyfile " + d + "/server.key",
                             "allow_anonymous false", "password_file " + d + "/passwd"},
                            {"per_listener_settings true"}));
}

void TestLivePublisher::cleanup()
{
    StoreClock::useSystemTime();
}

void TestLivePublisher::scansArriveInOrderWithLatestAndStatus()
{
    QTemporaryDir brokerDir;
    MqttTestBroker broker;
    QVERIFY(broker.start(brokerDir.path(), plainListener()));
    MqttTestSubscriber subscriber("scans-sub", true);
    QVERIFY(subscriber.connectTo(broker.port(), prefix + "/#"));

    Recording recording({101, 102, 103});
    auto publisher = std::make_unique<LivePublisher>(plainSettings(broker.port()));
    QSignalSpy status(publisher.get(), &LivePublisher::statusChanged);
    QSignalSpy problems(publisher.get(), &LivePublisher::problem);
    publisher->setIdentity(frame);
    publisher->startRecording(recording.store.get(), recording.channels);
    QVERIFY(subscriber.waitUntil([&] { return publisher->isConnected(); }, 20000));

    for (int scan = 0; scan < 3; ++scan) {
        recording.storeScan();
        publisher->samplesStored();
        QVERIFY(subscriber.waitUntil(
            [&] { return distinctReceived(subscriber) == recording.stored.size(); }, 20000));
    }
    bool ok = false;
    const std::vector<ReceivedSample> received = readingsIn(subscriber.messages, &ok);
    QVERIFY(ok);
    QString why;
    QVERIFY2(deliveredInOrder(recording, received, &why), qPrintable(why));
    // Keeping up, each scan is one message, and the samples come in time order across the
    // channels, ties by channel.
    int readingMessages = 0;
    for (const auto &message : subscriber.messages)
        readingMessages += message.topic == prefix + "/readings" && !message.retained;
    QCOMPARE(readingMessages, 3);
    QCOMPARE(received.size(), recording.stored.size());
    std::vector<std::pair<qint64, int>> order;
    for (const auto &entry : recording.stored)
        order.push_back({entry.first.second, entry.first.first});
    std::sort(order.begin(), order.end());
    for (size_t i = 0; i < received.size(); ++i) {
        QCOMPARE(received[i].t, order[i].first);
        QCOMPARE(received[i].channel, order[i].second);
        QCOMPARE(received[i].serial, QString("SIM0001"));
    }
    PublishPlace place;
    // The place file names the recording the messages carry; it follows the acknowledgements.
    QVERIFY(subscriber.waitUntil(
        [&] {
            return PlaceFile::read(recording.placePath(), &place) &&
                   place.acknowledged.size() == 3 &&
                   place.acknowledged.value(103) == recording.base + 200 + 1;
        },
        10000));
    QCOMPARE(received.front().recording, place.recording);
    QCOMPARE(place.acknowledged.value(101), recording.base + 200);

    // A consumer arriving later gets the retained latest value of each channel and the status.
    MqttTestSubscriber late("scans-late", true);
    QVERIFY(late.connectTo(broker.port(), prefix + "/#"));
    QVERIFY(late.waitUntil(
        [&] {
            const QJsonObject s = jsonOf(lastPayloadOn(late.messages, prefix + "/status"));
            return s.value("backlog").toInt(-1) == 0 &&
                   !lastPayloadOn(late.messages, prefix + "/channel/103/latest").isEmpty();
        },
        10000));
    for (const auto &message : late.messages)
        QVERIFY2(message.retained, message.topic.constData());
    for (int channel : recording.channels) {
        const QJsonObject latest = jsonOf(lastPayloadOn(
            late.messages, prefix + "/channel/" + QByteArray::number(channel) + "/latest"));
        const qint64 t = recording.base + 200 + (channel == 103 ? 1 : 0);
        QCOMPARE(latest.value("serial").toString(), QString("SIM0001"));
        QCOMPARE(latest.value("channel").toInt(), channel);
        QCOMPARE(qint64(latest.value("t").toDouble()), t);
        QCOMPARE(latest.value("value").toDouble(), (recording.stored.at({channel, t})));
        QCOMPARE(latest.contains("invalid"), channel == 102);
    }
    const QJsonObject statusObject = jsonOf(lastPayloadOn(late.messages, prefix + "/status"));
    QCOMPARE(statusObject.value("state").toString(), QString("recording"));
    QCOMPARE(statusObject.value("identity").toString(), identity);
    QCOMPARE(statusObject.value("channels").toArray(), (QJsonArray{101, 102, 103}));
    QCOMPARE(qint64(statusObject.value("recording").toDouble()), place.recording);

    QVERIFY(subscriber.waitUntil(
        [&] {
            return !status.isEmpty() && status.last().at(0).toBool() &&
                   status.last().at(1).toLongLong() == 0;
        },
        5000));
    QCOMPARE(publisher->backlog(), qint64(0));
    QVERIFY(problems.isEmpty());

    publisher->recordingEnded();
    QVERIFY(subscriber.waitUntil(
        [&] {
            return jsonOf(lastPayloadOn(subscriber.messages, prefix + "/status")).value("state") ==
                   "idle";
        },
        5000));
    QCOMPARE(publisher->forgetRecording(), qint64(0));
    QVERIFY(!QFile::exists(recording.placePath()));
    // A clean end says so on the status topic itself (the will is for the unclean one).
    publisher.reset();
    QVERIFY(subscriber.waitUntil(
        [&] {
            return jsonOf(lastPayloadOn(subscriber.messages, prefix + "/status")).value("state") ==
                   "offline";
        },
        5000));
    QVERIFY(!QFile::exists(recording.placePath()));
}

void TestLivePublisher::brokerOutageLosesNothing()
{
    QTemporaryDir brokerDir;
    // The broker keeps the subscriber's persistent session across its restart.
    const QStringList persistence = {"persistence true",
                                     "persistence_location " + brokerDir.path() + "/"};
    auto broker = std::make_unique<MqttTestBroker>();
    QVERIFY(broker->start(brokerDir.path(), plainListener(), persistence));
    const int port = broker->port();
    MqttTestSubscriber subscriber("outage-sub", false);
    QVERIFY(subscriber.connectTo(port, prefix + "/readings"));

    Recording recording({101, 102, 103, 104});
    LivePublisher publisher(plainSettings(port));
    QSignalSpy status(&publisher, &LivePublisher::statusChanged);
    publisher.setIdentity(frame);
    publisher.startRecording(recording.store.get(), recording.channels);
    const auto storeFor = [&](int scans, int spacingMs) {
        for (int i = 0; i < scans; ++i) {
            recording.storeScan();
            publisher.samplesStored();
            subscriber.waitUntil([] { return false; }, spacingMs);
        }
    };
    storeFor(10, 100);
    QVERIFY(subscriber.waitUntil([&] { return publisher.isConnected(); }, 10000));

    broker->stop();
    storeFor(120, 250); // 30 s without a broker, the logger storing all along
    QVERIFY(!publisher.isConnected());
    QVERIFY(publisher.backlog() > 0);
    bool reportedOffline = false;
    for (const auto &arguments : status)
        reportedOffline =
            reportedOffline || (!arguments.at(0).toBool() && arguments.at(1).toLongLong() > 0);
    QVERIFY(reportedOffline);

    broker = std::make_unique<MqttTestBroker>();
    QVERIFY(broker->start(brokerDir.path(), plainListener(), persistence, port));
    storeFor(10, 100);
    QVERIFY(subscriber.waitUntil(
        [&] { return distinctReceived(subscriber) == recording.stored.size(); }, 90000));
    bool ok = false;
    const std::vector<ReceivedSample> received = readingsIn(subscriber.messages, &ok);
    QVERIFY(ok);
    QString why;
    QVERIFY2(deliveredInOrder(recording, received, &why), qPrintable(why));
    QVERIFY(subscriber.waitUntil([&] { return publisher.backlog() == 0; }, 10000));
    QCOMPARE(publisher.forgetRecording(), qint64(0));
}

void TestLivePublisher::restartResumesFromThePlace()
{
    QTemporaryDir brokerDir;
    MqttTestBroker broker;
    QVERIFY(broker.start(brokerDir.path(), plainListener()));
    MqttTestSubscriber subscriber("restart-sub", true);
    QVERIFY(subscriber.connectTo(broker.port(), prefix + "/readings"));
    Recording recording({101, 102, 103});

    auto first = std::make_unique<LivePublisher>(plainSettings(broker.port()));
    first->setIdentity(frame);
    first->startRecording(recording.store.get(), recording.channels);
    for (int i = 0; i < 5; ++i) {
        recording.storeScan();
        first->samplesStored();
    }
    QVERIFY(subscriber.waitUntil(
        [&] { return distinctReceived(subscriber) == recording.stored.size(); }, 20000));
    // The broker stops answering: what is sent now stays unacknowledged, and the publisher
    // goes away without waiting for it.
    broker.freeze();
    for (int i = 0; i < 3; ++i) {
        recording.storeScan();
        first->samplesStored();
        subscriber.waitUntil([] { return false; }, 100);
    }
    first.reset();
    PublishPlace place;
    QVERIFY(PlaceFile::read(recording.placePath(), &place));
    int afterPlace = 0;
    for (const auto &entry : recording.stored)
        afterPlace += entry.first.second > place.acknowledged.value(entry.first.first, -1);
    QVERIFY2(afterPlace > 0, "the first publisher had every sample acknowledged");
    broker.thaw();

    LivePublisher second(plainSettings(broker.port()));
    second.setIdentity(frame);
    second.startRecording(recording.store.get(), recording.channels);
    for (int i = 0; i < 2; ++i) {
        recording.storeScan();
        second.samplesStored();
    }
    QVERIFY(subscriber.waitUntil(
        [&] { return distinctReceived(subscriber) == recording.stored.size(); }, 30000));
    QVERIFY(subscriber.waitUntil([&] { return second.backlog() == 0; }, 10000));
    bool ok = false;
    const std::vector<ReceivedSample> received = readingsIn(subscriber.messages, &ok);
    QVERIFY(ok);
    QString why;
    QVERIFY2(deliveredInOrder(recording, received, &why), qPrintable(why));
    // Only what the broker had not acknowledged is sent twice.
    std::map<std::pair<int, qint64>, int> times;
    for (const ReceivedSample &sample : received) {
        QCOMPARE(sample.recording, place.recording);
        ++times[{sample.channel, sample.t}];
    }
    for (const auto &entry : times) {
        if (entry.first.second <= place.acknowledged.value(entry.first.first, -1))
            QVERIFY2(entry.second == 1, qPrintable(QString("%1 @ %2 sent %3 times")
                                                       .arg(entry.first.first)
                                                       .arg(entry.first.second)
                                                       .arg(entry.second)));
    }
    QCOMPARE(second.forgetRecording(), qint64(0));
}

void TestLivePublisher::killRepeatsOnlyWhatWasUnconfirmed()
{
    QTemporaryDir brokerDir;
    MqttTestBroker broker;
    QVERIFY(broker.start(brokerDir.path(), plainListener()));
    MqttTestSubscriber subscriber("kill-sub", true);
    QVERIFY(subscriber.connectTo(broker.port(), prefix + "/readings"));
    // A backlog of 1080 readings waits when the publisher starts, as after a restart.
    Recording recording({101, 102, 103});
    for (int i = 0; i < 360; ++i)
        recording.storeScan();

    QByteArray placeAtKill;
    {
        LivePublisher first(plainSettings(broker.port()));
        first.setIdentity(frame);
        first.startRecording(recording.store.get(), recording.channels);
        QVERIFY(subscriber.waitUntil(
            [&] {
                return distinctReceived(subscriber) == recording.stored.size() &&
                       first.backlog() == 0;
            },
            20000));
        // Killed now, with every message acknowledged: a kill -9 leaves the place file as it
        // stands (the page cache outlives the process), whatever the clean end writes after.
        QFile file(recording.placePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        placeAtKill = file.readAll();
    }
    QFile file(recording.placePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(placeAtKill), placeAtKill.size());
    file.close();

    LivePublisher second(plainSettings(broker.port()));
    second.setIdentity(frame);
    second.startRecording(recording.store.get(), recording.channels);
    recording.storeScan();
    second.samplesStored();
    QVERIFY(subscriber.waitUntil(
        [&] {
            return distinctReceived(subscriber) == recording.stored.size() && second.backlog() == 0;
        },
        20000));
    bool ok = false;
    const std::vector<ReceivedSample> received = readingsIn(subscriber.messages, &ok);
    QVERIFY(ok);
    // Nothing was in flight at the kill: what comes again is what the broker had confirmed
    // and the place file did not hold yet, fewer than a full message of 1000.
    const size_t repeated = received.size() - recording.stored.size();
    QVERIFY2(repeated < 1000, qPrintable(QString("%1 readings sent again").arg(repeated)));
    QCOMPARE(second.forgetRecording(), qint64(0));
}

void TestLivePublisher::clockSetBackLosesNothing()
{
    QTemporaryDir brokerDir;
    MqttTestBroker broker;
    QVERIFY(broker.start(brokerDir.path(), plainListener()));
    MqttTestSubscriber subscriber("clock-sub", true);
    QVERIFY(subscriber.connectTo(broker.port(), prefix + "/readings"));
    Recording recording({101, 102, 103});
    LivePublisher publisher(plainSettings(broker.port()));
    publisher.setIdentity(frame);
    publisher.startRecording(recording.store.get(), recording.channels);
    // Scans 100 ms apart on the store's clock, stamped with it and told as the logger does.
    StoreClock::setFixedNow(recording.base);
    const auto storeScans = [&](int count) {
        for (int i = 0; i < count; ++i) {
            recording.storeScanAt(StoreClock::nowMs());
            for (const auto &sample : recording.lastScan)
                publisher.sampleStored(sample.first, sample.second);
            publisher.samplesStored();
            StoreClock::advance(100);
        }
    };
    storeScans(30);
    QVERIFY(subscriber.waitUntil(
        [&] {
            return distinctReceived(subscriber) == recording.stored.size() &&
                   publisher.backlog() == 0;
        },
        20000));

    // The broker holds its acknowledgements back: what is sent next is still in flight when
    // the wall clock is set back 2.05 s, and the next scans carry times already sent.
    broker.freeze();
    storeScans(5);
    StoreClock::advance(-2050);
    storeScans(1);
    const auto firstBehind = recording.lastScan;
    storeScans(4);
    // The place on disk goes back before them, with nothing confirmed meanwhile.
    const auto placeIsBefore = [&](const std::vector<std::pair<int, qint64>> &samples) {
        PublishPlace place;
        if (!PlaceFile::read(recording.placePath(), &place))
            return false;
        for (const auto &sample : samples) {
            if (place.acknowledged.value(sample.first, sample.second) >= sample.second)
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(placeIsBefore(firstBehind), 20000);
    broker.thaw();
    // On past the newest time sent before the step.
    storeScans(40);
    StoreClock::useSystemTime();
    QVERIFY(subscriber.waitUntil(
        [&] {
            return distinctReceived(subscriber) == recording.stored.size() &&
                   publisher.backlog() == 0;
        },
        20000));
    bool ok = false;
    QString why;
    QVERIFY2(deliveredInOrder(recording, readingsIn(subscriber.messages, &ok), &why, false),
             qPrintable(why));
    QVERIFY(ok);
    QCOMPARE(publisher.forgetRecording(), qint64(0));
}

void TestLivePublisher::tlsWithPassword()
{
    // The configuration as a user writes it, paths relative to the file.
    const QString configPath = tlsDir.filePath("datalogger.conf");
    QFile config(configPath);
    QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
    config.write(QStringLiteral("[mqtt]\nurl=mqtts://127.0.0.1:%1\nca_file=ca.crt\nuser=logger\n"
                                "password_file=password.txt\ntopic_prefix=plant/tls\n")
                     .arg(tlsBroker.secondPort())
                     .toUtf8());
    config.close();
    QString error;
    const MqttSettings settings = MqttSettings::load(configPath, &error);
    QVERIFY2(settings.enabled, qPrintable(error));

    MqttTestSubscriber subscriber("tls-sub", true);
    QVERIFY(subscriber.connectTo(tlsBroker.port(), "plant/tls/readings"));
    Recording recording({201, 202});
    LivePublisher publisher(settings);
    QSignalSpy problems(&publisher, &LivePublisher::problem);
    publisher.setIdentity(frame);
    publisher.startRecording(recording.store.get(), recording.channels);
    recording.storeScan();
    recording.storeScan();
    publisher.samplesStored();
    QVERIFY2(subscriber.waitUntil(
                 [&] { return distinctReceived(subscriber) == recording.stored.size(); }, 20000),
             qPrintable(problems.isEmpty() ? QString() : problems.first().at(0).toString()));
    bool ok = false;
    QString why;
    QVERIFY(deliveredInOrder(recording, readingsIn(subscriber.messages, &ok), &why));
    QVERIFY(ok);
    QVERIFY(problems.isEmpty());
    // The subscriber may have its copies before the publisher has the broker's acknowledgements.
    QVERIFY(subscriber.waitUntil([&] { return publisher.backlog() == 0; }, 10000));
    QCOMPARE(publisher.forgetRecording(), qint64(0));
}

void TestLivePublisher::problemsAreReported_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QString>("expected");

    QTest::newRow("login refused") << "ca.crt"
                                   << "wrong horse" << true << "MQTT 登录被拒绝：";
    QTest::newRow("certificate of another CA") << "other-ca.crt"
                                               << "right horse" << true << "MQTT TLS 连接失败：";
    QTest::newRow("nobody listening") << "ca.crt"
                                      << "right horse" << false << "MQTT 代理无法连接：";
}

void TestLivePublisher::problemsAreReported()
{
    QFETCH(QString, caFile);
    QFETCH(QString, password);
    QFETCH(bool, reachable);
    QFETCH(QString, expected);

    MqttSettings settings =
        plainSettings(reachable ? tlsBroker.secondPort() : MqttTestBroker::freePort());
    settings.tls = true;
    settings.caFile = tlsDir.filePath(caFile);
    settings.userName = QStringLiteral("logger");
    settings.password = password;

    Recording recording({101, 102});
    LivePublisher publisher(settings);
    QSignalSpy problems(&publisher, &LivePublisher::problem);
    publisher.setIdentity(frame);
    publisher.startRecording(recording.store.get(), recording.channels);
    recording.storeScan();
    publisher.samplesStored();
    QVERIFY(problems.wait(15000));
    const QString text = problems.first().at(0).toString();
    QVERIFY2(text.startsWith(expected), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("%1:%2").arg(settings.host).arg(settings.port)),
             qPrintable(text));
    // Logging carries on: storing and forgetting do not wait for the broker, and what never
    // reached it is counted as lost, the scan stored a moment ago included.
    recording.storeScan();
    publisher.samplesStored();
    QVERIFY(!publisher.isConnected());
    QCOMPARE(publisher.forgetRecording(), qint64(recording.stored.size()));
    // Retrying with the same fault is not a new problem.
    QTest::qWait(2500);
    QCOMPARE(problems.size(), 1);
}

QTEST_GUILESS_MAIN(TestLivePublisher)
#include "tst_livepublisher.moc"
