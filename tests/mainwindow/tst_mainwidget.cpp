// The window built in the test process and driven through its widgets, against the simulated
// instruments over loopback sockets. The scan thread runs at a tenth of its pace here.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "cdevicevisa.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "mainwidget.h"
#include "processvalues.h"
#include "readdata.h"
#include "resources/dataloggerresources.h"
#include "simulatedinstruments.h"
#include "widgets/customdialog.h"
#include "widgets/custommessagedialog.h"
#include "widgets/imagebutton.h"
#include "widgets/loadingview.h"
#include "widgets/timepicker.h"

namespace {
const QString serial = QStringLiteral("MWT42");

QStringList labelsOf(QWidget *widget)
{
    QStringList texts;
    for (QLabel *label : widget->findChildren<QLabel *>())
        texts << label->text();
    return texts;
}

int countLines(const QStringList &lines, const QString &line)
{
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}
} // namespace

class TestMainWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void helpers_data();
    void helpers();
    void fittedSlotsAreTheOnesAFrameCanHave_data();
    void fittedSlotsAreTheOnesAFrameCanHave();
    void dataSetNameIsAlwaysAPlainName_data();
    void dataSetNameIsAlwaysAPlainName();
    void windowWithAnsweringInstrument();
    void connectsTheSwitchMainFrameOnce();
    void ticksPropagateBetweenModulesAndChannels();
    void startIsRefusedWithReasons();
    void searchWithoutSupportedFrameSaysSo();
    void startWhileTheLastScanDrainsIsRefused();
    void countedRunStoresEveryReadingAndReturnsToIdle();
    void secondStartClearsTheStoreFirst();
    void stopButtonEndsARunningScan();
    void elapsedTimerStopsWithTheRunAndSpansLongLimits();
    void settingsReachTheScanThread();
    void readingsBeyondNinetyRowsGrowTheTable();
    void exportThroughTheDialog();
    void removingTheDataSetNeverLeavesTheApplicationDirectory();
    void lostInstrumentOverlayRetries();

private:
    MainWidget *makeWindow();
    void connectSwitch(MainWidget *window);
    void tick(MainWidget *window, int channel);
    QTreeWidgetItem *channelItem(MainWidget *window, int channel);
    bool waitIdle(MainWidget *window, int timeoutMs = 30000);
    QString messageText();

    SimulatedInstruments sim;
    QTemporaryDir dir;
    MainWidget *window = nullptr;
    bool storeCreated = false;
};

void TestMainWidget::initTestCase()
{
    initDataloggerResources();
    QVERIFY(dir.isValid());
    QVERIFY(sim.start(
        {QStringLiteral("--slots"), QStringLiteral("1,2"), QStringLiteral("--serial"), serial}));
    QVERIFY(sim.makeOnlySearchResult(dir.path()));
    measureResource = sim.measureResource();
    ReadData::instance()->setSleeper([](int ms) { QThread::msleep(ms / 10); });
}

void TestMainWidget::init()
{
    sim.control(QStringLiteral("clear all"));
}

void TestMainWidget::cleanup()
{
    if (window) {
        storeCreated = storeCreated || window->curveStore;
        if (window->logging) {
            window->recvStartButtonSlot();
            waitIdle(window);
        }
        delete window;
        window = nullptr;
    }
}

void TestMainWidget::cleanupTestCase()
{
    QDir(QCoreApplication::applicationDirPath() + QLatin1Char('/') + serial +
         QStringLiteral("_Data"))
        .removeRecursively();
}

MainWidget *TestMainWidget::makeWindow()
{
    window = new MainWidget;
    // The store is process-wide while each test builds its own window: a window of a later
    // test takes over the store the way the first start of a real process obtains it, so that
    // its first start clears the previous test's recording.
    if (storeCreated) {
        window->curveStore = CurveDataDB::instance(serial + QStringLiteral("_Data"));
        connect(window->curveStore, &CurveDataDB::sigClearFinished, window,
                &MainWidget::recvDataClearFinished);
    }
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(1000, 600);
    window->show();
    return window;
}

void TestMainWidget::connectSwitch(MainWidget *w)
{
    QTest::mouseClick(w->setupButton, Qt::LeftButton);
    QVERIFY(w->switchConnected);
}

QTreeWidgetItem *TestMainWidget::channelItem(MainWidget *w, int channel)
{
    for (int m = 0; m < w->channelTree->topLevelItemCount(); ++m) {
        QTreeWidgetItem *module = w->channelTree->topLevelItem(m);
        for (int c = 0; c < module->childCount(); ++c) {
            auto *label = qobject_cast<QLabel *>(w->channelTree->itemWidget(module->child(c), 1));
            if (label && label->text().toInt() == channel)
                return module->child(c);
        }
    }
    return nullptr;
}

void TestMainWidget::tick(MainWidget *w, int channel)
{
    QTreeWidgetItem *item = channelItem(w, channel);
    QVERIFY(item);
    item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

bool TestMainWidget::waitIdle(MainWidget *w, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while ((w->logging || w->scanThread->isRunning()) && timer.elapsed() < timeoutMs)
        QTest::qWait(20);
    QTest::qWait(50);
    return !w->logging && !w->scanThread->isRunning();
}

QString TestMainWidget::messageText()
{
    return labelsOf(CustomMessageDialog::sharedMessageDialog()).join(QLatin1Char('|'));
}

void TestMainWidget::helpers_data()
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

void TestMainWidget::helpers()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QCOMPARE(MainWidget::sanitizeFileName(input), output);
    QCOMPARE(MainWidget::durationText(0), QStringLiteral("00 : 00 : 00 : 00"));
    QCOMPARE(MainWidget::durationText(90061), QStringLiteral("01 : 01 : 01 : 01"));
    QCOMPARE(MainWidget::durationText(8640000), QStringLiteral("100 : 00 : 00 : 00"));
    QCOMPARE(MainWidget::durationText(59.9), QStringLiteral("00 : 00 : 00 : 59"));
}

void TestMainWidget::fittedSlotsAreTheOnesAFrameCanHave_data()
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
        if (slot <= MainWidget::MaxSlot)
            all << slot;
    }
    QTest::newRow("a thousand slots") << thousand << all << 1000 - MainWidget::MaxSlot;
}

// A frame's answer to "SYST:CTYP?" is bounded to the slots a frame can have, whatever it says.
void TestMainWidget::fittedSlotsAreTheOnesAFrameCanHave()
{
    QFETCH(QString, reply);
    QFETCH(QList<int>, slotNumbers);
    QFETCH(int, ignored);
    QStringList dropped;
    QCOMPARE(MainWidget::fittedSlots(reply, &dropped), slotNumbers);
    QCOMPARE(dropped.size(), ignored);
}

void TestMainWidget::dataSetNameIsAlwaysAPlainName_data()
{
    QTest::addColumn<QString>("identity");
    QTest::addColumn<QString>("name");
    QTest::newRow("normal") << "MAKER VSK3307 SN123 1.0"
                            << "SN123_Data";
    QTest::newRow("two fields") << "MAKER VSK3307"
                                << "_Data";
    QTest::newRow("parent") << "M V .. 1"
                            << "___Data";
    QTest::newRow("path") << "M V ../../etc 1"
                          << "______etc_Data";
    QTest::newRow("absolute") << "M V /tmp/x 1"
                              << "_tmp_x_Data";
    QTest::newRow("backslash and nul")
        << QString(QStringLiteral("M V a\\b") + QChar(0) + QStringLiteral(" 1")) << "a_b__Data";
}

void TestMainWidget::dataSetNameIsAlwaysAPlainName()
{
    QFETCH(QString, identity);
    QFETCH(QString, name);
    const QString saved = instrumentIdentity;
    instrumentIdentity = identity;
    QCOMPARE(MainWidget::dataSetName(), name);
    instrumentIdentity = saved;
}

void TestMainWidget::windowWithAnsweringInstrument()
{
    const int apersBefore = countLines(sim.transcript(), QStringLiteral("measure <- APER MED"));
    MainWidget *w = makeWindow();
    QVERIFY(w->measureConnected);
    QVERIFY(!w->switchConnected);
    QCOMPARE(w->tabWidget->count(), 3);
    QCOMPARE(w->tabWidget->tabText(0), QStringLiteral("配置通道"));
    QCOMPARE(w->tabWidget->tabText(1), QStringLiteral("图形设置"));
    QCOMPARE(w->tabWidget->tabText(2), QStringLiteral("趋势图"));
    QCOMPARE(w->readingsTable->rowCount(), 90);
    QCOMPARE(w->readingsTable->columnCount(), 6);
    for (int row : {0, 89})
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(w->readingsTable->item(row, column)->text(), QString());
            QCOMPARE(w->readingsTable->item(row, column)->textAlignment(), int(Qt::AlignCenter));
        }
    QVERIFY(w->fastRadio->isChecked());
    QCOMPARE(countLines(sim.transcript(), QStringLiteral("measure <- APER MED")), apersBefore + 1);
    QCOMPARE(w->setupButton->text(), QStringLiteral("当前外接设备未连接,连接外部设备"));
    // Start button at the left edge, export button at the right, running label hidden.
    QCOMPARE(w->startButton->mapTo(w, QPoint(0, 0)).x(), 0);
    QCOMPARE(w->exportButton->mapTo(w, QPoint(w->exportButton->width(), 0)).x(), w->width());
    QVERIFY(!w->runningLabel->isVisible());
    QVERIFY(!w->busyOverlay->isVisible());
}

void TestMainWidget::connectsTheSwitchMainFrameOnce()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    QCOMPARE(w->setupButton->text(), QStringLiteral("设备连接成功"));
    QCOMPARE(switchResource, sim.switchResource());
    QVERIFY(instrumentIdentity.endsWith(QStringLiteral(" VSK3307 %1 1.0").arg(serial)));
    QCOMPARE(w->channelTree->topLevelItemCount(), 2);
    QVERIFY(channelItem(w, 101) && channelItem(w, 110) && channelItem(w, 201) &&
            channelItem(w, 210));
    QVERIFY(!channelItem(w, 111));

    const int idnBefore = countLines(sim.transcript(), QStringLiteral("switch <- *IDN?"));
    QTest::mouseClick(w->setupButton, Qt::LeftButton);
    QCOMPARE(countLines(sim.transcript(), QStringLiteral("switch <- *IDN?")), idnBefore);
    QCOMPARE(w->channelTree->topLevelItemCount(), 2);
}

void TestMainWidget::ticksPropagateBetweenModulesAndChannels()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    QTreeWidgetItem *module1 = w->channelTree->topLevelItem(0);
    module1->setCheckState(0, Qt::Checked);
    QList<int> expected;
    for (int n = 101; n <= 110; ++n)
        expected << n;
    QCOMPARE(selectedChannels.keys(), expected);

    tick(w, 105);
    QCOMPARE(module1->checkState(0), Qt::PartiallyChecked);
    expected.removeOne(105);
    QCOMPARE(selectedChannels.keys(), expected);
    for (int n : expected)
        tick(w, n);
    QCOMPARE(module1->checkState(0), Qt::Unchecked);
    QVERIFY(selectedChannels.isEmpty());

    tick(w, 201);
    tick(w, 105);
    QCOMPARE(selectedChannels.keys(), QList<int>({105, 201}));
    QCOMPARE(selectedChannels.value(201), QStringLiteral("201"));
    for (int n = 101; n <= 110; ++n)
        if (n != 105)
            tick(w, n);
    QCOMPARE(module1->checkState(0), Qt::Checked);

    // A change reported for the number column is not a tick.
    emit w->channelTree->itemChanged(channelItem(w, 202), 1);
    QCOMPARE(selectedChannels.size(), 11);
    w->channelTree->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    w->channelTree->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    QVERIFY(selectedChannels.isEmpty());
}

void TestMainWidget::startIsRefusedWithReasons()
{
    MainWidget *w = makeWindow();
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(messageText().contains(QStringLiteral("设备未连接，请检查设备连接情况")));
    QCOMPARE(CustomMessageDialog::sharedMessageDialog()->windowTitle(), QStringLiteral("错误"));
    QVERIFY(!w->logging);

    connectSwitch(w);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(messageText().contains(QStringLiteral("扫描通道未选择")));
    QVERIFY(!w->logging);
    QVERIFY(!w->scanThread->isRunning());
}

void TestMainWidget::searchWithoutSupportedFrameSaysSo()
{
    const QByteArray list = qgetenv("VISA_RESOURCE_LIST");
    const QString empty = dir.filePath(QStringLiteral("empty-resources"));
    QFile file(empty);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(sim.measureResource().toUtf8() + '\n'); // a multimeter is no main frame
    file.close();
    qputenv("VISA_RESOURCE_LIST", QFile::encodeName(empty));
    MainWidget *w = makeWindow();
    QTest::mouseClick(w->setupButton, Qt::LeftButton);
    qputenv("VISA_RESOURCE_LIST", list);
    QVERIFY(!w->switchConnected);
    QVERIFY(messageText().contains(QStringLiteral("未查找到设备，请检查设备连接情况")));
    QCOMPARE(w->setupButton->text(), QStringLiteral("查找设备中,请稍等..."));
    // The user may search again, and this time the frame is found.
    connectSwitch(w);
}

void TestMainWidget::startWhileTheLastScanDrainsIsRefused()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    tick(w, 110);
    // The thread still runs while the window is idle, as after a lost main frame.
    w->scanThread->continuous = true;
    w->scanThread->startScanning();
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(messageText().contains(QStringLiteral("上一次扫描未停止")));
    QVERIFY(!w->logging);
    w->scanThread->requestStop();
    QVERIFY(w->scanThread->waitForEnd(20000));
    QTest::qWait(50);
}

void TestMainWidget::countedRunStoresEveryReadingAndReturnsToIdle()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    for (int channel : {101, 102, 201})
        tick(w, channel);
    w->scanCountRadio->setChecked(true);
    w->scanCountSpin->setValue(3);
    const int transcriptStart = sim.transcript().size();

    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(messageText().contains(QStringLiteral("扫描开启中请稍等...")));
    QVERIFY(w->logging);
    QVERIFY(w->runningLabel->isVisible());
    QVERIFY(!w->exportButton->isEnabled());
    QVERIFY(waitIdle(w));
    QVERIFY(w->exportButton->isEnabled());
    QVERIFY(!w->runningLabel->isVisible());
    QVERIFY(!recordEndTime.isEmpty());

    // The dialogue: per channel a liveness query, the relay, then a reading. The readings the
    // simulator sent are collected per channel, in order.
    QStringList dialogue;
    QMap<QString, QList<double>> sent;
    QString closed;
    for (const QString &line : sim.transcript().mid(transcriptStart)) {
        if (line.contains(QLatin1String(" <- ")))
            dialogue << line;
        if (line.startsWith(QLatin1String("switch <- ROUT:CLOS (@")))
            closed = line.mid(22).chopped(1);
        if (line.startsWith(QLatin1String("measure -> ")))
            sent[closed] << line.mid(11).section(QLatin1Char(','), 0, 0).toDouble();
    }
    QStringList scan;
    for (int channel : {101, 102, 201})
        scan << QStringLiteral("switch <- STAT:OPER:EVEN?")
             << QStringLiteral("switch <- ROUT:CLOS (@%1)").arg(channel)
             << QStringLiteral("measure <- FETC?");
    QCOMPARE(dialogue, scan + scan + scan);

    // Every reading reached the day file of today, under its own curve, in the order sent.
    const QString dayFile = QCoreApplication::applicationDirPath() + QLatin1Char('/') + serial +
                            QStringLiteral("_Data/") +
                            QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) +
                            QStringLiteral(".db");
    QVERIFY2(QFile::exists(dayFile), qPrintable(dayFile));
    QMap<QString, QList<double>> stored;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(dayFile);
        QVERIFY(db.open());
        QSqlQuery names(db);
        QVERIFY(names.exec(QStringLiteral("SELECT curve_id, name FROM curve_info")));
        QMap<int, QString> curveName;
        while (names.next())
            curveName.insert(names.value(0).toInt(), names.value(1).toString());
        QCOMPARE(curveName.values(), QStringList({"101", "102", "201"}));
        QSqlQuery tables(db);
        QVERIFY(tables.exec(QStringLiteral("SELECT DISTINCT table_name FROM batch_metadata")));
        while (tables.next()) {
            QSqlQuery rows(db);
            QVERIFY(rows.exec(
                QStringLiteral("SELECT curve_id, value FROM \"%1\" ORDER BY timestamp, id")
                    .arg(tables.value(0).toString())));
            while (rows.next())
                stored[curveName.value(rows.value(0).toInt())] << rows.value(1).toDouble();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    QCOMPARE(stored.keys(), QStringList({"101", "102", "201"}));
    QCOMPARE(stored, sent);
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        for (double value : it.value())
            QCOMPARE(qRound(value), it.key().toInt());

    for (int row = 0; row < 3; ++row) {
        QCOMPARE(w->readingsTable->item(row, 0)->text(),
                 QString::number(QList<int>({101, 102, 201}).at(row)));
        QCOMPARE(qRound(w->readingsTable->item(row, 1)->text().toDouble()),
                 QList<int>({101, 102, 201}).at(row));
    }
    QVERIFY(w->readingsTable->item(3, 0)->text().isEmpty());
    QCOMPARE(channelSeries.value(201)->count(), 3);
}

void TestMainWidget::secondStartClearsTheStoreFirst()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    tick(w, 103);
    w->scanCountRadio->setChecked(true);
    w->scanCountSpin->setValue(1);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(waitIdle(w));
    QVERIFY(w->curveStore);
    QCOMPARE(channelSeries.value(103)->count(), 1);

    QSignalSpy cleared(w->curveStore, &CurveDataDB::sigClearFinished);
    tick(w, 103);
    tick(w, 104);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(waitIdle(w));
    QCOMPARE(cleared.count(), 1);
    QVERIFY(!channelSeries.contains(103));
    QCOMPARE(channelSeries.value(104)->count(), 1);
    QCOMPARE(w->curveStore->getCurveNames().values(), QStringList({"104"}));
}

void TestMainWidget::stopButtonEndsARunningScan()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    tick(w, 106);
    // Counted on this thread: the scans arrive queued, as they do in the window.
    // The thread is process-wide: the counter's lifetime bounds the connection to this test.
    int scans = 0;
    QObject counter;
    connect(w->scanThread, &ReadData::sigSendMeasure, &counter, [&scans] { ++scans; });
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(scans >= 2, 20000);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(w->busyOverlay->isVisible());
    QVERIFY(waitIdle(w));
    QVERIFY(!w->busyOverlay->isVisible());
    QCOMPARE(w->startButton->text(), QStringLiteral("开始"));
}

void TestMainWidget::elapsedTimerStopsWithTheRunAndSpansLongLimits()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    tick(w, 107);
    w->elapsedRadio->setChecked(true);
    w->elapsedPicker->setTime(30, 0, 0, 0, 0);
    QCOMPARE(w->elapsedPicker->value(), 30.0 * 86400);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w->scanThread->isRunning(), 5000);
    QVERIFY(w->elapsedTimer && w->elapsedTimer->isActive());
    QCOMPARE(w->elapsedLimitMs, qint64(30) * 86400 * 1000);
    QVERIFY(w->elapsedTimer->interval() > 0);

    // Ending the run by the button disarms the elapsed-time stop.
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(waitIdle(w));
    QVERIFY(!w->elapsedTimer->isActive());

    // A short limit ends the run by itself, as a press of the button would.
    w->elapsedPicker->setTime(0, 0, 0, 2, 0);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w->logging, 2000);
    QVERIFY(waitIdle(w, 15000));
    QVERIFY(!w->elapsedTimer->isActive());
}

void TestMainWidget::settingsReachTheScanThread()
{
    MainWidget *w = makeWindow();
    ReadData *thread = w->scanThread;
    w->slowRadio->setChecked(true);
    QCOMPARE(thread->settleMs.load(), 600);
    QTRY_VERIFY(sim.transcript().contains(QStringLiteral("measure <- APER SLOW2")));
    w->fastRadio->setChecked(true);
    QCOMPARE(thread->settleMs.load(), 500);

    w->customIntervalRadio->setChecked(true);
    QVERIFY(w->intervalPicker->isEnabled());
    w->intervalPicker->setTime(0, 0, 0, 5, 0);
    QCOMPARE(thread->intervalMs.load(), 5000);
    QCOMPARE(w->intervalLabel->text(), QStringLiteral("00 : 00 : 00 : 05"));
    w->minIntervalRadio->setChecked(true);
    QCOMPARE(thread->intervalMs.load(), 0);
    QVERIFY(!w->intervalPicker->isEnabled());

    w->scanCountRadio->setChecked(true);
    QVERIFY(!thread->continuous);
    w->scanCountSpin->setValue(7);
    QCOMPARE(thread->remainingScans.load(), 7);
    QVERIFY(w->scanCountSpin->isEnabled());
    QVERIFY(!w->elapsedPicker->isEnabled());
    w->stopButtonRadio->setChecked(true);
    QVERIFY(thread->continuous);
    QVERIFY(!w->scanCountSpin->isEnabled());
}

void TestMainWidget::readingsBeyondNinetyRowsGrowTheTable()
{
    MainWidget *w = makeWindow();
    w->curveStore = CurveDataDB::instance(serial + QStringLiteral("_Data"));
    channelSeries.clear();
    QList<MeasurementData> scan;
    for (int i = 0; i < 95; ++i) {
        const int channel = 1000 + i;
        channelSeries.insert(channel,
                             std::make_shared<CurveSeriesData>(QString::number(channel),
                                                               serial + QStringLiteral("_Data")));
        MeasurementData data;
        data.channel = channel;
        data.value = channel + 0.5;
        data.valid = true;
        data.time = QDateTime::currentDateTime();
        scan << data;
    }
    w->refreshCurveSeriesDataSlot(scan);
    QCOMPARE(w->readingsTable->rowCount(), 95);
    QCOMPARE(w->readingsTable->item(94, 0)->text(), QStringLiteral("1094"));
    QCOMPARE(w->readingsTable->item(94, 1)->text(), QString::number(1094.5, 'e', 5));
    channelSeries.clear();
}

void TestMainWidget::exportThroughTheDialog()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    tick(w, 108);
    tick(w, 109);
    w->scanCountRadio->setChecked(true);
    w->scanCountSpin->setValue(2);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(waitIdle(w));

    QTemporaryDir out;
    QVERIFY(out.isValid());
    QTimer::singleShot(200, this, [w, &out] {
        w->fileNameEdit->setText(QStringLiteral("run/1"));
        w->exportPathLabel->setText(out.path());
        QPushButton *exportFile = nullptr;
        for (QPushButton *button : w->exportDialog->findChildren<QPushButton *>())
            if (button->text() == QStringLiteral("  导出到文件  "))
                exportFile = button;
        QVERIFY(exportFile);
        QTest::mouseClick(exportFile, Qt::LeftButton);
    });
    QTest::mouseClick(w->exportButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w->exportResultReceived, 20000);
    QTRY_VERIFY(messageText().contains(QStringLiteral("导出成功")));

    const QStringList files = QDir(out.path()).entryList({QStringLiteral("*.csv")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY2(files.first().startsWith(serial + QStringLiteral("_run_1_1_")),
             qPrintable(files.first()));
    QFile csv(out.filePath(files.first()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray bytes = csv.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QLatin1Char('\n'));
    QCOMPARE(lines.at(0), QStringLiteral("地址,%1").arg(sim.switchResource()));
    QCOMPARE(lines.at(1), QStringLiteral("型号,VSK3307"));
    QCOMPARE(lines.at(2), QStringLiteral("序列号：,%1").arg(serial));
    QCOMPARE(lines.at(3), QStringLiteral("开始时间,%1").arg(recordStartTime));
    QCOMPARE(lines.at(4), QStringLiteral("结束时间,%1").arg(recordEndTime));
    QCOMPARE(lines.at(5), QStringLiteral("编号,时间,108,109,"));
    for (int row = 1; row <= 2; ++row) {
        const QStringList cells = lines.at(5 + row).split(QLatin1Char(','));
        QCOMPARE(cells.size(), 4);
        QCOMPARE(cells.at(0), QString::number(row));
        QVERIFY(
            QDateTime::fromString(cells.at(1), QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
        QCOMPARE(qRound(cells.at(2).toDouble()), 108);
        QCOMPARE(qRound(cells.at(3).toDouble()), 109);
        QVERIFY(cells.at(2).contains(QLatin1Char('E')));
    }
    QCOMPARE(lines.at(8), QString());
    QCOMPARE(lines.size(), 9);
}

void TestMainWidget::removingTheDataSetNeverLeavesTheApplicationDirectory()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    QTemporaryDir victim;
    QVERIFY(victim.isValid());
    QFile precious(victim.filePath(QStringLiteral("precious.txt")));
    QVERIFY(precious.open(QIODevice::WriteOnly));
    precious.write("keep");
    precious.close();

    const QString saved = instrumentIdentity;
    instrumentIdentity = QStringLiteral("M V ../%1 1").arg(QFileInfo(victim.path()).fileName());
    const QString link = appDir + QLatin1Char('/') + MainWidget::dataSetName();
    QVERIFY(!MainWidget::dataSetName().contains(QLatin1Char('/')));
    QFile::remove(link);
    QVERIFY(QFile::link(victim.path(), link));
    MainWidget *w = makeWindow();
    w->removeDataSetDir();
    instrumentIdentity = saved;
    QVERIFY(QFile::exists(precious.fileName()));
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

void TestMainWidget::lostInstrumentOverlayRetries()
{
    const QString saved = measureResource;
    measureResource = QStringLiteral("TCPIP0::127.0.0.1::1::SOCKET");
    MainWidget *w = makeWindow();
    QVERIFY(!w->measureConnected);
    QVERIFY(!w->tabWidget);
    QVERIFY(w->linkLostOverlay && w->linkLostOverlay->isVisible());
    QPushButton *resume = nullptr;
    for (QPushButton *button : w->linkLostOverlay->findChildren<QPushButton *>())
        if (button->text() == QStringLiteral("恢复"))
            resume = button;
    QVERIFY(resume);

    // Still unreachable: the overlay stays, ready for another try.
    QTest::mouseClick(resume, Qt::LeftButton);
    QVERIFY(w->linkLostOverlay->isVisible());
    QTRY_VERIFY(resume->isVisible());
    QVERIFY(!w->tabWidget);

    measureResource = saved;
    QTest::mouseClick(resume, Qt::LeftButton);
    QVERIFY(w->measureConnected);
    QVERIFY(!w->linkLostOverlay->isVisible());
    QVERIFY(w->tabWidget);
    QTRY_VERIFY(w->tabWidget->isVisible());
    connectSwitch(w);
}

QTEST_MAIN(TestMainWidget)
#include "tst_mainwidget.moc"
