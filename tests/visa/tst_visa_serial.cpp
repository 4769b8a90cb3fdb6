// The VISA layer's serial transport over real pseudo-terminals: line settings read back from the
// terminal, exchanges both ways, end-of-read rules, port numbering and refused paths.
#include "pty_pair.h"
#include "serial_termios.h"
#include "visa.h"

#include <QtTest>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

std::string serialName(const PtyPair &pty)
{
    return "ASRL" + pty.slavePath() + "::INSTR";
}

QByteArray bytesOf(const ViByte *data, ViUInt32 count)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(count));
}

} // namespace

class TestVisaSerial : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void defaultsAre9600_8N1Raw();
    void settingsAreApplied_data();
    void settingsAreApplied();
    void termiosFlagsForEverySetting_data();
    void termiosFlagsForEverySetting();
    void settingsOnARealSerialPort();
    void refusedSettingsLeaveThePortAsItWas_data();
    void refusedSettingsLeaveThePortAsItWas();
    void sessionConfigurationOfTheLogger();
    void exchangeBothWays();
    void readEndsAtTermcharWhateverTermcharEnSays();
    void endInNoneReadsUntilTimeout();
    void endInLastBit();
    void endOutTermcharAppendsIt();
    void queryfOnSerial();
    void lostPeerIsReported();
    void pathsThatAreNotSerialPortsAreRefused_data();
    void pathsThatAreNotSerialPortsAreRefused();
    void numberedPortsFollowTheSortedDeviceList();

private:
    ViSession rm_ = VI_NULL;
    PtyPair *pty_ = nullptr;
    ViSession vi_ = VI_NULL;
};

void TestVisaSerial::initTestCase()
{
    QCOMPARE(viOpenDefaultRM(&rm_), VI_SUCCESS);
}

void TestVisaSerial::cleanupTestCase()
{
    viClose(rm_);
}

void TestVisaSerial::init()
{
    pty_ = new PtyPair;
    QVERIFY(pty_->open());
    QCOMPARE(viOpen(rm_, serialName(*pty_).c_str(), VI_NO_LOCK, 0, &vi_), VI_SUCCESS);
}

void TestVisaSerial::cleanup()
{
    viClose(vi_);
    vi_ = VI_NULL;
    delete pty_;
    pty_ = nullptr;
}

void TestVisaSerial::defaultsAre9600_8N1Raw()
{
    termios tio{};
    QCOMPARE(tcgetattr(pty_->slave(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ECHO | ICANON | ISIG), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | ICRNL), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
}

void TestVisaSerial::settingsAreApplied_data()
{
    QTest::addColumn<uint>("attribute");
    QTest::addColumn<uint>("value");
    QTest::addColumn<int>("status");
    QTest::addColumn<uint>("speed");
    QTest::addColumn<uint>("cflagMask");
    QTest::addColumn<uint>("cflag");
    QTest::addColumn<uint>("iflagMask");
    QTest::addColumn<uint>("iflag");
    QTest::newRow("57600 baud") << uint(VI_ATTR_ASRL_BAUD) << 57600u << int(VI_SUCCESS)
                                << uint(B57600) << 0u << 0u << 0u << 0u;
    QTest::newRow("115200 baud") << uint(VI_ATTR_ASRL_BAUD) << 115200u << int(VI_SUCCESS)
                                 << uint(B115200) << 0u << 0u << 0u << 0u;
    QTest::newRow("two stop bits")
        << uint(VI_ATTR_ASRL_STOP_BITS) << uint(VI_ASRL_STOP_TWO) << int(VI_SUCCESS) << uint(B9600)
        << uint(CSTOPB) << uint(CSTOPB) << 0u << 0u;
    QTest::newRow("1.5 stop bits become two")
        << uint(VI_ATTR_ASRL_STOP_BITS) << uint(VI_ASRL_STOP_ONE5) << int(VI_WARN_NSUP_ATTR_STATE)
        << uint(B9600) << uint(CSTOPB) << uint(CSTOPB) << 0u << 0u;
    QTest::newRow("rts/cts") << uint(VI_ATTR_ASRL_FLOW_CNTRL) << uint(VI_ASRL_FLOW_RTS_CTS)
                             << int(VI_SUCCESS) << uint(B9600) << uint(CRTSCTS) << uint(CRTSCTS)
                             << uint(IXON | IXOFF) << 0u;
    QTest::newRow("xon/xoff") << uint(VI_ATTR_ASRL_FLOW_CNTRL) << uint(VI_ASRL_FLOW_XON_XOFF)
                              << int(VI_SUCCESS) << uint(B9600) << uint(CRTSCTS) << 0u
                              << uint(IXON | IXOFF) << uint(IXON | IXOFF);
}

void TestVisaSerial::settingsAreApplied()
{
    QFETCH(uint, attribute);
    QFETCH(uint, value);
    QFETCH(int, status);
    QFETCH(uint, speed);
    QFETCH(uint, cflagMask);
    QFETCH(uint, cflag);
    QFETCH(uint, iflagMask);
    QFETCH(uint, iflag);
    QCOMPARE(viSetAttribute(vi_, attribute, value), status);
    // Read back from the terminal itself, on a descriptor of the test's own.
    termios tio{};
    QCOMPARE(tcgetattr(pty_->slave(), &tio), 0);
    QCOMPARE(uint(cfgetospeed(&tio)), speed);
    QCOMPARE(uint(cfgetispeed(&tio)), speed);
    QCOMPARE(uint(tio.c_cflag) & cflagMask, cflag);
    QCOMPARE(uint(tio.c_iflag) & iflagMask, iflag);
    QCOMPARE(tio.c_lflag & (ECHO | ICANON), tcflag_t(0));
}

void TestVisaSerial::termiosFlagsForEverySetting_data()
{
    QTest::addColumn<uint>("dataBits");
    QTest::addColumn<uint>("parity");
    QTest::addColumn<uint>("stopBits");
    QTest::addColumn<uint>("flow");
    QTest::addColumn<int>("status");
    QTest::addColumn<uint>("cflag"); // the control flags among kSerialControlFlags
    QTest::addColumn<uint>("iflag"); // IXON | IXOFF part
    QTest::newRow("8N1") << 8u << 0u << 10u << 0u << int(VI_SUCCESS) << uint(CS8) << 0u;
    QTest::newRow("7E1") << 7u << 2u << 10u << 0u << int(VI_SUCCESS) << uint(CS7 | PARENB) << 0u;
    QTest::newRow("7O2") << 7u << 1u << 20u << 0u << int(VI_SUCCESS)
                         << uint(CS7 | PARENB | PARODD | CSTOPB) << 0u;
    QTest::newRow("6 mark") << 6u << 3u << 10u << 0u << int(VI_SUCCESS)
                            << uint(CS6 | PARENB | PARODD | CMSPAR) << 0u;
    QTest::newRow("5 space 1.5") << 5u << 4u << 15u << 0u << int(VI_SUCCESS)
                                 << uint(CS5 | PARENB | CMSPAR | CSTOPB) << 0u;
    QTest::newRow("8 bits 1.5 stop")
        << 8u << 0u << 15u << 0u << int(VI_WARN_NSUP_ATTR_STATE) << uint(CS8 | CSTOPB) << 0u;
    QTest::newRow("rts/cts and xon/xoff")
        << 8u << 0u << 10u << 3u << int(VI_SUCCESS) << uint(CS8 | CRTSCTS) << uint(IXON | IXOFF);
    QTest::newRow("dtr/dsr") << 8u << 0u << 10u << 4u << int(VI_ERROR_NSUP_ATTR_STATE) << 0u << 0u;
    QTest::newRow("4 bits") << 4u << 0u << 10u << 0u << int(VI_ERROR_NSUP_ATTR_STATE) << 0u << 0u;
}

void TestVisaSerial::termiosFlagsForEverySetting()
{
    QFETCH(uint, dataBits);
    QFETCH(uint, parity);
    QFETCH(uint, stopBits);
    QFETCH(uint, flow);
    QFETCH(int, status);
    QFETCH(uint, cflag);
    QFETCH(uint, iflag);
    visa::SerialSettings settings;
    settings.baud = 57600;
    settings.dataBits = ViUInt16(dataBits);
    settings.parity = ViUInt16(parity);
    settings.stopBits = ViUInt16(stopBits);
    settings.flowControl = ViUInt16(flow);
    termios tio{};
    tio.c_lflag = ECHO | ICANON;
    tio.c_cflag = PARENB | CS8 | CRTSCTS;
    const termios before = tio;
    QCOMPARE(visa::applySerialSettings(settings, &tio), status);
    if (status < VI_SUCCESS) {
        QVERIFY(std::memcmp(&tio, &before, sizeof tio) == 0);
        return;
    }
    QCOMPARE(uint(tio.c_cflag & visa::kSerialControlFlags), cflag);
    QCOMPARE(uint(tio.c_iflag & (IXON | IXOFF)), iflag);
    QVERIFY(tio.c_cflag & CREAD);
    QVERIFY(tio.c_cflag & CLOCAL);
    QCOMPARE(tio.c_lflag & (ECHO | ICANON), tcflag_t(0));
    QCOMPARE(cfgetospeed(&tio), speed_t(B57600));
}

void TestVisaSerial::settingsOnARealSerialPort()
{
    // Pseudo-terminals cannot hold data bits or parity; a real port can be named for this check.
    const QByteArray port = qgetenv("VISA_TEST_SERIAL_PORT");
    if (port.isEmpty())
        QSKIP("set VISA_TEST_SERIAL_PORT to a serial device to check 7E2 on real hardware");
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm_, ("ASRL" + port + "::INSTR").constData(), VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_ASRL_DATA_BITS, 7), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_ASRL_PARITY, VI_ASRL_PAR_EVEN), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_TWO), VI_SUCCESS);
    const int fd = ::open(port.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios tio{};
    QCOMPARE(tcgetattr(fd, &tio), 0);
    ::close(fd);
    QCOMPARE(tio.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), tcflag_t(CS7 | PARENB | CSTOPB));
    viClose(vi);
}

void TestVisaSerial::refusedSettingsLeaveThePortAsItWas_data()
{
    QTest::addColumn<uint>("attribute");
    QTest::addColumn<qulonglong>("value");
    QTest::newRow("odd baud") << uint(VI_ATTR_ASRL_BAUD) << 12345ull;
    QTest::newRow("huge baud") << uint(VI_ATTR_ASRL_BAUD) << 0x100000000ull;
    QTest::newRow("9 data bits") << uint(VI_ATTR_ASRL_DATA_BITS) << 9ull;
    QTest::newRow("4 data bits") << uint(VI_ATTR_ASRL_DATA_BITS) << 4ull;
    QTest::newRow("parity 5") << uint(VI_ATTR_ASRL_PARITY) << 5ull;
    QTest::newRow("stop bits 12") << uint(VI_ATTR_ASRL_STOP_BITS) << 12ull;
    QTest::newRow("dtr/dsr") << uint(VI_ATTR_ASRL_FLOW_CNTRL) << qulonglong(VI_ASRL_FLOW_DTR_DSR);
    QTest::newRow("end in break") << uint(VI_ATTR_ASRL_END_IN) << qulonglong(VI_ASRL_END_BREAK);
    // A pseudo-terminal keeps 8 data bits without parity whatever it is told; the layer notices
    // and refuses instead of claiming a setting the port does not have.
    QTest::newRow("7 data bits on a pty") << uint(VI_ATTR_ASRL_DATA_BITS) << 7ull;
    QTest::newRow("even parity on a pty")
        << uint(VI_ATTR_ASRL_PARITY) << qulonglong(VI_ASRL_PAR_EVEN);
    QTest::newRow("mark parity on a pty")
        << uint(VI_ATTR_ASRL_PARITY) << qulonglong(VI_ASRL_PAR_MARK);
    QTest::newRow("end out last bit")
        << uint(VI_ATTR_ASRL_END_OUT) << qulonglong(VI_ASRL_END_LAST_BIT);
}

void TestVisaSerial::refusedSettingsLeaveThePortAsItWas()
{
    QFETCH(uint, attribute);
    QFETCH(qulonglong, value);
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_BAUD, 19200), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi_, attribute, value), VI_ERROR_NSUP_ATTR_STATE);
    termios tio{};
    QCOMPARE(tcgetattr(pty_->slave(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B19200));
    QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    // A later valid setting still works.
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_TWO), VI_SUCCESS);
}

void TestVisaSerial::sessionConfigurationOfTheLogger()
{
    // The order the logger configures a serial session in; every call succeeds.
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_BAUD, 57600), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_DATA_BITS, 8), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_PARITY, VI_ASRL_PAR_NONE), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_ONE), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_TERMCHAR, 10), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    termios tio{};
    QCOMPARE(tcgetattr(pty_->slave(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B57600));
    QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
    // TCP-only attributes do not belong to a serial port.
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_TCPIP_NODELAY, VI_TRUE), VI_ERROR_NSUP_ATTR);
}

void TestVisaSerial::exchangeBothWays()
{
    ViUInt32 count = 0;
    QCOMPARE(viWrite(vi_, reinterpret_cast<ViConstBuf>("FETC?\n"), 6, &count), VI_SUCCESS);
    QCOMPARE(count, 6u);
    QCOMPARE(pty_->receive('\n', 2000), std::string("FETC?\n"));
    // A long reply in many pieces from the instrument.
    std::string reply(10000, 'r');
    reply += "\n";
    std::thread instrument([&] {
        for (size_t i = 0; i < reply.size(); i += 1000) {
            pty_->send(reply.substr(i, 1000));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::vector<ViByte> buffer(40960);
    QCOMPARE(viRead(vi_, buffer.data(), 40959, &count), VI_SUCCESS_TERM_CHAR);
    instrument.join();
    QCOMPARE(bytesOf(buffer.data(), count), QByteArray::fromStdString(reply));
}

void TestVisaSerial::readEndsAtTermcharWhateverTermcharEnSays()
{
    QVERIFY(pty_->send("+1.0E+00\n+2.0E+00\n"));
    ViByte buffer[64];
    ViUInt32 count = 0;
    QCOMPARE(viRead(vi_, buffer, sizeof buffer, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(bytesOf(buffer, count), QByteArray("+1.0E+00\n"));
    QCOMPARE(viRead(vi_, buffer, sizeof buffer, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(bytesOf(buffer, count), QByteArray("+2.0E+00\n"));
    // Another termination character takes effect at once.
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_TERMCHAR, '\r'), VI_SUCCESS);
    QVERIFY(pty_->send("A\nB\r"));
    QCOMPARE(viRead(vi_, buffer, sizeof buffer, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(bytesOf(buffer, count), QByteArray("A\nB\r"));
}

void TestVisaSerial::endInNoneReadsUntilTimeout()
{
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_TMO_VALUE, 250), VI_SUCCESS);
    QVERIFY(pty_->send("A\nB\n"));
    ViByte buffer[64];
    ViUInt32 count = 0;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viRead(vi_, buffer, sizeof buffer, &count), VI_ERROR_TMO);
    QVERIFY(timer.elapsed() >= 245 && timer.elapsed() < 1500);
    QCOMPARE(bytesOf(buffer, count), QByteArray("A\nB\n"));
    // TERMCHAR_EN still ends reads when END_IN does not.
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    QVERIFY(pty_->send("C\nD"));
    QCOMPARE(viRead(vi_, buffer, sizeof buffer, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(bytesOf(buffer, count), QByteArray("C\n"));
}

void TestVisaSerial::endInLastBit()
{
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_END_IN, VI_ASRL_END_LAST_BIT), VI_SUCCESS);
    // With 8 data bits the eighth bit (0x80) marks the last byte of a message.
    QVERIFY(pty_->send(std::string("12") + char(0xC1) + "34"));
    ViByte buffer[64];
    ViUInt32 count = 0;
    QCOMPARE(viRead(vi_, buffer, sizeof buffer, &count), VI_SUCCESS);
    QCOMPARE(bytesOf(buffer, count), QByteArray("12\xC1"));
}

void TestVisaSerial::endOutTermcharAppendsIt()
{
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_END_OUT, VI_ASRL_END_TERMCHAR), VI_SUCCESS);
    ViUInt32 count = 0;
    QCOMPARE(viWrite(vi_, reinterpret_cast<ViConstBuf>("*RST"), 4, &count), VI_SUCCESS);
    QCOMPARE(count, 4u);
    QCOMPARE(pty_->receive('\n', 2000), std::string("*RST\n"));
    // Not with SEND_END_EN off.
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_SEND_END_EN, VI_FALSE), VI_SUCCESS);
    QCOMPARE(viWrite(vi_, reinterpret_cast<ViConstBuf>("AB"), 2, &count), VI_SUCCESS);
    QCOMPARE(pty_->receive('\n', 200), std::string("AB"));
}

void TestVisaSerial::queryfOnSerial()
{
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_ASRL_BAUD, 115200), VI_SUCCESS);
    std::thread instrument([&] {
        if (pty_->receive('\n', 3000) == "*IDN?\n")
            pty_->send("MAKER,TRX6200M,SN5,2.1\n");
    });
    char reply[256] = {};
    QCOMPARE(viQueryf(vi_, "*IDN?\n", "%t", reply), VI_SUCCESS);
    instrument.join();
    QCOMPARE(QByteArray(reply), QByteArray("MAKER,TRX6200M,SN5,2.1\n"));
}

void TestVisaSerial::lostPeerIsReported()
{
    QCOMPARE(viSetAttribute(vi_, VI_ATTR_TMO_VALUE, 3000), VI_SUCCESS);
    pty_->closeMaster();
    ViByte buffer[16];
    ViUInt32 count = 0;
    QElapsedTimer timer;
    timer.start();
    const ViStatus status = viRead(vi_, buffer, sizeof buffer, &count);
    QVERIFY2(status == VI_ERROR_CONN_LOST || status == VI_ERROR_IO,
             qPrintable(QString::number(status, 16)));
    QVERIFY(timer.elapsed() < 2000);
}

void TestVisaSerial::pathsThatAreNotSerialPortsAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("status");
    QTest::newRow("/dev/null") << "null" << int(VI_ERROR_INV_RSRC_NAME);
    QTest::newRow("regular file") << "file" << int(VI_ERROR_INV_RSRC_NAME);
    QTest::newRow("directory") << "dir" << int(VI_ERROR_INV_RSRC_NAME);
    QTest::newRow("fifo") << "fifo" << int(VI_ERROR_INV_RSRC_NAME);
    QTest::newRow("missing") << "missing" << int(VI_ERROR_RSRC_NFOUND);
    QTest::newRow("number beyond the ports") << "number" << int(VI_ERROR_RSRC_NFOUND);
    QTest::newRow("port zero") << "zero" << int(VI_ERROR_RSRC_NFOUND);
}

void TestVisaSerial::pathsThatAreNotSerialPortsAreRefused()
{
    QFETCH(QString, kind);
    QFETCH(int, status);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath("data.txt");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    QVERIFY(mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
    QString name;
    if (kind == "null")
        name = "ASRL/dev/null::INSTR";
    else if (kind == "file")
        name = "ASRL" + file + "::INSTR";
    else if (kind == "dir")
        name = "ASRL" + dir.path() + "::INSTR";
    else if (kind == "fifo")
        name = "ASRL" + dir.filePath("fifo") + "::INSTR";
    else if (kind == "missing")
        name = "ASRL" + dir.filePath("ttyUSB9") + "::INSTR";
    else if (kind == "number")
        name = "ASRL999::INSTR";
    else
        name = "ASRL0::INSTR";
    ViSession vi = 42;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viOpen(rm_, name.toLocal8Bit().constData(), VI_NO_LOCK, 0, &vi), status);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(vi, ViSession(VI_NULL));
    ViChar desc[256];
    QCOMPARE(viStatusDesc(VI_NULL, status, desc), VI_SUCCESS);
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));
}

void TestVisaSerial::numberedPortsFollowTheSortedDeviceList()
{
    // A device directory with ttyS0 (no UART behind it), ttyS1, ttyUSB0 and ttyACM10; ASRL1 is
    // ttyS1, ASRL2 ttyUSB0, ASRL3 ttyACM10.
    PtyPair s1;
    PtyPair usb0;
    PtyPair acm10;
    QVERIFY(s1.open() && usb0.open() && acm10.open());
    QTemporaryDir dev;
    QTemporaryDir sys;
    QVERIFY(dev.isValid() && sys.isValid());
    auto link = [&](const PtyPair *pty, const char *name) {
        const QByteArray target = pty ? QByteArray(pty->slavePath().c_str()) : "/dev/null";
        return symlink(target.constData(), QFile::encodeName(dev.filePath(name)).constData()) == 0;
    };
    QVERIFY(link(nullptr, "ttyS0") && link(&s1, "ttyS1") && link(&usb0, "ttyUSB0") &&
            link(&acm10, "ttyACM10"));
    for (const auto &port : {std::make_pair("ttyS0", "0"), std::make_pair("ttyS1", "4")}) {
        QVERIFY(QDir().mkpath(sys.filePath(QString("class/tty/") + port.first)));
        QFile type(sys.filePath(QString("class/tty/") + port.first + "/type"));
        QVERIFY(type.open(QIODevice::WriteOnly));
        type.write(QByteArray(port.second) + "\n");
    }
    qputenv("VISA_DEV_ROOT", QFile::encodeName(dev.path()));
    qputenv("VISA_SYSFS_ROOT", QFile::encodeName(sys.path()));

    const std::pair<const char *, PtyPair *> expected[] = {
        {"ASRL1::INSTR", &s1}, {"asrl2::instr", &usb0}, {"ASRL3", &acm10}};
    for (const auto &entry : expected) {
        ViSession vi = VI_NULL;
        QCOMPARE(viOpen(rm_, entry.first, VI_NO_LOCK, 0, &vi), VI_SUCCESS);
        QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("which\n"), 6, VI_NULL), VI_SUCCESS);
        QCOMPARE(entry.second->receive('\n', 2000), std::string("which\n"));
        viClose(vi);
    }
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm_, "ASRL4::INSTR", VI_NO_LOCK, 0, &vi), VI_ERROR_RSRC_NFOUND);
    qunsetenv("VISA_DEV_ROOT");
    qunsetenv("VISA_SYSFS_ROOT");
}

QTEST_GUILESS_MAIN(TestVisaSerial)
#include "tst_visa_serial.moc"
