// Resource search: the resource list file, usbtmc nodes named from a fake sysfs tree, serial
// nodes, and viFindRsrc / viFindNext over them; and usbtmc sessions on stand-in device nodes.
#include "discovery.h"
#include "pty_pair.h"
#include "resource_list.h"
#include "visa.h"

#include <QtTest>

#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) >= 0;
}

QByteArray bytesOf(const ViByte *data, ViUInt32 count)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(count));
}

// The strings viFindRsrc and viFindNext give for an expression, or the error status.
QStringList findAll(ViSession rm, const char *expression, ViStatus *status = nullptr)
{
    ViFindList list = VI_NULL;
    ViUInt32 count = 99;
    ViChar desc[VI_FIND_BUFLEN];
    const ViStatus first = viFindRsrc(rm, expression, &list, &count, desc);
    if (status)
        *status = first;
    QStringList names;
    if (first < VI_SUCCESS)
        return names;
    names << QString::fromUtf8(desc);
    for (ViUInt32 i = 1; i < count; ++i) {
        if (viFindNext(list, desc) < VI_SUCCESS)
            break;
        names << QString::fromUtf8(desc);
    }
    // The list is exhausted after count names.
    if (viFindNext(list, desc) != VI_ERROR_RSRC_NFOUND)
        names << "<list not exhausted>";
    viClose(list);
    return names;
}

} // namespace

class TestVisaDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void resourceListSkipsCommentsAndInvalidLines();
    void resourceListLocation();
    void findOrdersUsbThenSocketsThenSerial();
    void findExpressions_data();
    void findExpressions();
    void findRefusesInvalidExpressions_data();
    void findRefusesInvalidExpressions();
    void findWithoutListPointerAndClosedManager();

    void usbtmcNamesComeFromSysfs();
    void usbtmcSessionMatchesIdsAndSerial_data();
    void usbtmcSessionMatchesIdsAndSerial();
    void usbtmcExchangeOneMessageEachWay();
    void usbtmcTimeoutOnSilentNode();
    void usbtmcWriteToPlainFileNode();
    void usbtmcUnpluggedDevice();

private:
    void writeUsbtmcSysfs(int node, const char *vendor, const char *product, const char *serial,
                          const char *interfaceNumber);

    QTemporaryDir dev_;
    QTemporaryDir sys_;
    QTemporaryDir config_;
    PtyPair usbPty_;
    PtyPair serialPty_;
    ViSession rm_ = VI_NULL;
};

void TestVisaDiscovery::writeUsbtmcSysfs(int node, const char *vendor, const char *product,
                                         const char *serial, const char *interfaceNumber)
{
    // The layout the kernel uses: class/usbmisc/usbtmcN/device -> the interface directory,
    // whose parent is the USB device with its ids and serial number.
    const QString device = sys_.filePath(QString("devices/pci0000:00/usb1/1-%1").arg(node));
    const QString interfaceDir = device + QString("/1-%1:1.%2").arg(node).arg(interfaceNumber);
    QVERIFY(writeFile(device + "/idVendor", QByteArray(vendor) + "\n"));
    QVERIFY(writeFile(device + "/idProduct", QByteArray(product) + "\n"));
    if (serial)
        QVERIFY(writeFile(device + "/serial", QByteArray(serial) + "\n"));
    QVERIFY(writeFile(interfaceDir + "/bInterfaceNumber", QByteArray(interfaceNumber) + "\n"));
    const QString classDir = sys_.filePath(QString("class/usbmisc/usbtmc%1").arg(node));
    QVERIFY(QDir().mkpath(classDir));
    QVERIFY(QFile::link(interfaceDir, classDir + "/device"));
}

void TestVisaDiscovery::initTestCase()
{
    QVERIFY(dev_.isValid() && sys_.isValid() && config_.isValid());
    QVERIFY(usbPty_.open() && serialPty_.open());
    // usbtmc0: a pseudo-terminal playing the instrument; usbtmc1: a FIFO nobody answers on;
    // usbtmc2: a plain file; usbtmc3: no sysfs entry; usbtmc10 sorts after usbtmc3.
    QVERIFY(QFile::link(QString::fromStdString(usbPty_.slavePath()), dev_.filePath("usbtmc0")));
    QCOMPARE(mkfifo(QFile::encodeName(dev_.filePath("usbtmc1")).constData(), 0600), 0);
    QVERIFY(writeFile(dev_.filePath("usbtmc2"), ""));
    QVERIFY(writeFile(dev_.filePath("usbtmc3"), ""));
    QVERIFY(writeFile(dev_.filePath("usbtmc10"), ""));
    writeUsbtmcSysfs(0, "1234", "5678", "SN1", "00");
    writeUsbtmcSysfs(1, "0957", "0607", "MY99", "01");
    writeUsbtmcSysfs(2, "abcd", "00ef", "File-sn", "00");
    writeUsbtmcSysfs(10, "1234", "5678", "SN10", "00");
    writeUsbtmcSysfs(4, "1111", "2222", nullptr, "00"); // no serial number: not listed
    QVERIFY(QFile::link(QString::fromStdString(serialPty_.slavePath()), dev_.filePath("ttyUSB0")));
    QVERIFY(QFile::link("/dev/null", dev_.filePath("ttyS0")));
    QVERIFY(writeFile(sys_.filePath("class/tty/ttyS0/type"), "0\n")); // no UART: not listed

    QVERIFY(writeFile(config_.filePath("resources"),
                      "# instruments on the bench\n"
                      "\n"
                      "TCPIP::127.0.0.1::5025::SOCKET   # the meter\n"
                      "  tcpip0::[::1]::5026::socket\n"
                      "TCPIP::host::SOCKET\n"
                      "not a resource\n"
                      "usb0::0x1234::0x5678::sn1::instr\n"
                      "USB0::0x2222::0x3333::OTHER::INSTR\n"
                      "ASRL/dev/ttyACM7::INSTR\n"
                      "ASRL1::INSTR\n"
                      "TCPIP0::127.0.0.1::5025::SOCKET\n"));
    qputenv("VISA_DEV_ROOT", QFile::encodeName(dev_.path()));
    qputenv("VISA_SYSFS_ROOT", QFile::encodeName(sys_.path()));
    qputenv("VISA_RESOURCE_LIST", QFile::encodeName(config_.filePath("resources")));
    QCOMPARE(viOpenDefaultRM(&rm_), VI_SUCCESS);
}

void TestVisaDiscovery::cleanupTestCase()
{
    viClose(rm_);
}

void TestVisaDiscovery::resourceListSkipsCommentsAndInvalidLines()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("TCPIP::host::SOCKET"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not a resource"));
    const auto names = visa::readResourceList(config_.filePath("resources").toStdString());
    QStringList canonical;
    for (const auto &name : names)
        canonical << QString::fromStdString(visa::formatResourceName(name));
    QCOMPARE(canonical,
             QStringList({"TCPIP0::127.0.0.1::5025::SOCKET", "TCPIP0::[::1]::5026::SOCKET",
                          "USB0::0x1234::0x5678::sn1::INSTR", "USB0::0x2222::0x3333::OTHER::INSTR",
                          "ASRL/dev/ttyACM7::INSTR", "ASRL1::INSTR",
                          "TCPIP0::127.0.0.1::5025::SOCKET"}));
    QVERIFY(visa::readResourceList(config_.filePath("missing").toStdString()).empty());
}

void TestVisaDiscovery::resourceListLocation()
{
    const QByteArray saved = qgetenv("VISA_RESOURCE_LIST");
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    QTemporaryDir home;
    QVERIFY(home.isValid());

    qputenv("VISA_RESOURCE_LIST", "/somewhere/list");
    QCOMPARE(visa::resourceListPath(), std::string("/somewhere/list"));

    qunsetenv("VISA_RESOURCE_LIST");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("xdg")));
    qputenv("HOME", QFile::encodeName(home.path()));
    // No user file: the system-wide one.
    QCOMPARE(visa::resourceListPath(), std::string("/etc/visa/resources"));
    QVERIFY(writeFile(home.filePath("xdg/visa/resources"), "ASRL1::INSTR\n"));
    QCOMPARE(QString::fromStdString(visa::resourceListPath()), home.filePath("xdg/visa/resources"));

    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(visa::resourceListPath(), std::string("/etc/visa/resources"));
    QVERIFY(writeFile(home.filePath(".config/visa/resources"), "ASRL1::INSTR\n"));
    QCOMPARE(QString::fromStdString(visa::resourceListPath()),
             home.filePath(".config/visa/resources"));

    qputenv("VISA_RESOURCE_LIST", saved);
    qputenv("XDG_CONFIG_HOME", savedXdg);
    qputenv("HOME", savedHome);
    if (savedXdg.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
}

void TestVisaDiscovery::findOrdersUsbThenSocketsThenSerial()
{
    ViStatus status = VI_SUCCESS;
    const QStringList names = findAll(rm_, "?*", &status);
    QCOMPARE(status, VI_SUCCESS);
    const QString serialPath = dev_.filePath("ttyUSB0");
    QCOMPARE(names,
             QStringList({
                 // nodes by number, then list entries not already present
                 "USB0::0x1234::0x5678::SN1::0::INSTR", "USB0::0x0957::0x0607::MY99::1::INSTR",
                 "USB0::0xABCD::0x00EF::File-sn::0::INSTR", "USB0::0x1234::0x5678::SN10::0::INSTR",
                 "USB0::0x2222::0x3333::OTHER::INSTR", "TCPIP0::127.0.0.1::5025::SOCKET",
                 "TCPIP0::[::1]::5026::SOCKET", "ASRL" + serialPath + "::INSTR",
                 "ASRL/dev/ttyACM7::INSTR",
                 // ASRL1 is the ttyUSB0 already listed by its path
             }));
}

void TestVisaDiscovery::findExpressions_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::newRow("usb instr") << "USB?*INSTR" << 5 << "USB0::0x1234::0x5678::SN1::0::INSTR";
    QTest::newRow("sockets") << "TCPIP?*SOCKET" << 2 << "TCPIP0::127.0.0.1::5025::SOCKET";
    QTest::newRow("serial") << "ASRL?*INSTR" << 2 << "ASRL" + dev_.filePath("ttyUSB0") + "::INSTR";
    QTest::newRow("lower case") << "usb?*0x0957?*" << 1 << "USB0::0x0957::0x0607::MY99::1::INSTR";
    QTest::newRow("alternation") << "ASRL/dev/?*|TCPIP?*5026?*" << 2
                                 << "TCPIP0::[::1]::5026::SOCKET";
    QTest::newRow("group") << "USB0::0x1234::0x5678::SN(1|10)::0::INSTR" << 2
                           << "USB0::0x1234::0x5678::SN1::0::INSTR";
    QTest::newRow("escaped bracket") << "TCPIP0::\\[?*" << 1 << "TCPIP0::[::1]::5026::SOCKET";
}

void TestVisaDiscovery::findExpressions()
{
    QFETCH(QString, expression);
    QFETCH(int, count);
    QFETCH(QString, first);
    ViFindList list = VI_NULL;
    ViUInt32 found = 0;
    ViChar desc[VI_FIND_BUFLEN];
    QCOMPARE(viFindRsrc(rm_, expression.toUtf8().constData(), &list, &found, desc), VI_SUCCESS);
    QCOMPARE(int(found), count);
    QCOMPARE(QString::fromUtf8(desc), first);
    viClose(list);
}

void TestVisaDiscovery::findRefusesInvalidExpressions_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<int>("status");
    QTest::newRow("no match") << "GPIB?*INSTR" << int(VI_ERROR_RSRC_NFOUND);
    QTest::newRow("unbalanced") << "(USB?*" << int(VI_ERROR_INV_EXPR);
    QTest::newRow("leading star") << "*" << int(VI_ERROR_INV_EXPR);
    QTest::newRow("attribute expression")
        << "USB?*{VI_ATTR_MANF_ID==0x1234}" << int(VI_ERROR_INV_EXPR);
    QTest::newRow("empty") << "" << int(VI_ERROR_INV_EXPR);
}

void TestVisaDiscovery::findRefusesInvalidExpressions()
{
    QFETCH(QString, expression);
    QFETCH(int, status);
    ViFindList list = 1234;
    ViUInt32 count = 1234;
    ViChar desc[VI_FIND_BUFLEN] = "stale";
    QCOMPARE(viFindRsrc(rm_, expression.toUtf8().constData(), &list, &count, desc), status);
    QCOMPARE(count, 0u);
    QCOMPARE(list, ViFindList(VI_NULL));
    QCOMPARE(viFindRsrc(rm_, nullptr, &list, &count, desc), VI_ERROR_INV_EXPR);
}

void TestVisaDiscovery::findWithoutListPointerAndClosedManager()
{
    ViUInt32 count = 0;
    ViChar desc[VI_FIND_BUFLEN];
    QCOMPARE(viFindRsrc(rm_, "TCPIP?*", nullptr, &count, desc), VI_SUCCESS);
    QCOMPARE(count, 2u);
    QCOMPARE(viFindRsrc(rm_, "TCPIP?*", nullptr, nullptr, nullptr), VI_SUCCESS);
    // A find list goes with its resource manager.
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViFindList list = VI_NULL;
    QCOMPARE(viFindRsrc(rm, "?*", &list, &count, desc), VI_SUCCESS);
    QCOMPARE(viFindNext(list, desc), VI_SUCCESS);
    QCOMPARE(viSetAttribute(list, VI_ATTR_TMO_VALUE, 1), VI_ERROR_NSUP_ATTR);
    QCOMPARE(viClose(rm), VI_SUCCESS);
    QCOMPARE(viFindNext(list, desc), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(list), VI_ERROR_INV_OBJECT);
}

void TestVisaDiscovery::usbtmcNamesComeFromSysfs()
{
    const auto nodes = visa::usbtmcNodes();
    QCOMPARE(int(nodes.size()), 4);
    QCOMPARE(QString::fromStdString(nodes[0].path), dev_.filePath("usbtmc0"));
    QCOMPARE(nodes[1].name.interfaceNumber, 1);
    QCOMPARE(nodes[2].name.vendorId, uint16_t(0xABCD));
    QCOMPARE(QString::fromStdString(nodes[3].path), dev_.filePath("usbtmc10"));
}

void TestVisaDiscovery::usbtmcSessionMatchesIdsAndSerial_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("status");
    QTest::newRow("full name") << "USB0::0x1234::0x5678::SN1::0::INSTR" << int(VI_SUCCESS);
    QTest::newRow("decimal ids, no interface") << "USB::4660::22136::SN1::INSTR" << int(VI_SUCCESS);
    QTest::newRow("serial case") << "usb::0x1234::0x5678::sn1" << int(VI_SUCCESS);
    QTest::newRow("interface 1") << "USB::0x0957::0x0607::MY99::1::INSTR" << int(VI_SUCCESS);
    QTest::newRow("wrong interface")
        << "USB::0x0957::0x0607::MY99::0::INSTR" << int(VI_ERROR_RSRC_NFOUND);
    QTest::newRow("wrong serial") << "USB::0x1234::0x5678::SN2::INSTR" << int(VI_ERROR_RSRC_NFOUND);
    QTest::newRow("wrong product")
        << "USB::0x1234::0x5679::SN1::INSTR" << int(VI_ERROR_RSRC_NFOUND);
    QTest::newRow("listed but absent")
        << "USB0::0x2222::0x3333::OTHER::INSTR" << int(VI_ERROR_RSRC_NFOUND);
}

void TestVisaDiscovery::usbtmcSessionMatchesIdsAndSerial()
{
    QFETCH(QString, name);
    QFETCH(int, status);
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm_, name.toUtf8().constData(), VI_NO_LOCK, 0, &vi), status);
    QCOMPARE(vi != VI_NULL, status == VI_SUCCESS);
    if (vi != VI_NULL)
        QCOMPARE(viClose(vi), VI_SUCCESS);
}

void TestVisaDiscovery::usbtmcExchangeOneMessageEachWay()
{
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm_, "USB0::0x1234::0x5678::SN1::0::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 1000), VI_SUCCESS);
    ViUInt32 count = 0;
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &count), VI_SUCCESS);
    QCOMPARE(usbPty_.receive('\n', 2000), std::string("*IDN?\n"));
    // A reply without terminator still ends at the end of its message.
    QVERIFY(usbPty_.send("MAKER,VSK3307,SN1,1.0"));
    ViByte buffer[256];
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &count), VI_SUCCESS);
    QCOMPARE(bytesOf(buffer, count), QByteArray("MAKER,VSK3307,SN1,1.0"));
    // A count smaller than the message keeps the rest for the next read.
    QVERIFY(usbPty_.send("+1.0E+00\n"));
    QCOMPARE(viRead(vi, buffer, 4, &count), VI_SUCCESS_MAX_CNT);
    QCOMPARE(bytesOf(buffer, count), QByteArray("+1.0"));
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &count), VI_SUCCESS);
    QCOMPARE(bytesOf(buffer, count), QByteArray("E+00\n"));
    // With the termination character enabled it ends the read inside a message.
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    QVERIFY(usbPty_.send("A\nB"));
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(bytesOf(buffer, count), QByteArray("A\n"));
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &count), VI_SUCCESS);
    QCOMPARE(bytesOf(buffer, count), QByteArray("B"));
    // viQueryf as the discovery probe uses it.
    std::thread instrument([&] {
        if (usbPty_.receive('\n', 2000) == "*IDN?\n")
            usbPty_.send("MAKER,vsk3307,SN1,1.0\n");
    });
    char reply[256] = {};
    QCOMPARE(viQueryf(vi, "*IDN?\n", "%t", reply), VI_SUCCESS);
    instrument.join();
    QCOMPARE(QByteArray(reply), QByteArray("MAKER,vsk3307,SN1,1.0\n"));
    QCOMPARE(viClose(vi), VI_SUCCESS);
}

void TestVisaDiscovery::usbtmcTimeoutOnSilentNode()
{
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm_, "USB::0x0957::0x0607::MY99::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    ViByte buffer[16];
    ViUInt32 count = 7;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &count), VI_ERROR_TMO);
    QVERIFY2(timer.elapsed() >= 295 && timer.elapsed() < 1800,
             qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(count, 0u);
    viClose(vi);
}

void TestVisaDiscovery::usbtmcWriteToPlainFileNode()
{
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm_, "USB::0xABCD::0x00EF::File-sn::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    ViUInt32 count = 0;
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("*RST\n"), 5, &count), VI_SUCCESS);
    QCOMPARE(count, 5u);
    viClose(vi);
    QFile file(dev_.filePath("usbtmc2"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("*RST\n"));
}

void TestVisaDiscovery::usbtmcUnpluggedDevice()
{
    PtyPair device;
    QVERIFY(device.open());
    QVERIFY(QFile::link(QString::fromStdString(device.slavePath()), dev_.filePath("usbtmc5")));
    writeUsbtmcSysfs(5, "5555", "6666", "GONE", "00");
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm_, "USB::0x5555::0x6666::GONE::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    device.closeMaster();
    ViByte buffer[16];
    ViUInt32 count = 0;
    QElapsedTimer timer;
    timer.start();
    const ViStatus status = viRead(vi, buffer, sizeof buffer, &count);
    QVERIFY2(status == VI_ERROR_CONN_LOST || status == VI_ERROR_IO,
             qPrintable(QString::number(status, 16)));
    QVERIFY(timer.elapsed() < 1500);
    viClose(vi);
    QFile::remove(dev_.filePath("usbtmc5"));
    QVERIFY(QDir(sys_.filePath("class/usbmisc/usbtmc5")).removeRecursively());
}

QTEST_GUILESS_MAIN(TestVisaDiscovery)
#include "tst_visa_discovery.moc"
