// Resource names, search expressions, status texts and query formats of the VISA layer.
#include "find_expression.h"
#include "query_format.h"
#include "resource_name.h"
#include "status_text.h"
#include "visa.h"

#include <QtTest>

#include <cstring>

namespace {

// The logger's process-wide sessions open their resource manager before main; the layer must
// work from a static constructor.
struct StaticInitUser
{
    StaticInitUser()
    {
        openStatus = viOpenDefaultRM(&rm);
        describeStatus = viStatusDesc(VI_NULL, VI_ERROR_TMO, desc);
    }
    ViSession rm = VI_NULL;
    ViStatus openStatus = VI_ERROR_SYSTEM_ERROR;
    ViStatus describeStatus = VI_ERROR_SYSTEM_ERROR;
    ViChar desc[256] = {};
};
StaticInitUser staticInitUser;

} // namespace

class TestVisaNames : public QObject
{
    Q_OBJECT

private slots:
    void layerWorksDuringStaticInitialisation();
    void parsesValidNames_data();
    void parsesValidNames();
    void refusesInvalidNames_data();
    void refusesInvalidNames();
    void parsedFieldsAreKept();
    void sameResourceIgnoresKeywordCase();

    void findExpressionMatches_data();
    void findExpressionMatches();
    void findExpressionRefusesInvalid_data();
    void findExpressionRefusesInvalid();
    void findExpressionIsLinearOnNestedStars();

    void statusTextsCoverEveryCode_data();
    void statusTextsCoverEveryCode();
    void unknownStatusIsReported();
    void statusDescNeverWritesPast256Bytes();

    void readFormats_data();
    void readFormats();
    void writeFormats_data();
    void writeFormats();
};

void TestVisaNames::layerWorksDuringStaticInitialisation()
{
    QCOMPARE(staticInitUser.openStatus, VI_SUCCESS);
    QVERIFY(staticInitUser.rm != VI_NULL);
    QCOMPARE(staticInitUser.describeStatus, VI_SUCCESS);
    QVERIFY(QByteArray(staticInitUser.desc).startsWith("VI_ERROR_TMO: "));
    QCOMPARE(viClose(staticInitUser.rm), VI_SUCCESS);
}

void TestVisaNames::parsesValidNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("canonical");
    QTest::newRow("tcpip basic") << "TCPIP::127.0.0.1::5025::SOCKET"
                                 << "TCPIP0::127.0.0.1::5025::SOCKET";
    QTest::newRow("tcpip board") << "TCPIP3::10.0.0.7::5025::SOCKET"
                                 << "TCPIP3::10.0.0.7::5025::SOCKET";
    QTest::newRow("tcpip lower case keeps host") << "tcpip0::MyHost.Local::100::socket"
                                                 << "TCPIP0::MyHost.Local::100::SOCKET";
    QTest::newRow("tcpip ipv6 loopback") << "TCPIP::[::1]::5025::SOCKET"
                                         << "TCPIP0::[::1]::5025::SOCKET";
    QTest::newRow("tcpip ipv6 full") << "TCPIP1::[fe80::1:2%eth0]::1::SOCKET"
                                     << "TCPIP1::[fe80::1:2%eth0]::1::SOCKET";
    QTest::newRow("tcpip max port") << "TCPIP::h::65535::SOCKET"
                                    << "TCPIP0::h::65535::SOCKET";
    QTest::newRow("asrl number") << "ASRL1::INSTR"
                                 << "ASRL1::INSTR";
    QTest::newRow("asrl lower case") << "asrl3::instr"
                                     << "ASRL3::INSTR";
    QTest::newRow("asrl without INSTR") << "ASRL12"
                                        << "ASRL12::INSTR";
    QTest::newRow("asrl path keeps case") << "asrl/dev/ttyUSB0::instr"
                                          << "ASRL/dev/ttyUSB0::INSTR";
    QTest::newRow("asrl pts path") << "ASRL/dev/pts/7"
                                   << "ASRL/dev/pts/7::INSTR";
    QTest::newRow("usb hex") << "USB::0x1234::0x5678::SN1::INSTR"
                             << "USB0::0x1234::0x5678::SN1::INSTR";
    QTest::newRow("usb decimal ids") << "USB0::4660::22136::SN1::INSTR"
                                     << "USB0::0x1234::0x5678::SN1::INSTR";
    QTest::newRow("usb lower hex and interface") << "usb1::0xabcd::0x00ef::sn-Lower::2::instr"
                                                 << "USB1::0xABCD::0x00EF::sn-Lower::2::INSTR";
    QTest::newRow("usb without INSTR") << "USB0::0x1::0x2::X::0"
                                       << "USB0::0x0001::0x0002::X::0::INSTR";
}

void TestVisaNames::parsesValidNames()
{
    QFETCH(QString, name);
    QFETCH(QString, canonical);
    visa::ResourceName parsed;
    QCOMPARE(visa::parseResourceName(name.toStdString(), &parsed), VI_SUCCESS);
    QCOMPARE(QString::fromStdString(visa::formatResourceName(parsed)), canonical);
    // The canonical form parses back to the same resource.
    visa::ResourceName again;
    QCOMPARE(visa::parseResourceName(canonical.toStdString(), &again), VI_SUCCESS);
    QVERIFY(visa::sameResource(parsed, again));
}

void TestVisaNames::refusesInvalidNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("status");
    const int invalid = VI_ERROR_INV_RSRC_NAME;
    const int unsupported = VI_ERROR_RSRC_NFOUND;
    QTest::newRow("empty") << "" << invalid;
    QTest::newRow("garbage") << "hello" << invalid;
    QTest::newRow("tcpip missing port") << "TCPIP::host::SOCKET" << invalid;
    QTest::newRow("tcpip port zero") << "TCPIP::host::0::SOCKET" << invalid;
    QTest::newRow("tcpip port too big") << "TCPIP::host::65536::SOCKET" << invalid;
    QTest::newRow("tcpip port sign") << "TCPIP::host::+80::SOCKET" << invalid;
    QTest::newRow("tcpip no host") << "TCPIP::::5025::SOCKET" << invalid;
    QTest::newRow("tcpip bad board") << "TCPIPx::host::5025::SOCKET" << invalid;
    QTest::newRow("tcpip ipv6 without brackets") << "TCPIP::::1::5025::SOCKET" << invalid;
    QTest::newRow("tcpip ipv6 unclosed") << "TCPIP::[::1::5025::SOCKET" << invalid;
    QTest::newRow("tcpip ipv6 not an address") << "TCPIP::[zz::1]::5025::SOCKET" << invalid;
    QTest::newRow("tcpip trailing field") << "TCPIP::h::5025::SOCKET::X" << invalid;
    QTest::newRow("tcpip space in host") << "TCPIP::my host::5025::SOCKET" << invalid;
    QTest::newRow("tcpip instr") << "TCPIP::192.168.0.2::INSTR" << unsupported;
    QTest::newRow("asrl bad suffix") << "ASRL1::SOCKET" << invalid;
    QTest::newRow("asrl letters") << "ASRLx::INSTR" << invalid;
    QTest::newRow("asrl relative path") << "ASRLdev/ttyS0::INSTR" << invalid;
    QTest::newRow("asrl path with space") << "ASRL/dev/tty S0::INSTR" << invalid;
    QTest::newRow("usb missing serial") << "USB::0x1234::0x5678::INSTR" << invalid;
    QTest::newRow("usb id too big") << "USB::0x12345::0x5678::SN::INSTR" << invalid;
    QTest::newRow("usb decimal too big") << "USB::65536::1::SN::INSTR" << invalid;
    QTest::newRow("usb empty hex") << "USB::0x::1::SN::INSTR" << invalid;
    QTest::newRow("usb bad interface") << "USB::1::2::SN::x::INSTR" << invalid;
    QTest::newRow("usb raw") << "USB0::1::2::SN::0::RAW" << unsupported;
    QTest::newRow("gpib") << "GPIB0::8::INSTR" << unsupported;
}

void TestVisaNames::refusesInvalidNames()
{
    QFETCH(QString, name);
    QFETCH(int, status);
    visa::ResourceName parsed;
    parsed.host = "untouched";
    QCOMPARE(visa::parseResourceName(name.toStdString(), &parsed), status);
    QCOMPARE(parsed.host, std::string("untouched"));
}

void TestVisaNames::parsedFieldsAreKept()
{
    visa::ResourceName name;
    QCOMPARE(visa::parseResourceName("TCPIP2::[::1]::5025::SOCKET", &name), VI_SUCCESS);
    QVERIFY(name.kind == visa::ResourceName::Kind::Tcpip);
    QCOMPARE(name.board, 2u);
    QCOMPARE(name.host, std::string("::1"));
    QVERIFY(name.hostIsIpv6);
    QCOMPARE(name.port, uint16_t(5025));

    QCOMPARE(visa::parseResourceName("USB::0x0957::1::MY123::3::INSTR", &name), VI_SUCCESS);
    QCOMPARE(name.vendorId, uint16_t(0x0957));
    QCOMPARE(name.productId, uint16_t(1));
    QCOMPARE(name.serial, std::string("MY123"));
    QCOMPARE(name.interfaceNumber, 3);

    QCOMPARE(visa::parseResourceName("ASRL/dev/ttyACM0", &name), VI_SUCCESS);
    QCOMPARE(name.devicePath, std::string("/dev/ttyACM0"));
    QCOMPARE(visa::parseResourceName("ASRL7::INSTR", &name), VI_SUCCESS);
    QVERIFY(name.devicePath.empty());
    QCOMPARE(name.board, 7u);
}

void TestVisaNames::sameResourceIgnoresKeywordCase()
{
    visa::ResourceName a;
    visa::ResourceName b;
    QCOMPARE(visa::parseResourceName("tcpip::HOST::1::socket", &a), VI_SUCCESS);
    QCOMPARE(visa::parseResourceName("TCPIP0::host::1::SOCKET", &b), VI_SUCCESS);
    QVERIFY(visa::sameResource(a, b));
    // Device paths are case-sensitive on Linux.
    QCOMPARE(visa::parseResourceName("ASRL/dev/ttyusb0::INSTR", &a), VI_SUCCESS);
    QCOMPARE(visa::parseResourceName("ASRL/dev/ttyUSB0::INSTR", &b), VI_SUCCESS);
    QVERIFY(!visa::sameResource(a, b));
    // A USB name without interface denotes the device's interface, whichever it is.
    QCOMPARE(visa::parseResourceName("USB::1::2::sn::INSTR", &a), VI_SUCCESS);
    QCOMPARE(visa::parseResourceName("USB::1::2::SN::4::INSTR", &b), VI_SUCCESS);
    QVERIFY(visa::sameResource(a, b));
}

void TestVisaNames::findExpressionMatches_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    QTest::newRow("usb instr") << "USB?*INSTR"
                               << "USB0::0x1234::0x5678::SN1::0::INSTR" << true;
    QTest::newRow("usb raw not instr") << "USB?*INSTR"
                                       << "USB0::0x1234::0x5678::SN1::0::RAW" << false;
    QTest::newRow("case-insensitive") << "usb?*instr"
                                      << "USB0::1::2::S::INSTR" << true;
    QTest::newRow("plus on char") << "ASRL1+::INSTR"
                                  << "ASRL11::INSTR" << true;
    QTest::newRow("plus needs one") << "ASRL1+::INSTR"
                                    << "ASRL::INSTR" << false;
    QTest::newRow("negated list") << "GPIB[^0]::?*INSTR"
                                  << "GPIB12::8::INSTR" << false;
    QTest::newRow("negated list hit") << "GPIB[^0]::?*INSTR"
                                      << "GPIB1::8::INSTR" << true;
    QTest::newRow("whole name only") << "ASRL1"
                                     << "ASRL1::INSTR" << false;
    QTest::newRow("socket") << "TCPIP?*SOCKET"
                            << "TCPIP0::127.0.0.1::5025::SOCKET" << true;
    QTest::newRow("socket not instr") << "TCPIP?*SOCKET"
                                      << "TCPIP0::h::INSTR" << false;
    QTest::newRow("question is one char") << "ASRL?::INSTR"
                                          << "ASRL12::INSTR" << false;
    QTest::newRow("star empty") << "ASRL1*::INSTR"
                                << "ASRL::INSTR" << true;
    QTest::newRow("range") << "ASRL[1-3]::INSTR"
                           << "ASRL2::INSTR" << true;
    QTest::newRow("range miss") << "ASRL[1-3]::INSTR"
                                << "ASRL4::INSTR" << false;
    QTest::newRow("list folds case") << "[a]SRL1::INSTR"
                                     << "ASRL1::INSTR" << true;
    QTest::newRow("negated list folds case") << "[^a]SRL1::INSTR"
                                             << "ASRL1::INSTR" << false;
    QTest::newRow("escaped star") << "ASRL\\*"
                                  << "ASRL*" << true;
    QTest::newRow("escaped star literal only") << "ASRL\\*"
                                               << "ASRL1" << false;
    QTest::newRow("escaped question") << "A\\?"
                                      << "AB" << false;
    QTest::newRow("escape in list") << "A[\\]x]"
                                    << "A]" << true;
    QTest::newRow("ipv6 brackets escaped") << "TCPIP0::\\[::1\\]::?*"
                                           << "TCPIP0::[::1]::5025::SOCKET" << true;
    QTest::newRow("alternation first") << "USB?*|ASRL?*"
                                       << "USB0::1::2::S::INSTR" << true;
    QTest::newRow("alternation second") << "USB?*|ASRL?*"
                                        << "ASRL1::INSTR" << true;
    QTest::newRow("alternation neither") << "USB?*|ASRL?*"
                                         << "TCPIP0::h::1::SOCKET" << false;
    QTest::newRow("alternation lowest precedence") << "ASRL1|2::INSTR"
                                                   << "ASRL1" << true;
    QTest::newRow("alternation lowest precedence 2") << "ASRL1|2::INSTR"
                                                     << "ASRL2::INSTR" << false;
    QTest::newRow("group alternation") << "(USB|ASRL)?*INSTR"
                                       << "ASRL/dev/ttyS0::INSTR" << true;
    QTest::newRow("group star") << "A(BC)*D"
                                << "ABCBCD" << true;
    QTest::newRow("group star partial") << "A(BC)*D"
                                        << "ABCBD" << false;
    QTest::newRow("group plus") << "A(BC)+D"
                                << "AD" << false;
    QTest::newRow("nested groups") << "((A|B)C)+"
                                   << "ACBCAC" << true;
    QTest::newRow("close bracket literal outside list") << "A]"
                                                        << "A]" << true;
    QTest::newRow("dash literal at end") << "A[x-]"
                                         << "A-" << true;
    QTest::newRow("every resource") << "?*"
                                    << "ASRL1::INSTR" << true;
}

void TestVisaNames::findExpressionMatches()
{
    QFETCH(QString, expression);
    QFETCH(QString, name);
    QFETCH(bool, matches);
    visa::FindExpression compiled;
    QVERIFY(compiled.compile(expression.toStdString()));
    QCOMPARE(compiled.matches(name.toStdString()), matches);
}

void TestVisaNames::findExpressionRefusesInvalid_data()
{
    QTest::addColumn<QString>("expression");
    QTest::newRow("empty") << "";
    QTest::newRow("leading star") << "*USB";
    QTest::newRow("leading plus") << "+";
    QTest::newRow("double quantifier") << "A**";
    QTest::newRow("unclosed group") << "(USB";
    QTest::newRow("unopened group") << "USB)";
    QTest::newRow("empty group") << "()";
    QTest::newRow("empty alternative") << "USB|";
    QTest::newRow("leading bar") << "|USB";
    QTest::newRow("unclosed list") << "[abc";
    QTest::newRow("empty list") << "[]";
    QTest::newRow("empty negated list") << "[^]";
    QTest::newRow("reversed range") << "[z-a]";
    QTest::newRow("trailing backslash") << "USB\\";
    QTest::newRow("attribute expression") << "?*INSTR{VI_ATTR_ASRL_BAUD == 9600}";
    QTest::newRow("stray brace") << "USB}";
}

void TestVisaNames::findExpressionRefusesInvalid()
{
    QFETCH(QString, expression);
    visa::FindExpression compiled;
    QVERIFY(!compiled.compile(expression.toStdString()));
    QVERIFY(!compiled.matches("USB0::1::2::S::INSTR"));
}

void TestVisaNames::findExpressionIsLinearOnNestedStars()
{
    // A backtracking matcher takes exponential time here; the automaton answers at once.
    visa::FindExpression compiled;
    QVERIFY(compiled.compile("(A*)*(A*)*(A*)*B"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!compiled.matches(std::string(200, 'A')));
    QVERIFY(compiled.matches(std::string(200, 'A') + "B"));
    QVERIFY(timer.elapsed() < 2000);
}

void TestVisaNames::statusTextsCoverEveryCode_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("textStart");
    QTest::newRow("success") << int(VI_SUCCESS) << "VI_SUCCESS"
                             << "Operation completed";
    QTest::newRow("term char") << int(VI_SUCCESS_TERM_CHAR) << "VI_SUCCESS_TERM_CHAR"
                               << "The specified termination";
    QTest::newRow("max cnt") << int(VI_SUCCESS_MAX_CNT) << "VI_SUCCESS_MAX_CNT"
                             << "The number of bytes";
    QTest::newRow("config") << int(VI_WARN_CONFIG_NLOADED) << "VI_WARN_CONFIG_NLOADED"
                            << "The specified configuration";
    QTest::newRow("warn attr") << int(VI_WARN_NSUP_ATTR_STATE) << "VI_WARN_NSUP_ATTR_STATE"
                               << "Although";
    QTest::newRow("unknown") << int(VI_WARN_UNKNOWN_STATUS) << "VI_WARN_UNKNOWN_STATUS"
                             << "The status code";
    QTest::newRow("inv object") << int(VI_ERROR_INV_OBJECT) << "VI_ERROR_INV_OBJECT"
                                << "The given session";
    QTest::newRow("locked") << int(VI_ERROR_RSRC_LOCKED) << "VI_ERROR_RSRC_LOCKED"
                            << "Specified";
    QTest::newRow("inv expr") << int(VI_ERROR_INV_EXPR) << "VI_ERROR_INV_EXPR"
                              << "Invalid";
    QTest::newRow("nfound") << int(VI_ERROR_RSRC_NFOUND) << "VI_ERROR_RSRC_NFOUND"
                            << "Insufficient";
    QTest::newRow("inv name") << int(VI_ERROR_INV_RSRC_NAME) << "VI_ERROR_INV_RSRC_NAME"
                              << "Invalid resource";
    QTest::newRow("acc mode") << int(VI_ERROR_INV_ACC_MODE) << "VI_ERROR_INV_ACC_MODE"
                              << "Invalid access";
    QTest::newRow("tmo") << int(VI_ERROR_TMO) << "VI_ERROR_TMO"
                         << "Timeout expired";
    QTest::newRow("nsup attr") << int(VI_ERROR_NSUP_ATTR) << "VI_ERROR_NSUP_ATTR"
                               << "The specified attribute is not";
    QTest::newRow("nsup attr state") << int(VI_ERROR_NSUP_ATTR_STATE) << "VI_ERROR_NSUP_ATTR_STATE"
                                     << "The specified state";
    QTest::newRow("alloc") << int(VI_ERROR_ALLOC) << "VI_ERROR_ALLOC"
                           << "Insufficient system";
    QTest::newRow("io") << int(VI_ERROR_IO) << "VI_ERROR_IO"
                        << "Could not perform";
    QTest::newRow("inv fmt") << int(VI_ERROR_INV_FMT) << "VI_ERROR_INV_FMT"
                             << "A format";
    QTest::newRow("nsup fmt") << int(VI_ERROR_NSUP_FMT) << "VI_ERROR_NSUP_FMT"
                              << "A format";
    QTest::newRow("nsup oper") << int(VI_ERROR_NSUP_OPER) << "VI_ERROR_NSUP_OPER"
                               << "The given";
    QTest::newRow("user buf") << int(VI_ERROR_USER_BUF) << "VI_ERROR_USER_BUF"
                              << "A specified";
    QTest::newRow("busy") << int(VI_ERROR_RSRC_BUSY) << "VI_ERROR_RSRC_BUSY"
                          << "The resource";
    QTest::newRow("parameter") << int(VI_ERROR_INV_PARAMETER) << "VI_ERROR_INV_PARAMETER"
                               << "The value";
    QTest::newRow("library") << int(VI_ERROR_LIBRARY_NFOUND) << "VI_ERROR_LIBRARY_NFOUND"
                             << "A code library";
    QTest::newRow("conn lost") << int(VI_ERROR_CONN_LOST) << "VI_ERROR_CONN_LOST"
                               << "The connection";
    QTest::newRow("system") << int(VI_ERROR_SYSTEM_ERROR) << "VI_ERROR_SYSTEM_ERROR"
                            << "Unknown";
}

void TestVisaNames::statusTextsCoverEveryCode()
{
    QFETCH(int, status);
    QFETCH(QString, name);
    QFETCH(QString, textStart);
    ViChar desc[256];
    QCOMPARE(viStatusDesc(VI_NULL, status, desc), VI_SUCCESS);
    QVERIFY(QString::fromLatin1(desc).startsWith(name + ": " + textStart));
}

void TestVisaNames::unknownStatusIsReported()
{
    ViChar desc[256];
    QCOMPARE(viStatusDesc(VI_NULL, ViStatus(0xBFFF7777), desc), VI_WARN_UNKNOWN_STATUS);
    QVERIFY(std::strlen(desc) > 0);
    QVERIFY(QString::fromLatin1(desc).contains("BFFF7777"));
    QCOMPARE(viStatusDesc(VI_NULL, VI_SUCCESS, nullptr), VI_ERROR_USER_BUF);
}

void TestVisaNames::statusDescNeverWritesPast256Bytes()
{
    // Every code the layer knows, and then some, into a buffer fenced by sentinels.
    for (ViStatus status :
         {VI_SUCCESS_MAX_CNT, VI_WARN_CONFIG_NLOADED, VI_WARN_NSUP_ATTR_STATE, VI_ERROR_RSRC_LOCKED,
          VI_ERROR_NSUP_ATTR_STATE, VI_ERROR_ASRL_OVERRUN, ViStatus(0x12345678)}) {
        char fenced[256 + 64];
        std::memset(fenced, 0x5A, sizeof fenced);
        viStatusDesc(VI_NULL, status, fenced);
        QVERIFY(std::memchr(fenced, '\0', 256) != nullptr);
        for (size_t i = 256; i < sizeof fenced; ++i)
            QCOMPARE(fenced[i], char(0x5A));
    }
    // A small buffer size given to the helper is honoured too.
    char small[8];
    visa::describeStatus(VI_ERROR_TMO, small, sizeof small);
    QCOMPARE(std::strlen(small), size_t(7));
}

void TestVisaNames::readFormats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("width");
    QTest::newRow("t") << "%t" << int(VI_SUCCESS) << 255;
    QTest::newRow("t width") << "%255t" << int(VI_SUCCESS) << 255;
    QTest::newRow("t small width") << "%3t" << int(VI_SUCCESS) << 3;
    QTest::newRow("t zero width") << "%0t" << int(VI_ERROR_INV_FMT) << 0;
    QTest::newRow("s") << "%s" << int(VI_ERROR_NSUP_FMT) << 0;
    QTest::newRow("long double") << "%lf" << int(VI_ERROR_NSUP_FMT) << 0;
    QTest::newRow("T") << "%T" << int(VI_ERROR_NSUP_FMT) << 0;
    QTest::newRow("literal and t") << "X%t" << int(VI_ERROR_NSUP_FMT) << 0;
    QTest::newRow("t then text") << "%tX" << int(VI_ERROR_NSUP_FMT) << 0;
    QTest::newRow("lone percent") << "%" << int(VI_ERROR_INV_FMT) << 0;
    QTest::newRow("unknown conversion") << "%q" << int(VI_ERROR_INV_FMT) << 0;
}

void TestVisaNames::readFormats()
{
    QFETCH(QString, format);
    QFETCH(int, status);
    QFETCH(int, width);
    visa::ReadFormat parsed;
    const QByteArray bytes = format.toLatin1();
    QCOMPARE(visa::parseReadFormat(bytes.constData(), &parsed), status);
    if (status == VI_SUCCESS) {
        QVERIFY(parsed.present);
        QCOMPARE(int(parsed.width), width);
    }
}

void TestVisaNames::writeFormats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("status");
    QTest::newRow("literal") << "*IDN?\n" << int(VI_SUCCESS);
    QTest::newRow("s and d") << "ROUT:CLOS (@%d);%s\n" << int(VI_SUCCESS);
    QTest::newRow("percent") << "100%%\n" << int(VI_SUCCESS);
    QTest::newRow("f") << "VOLT %f\n" << int(VI_ERROR_NSUP_FMT);
    QTest::newRow("width d") << "%5d" << int(VI_ERROR_NSUP_FMT);
    QTest::newRow("trailing percent") << "abc%" << int(VI_ERROR_INV_FMT);
    QTest::newRow("unknown") << "%q" << int(VI_ERROR_INV_FMT);
}

void TestVisaNames::writeFormats()
{
    QFETCH(QString, format);
    QFETCH(int, status);
    const QByteArray bytes = format.toLatin1();
    QCOMPARE(visa::checkWriteFormat(bytes.constData()), status);
}

QTEST_GUILESS_MAIN(TestVisaNames)
#include "tst_visa_names.moc"
