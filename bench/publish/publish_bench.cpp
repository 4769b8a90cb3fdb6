// Measures the live publisher catching up a stored backlog (samples per second until the broker
// acknowledged all of them) against a plain libmosquitto loop publishing the same batch
// payloads at QoS 1 to the same local broker and waiting for the acknowledgements: the
// ceiling; once with the broker as installed and once with set_tcp_nodelay. Beside them the two
// things the publisher does that the ceiling does not: reading the samples from the day files
// (bare SQLite, the least any reader of them pays) and writing the payload text. Then the GUI
// thread's time per scan (addSample for 90 channels + samplesStored) with a publisher attached
// and without.
//   publish_bench [stored samples, default 100000]
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "livepublisher.h"
#include "publishpayload.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <mosquitto.h>
#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int storedChannels = 10;
constexpr size_t batch = 1000;
constexpr int window = 16; // the publisher's messages in flight

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool startBroker(QProcess *broker, const QString &dir, int port, bool noDelay)
{
    QFile config(QDir(dir).filePath("mosquitto.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = "listener " + QByteArray::number(port) +
                      " 127.0.0.1\nallow_anonymous true\npersistence false\nlog_type error\n";
    if (noDelay)
        text += "set_tcp_nodelay true\n";
    if (getuid() == 0)
        text += "user root\n";
    config.write(text);
    config.close();
    broker->start("/usr/sbin/mosquitto", {"-c", config.fileName()});
    if (!broker->waitForStarted(5000))
        return false;
    for (int i = 0; i < 250; ++i) {
        mosquitto *probe = mosquitto_new(nullptr, true, nullptr);
        const bool up = mosquitto_connect(probe, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS;
        mosquitto_destroy(probe);
        if (up)
            return true;
        QThread::msleep(20);
    }
    return false;
}

// The plain loop: every payload at QoS 1, at most `window` unacknowledged, until all are.
struct PlainLoop
{
    int acknowledged = 0;
    static void onPublish(mosquitto *, void *self, int)
    {
        ++static_cast<PlainLoop *>(self)->acknowledged;
    }
};

double runPlain(int port, const std::vector<QByteArray> &payloads, size_t samples)
{
    PlainLoop state;
    mosquitto *mosq = mosquitto_new("plain-loop", true, &state);
    mosquitto_max_inflight_messages_set(mosq, 100);
    mosquitto_publish_callback_set(mosq, &PlainLoop::onPublish);
    if (mosquitto_connect(mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
        return 0;
    const auto start = Clock::now();
    size_t next = 0;
    while (state.acknowledged < int(payloads.size())) {
        while (next < payloads.size() && int(next) - state.acknowledged < window) {
            mosquitto_publish(mosq, nullptr, "bench/plain/readings", payloads[next].size(),
                              payloads[next].constData(), 1, false);
            ++next;
        }
        mosquitto_loop(mosq, 50, 1);
    }
    const double seconds = secondsSince(start);
    mosquitto_disconnect(mosq);
    mosquitto_destroy(mosq);
    return samples / seconds;
}

double runPublisher(int port, CurveDataDB *store, const QList<int> &channels, int total)
{
    // A place file from the previous run would say everything is delivered.
    QFile::remove(QDir(store->dataDirectory()).filePath("mqtt-place.ini"));
    MqttSettings settings;
    settings.enabled = true;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.topicPrefix = "bench/publisher";
    LivePublisher publisher(settings);
    publisher.setIdentity(FrameIdentity::parse(QStringLiteral("MAKER,VSK3307,BENCH01,1.0")));
    // Connected first: the figure is the catch-up, not the connection.
    QElapsedTimer guard;
    guard.start();
    while (!publisher.isConnected() && guard.elapsed() < 10000)
        QThread::msleep(1);
    const auto start = Clock::now();
    publisher.startRecording(store, channels);
    bool counted = false;
    while (guard.elapsed() < 300000) {
        const qint64 backlog = publisher.backlog();
        if (backlog > 0)
            counted = true;
        else if (counted)
            break;
        QThread::usleep(200);
    }
    const double seconds = secondsSince(start);
    const qint64 stored = publisher.forgetRecording();
    if (stored != 0)
        std::printf("  (publisher left %lld undelivered)\n", static_cast<long long>(stored));
    return total / seconds;
}

// Every stored sample read back with the bare SQLite API, channel by channel in time order
// through the same index the publisher uses; samples per second.
double runBareRead(const QString &storeDir)
{
    const auto start = Clock::now();
    qint64 rows = 0;
    double sum = 0;
    const QStringList files = QDir(storeDir).entryList({"*.db"}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(QDir(storeDir).filePath(name).toUtf8().constData(), &db,
                            SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return 0;
        }
        sqlite3_stmt *list = nullptr;
        sqlite3_prepare_v2(db, "SELECT table_name, curve_id FROM batch_metadata", -1, &list,
                           nullptr);
        while (sqlite3_step(list) == SQLITE_ROW) {
            const QByteArray sql =
                "SELECT timestamp, value FROM \"" +
                QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(list, 0))) +
                "\" WHERE curve_id = ? AND timestamp BETWEEN ? AND ? ORDER BY timestamp ASC";
            sqlite3_stmt *read = nullptr;
            sqlite3_prepare_v2(db, sql.constData(), -1, &read, nullptr);
            sqlite3_bind_int64(read, 1, sqlite3_column_int64(list, 1));
            sqlite3_bind_int64(read, 2, 0);
            sqlite3_bind_int64(read, 3, std::numeric_limits<qint64>::max());
            while (sqlite3_step(read) == SQLITE_ROW) {
                rows += sqlite3_column_int64(read, 0) > 0;
                sum += sqlite3_column_double(read, 1);
            }
            sqlite3_finalize(read);
        }
        sqlite3_finalize(list);
        sqlite3_close(db);
    }
    const double seconds = secondsSince(start);
    return sum > 0 ? rows / seconds : 0;
}

// The payload text of every batch, as the publisher writes it; samples per second.
double runPayloads(const std::vector<PublishedSample> &samples)
{
    const auto start = Clock::now();
    qint64 bytes = 0;
    for (size_t first = 0; first < samples.size(); first += batch)
        bytes += PublishPayload::readings("BENCH01", 1765100000000, &samples[first],
                                          std::min(batch, samples.size() - first))
                     .size();
    const double seconds = secondsSince(start);
    return bytes > 0 ? samples.size() / seconds : 0;
}

// Per-scan times in microseconds: 90 addSample and, with a publisher, samplesStored.
std::vector<double> runScans(const QString &dir, int scans, LivePublisher *publisher, qint64 base)
{
    CurveDataDB store(dir);
    QList<int> channels;
    std::vector<std::unique_ptr<CurveSeriesData>> curves;
    for (int c = 0; c < 90; ++c) {
        channels << 101 + c;
        curves.emplace_back(new CurveSeriesData(QString::number(101 + c), &store));
    }
    if (publisher)
        publisher->startRecording(&store, channels);
    std::vector<double> times;
    for (int s = 0; s < scans; ++s) {
        const auto start = Clock::now();
        for (int c = 0; c < 90; ++c)
            curves[size_t(c)]->addSample(double(base + s * 100), c + s * 0.001);
        if (publisher)
            publisher->samplesStored();
        times.push_back(secondsSince(start) * 1e6);
        // The GUI thread's idle time between scans, in which the publisher's thread runs too.
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    if (publisher)
        publisher->forgetRecording();
    return times;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double quantile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(values.size() * q))];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    mosquitto_lib_init();
    const int total = argc > 1 ? std::max(1000, atoi(argv[1])) : 100000;
    QTemporaryDir dir;
    // The broker as installed, and one that sends its small packets (the acknowledgements)
    // without waiting: with Nagle's algorithm the last acknowledgements of a burst can wait for
    // the client's delayed TCP acknowledgement, about 40 ms, in some runs and not in others.
    const int port = freePort();
    const int noDelayPort = freePort();
    QProcess broker;
    QProcess noDelayBroker;
    QDir(dir.path()).mkdir("nodelay");
    if (!startBroker(&broker, dir.path(), port, false) ||
        !startBroker(&noDelayBroker, QDir(dir.path()).filePath("nodelay"), noDelayPort, true)) {
        std::fprintf(stderr, "publish_bench: the broker did not start\n");
        return 1;
    }

    // The backlog: `total` samples over 10 channels, one scan every 100 ms.
    const QString storeDir = QDir(dir.path()).filePath("store");
    CurveDataDB store(storeDir);
    QList<int> channels;
    std::vector<std::unique_ptr<CurveSeriesData>> curves;
    for (int c = 0; c < storedChannels; ++c) {
        channels << 101 + c;
        curves.emplace_back(new CurveSeriesData(QString::number(101 + c), &store));
    }
    const qint64 base = QDateTime::currentMSecsSinceEpoch() - qint64(total) * 10 - 60000;
    std::vector<PublishedSample> samples;
    samples.reserve(size_t(total));
    for (int i = 0; i < total; ++i) {
        const int c = i % storedChannels;
        const PublishedSample sample{base + (i / storedChannels) * 100, 101 + c,
                                     100.0 + c + i * 1e-4};
        curves[size_t(c)]->addSample(double(sample.t), sample.value);
        samples.push_back(sample);
    }
    std::vector<QByteArray> payloads;
    for (size_t first = 0; first < samples.size(); first += batch)
        payloads.push_back(PublishPayload::readings("BENCH01", 1765100000000, &samples[first],
                                                    std::min(batch, samples.size() - first)));

    std::printf("publish_bench: %d stored samples on %d channels, batches of %zu, %d in flight\n",
                total, storedChannels, batch, window);
    for (const int brokerPort : {port, noDelayPort}) {
        std::printf("%s\n", brokerPort == port ? "broker as installed"
                                               : "broker with set_tcp_nodelay true");
        std::vector<double> plainRates;
        std::vector<double> publisherRates;
        for (int run = 0; run < 3; ++run) {
            plainRates.push_back(runPlain(brokerPort, payloads, size_t(total)));
            publisherRates.push_back(runPublisher(brokerPort, &store, channels, total));
        }
        const double plain = median(plainRates);
        const double published = median(publisherRates);
        std::printf("  plain libmosquitto loop (ceiling)  %9.0f samples/s  (runs %.0f %.0f %.0f)\n",
                    plain, plainRates[0], plainRates[1], plainRates[2]);
        std::printf("  LivePublisher catch-up             %9.0f samples/s  (runs %.0f %.0f %.0f)\n",
                    published, publisherRates[0], publisherRates[1], publisherRates[2]);
        std::printf("  ratio publisher / ceiling: %.2f (target at least 0.50)\n",
                    published / plain);
    }
    std::vector<double> readRates;
    std::vector<double> textRates;
    for (int run = 0; run < 3; ++run) {
        readRates.push_back(runBareRead(storeDir));
        textRates.push_back(runPayloads(samples));
    }
    std::printf("what the ceiling leaves out, alone:\n");
    std::printf("  store read, bare SQLite            %9.0f samples/s  (runs %.0f %.0f %.0f)\n",
                median(readRates), readRates[0], readRates[1], readRates[2]);
    std::printf("  payload text                       %9.0f samples/s  (runs %.0f %.0f %.0f)\n\n",
                median(textRates), textRates[0], textRates[1], textRates[2]);

    // GUI thread per scan, 90 channels, with and without a publisher, taking turns.
    const int scans = 300;
    std::vector<double> with;
    std::vector<double> without;
    MqttSettings settings;
    settings.enabled = true;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.topicPrefix = "bench/scan";
    for (int run = 0; run < 3; ++run) {
        const qint64 scanBase = QDateTime::currentMSecsSinceEpoch() - scans * 100 - 60000;
        const QString a = QDir(dir.path()).filePath(QString("without-%1").arg(run));
        const QString b = QDir(dir.path()).filePath(QString("with-%1").arg(run));
        const std::vector<double> w0 = runScans(a, scans, nullptr, scanBase);
        without.insert(without.end(), w0.begin(), w0.end());
        LivePublisher publisher(settings);
        publisher.setIdentity(FrameIdentity::parse(QStringLiteral("MAKER,VSK3307,BENCH01,1.0")));
        const std::vector<double> w1 = runScans(b, scans, &publisher, scanBase);
        with.insert(with.end(), w1.begin(), w1.end());
    }
    std::printf("GUI thread per scan (90 x addSample [+ samplesStored]), %d scans x 3\n", scans);
    std::printf("  without publisher  p50 %8.1f us  p90 %8.1f us\n", quantile(without, 0.5),
                quantile(without, 0.9));
    std::printf("  with publisher     p50 %8.1f us  p90 %8.1f us\n", quantile(with, 0.5),
                quantile(with, 0.9));
    std::printf("  ratio with / without p50: %.2f\n", quantile(with, 0.5) / quantile(without, 0.5));

    for (QProcess *running : {&broker, &noDelayBroker}) {
        running->terminate();
        running->waitForFinished(5000);
    }
    return 0;
}
