// Forwarding to a vendor VISA library: a fake one built with the tests is loaded through
// VISA_VENDOR_LIBRARY; the process-wide choice is checked in child processes.
#include "vendor_forwarding.h"
#include "visa.h"

#include <QtTest>

#include <dlfcn.h>

namespace {

QString callLog()
{
    void *handle = dlopen(FAKE_VISA_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return "<fake library not loaded>";
    auto logFn = reinterpret_cast<void (*)(char *, size_t)>(dlsym(handle, "fakeVisaCallLog"));
    char text[4096] = {};
    if (logFn)
        logFn(text, sizeof text);
    dlclose(handle);
    return QString::fromUtf8(text);
}

// Runs the probe helper with the given environment changes; returns its standard output lines.
QStringList runProbe(const QMap<QString, QString> &set, const QStringList &unset,
                     QByteArray *errors = nullptr)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : unset)
        env.remove(name);
    for (auto it = set.begin(); it != set.end(); ++it)
        env.insert(it.key(), it.value());
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start(VISA_PROBE_TOOL, QStringList());
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        return {"<probe failed>"};
    if (errors)
        *errors = probe.readAllStandardError();
    return QString::fromLatin1(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestVisaVendor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void forwardsEveryCall();
    void candidatesFollowTheEnvironment();
    void incompleteOrMissingLibraryIsNotUsed();
    void processChoiceIsMadeOnceAndThreadSafely();
    void processFallsBackToBuiltIn_data();
    void processFallsBackToBuiltIn();
};

void TestVisaVendor::initTestCase()
{
    // Before the first VISA call of this process, which makes the choice.
    qunsetenv("VISA_NO_VENDOR");
    qputenv("VISA_VENDOR_LIBRARY", FAKE_VISA_LIBRARY);
}

void TestVisaVendor::forwardsEveryCall()
{
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(rm, ViSession(0x7E570001));
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    ViChar desc[VI_FIND_BUFLEN];
    QCOMPARE(viFindRsrc(rm, "USB?*INSTR", &list, &count, desc), VI_SUCCESS);
    QCOMPARE(QByteArray(desc), QByteArray("FAKE0::USB?*INSTR"));
    QCOMPARE(count, 2u);
    QCOMPARE(viFindNext(list, desc), VI_SUCCESS);
    QCOMPARE(QByteArray(desc), QByteArray("FAKE1::INSTR"));
    // A name the built-in layer would refuse goes to the vendor unchanged.
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm, "GPIB0::8::INSTR", VI_NO_LOCK, 0, &vi), VI_SUCCESS);
    QCOMPARE(vi, ViSession(0x7E570002));
    QCOMPARE(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    ViUInt32 written = 0;
    QCOMPARE(viWrite(vi, reinterpret_cast<ViConstBuf>("*CLS\n"), 5, &written), VI_SUCCESS);
    QCOMPARE(written, 5u);
    ViByte buffer[64];
    ViUInt32 got = 0;
    QCOMPARE(viRead(vi, buffer, sizeof buffer, &got), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), int(got)), QByteArray("FAKE-READ\n"));
    char reply[256] = {};
    QCOMPARE(viQueryf(vi, "CH%d?\n", "%t", 7, reply), VI_SUCCESS);
    QCOMPARE(QByteArray(reply), QByteArray("FAKE-QUERY 7 CH%d?\n|%t"));
    ViChar text[256];
    QCOMPARE(viStatusDesc(vi, VI_ERROR_TMO, text), VI_SUCCESS);
    QCOMPARE(QByteArray(text), QByteArray("FAKE status BFFF0015"));
    QCOMPARE(viClose(vi), VI_SUCCESS);
    QCOMPARE(viClose(rm), VI_SUCCESS);
    QCOMPARE(callLog(), QString("viOpenDefaultRM,viFindRsrc,viFindNext,viOpen,GPIB0::8::INSTR,"
                                "viSetAttribute 3FFF001A=5000,viWrite *CLS\n,viRead,viVQueryf,"
                                "viStatusDesc,viClose,viClose"));
    const visa::VendorApi *api = visa::vendorApi();
    QVERIFY(api);
    QCOMPARE(QString::fromStdString(api->path), QString(FAKE_VISA_LIBRARY));
}

void TestVisaVendor::candidatesFollowTheEnvironment()
{
    const QByteArray saved = qgetenv("VISA_VENDOR_LIBRARY");
    qunsetenv("VISA_VENDOR_LIBRARY");
    QCOMPARE(
        visa::vendorLibraryCandidates(),
        std::vector<std::string>({"libvisa.so", "libvisa.so.0", "libiovisa.so", "librsvisa.so"}));
    qputenv("VISA_VENDOR_LIBRARY", "/opt/vendor/lib/libthing.so");
    QCOMPARE(visa::vendorLibraryCandidates(),
             std::vector<std::string>{"/opt/vendor/lib/libthing.so"});
    qputenv("VISA_NO_VENDOR", "1");
    QVERIFY(visa::vendorLibraryCandidates().empty());
    qputenv("VISA_NO_VENDOR", "0");
    QCOMPARE(visa::vendorLibraryCandidates().size(), size_t(1));
    qunsetenv("VISA_NO_VENDOR");
    qputenv("VISA_VENDOR_LIBRARY", saved);
}

void TestVisaVendor::incompleteOrMissingLibraryIsNotUsed()
{
    bool loadable = false;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("viVQueryf"));
    QVERIFY(!visa::loadVendorLibrary(FAKE_VISA_INCOMPLETE, &loadable));
    QVERIFY(loadable);
    QVERIFY(!visa::loadVendorLibrary("/nonexistent/libvisa.so", &loadable));
    QVERIFY(!loadable);
    const std::unique_ptr<visa::VendorApi> api =
        visa::loadVendorLibrary(FAKE_VISA_LIBRARY, &loadable);
    QVERIFY(api && loadable);
    QVERIFY(api->vQueryf && api->statusDesc && api->openDefaultRM);
}

void TestVisaVendor::processChoiceIsMadeOnceAndThreadSafely()
{
    // Eight threads make the first calls of a fresh process together: all go to the vendor.
    const QStringList lines =
        runProbe({{"VISA_VENDOR_LIBRARY", FAKE_VISA_LIBRARY}}, {"VISA_NO_VENDOR"});
    QStringList expected;
    for (int i = 0; i < 8; ++i)
        expected << "7e570001";
    QCOMPARE(lines, expected);
}

void TestVisaVendor::processFallsBackToBuiltIn_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("noVendor");
    QTest::addColumn<QString>("warning");
    QTest::newRow("disabled") << FAKE_VISA_LIBRARY << "1" << QString();
    QTest::newRow("incomplete library") << FAKE_VISA_INCOMPLETE << ""
                                        << "viVQueryf";
    QTest::newRow("missing library") << "/nonexistent/libvisa.so"
                                     << ""
                                     << "/nonexistent/libvisa.so";
}

void TestVisaVendor::processFallsBackToBuiltIn()
{
    QFETCH(QString, library);
    QFETCH(QString, noVendor);
    QFETCH(QString, warning);
    QMap<QString, QString> set{{"VISA_VENDOR_LIBRARY", library}};
    QStringList unset;
    if (noVendor.isEmpty())
        unset << "VISA_NO_VENDOR";
    else
        set.insert("VISA_NO_VENDOR", noVendor);
    QByteArray errors;
    const QStringList lines = runProbe(set, unset, &errors);
    QCOMPARE(lines.size(), 8);
    // Built-in resource managers: eight distinct small numbers.
    QSet<QString> distinct;
    for (const QString &line : lines) {
        QVERIFY2(!line.startsWith("7e57"), qPrintable(line));
        distinct.insert(line);
    }
    QCOMPARE(distinct.size(), 8);
    if (!warning.isEmpty())
        QVERIFY2(errors.contains(warning.toUtf8()), errors.constData());
}

QTEST_GUILESS_MAIN(TestVisaVendor)
#include "tst_visa_vendor.moc"
