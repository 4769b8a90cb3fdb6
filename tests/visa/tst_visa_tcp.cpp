// The VISA layer over real loopback TCP: responders written here, one socat responder, and
// listeners that refuse, stall or drop.
#include "loopback_responder.h"
#include "visa.h"

#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const char kIdentity[] = "MAKER,VSK3307,SN1,1.0\n";

// Answers the test's commands: *IDN?, LONG? (1000 characters), BIG? <n> (n x's and a line
// feed), SLOW? (after 1 s), PIECES? and LONGPIECES? (three segments), PART (a half reply, then
// hangs up), SILENT (nothing), ECHO <text> (the text and a line feed), RAW <bytes>.
void instrument(const std::string &line, ResponderConnection &connection)
{
    if (line == "*IDN?") {
        connection.send(kIdentity);
    } else if (line == "LONG?") {
        connection.send(std::string(1000, 'A') + "\n");
    } else if (line.rfind("BIG? ", 0) == 0) {
        connection.send(std::string(std::stoul(line.substr(5)), 'x') + "\n");
    } else if (line == "SLOW?") {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        connection.send("SLOW\n");
    } else if (line == "PIECES?") {
        connection.sendInPieces({"+1.0", "2E+0", "0,+0\n"}, 40);
    } else if (line == "LONGPIECES?") {
        connection.sendInPieces({std::string(300, 'B'), std::string(300, 'C'), "\n"}, 40);
    } else if (line == "PART") {
        connection.send("PART");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        connection.close();
    } else if (line.rfind("ECHO ", 0) == 0) {
        connection.send(line.substr(5) + "\n");
    } else if (line.rfind("RAW ", 0) == 0) {
        // The bytes as given, with \x01 standing for a line feed.
        std::string bytes = line.substr(4);
        for (char &c : bytes) {
            if (c == '\x01')
                c = '\n';
        }
        connection.send(bytes);
    }
}

// A port on which nothing listens.
uint16_t closedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// A listener that never accepts: connections complete in its backlog and data is buffered but
// never read. With fill set, its backlog is filled so that further connects stall.
class StalledListener
{
public:
    explicit StalledListener(bool fill)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        listen(fd_, 0);
        socklen_t length = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &length);
        port = ntohs(addr.sin_port);
        for (int i = 0; fill && i < 4; ++i) {
            const int client = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(client, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
            fillers_.push_back(client);
        }
        QTest::qWait(50);
    }
    ~StalledListener()
    {
        for (int fd : fillers_)
            ::close(fd);
        ::close(fd_);
    }
    std::string resourceName() const
    {
        return "TCPIP::127.0.0.1::" + std::to_string(port) + "::SOCKET";
    }
    uint16_t port = 0;

private:
    int fd_ = -1;
    std::vector<int> fillers_;
};

QByteArray bytesOf(const ViByte *data, ViUInt32 count)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(count));
}

} // namespace

class TestVisaTcp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void queryOverLoopback();
    void replyInSeveralSegmentsIsReassembled();
    void readSemantics_data();
    void readSemantics();
    void timeoutEndsOnTime_data();
    void timeoutEndsOnTime();
    void immediateTimeoutDoesNotWait();
    void maximumReplyOfSessionBuffer_data();
    void maximumReplyOfSessionBuffer();
    void droppedConnectionIsReported();
    void refusedConnection();
    void unknownHost();
    void connectBoundedByTimeout();
    void writeBoundedByTimeout();
    void ipv6Loopback();
    void socatResponder();

    void queryfIdentity();
    void queryfExpandsArguments();
    void queryfOverlongReplyNeitherOverflowsNorPollutes();
    void queryfBoundedWidth();
    void queryfOverlongReplyInSegments();
    void queryfRefusesFormatsBeforeWriting();

    void invalidObjectsAndNullPointers();
    void attributesAreChecked();
    void closingManagerClosesItsSessions();
    void exclusiveLockWaitsAndRefuses();
    void twoThreadsOnTwoSessionsDoNotBlockEachOther();
    void closeDuringBlockedRead();
    void managersOpenedAndClosedFromManyThreads();

private:
    ViSession openSession(LoopbackResponder &responder, bool termchar = true);

    ViSession rm_ = VI_NULL;
    std::unique_ptr<LoopbackResponder> responder_;
};

void TestVisaTcp::initTestCase()
{
    QCOMPARE(viOpenDefaultRM(&rm_), VI_SUCCESS);
    QVERIFY(rm_ != VI_NULL);
    responder_.reset(new LoopbackResponder(instrument));
    QVERIFY(responder_->start());
}

void TestVisaTcp::cleanupTestCase()
{
    QCOMPARE(viClose(rm_), VI_SUCCESS);
    responder_.reset();
}

ViSession TestVisaTcp::openSession(LoopbackResponder &responder, bool termchar)
{
    ViSession vi = VI_NULL;
    const ViStatus status = viOpen(rm_, responder.resourceName().c_str(), VI_NO_LOCK, 0, &vi);
    if (status != VI_SUCCESS)
        return VI_NULL;
    if (termchar) {
        viSetAttribute(vi, VI_ATTR_TERMCHAR, '\n');
        viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
    }
    return vi;
}

void TestVisaTcp::queryOverLoopback()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    ViUInt32 count = 0;
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &count), VI_SUCCESS);
    QCOMPARE(count, 6u);
    ViByte reply[40960];
    QCOMPARE(viRead(vi, reply, 40959, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(bytesOf(reply, count), QByteArray(kIdentity));
    // retCnt may be left out.
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, VI_NULL), VI_SUCCESS);
    QCOMPARE(viRead(vi, reply, 40959, VI_NULL), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(viClose(vi), VI_SUCCESS);
}

void TestVisaTcp::replyInSeveralSegmentsIsReassembled()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("PIECES?\n"), 8, VI_NULL), VI_SUCCESS);
    ViByte reply[100];
    ViUInt32 count = 0;
    QCOMPARE(viRead(vi, reply, sizeof reply, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(bytesOf(reply, count), QByteArray("+1.02E+00,+0\n"));
    viClose(vi);
}

void TestVisaTcp::readSemantics_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("termchar"); // -1: termination character disabled
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("firstStatus");
    QTest::addColumn<QByteArray>("firstData");
    QTest::addColumn<int>("secondStatus"); // of a second read of up to 100 bytes
    QTest::addColumn<QByteArray>("secondData");

    QTest::newRow("count reached, rest kept")
        << QByteArray("ABCDEF\n") << int('\n') << 3 << int(VI_SUCCESS_MAX_CNT) << QByteArray("ABC")
        << int(VI_SUCCESS_TERM_CHAR) << QByteArray("DEF\n");
    QTest::newRow("two replies in one segment")
        << QByteArray("AB\nCD\n") << int('\n') << 100 << int(VI_SUCCESS_TERM_CHAR)
        << QByteArray("AB\n") << int(VI_SUCCESS_TERM_CHAR) << QByteArray("CD\n");
    QTest::newRow("terminator exactly at count")
        << QByteArray("ABC\n") << int('\n') << 4 << int(VI_SUCCESS_TERM_CHAR) << QByteArray("ABC\n")
        << int(VI_ERROR_TMO) << QByteArray();
    QTest::newRow("other termination character")
        << QByteArray("A;B\n") << int(';') << 100 << int(VI_SUCCESS_TERM_CHAR) << QByteArray("A;")
        << int(VI_ERROR_TMO) << QByteArray("B\n");
    QTest::newRow("termination disabled: timeout with data")
        << QByteArray("AB\nCD") << -1 << 100 << int(VI_ERROR_TMO) << QByteArray("AB\nCD")
        << int(VI_ERROR_TMO) << QByteArray();
    QTest::newRow("termination disabled: count")
        << QByteArray("AB\nCD") << -1 << 4 << int(VI_SUCCESS_MAX_CNT) << QByteArray("AB\nC")
        << int(VI_ERROR_TMO) << QByteArray("D");
}

void TestVisaTcp::readSemantics()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, termchar);
    QFETCH(int, count);
    QFETCH(int, firstStatus);
    QFETCH(QByteArray, firstData);
    QFETCH(int, secondStatus);
    QFETCH(QByteArray, secondData);

    const ViSession vi = openSession(*responder_, false);
    QVERIFY(vi != VI_NULL);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    if (termchar >= 0) {
        QCOMPARE(viSetAttribute(vi, VI_ATTR_TERMCHAR, ViAttrState(termchar)), VI_SUCCESS);
        QCOMPARE(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    }
    // The whole reply goes out in one segment and is there before the first read.
    const QByteArray command = "RAW " + QByteArray(reply).replace('\n', '\x01') + "\n";
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>(command.constData()),
                     ViUInt32(command.size()), VI_NULL),
             VI_SUCCESS);
    QTest::qWait(50);
    ViByte buffer[200];
    ViUInt32 got = 0;
    QCOMPARE(viRead(vi, buffer, ViUInt32(count), &got), firstStatus);
    QCOMPARE(bytesOf(buffer, got), firstData);
    QCOMPARE(viRead(vi, buffer, 100, &got), secondStatus);
    QCOMPARE(bytesOf(buffer, got), secondData);
    viClose(vi);
}

void TestVisaTcp::timeoutEndsOnTime_data()
{
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QByteArray>("partial");
    QTest::newRow("200 ms, nothing") << 200 << QByteArray();
    QTest::newRow("600 ms, nothing") << 600 << QByteArray();
    QTest::newRow("300 ms, partial reply") << 300 << QByteArray("PARTIAL");
}

void TestVisaTcp::timeoutEndsOnTime()
{
    QFETCH(int, timeoutMs);
    QFETCH(QByteArray, partial);
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, ViAttrState(timeoutMs)), VI_SUCCESS);
    const QByteArray command = partial.isEmpty() ? QByteArray("SILENT\n") : "RAW " + partial + "\n";
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>(command.constData()),
                     ViUInt32(command.size()), VI_NULL),
             VI_SUCCESS);
    ViByte buffer[100];
    ViUInt32 got = 12345;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &got), VI_ERROR_TMO);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= timeoutMs - 2, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < timeoutMs + 1500, qPrintable(QString::number(elapsed)));
    QCOMPARE(bytesOf(buffer, got), partial);
    viClose(vi);
}

void TestVisaTcp::immediateTimeoutDoesNotWait()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_IMMEDIATE), VI_SUCCESS);
    ViByte buffer[10];
    ViUInt32 got = 1;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &got), VI_ERROR_TMO);
    QVERIFY(timer.elapsed() < 200);
    QCOMPARE(got, 0u);
    viClose(vi);
}

void TestVisaTcp::maximumReplyOfSessionBuffer_data()
{
    QTest::addColumn<int>("replyLength"); // characters before the line feed
    QTest::addColumn<int>("firstStatus");
    QTest::addColumn<int>("firstCount");
    QTest::newRow("40958 + LF fits") << 40958 << int(VI_SUCCESS_TERM_CHAR) << 40959;
    QTest::newRow("40959 + LF fills the count") << 40959 << int(VI_SUCCESS_MAX_CNT) << 40959;
    QTest::newRow("100000 + LF") << 100000 << int(VI_SUCCESS_MAX_CNT) << 40959;
}

void TestVisaTcp::maximumReplyOfSessionBuffer()
{
    QFETCH(int, replyLength);
    QFETCH(int, firstStatus);
    QFETCH(int, firstCount);
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    const std::string command = "BIG? " + std::to_string(replyLength) + "\n";
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>(command.data()), ViUInt32(command.size()),
                     VI_NULL),
             VI_SUCCESS);
    std::vector<ViByte> buffer(40960, 0xEE);
    ViUInt32 got = 0;
    QCOMPARE(viRead(vi, buffer.data(), 40959, &got), firstStatus);
    QCOMPARE(int(got), firstCount);
    QCOMPARE(buffer[40959], ViByte(0xEE)); // the byte past the count is untouched
    // The rest stays buffered and comes with the next reads, up to the line feed.
    int total = int(got);
    ViStatus status = firstStatus;
    while (status == VI_SUCCESS_MAX_CNT) {
        status = viRead(vi, buffer.data(), 40959, &got);
        total += int(got);
    }
    QCOMPARE(status, VI_SUCCESS_TERM_CHAR);
    QCOMPARE(total, replyLength + 1);
    QCOMPARE(buffer[got - 1], ViByte('\n'));
    // And the session is in step for the next exchange.
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, VI_NULL), VI_SUCCESS);
    QCOMPARE(viRead(vi, buffer.data(), 40959, &got), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(bytesOf(buffer.data(), got), QByteArray(kIdentity));
    viClose(vi);
}

void TestVisaTcp::droppedConnectionIsReported()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("PART\n"), 5, VI_NULL), VI_SUCCESS);
    ViByte buffer[100];
    ViUInt32 got = 0;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &got), VI_ERROR_CONN_LOST);
    QVERIFY(timer.elapsed() < 1500); // reported at once, not after the 2000 ms timeout
    QCOMPARE(bytesOf(buffer, got), QByteArray("PART"));
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &got), VI_ERROR_CONN_LOST);
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &got), VI_ERROR_CONN_LOST);
    QCOMPARE(got, 0u);
    ViChar desc[256];
    QCOMPARE(viStatusDesc(vi, VI_ERROR_CONN_LOST, desc), VI_SUCCESS);
    QVERIFY(QByteArray(desc).contains("lost"));
    QCOMPARE(viClose(vi), VI_SUCCESS);
}

void TestVisaTcp::refusedConnection()
{
    const std::string name = "TCPIP0::127.0.0.1::" + std::to_string(closedPort()) + "::SOCKET";
    ViSession vi = 777;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viOpen(rm_, name.c_str(), VI_NO_LOCK, 0, &vi), VI_ERROR_RSRC_NFOUND);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(vi, ViSession(VI_NULL));
}

void TestVisaTcp::unknownHost()
{
    ViSession vi = 777;
    QElapsedTimer timer;
    timer.start();
    const ViStatus status =
        viOpen(rm_, "TCPIP::no-such-host.invalid::5025::SOCKET", VI_NO_LOCK, 0, &vi);
    // Where name lookups hang, the session's timeout ends the wait.
    QVERIFY2(status == VI_ERROR_RSRC_NFOUND || status == VI_ERROR_TMO,
             qPrintable(QString::number(status, 16)));
    QVERIFY(timer.elapsed() < 2000 + 1500);
    QCOMPARE(vi, ViSession(VI_NULL));
}

void TestVisaTcp::connectBoundedByTimeout()
{
    StalledListener listener(true);
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viSetAttribute(rm, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    ViSession vi = VI_NULL;
    QElapsedTimer timer;
    timer.start();
    const ViStatus status = viOpen(rm, listener.resourceName().c_str(), VI_NO_LOCK, 0, &vi);
    const qint64 elapsed = timer.elapsed();
    if (status == VI_SUCCESS)
        QSKIP("this kernel accepted the connection despite the full backlog");
    QCOMPARE(status, VI_ERROR_TMO);
    QVERIFY2(elapsed >= 290 && elapsed < 1800, qPrintable(QString::number(elapsed)));
    viClose(rm);
}

void TestVisaTcp::writeBoundedByTimeout()
{
    StalledListener listener(false);
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm_, listener.resourceName().c_str(), VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    const std::vector<ViByte> data(64 * 1024 * 1024, 'w');
    ViUInt32 written = 0;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viWrite(vi, data.data(), ViUInt32(data.size()), &written), VI_ERROR_TMO);
    QVERIFY(timer.elapsed() >= 290 && timer.elapsed() < 2000);
    QVERIFY(written > 0 && written < data.size());
    viClose(vi);
}

void TestVisaTcp::ipv6Loopback()
{
    LoopbackResponder responder(instrument, "::1");
    if (!responder.start())
        QSKIP("no IPv6 loopback here");
    const ViSession vi = openSession(responder);
    QVERIFY(vi != VI_NULL);
    char reply[256] = {};
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%t", reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray(kIdentity));
    viClose(vi);
}

void TestVisaTcp::socatResponder()
{
    const QString socat = QStandardPaths::findExecutable("socat");
    QVERIFY2(!socat.isEmpty(), "socat is installed by scripts/setup.sh");
    const uint16_t port = closedPort();
    QProcess process;
    process.start(socat, {QString("TCP-LISTEN:%1,reuseaddr,bind=127.0.0.1").arg(port),
                          "SYSTEM:read line; echo \"SOCAT,VSK3307,S9,$line\""});
    QVERIFY(process.waitForStarted());
    const std::string name = "TCPIP::127.0.0.1::" + std::to_string(port) + "::SOCKET";
    ViSession vi = VI_NULL;
    ViStatus status = VI_ERROR_RSRC_NFOUND;
    for (int attempt = 0; attempt < 100 && status != VI_SUCCESS; ++attempt) {
        status = viOpen(rm_, name.c_str(), VI_NO_LOCK, 0, &vi);
        if (status != VI_SUCCESS)
            QTest::qWait(20);
    }
    QCOMPARE(status, VI_SUCCESS);
    viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
    char reply[256] = {};
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%t", reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray("SOCAT,VSK3307,S9,*IDN?\n"));
    // socat ends the connection after its one answer.
    ViByte byte;
    ViUInt32 got = 0;
    QCOMPARE(viRead(vi, &byte, 1, &got), VI_ERROR_CONN_LOST);
    viClose(vi);
    QVERIFY(process.waitForFinished(3000));
}

void TestVisaTcp::queryfIdentity()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    char reply[256];
    std::memset(reply, 'Z', sizeof reply);
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%t", reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray(kIdentity));
    viClose(vi);
}

void TestVisaTcp::queryfExpandsArguments()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    char reply[256] = {};
    QCOMPARE(viQueryf(vi, "ECHO CLOS (@%d) %s 100%%\n", "%t", 101, "ok", reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray("CLOS (@101) ok 100%\n"));
    // Without a read format only the write happens.
    QCOMPARE(viQueryf(vi, "ECHO %d\n", "", -7), VI_SUCCESS);
    ViByte buffer[20];
    ViUInt32 got = 0;
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &got), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(bytesOf(buffer, got), QByteArray("-7\n"));
    viClose(vi);
}

void TestVisaTcp::queryfOverlongReplyNeitherOverflowsNorPollutes()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    char fenced[256 + 64];
    std::memset(fenced, 0x5A, sizeof fenced);
    QCOMPARE(viQueryf(vi, "LONG?\n", "%t", fenced), VI_SUCCESS_MAX_CNT);
    QCOMPARE(std::strlen(fenced), size_t(VI_QUERYF_MAX_REPLY));
    QCOMPARE(QByteArray(fenced), QByteArray(255, 'A'));
    for (size_t i = 256; i < sizeof fenced; ++i)
        QCOMPARE(fenced[i], char(0x5A));
    // The next exchange gets its own reply, not the rest of the long one.
    char reply[256] = {};
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%t", reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray(kIdentity));
    viClose(vi);
}

void TestVisaTcp::queryfBoundedWidth()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    char small[12];
    std::memset(small, 0x5A, sizeof small);
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%10t", small), VI_SUCCESS_MAX_CNT);
    QCOMPARE(QByteArray(small), QByteArray(kIdentity).left(10));
    QCOMPARE(small[11], char(0x5A));
    char reply[256] = {};
    QCOMPARE(viQueryf(vi, "ECHO next\n", "%255t", reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray("next\n"));
    viClose(vi);
}

void TestVisaTcp::queryfOverlongReplyInSegments()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    char reply[256];
    QCOMPARE(viQueryf(vi, "LONGPIECES?\n", "%t", reply), VI_SUCCESS_MAX_CNT);
    QCOMPARE(QByteArray(reply), QByteArray(255, 'B'));
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%t", reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray(kIdentity));
    viClose(vi);
}

void TestVisaTcp::queryfRefusesFormatsBeforeWriting()
{
    LoopbackResponder responder(instrument);
    QVERIFY(responder.start());
    const ViSession vi = openSession(responder);
    QVERIFY(vi != VI_NULL);
    char reply[256];
    QCOMPARE(viQueryf(vi, "VOLT %f\n", "%t", 1.5, reply), VI_ERROR_NSUP_FMT);
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%s", reply), VI_ERROR_NSUP_FMT);
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%", reply), VI_ERROR_INV_FMT);
    QCOMPARE(viQueryf(vi, "*IDN?%", "%t", reply), VI_ERROR_INV_FMT);
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%t", static_cast<char *>(nullptr)), VI_ERROR_USER_BUF);
    QCOMPARE(viQueryf(vi, nullptr, "%t", reply), VI_ERROR_INV_FMT);
    QCOMPARE(viQueryf(99999, "*IDN?\n", "%t", reply), VI_ERROR_INV_OBJECT);
    // Nothing reached the instrument.
    QCOMPARE(viQueryf(vi, "ECHO last\n", "%t", reply), VI_SUCCESS);
    QCOMPARE(responder.lines(), std::vector<std::string>{"ECHO last"});
    viClose(vi);
}

void TestVisaTcp::invalidObjectsAndNullPointers()
{
    ViByte buffer[10];
    ViUInt32 got = 5;
    QCOMPARE(viRead(0xDEAD, buffer, sizeof buffer, &got), VI_ERROR_INV_OBJECT);
    QCOMPARE(got, 0u);
    QCOMPARE(viWrite(0xDEAD, buffer, 1, &got), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(0xDEAD), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(VI_NULL), VI_ERROR_INV_OBJECT);
    QCOMPARE(viSetAttribute(0xDEAD, VI_ATTR_TMO_VALUE, 1), VI_ERROR_INV_OBJECT);
    QCOMPARE(viOpenDefaultRM(nullptr), VI_ERROR_INV_PARAMETER);
    ViSession vi = 5;
    QCOMPARE(viOpen(0xDEAD, responder_->resourceName().c_str(), 0, 0, &vi), VI_ERROR_INV_SESSION);
    QCOMPARE(vi, ViSession(VI_NULL));
    QCOMPARE(viOpen(rm_, nullptr, 0, 0, &vi), VI_ERROR_INV_RSRC_NAME);
    QCOMPARE(viOpen(rm_, responder_->resourceName().c_str(), 0, 0, nullptr),
             VI_ERROR_INV_PARAMETER);
    QCOMPARE(viOpen(rm_, "TCPIP::host::SOCKET", 0, 0, &vi), VI_ERROR_INV_RSRC_NAME);
    QCOMPARE(viOpen(rm_, responder_->resourceName().c_str(), 8, 0, &vi), VI_ERROR_INV_ACC_MODE);
    QCOMPARE(viOpen(rm_, responder_->resourceName().c_str(), 3, 0, &vi), VI_ERROR_INV_ACC_MODE);
    // No configuration to load: the session opens with defaults and says so.
    QCOMPARE(viOpen(rm_, responder_->resourceName().c_str(), VI_LOAD_CONFIG, 0, &vi),
             VI_WARN_CONFIG_NLOADED);
    QVERIFY(vi != VI_NULL);
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QCOMPARE(viFindRsrc(0xDEAD, "?*", nullptr, nullptr, nullptr), VI_ERROR_INV_SESSION);
    QCOMPARE(viFindNext(0xDEAD, nullptr), VI_ERROR_INV_OBJECT);

    vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    QCOMPARE(viWrite(vi, nullptr, 3, &got), VI_ERROR_USER_BUF);
    QCOMPARE(viRead(vi, nullptr, 3, &got), VI_ERROR_USER_BUF);
    QCOMPARE(viRead(vi, buffer, 0, &got), VI_SUCCESS_MAX_CNT);
    QCOMPARE(viWrite(vi, buffer, 0, &got), VI_SUCCESS);
    // An instrument session is no resource manager and the manager does no I/O.
    ViSession other = VI_NULL;
    QCOMPARE(viOpen(vi, responder_->resourceName().c_str(), 0, 0, &other), VI_ERROR_NSUP_OPER);
    QCOMPARE(viRead(rm_, buffer, sizeof buffer, &got), VI_ERROR_NSUP_OPER);
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QCOMPARE(viClose(vi), VI_ERROR_INV_OBJECT);
    QCOMPARE(viWrite(vi, buffer, 1, &got), VI_ERROR_INV_OBJECT);
}

void TestVisaTcp::attributesAreChecked()
{
    const ViSession vi = openSession(*responder_);
    QVERIFY(vi != VI_NULL);
    QCOMPARE(viSetAttribute(vi, 0x3FFF9999, 1), VI_ERROR_NSUP_ATTR);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TERMCHAR, 0x100), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, 2), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 0x100000000ull), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_ASRL_BAUD, 9600), VI_ERROR_NSUP_ATTR);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_ASRL_END_IN, 0), VI_ERROR_NSUP_ATTR);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TCPIP_NODELAY, VI_FALSE), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TCPIP_KEEPALIVE, VI_TRUE), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_SEND_END_EN, VI_TRUE), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_INFINITE), VI_SUCCESS);
    // The resource manager takes a timeout and nothing else.
    QCOMPARE(viSetAttribute(rm_, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);
    QCOMPARE(viSetAttribute(rm_, VI_ATTR_TERMCHAR, 10), VI_ERROR_NSUP_ATTR);
    viClose(vi);
}

void TestVisaTcp::closingManagerClosesItsSessions()
{
    LoopbackResponder responder(instrument);
    QVERIFY(responder.start());
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViSession first = VI_NULL;
    ViSession second = VI_NULL;
    QCOMPARE(viOpen(rm, responder.resourceName().c_str(), 0, 0, &first), VI_SUCCESS);
    QCOMPARE(viOpen(rm, responder.resourceName().c_str(), 0, 0, &second), VI_SUCCESS);
    // A session of another manager is not affected.
    const ViSession kept = openSession(responder);
    QVERIFY(kept != VI_NULL);
    QCOMPARE(viClose(rm), VI_SUCCESS);
    ViUInt32 got = 0;
    QCOMPARE(viWrite(first, reinterpret_cast<ViConstBuf>("X\n"), 2, &got), VI_ERROR_INV_OBJECT);
    QCOMPARE(viWrite(second, reinterpret_cast<ViConstBuf>("X\n"), 2, &got), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(first), VI_ERROR_INV_OBJECT);
    QCOMPARE(viOpen(rm, responder.resourceName().c_str(), 0, 0, &first), VI_ERROR_INV_SESSION);
    char reply[256] = {};
    QCOMPARE(viQueryf(kept, "*IDN?\n", "%t", reply), VI_SUCCESS);
    viClose(kept);
}

void TestVisaTcp::exclusiveLockWaitsAndRefuses()
{
    const std::string name = responder_->resourceName();
    ViSession owner = VI_NULL;
    QCOMPARE(viOpen(rm_, name.c_str(), VI_EXCLUSIVE_LOCK, 0, &owner), VI_SUCCESS);
    ViSession other = VI_NULL;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viOpen(rm_, name.c_str(), VI_EXCLUSIVE_LOCK, 200, &other), VI_ERROR_RSRC_LOCKED);
    QVERIFY(timer.elapsed() >= 190 && timer.elapsed() < 1500);
    // Without a lock the session opens, but its I/O is refused while the lock is held.
    QCOMPARE(viOpen(rm_, name.c_str(), VI_NO_LOCK, 0, &other), VI_SUCCESS);
    ViUInt32 got = 0;
    QCOMPARE(viWrite(other, reinterpret_cast<ViConstBuf>("X\n"), 2, &got), VI_ERROR_RSRC_LOCKED);
    QCOMPARE(viClose(owner), VI_SUCCESS);
    QCOMPARE(viWrite(other, reinterpret_cast<ViConstBuf>("ECHO a\n"), 7, &got), VI_SUCCESS);
    viClose(other);
    // A lock that is released during the wait is taken.
    QCOMPARE(viOpen(rm_, name.c_str(), VI_EXCLUSIVE_LOCK, 0, &owner), VI_SUCCESS);
    std::thread closer([owner] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        viClose(owner);
    });
    QCOMPARE(viOpen(rm_, name.c_str(), VI_SHARED_LOCK, 2000, &other), VI_SUCCESS);
    closer.join();
    viClose(other);
}

void TestVisaTcp::twoThreadsOnTwoSessionsDoNotBlockEachOther()
{
    const ViSession slow = openSession(*responder_);
    const ViSession fast = openSession(*responder_);
    QVERIFY(slow != VI_NULL && fast != VI_NULL);
    std::atomic<bool> slowDone{false};
    ViStatus slowStatus = VI_ERROR_SYSTEM_ERROR;
    char slowReply[256] = {};
    std::thread slowThread([&] {
        slowStatus = viQueryf(slow, "SLOW?\n", "%t", slowReply);
        slowDone = true;
    });
    QTest::qWait(50);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 20; ++i) {
        char reply[256] = {};
        const std::string text = "ECHO fast" + std::to_string(i) + "\n";
        QCOMPARE(viQueryf(fast, text.c_str(), "%t", reply), VI_SUCCESS);
        QCOMPARE(QByteArray(reply), QByteArray(text.substr(5).c_str()));
    }
    // All twenty exchanges finished while the slow one was still waiting for its reply.
    QVERIFY(!slowDone.load());
    slowThread.join();
    QCOMPARE(slowStatus, VI_SUCCESS);
    QCOMPARE(QByteArray(slowReply), QByteArray("SLOW\n"));
    viClose(slow);
    viClose(fast);
}

void TestVisaTcp::closeDuringBlockedRead()
{
    for (ViUInt32 timeout : {ViUInt32(5000), ViUInt32(VI_TMO_INFINITE)}) {
        const ViSession vi = openSession(*responder_);
        QVERIFY(vi != VI_NULL);
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeout);
        std::atomic<ViStatus> readStatus{VI_SUCCESS};
        std::atomic<bool> readDone{false};
        std::thread reader([&] {
            ViByte buffer[64];
            ViUInt32 got = 0;
            readStatus = viRead(vi, buffer, sizeof buffer, &got);
            readDone = true;
        });
        QTest::qWait(100);
        QVERIFY(!readDone.load());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(viClose(vi), VI_SUCCESS);
        reader.join();
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(readStatus.load() < VI_SUCCESS);
        QCOMPARE(viRead(vi, nullptr, 0, nullptr), VI_ERROR_INV_OBJECT);
    }
}

void TestVisaTcp::managersOpenedAndClosedFromManyThreads()
{
    // Each thread opens a manager and a session, queries, and closes the manager with the
    // session still open, while a shared session is queried and a closer races a reader on it.
    const ViSession shared = openSession(*responder_);
    QVERIFY(shared != VI_NULL);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                ViSession rm = VI_NULL;
                ViSession vi = VI_NULL;
                char reply[256] = {};
                if (viOpenDefaultRM(&rm) != VI_SUCCESS ||
                    viOpen(rm, responder_->resourceName().c_str(), VI_NO_LOCK, 0, &vi) !=
                        VI_SUCCESS) {
                    ++failures;
                    continue;
                }
                viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
                const std::string command = "ECHO t" + std::to_string(t) + "\n";
                if (viQueryf(vi, command.c_str(), "%t", reply) != VI_SUCCESS ||
                    command.substr(5) != reply)
                    ++failures;
                if (viClose(rm) != VI_SUCCESS || viClose(vi) != VI_ERROR_INV_OBJECT)
                    ++failures;
                char sharedReply[256] = {};
                // The shared session serialises whole queries: each reply matches its command.
                const std::string mine = "ECHO s" + std::to_string(t * 100 + i) + "\n";
                if (viQueryf(shared, mine.c_str(), "%t", sharedReply) != VI_SUCCESS ||
                    mine.substr(5) != sharedReply)
                    ++failures;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);
    // A closer racing queries on one session: every call returns, none crashes.
    std::thread reader([&] {
        for (int i = 0; i < 50; ++i) {
            char reply[256];
            viQueryf(shared, "ECHO r\n", "%t", reply);
        }
    });
    QTest::qWait(5);
    QCOMPARE(viClose(shared), VI_SUCCESS);
    reader.join();
    char reply[256];
    QCOMPARE(viQueryf(shared, "ECHO r\n", "%t", reply), VI_ERROR_INV_OBJECT);
}

QTEST_GUILESS_MAIN(TestVisaTcp)
#include "tst_visa_tcp.moc"
