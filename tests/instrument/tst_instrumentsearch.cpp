// Identification probe and resource search against simulated main frames and throw-away
// responders, with the resource list and device roots pointed at the test's own files.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <termios.h>

#include "instrumentsearch.h"
#include "lineresponder.h"
#include "simulatedinstruments.h"

class TestInstrumentSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void supportedModels_data();
    void supportedModels();
    void probeAcceptsSimulatedModels_data();
    void probeAcceptsSimulatedModels();
    void probeGivesUpOnSilenceAndMissingResources();
    void serialProbeRunsAt115200Baud();
    void searchListsSupportedFramesUsbSocketsThenSerial();
    void searchWithNothingSupportedIsEmpty();

private:
    void writeResourceList(const QStringList &names);
    QTemporaryDir dir;
};

void TestInstrumentSearch::initTestCase()
{
    QVERIFY(dir.isValid());
    // Keep the machine's own serial ports and USB devices out of the search.
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("dev")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("sys")));
    qputenv("VISA_DEV_ROOT", QFile::encodeName(dir.filePath(QStringLiteral("dev"))));
    qputenv("VISA_SYSFS_ROOT", QFile::encodeName(dir.filePath(QStringLiteral("sys"))));
    qputenv("VISA_NO_VENDOR", "1");
}

void TestInstrumentSearch::writeResourceList(const QStringList &names)
{
    const QString path = dir.filePath(QStringLiteral("resources"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("# resources of this test\n");
    for (const QString &name : names)
        file.write(name.toUtf8() + '\n');
    file.close();
    qputenv("VISA_RESOURCE_LIST", QFile::encodeName(path));
}

void TestInstrumentSearch::supportedModels_data()
{
    QTest::addColumn<QString>("identity");
    QTest::addColumn<bool>("supported");
    QTest::newRow("upper") << "MAKER,VSK3307,SN123,1.0" << true;
    QTest::newRow("lower") << "maker,vsk3307,sn,1" << true;
    QTest::newRow("second model") << "X,TRX6200M,Y,Z" << true;
    QTest::newRow("inside a word") << "X,ABCtrx6200mDEF,Y" << true;
    QTest::newRow("other model") << "MAKER,VSK3306,SN,1" << false;
    QTest::newRow("empty") << "" << false;
}

void TestInstrumentSearch::supportedModels()
{
    QFETCH(QString, identity);
    QFETCH(bool, supported);
    QCOMPARE(isSupportedMainFrame(identity), supported);
}

void TestInstrumentSearch::probeAcceptsSimulatedModels_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("supported");
    QTest::newRow("lower-case model") << "vsk3307" << true;
    QTest::newRow("other family") << "TRX6200M" << true;
    QTest::newRow("unsupported") << "SWX100" << false;
}

void TestInstrumentSearch::probeAcceptsSimulatedModels()
{
    QFETCH(QString, model);
    QFETCH(bool, supported);
    SimulatedInstruments sim;
    QVERIFY(sim.start({QStringLiteral("--model"), model}));
    ViSession rm = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(probeResource(rm, sim.switchResource()), supported);
    // The multimeter never counts as a main frame.
    QCOMPARE(probeResource(rm, sim.measureResource()), false);
    viClose(rm);
}

void TestInstrumentSearch::probeGivesUpOnSilenceAndMissingResources()
{
    LineResponder silent([](const QByteArray &) { return QByteArray(); });
    QVERIFY(silent.listenTcp());
    ViSession rm = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);

    QElapsedTimer timer;
    timer.start();
    QVERIFY(!probeResource(rm, silent.resourceName()));
    QVERIFY2(timer.elapsed() >= 2900 && timer.elapsed() < 4500,
             qPrintable(QString::number(timer.elapsed())));

    timer.restart();
    QVERIFY(!probeResource(rm, QStringLiteral("TCPIP0::127.0.0.1::1::SOCKET")));
    QVERIFY(!probeResource(rm, QStringLiteral("ASRL/dev/null::INSTR")));
    QVERIFY(!probeResource(rm, QStringLiteral("USB0::0x1::0x2::NOPE::INSTR")));
    QVERIFY(!probeResource(rm, QStringLiteral("garbage")));
    QVERIFY(timer.elapsed() < 4000);
    viClose(rm);
}

void TestInstrumentSearch::serialProbeRunsAt115200Baud()
{
    LineResponder *self = nullptr;
    std::atomic<int> seenSpeed{-1};
    LineResponder responder([&](const QByteArray &line) {
        termios settings{};
        if (line == "*IDN?" && tcgetattr(self->slaveFd(), &settings) == 0)
            seenSpeed = int(cfgetospeed(&settings));
        return QByteArray("MAKER,VSK3307,SN7,1.0\n");
    });
    self = &responder;
    QVERIFY(responder.openPseudoTerminal());
    ViSession rm = 0;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QVERIFY(probeResource(rm, responder.resourceName()));
    QCOMPARE(seenSpeed.load(), int(B115200));
    viClose(rm);
}

void TestInstrumentSearch::searchListsSupportedFramesUsbSocketsThenSerial()
{
    SimulatedInstruments sim;
    QVERIFY(sim.start());
    SimulatedInstruments other;
    QVERIFY(other.start({QStringLiteral("--model"), QStringLiteral("SWX100")}));
    LineResponder serialFrame([](const QByteArray &line) {
        return line == "*IDN?" ? QByteArray("MAKER,TRX6200M,S2,1\n") : QByteArray();
    });
    QVERIFY(serialFrame.openPseudoTerminal());

    // Serial listed first on purpose: the search order, not the file order, decides.
    writeResourceList({serialFrame.resourceName(), other.switchResource(), sim.measureResource(),
                       sim.switchResource()});
    const QStringList found = findSupportedInstruments();
    QCOMPARE(found, QStringList({sim.switchResource(), serialFrame.resourceName()}));
}

void TestInstrumentSearch::searchWithNothingSupportedIsEmpty()
{
    SimulatedInstruments sim;
    QVERIFY(sim.start({QStringLiteral("--model"), QStringLiteral("SWX100")}));
    writeResourceList({sim.switchResource(), sim.measureResource()});
    QCOMPARE(findSupportedInstruments(), QStringList());
    writeResourceList({});
    QCOMPARE(findSupportedInstruments(), QStringList());
}

QTEST_GUILESS_MAIN(TestInstrumentSearch)
#include "tst_instrumentsearch.moc"
