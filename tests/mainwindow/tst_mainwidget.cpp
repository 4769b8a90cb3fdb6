// The window built in the test process and driven through its widgets, against the simulated
// instruments over loopback sockets: what it shows and what it hands to the logging controller.
// The scan thread runs at a tenth of its pace here. With DATALOGGER_SCREENSHOT_DIR set, the
// window, the export dialog and the message box are saved there as pictures for looking at.
#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
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

#include <qwt_legend.h>
#include <qwt_legend_label.h>

#include "cdevicevisa.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "exportdialog.h"
#include "loggingcontroller.h"
#include "mainwidget.h"
#include "plotscreens.h"
#include "readdata.h"
#include "readingstable.h"
#include "trendplot.h"
#include "resources/dataloggerresources.h"
#include "rig.h"
#include "settingspanel.h"
#include "simulatedinstruments.h"
#include "storedrecording.h"
#include "widgets/customdialog.h"
#include "widgets/custommessagedialog.h"
#include "widgets/imagebutton.h"
#include "widgets/loadingview.h"
#include "widgets/messagehistory.h"
#include "widgets/customsidebutton.h"
#include "widgets/sidebar.h"
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

// Name and role of every node a screen reader reaches from node; a node is also found under
// the names of the labels that label it (how a combo box is named on Linux).
void collectAccessible(QAccessibleInterface *node, QMultiMap<QString, QAccessible::Role> *found,
                       int depth = 0)
{
    if (!node || !node->isValid() || depth > 20)
        return;
    found->insert(node->text(QAccessible::Name), node->role());
    for (const auto &label : node->relations(QAccessible::Label))
        found->insert(label.first->text(QAccessible::Name), node->role());
    for (int i = 0; i < node->childCount(); ++i)
        collectAccessible(node->child(i), found, depth + 1);
}

QMultiMap<QString, QAccessible::Role> accessibleNodes(QWidget *top)
{
    QMultiMap<QString, QAccessible::Role> found;
    collectAccessible(QAccessible::queryAccessibleInterface(top), &found);
    return found;
}

// Curves 101 and 102, samples rows each 10 ms apart within one six-hour slice of a past day,
// left in dir as a logger that ended leaves its data set (with the curves' metadata).
bool writeLeftRecording(const QString &dir, int samples)
{
    PlotTest::RecordingShape shape;
    shape.curveNames = QStringList{QStringLiteral("101"), QStringLiteral("102")};
    shape.start = QDateTime(QDate(2024, 5, 6), QTime(0, 30)).toMSecsSinceEpoch();
    shape.stepMs = 10;
    shape.samples = samples;
    if (!PlotTest::writeRecording(dir, shape))
        return false;
    const QString connection = QStringLiteral("left_recording");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(QDir(dir).filePath(QStringLiteral("20240506.db")));
        ok = db.open();
        QSqlQuery query(db);
        QStringList tables;
        ok = ok && query.exec(QStringLiteral("SELECT table_name FROM batch_metadata"));
        while (ok && query.next())
            tables << query.value(0).toString();
        for (const QString &table : qAsConst(tables))
            ok = ok && query.exec(QStringLiteral("INSERT OR REPLACE INTO curve_metadata SELECT "
                                                 "curve_id, MIN(timestamp), MAX(timestamp), "
                                                 "MIN(value), MAX(value) FROM \"%1\" GROUP BY "
                                                 "curve_id")
                                      .arg(table));
        ok = ok && tables.size() == 2;
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
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
    void windowWithAnsweringInstrument();
    void connectsTheSwitchMainFrameOnce();
    void ticksPropagateBetweenModulesAndChannels();
    void startIsRefusedWithReasons();
    void searchWithoutSupportedFrameSaysSo();
    void countedRunStoresEveryReadingAndReturnsToIdle();
    void stopButtonEndsARunningScan();
    void settingsReachTheScanThread();
    void setUpIsHeldDuringARun();
    void readingsBeyondNinetyRowsGrowTheTable();
    void scanLackingAReadingKeepsEveryRowOnItsChannel();
    void exportThroughTheDialog();
    void exportShowsProgressAndCancels();
    void lostInstrumentOverlayRetries();
    void everyControlHasAnAccessibleName();
    void readingsColumnsShowTheirWholeTexts();
    void longExportMessageIsShownWhole();
    void keyboardReachesEveryControlInReadingOrder();
    void screenReaderHearsRealRowsAndStates();

private:
    MainWidget *makeWindow();
    // The frame connected, channel 101 ticked and scanned once; null when that failed.
    MainWidget *windowAfterOneScanOf101();
    void connectSwitch(MainWidget *window);
    void tick(MainWidget *window, int channel);
    QTreeWidgetItem *channelItem(MainWidget *window, int channel);
    bool waitIdle(MainWidget *window, int timeoutMs = 30000);
    QString messageText();

    SimulatedInstruments sim;
    QTemporaryDir dir;
    std::unique_ptr<Rig> rig;
    std::unique_ptr<LoggingController> controller;
    MainWidget *window = nullptr;
};

void TestMainWidget::initTestCase()
{
    // The window as the logger shows it: with the application's style sheet.
    QVERIFY(PlotTest::applyDarkTheme());
    QVERIFY(dir.isValid());
    QVERIFY(sim.start(
        {QStringLiteral("--slots"), QStringLiteral("1,2"), QStringLiteral("--serial"), serial}));
    QVERIFY(sim.makeOnlySearchResult(dir.path()));
}

void TestMainWidget::init()
{
    sim.control(QStringLiteral("clear all"));
}

void TestMainWidget::cleanup()
{
    if (window) {
        if (controller->isLogging()) {
            window->recvStartButtonSlot();
            waitIdle(window);
        }
        delete window;
        window = nullptr;
    }
    controller.reset();
    rig.reset();
}

void TestMainWidget::cleanupTestCase()
{
    QDir(QCoreApplication::applicationDirPath() + QLatin1Char('/') + serial +
         QStringLiteral("_Data"))
        .removeRecursively();
}

MainWidget *TestMainWidget::makeWindow()
{
    if (!rig)
        rig = std::make_unique<Rig>(sim.measureResource());
    controller = std::make_unique<LoggingController>(*rig);
    controller->scanThread()->setSleeper([](int ms) { QThread::msleep(ms / 10); });
    window = new MainWidget(*controller);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(1000, 600);
    window->show();
    return window;
}

MainWidget *TestMainWidget::windowAfterOneScanOf101()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    tick(w, 101);
    w->settings->scanCountRadio->setChecked(true);
    w->settings->scanCountSpin->setValue(1);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    return controller->switchConnected() && waitIdle(w) && controller->curves().value(101)
               ? w
               : nullptr;
}

void TestMainWidget::connectSwitch(MainWidget *w)
{
    QTest::mouseClick(w->setupButton, Qt::LeftButton);
    QVERIFY(controller->switchConnected());
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
    Q_UNUSED(w);
    while ((controller->isLogging() || controller->scanThread()->isRunning()) &&
           timer.elapsed() < timeoutMs)
        QTest::qWait(20);
    QTest::qWait(50);
    return !controller->isLogging() && !controller->scanThread()->isRunning();
}

QString TestMainWidget::messageText()
{
    return labelsOf(CustomMessageDialog::sharedMessageDialog()).join(QLatin1Char('|'));
}

void TestMainWidget::helpers_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "00 : 00 : 00 : 00";
    QTest::newRow("one of each") << 90061.0 << "01 : 01 : 01 : 01";
    QTest::newRow("a hundred days") << 8640000.0 << "100 : 00 : 00 : 00";
    QTest::newRow("fraction cut") << 59.9 << "00 : 00 : 00 : 59";
}

void TestMainWidget::helpers()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(SettingsPanel::durationText(seconds), text);
}

void TestMainWidget::windowWithAnsweringInstrument()
{
    const int apersBefore = countLines(sim.transcript(), QStringLiteral("measure <- APER MED"));
    MainWidget *w = makeWindow();
    QVERIFY(controller->measureConnected());
    QVERIFY(!controller->switchConnected());
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
    QVERIFY(w->settings->fastRadio->isChecked());
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
    QVERIFY(w->setupButton->text().startsWith(QStringLiteral("设备连接成功")));
    QCOMPARE(rig->switchResource(), sim.switchResource());
    QVERIFY(rig->identity().text().endsWith(QStringLiteral(" VSK3307 %1 1.0").arg(serial)));
    QCOMPARE(w->channelTree->topLevelItemCount(), 2);
    QVERIFY(channelItem(w, 101) && channelItem(w, 110) && channelItem(w, 201) &&
            channelItem(w, 210));
    QVERIFY(!channelItem(w, 111));
    // Modules of the same model are told apart by their slot.
    QCOMPARE(w->channelTree->topLevelItem(0)->text(0),
             QStringLiteral("槽位 1：TRM6101:10-Channel Armature Multiplexer"));
    QCOMPARE(w->channelTree->topLevelItem(1)->text(0),
             QStringLiteral("槽位 2：TRM6101:10-Channel Armature Multiplexer"));
    w->channelTree->topLevelItem(0)->setExpanded(true);
    PlotTest::saveScreenshot(w, QStringLiteral("channels"));

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
    QCOMPARE(controller->channels(), expected);

    tick(w, 105);
    QCOMPARE(module1->checkState(0), Qt::PartiallyChecked);
    expected.removeOne(105);
    QCOMPARE(controller->channels(), expected);
    for (int n : expected)
        tick(w, n);
    QCOMPARE(module1->checkState(0), Qt::Unchecked);
    QVERIFY(controller->channels().isEmpty());

    tick(w, 201);
    tick(w, 105);
    QCOMPARE(controller->channels(), QList<int>({105, 201}));
    for (int n = 101; n <= 110; ++n)
        if (n != 105)
            tick(w, n);
    QCOMPARE(module1->checkState(0), Qt::Checked);

    // A change reported for the number column is not a tick.
    emit w->channelTree->itemChanged(channelItem(w, 202), 1);
    QCOMPARE(controller->channels().size(), 11);
    w->channelTree->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    w->channelTree->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    QVERIFY(controller->channels().isEmpty());
}

void TestMainWidget::startIsRefusedWithReasons()
{
    MainWidget *w = makeWindow();
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(messageText().contains(QStringLiteral("设备未连接，请检查设备连接情况")));
    QCOMPARE(CustomMessageDialog::sharedMessageDialog()->windowTitle(), QStringLiteral("错误"));
    QVERIFY(!controller->isLogging());

    connectSwitch(w);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(messageText().contains(QStringLiteral("扫描通道未选择")));
    QVERIFY(!controller->isLogging());
    QVERIFY(!controller->scanThread()->isRunning());
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
    QVERIFY(!controller->switchConnected());
    QVERIFY(messageText().contains(QStringLiteral("未查找到设备，请检查设备连接情况")));
    // Back to what it was: nothing is connected, and a search may be tried again.
    QCOMPARE(w->setupButton->text(), QStringLiteral("当前外接设备未连接,连接外部设备"));
    QCOMPARE(w->setupButton->accessibleName(), QStringLiteral("连接外部设备"));
    connectSwitch(w);
    QCOMPARE(w->setupButton->text(), QStringLiteral("设备连接成功：VSK3307 %1").arg(serial));
    QCOMPARE(w->setupButton->accessibleName(),
             QStringLiteral("开关主机已连接：VSK3307 %1").arg(serial));
    QVERIFY(w->setupButton->accessibleDescription().contains(sim.switchResource()));
}

// What a counted run shows: the running label and the disabled export while it runs, each
// channel's latest reading in its row, and idle again at the end.
void TestMainWidget::countedRunStoresEveryReadingAndReturnsToIdle()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    for (int channel : {101, 102, 201})
        tick(w, channel);
    w->settings->scanCountRadio->setChecked(true);
    w->settings->scanCountSpin->setValue(3);

    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(messageText().contains(QStringLiteral("扫描开启中请稍等...")));
    QVERIFY(controller->isLogging());
    QCOMPARE(w->startButton->text(), QStringLiteral("停止"));
    QVERIFY(w->runningLabel->isVisible());
    QVERIFY(!w->exportButton->isEnabled());
    QVERIFY(waitIdle(w));
    QVERIFY(w->exportButton->isEnabled());
    QVERIFY(!w->runningLabel->isVisible());
    QCOMPARE(w->startButton->text(), QStringLiteral("开始"));

    for (int row = 0; row < 3; ++row) {
        const int channel = QList<int>({101, 102, 201}).at(row);
        const auto curve = controller->curves().value(channel);
        QCOMPARE(curve->count(), 3);
        QCOMPARE(w->readingsTable->item(row, 0)->text(), QString::number(channel));
        QCOMPARE(w->readingsTable->item(row, 1)->text(),
                 QString::number(curve->lastValue(), 'e', 5));
        QCOMPARE(w->readingsTable->item(row, 5)->text(), QString::number(curve->average(), 'e', 5));
    }
    QVERIFY(w->readingsTable->item(3, 0)->text().isEmpty());
}

void TestMainWidget::stopButtonEndsARunningScan()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    tick(w, 106);
    // 5 s between scans; the scan thread runs at a tenth of its pace here, the bottom bar
    // counts on the interval as set.
    w->settings->customIntervalRadio->setChecked(true);
    w->settings->intervalPicker->setTime(0, 0, 0, 5, 0);
    QSignalSpy scans(controller.get(), &LoggingController::scanStored);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 2, 20000);
    // Where the run stands, each second: scans done, time running, time to the next scan.
    const QRegularExpression progress(QStringLiteral(
        "^已扫描 (\\d+) 次，已运行 00:00:0\\d，距下次扫描 00:00:0[1-5]$"));
    QVERIFY(w->runProgressLabel->isVisible());
    QString shown;
    QTRY_VERIFY_WITH_TIMEOUT(progress.match(shown = w->runProgressLabel->text()).hasMatch(), 3000);
    QVERIFY2(progress.match(shown).captured(1).toInt() >= 2, qPrintable(shown));
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(w->busyOverlay->isVisible());
    QVERIFY(waitIdle(w));
    QVERIFY(!w->busyOverlay->isVisible());
    QVERIFY(!w->runProgressLabel->isVisible());
    QCOMPARE(w->startButton->text(), QStringLiteral("开始"));
}

void TestMainWidget::settingsReachTheScanThread()
{
    MainWidget *w = makeWindow();
    const ScanPlan &plan = controller->plan();
    w->settings->slowRadio->setChecked(true);
    QCOMPARE(plan.settleMs(), 600);
    QTRY_VERIFY(sim.transcript().contains(QStringLiteral("measure <- APER SLOW2")));
    w->settings->fastRadio->setChecked(true);
    QCOMPARE(plan.settleMs(), 500);

    w->settings->customIntervalRadio->setChecked(true);
    QVERIFY(w->settings->intervalPicker->isEnabled());
    w->settings->intervalPicker->setTime(0, 0, 0, 5, 0);
    QCOMPARE(plan.intervalMs, 5000);
    QCOMPARE(w->settings->intervalLabel->text(), QStringLiteral("00 : 00 : 00 : 05"));
    w->settings->minIntervalRadio->setChecked(true);
    QCOMPARE(plan.intervalMs, 0);
    QVERIFY(!w->settings->intervalPicker->isEnabled());

    w->settings->scanCountRadio->setChecked(true);
    QCOMPARE(plan.stop, ScanPlan::Stop::Count);
    w->settings->scanCountSpin->setValue(7);
    QCOMPARE(plan.plannedScans(), 7);
    QVERIFY(w->settings->scanCountSpin->isEnabled());
    QVERIFY(!w->settings->elapsedPicker->isEnabled());
    w->settings->stopButtonRadio->setChecked(true);
    QCOMPARE(plan.plannedScans(), 0);
    QVERIFY(!w->settings->scanCountSpin->isEnabled());
}

// A tick or a setting changed during a run would be scanned but not stored, or reach the
// instrument between a relay and its reading: the set-up stays as the run started with.
void TestMainWidget::setUpIsHeldDuringARun()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    tick(w, 101);
    QSignalSpy scans(controller.get(), &LoggingController::scanStored);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 1, 20000);
    w->channelTree->expandAll();
    PlotTest::saveScreenshot(w, QStringLiteral("window-held-during-run"));

    const int transcriptStart = sim.transcript().size();
    w->channelTree->setCurrentItem(channelItem(w, 102));
    QTest::keyClick(w->channelTree->viewport(), Qt::Key_Space);
    QTest::mouseClick(w->settings->slowRadio, Qt::LeftButton);
    QTest::mouseClick(w->setupButton, Qt::LeftButton);
    QCOMPARE(controller->channels(), QList<int>({101}));
    QVERIFY(w->settings->fastRadio->isChecked());
    for (QWidget *control :
         {static_cast<QWidget *>(w->channelTree), static_cast<QWidget *>(w->setupButton),
          static_cast<QWidget *>(w->settings->slowRadio)}) {
        QVERIFY(!control->isEnabled());
        QVERIFY(control->accessibleDescription().contains(QStringLiteral("停止记录后可以更改")));
        QCOMPARE(control->toolTip(), control->accessibleDescription());
    }
    QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 3, 20000);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(waitIdle(w));
    const QStringList during = sim.transcript().mid(transcriptStart);
    QVERIFY(during.filter(QStringLiteral("(@102)")).isEmpty());
    QVERIFY(during.filter(QStringLiteral("APER")).isEmpty());
    QVERIFY(during.filter(QStringLiteral("*IDN?")).isEmpty());

    // Idle again: everything as it was, a picker of a choice not taken still disabled.
    QVERIFY(w->channelTree->isEnabled());
    QVERIFY(w->setupButton->isEnabled());
    QVERIFY(w->settings->slowRadio->isEnabled());
    QVERIFY(!w->settings->intervalPicker->isEnabled());
    QCOMPARE(w->channelTree->accessibleDescription(), QStringLiteral("勾选要扫描的模块和通道"));
    QVERIFY(w->settings->slowRadio->toolTip().isEmpty());
}

void TestMainWidget::readingsBeyondNinetyRowsGrowTheTable()
{
    MainWidget *w = windowAfterOneScanOf101();
    QVERIFY(w);
    // A scan of more channels than the table has rows: the last reading lands in row 94.
    emit controller->scanStored({{94, 101}});
    QCOMPARE(w->readingsTable->rowCount(), 95);
    QCOMPARE(w->readingsTable->item(94, 0)->text(), QStringLiteral("101"));
    QCOMPARE(w->readingsTable->item(94, 1)->text(),
             QString::number(controller->curves().value(101)->lastValue(), 'e', 5));
}

// A fetch failed in the middle of a scan: the channels after it keep their rows, and the
// channel without a reading keeps the one it showed.
void TestMainWidget::scanLackingAReadingKeepsEveryRowOnItsChannel()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    for (int channel : {101, 102, 103})
        tick(w, channel);
    w->settings->scanCountRadio->setChecked(true);
    w->settings->scanCountSpin->setValue(1);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(waitIdle(w));
    const QString row102 = w->readingsTable->item(1, 1)->text();
    QVERIFY(!row102.isEmpty());

    const QDateTime now = QDateTime::currentDateTime();
    emit controller->scanThread()->sigSendMeasure(
        {MeasurementData{101.5, now, 101}, MeasurementData{103.5, now, 103}});
    QCoreApplication::processEvents();
    for (int row = 0; row < 3; ++row)
        QCOMPARE(w->readingsTable->item(row, 0)->text(), QString::number(101 + row));
    QCOMPARE(w->readingsTable->item(0, 1)->text(), QString::number(101.5, 'e', 5));
    QCOMPARE(w->readingsTable->item(1, 1)->text(), row102);
    QCOMPARE(w->readingsTable->item(2, 1)->text(), QString::number(103.5, 'e', 5));
    QVERIFY(w->readingsTable->item(3, 0)->text().isEmpty());

    // A reading is shown, never edited.
    w->readingsTable->editItem(w->readingsTable->item(0, 1));
    QVERIFY(w->readingsTable->viewport()->findChildren<QLineEdit *>().isEmpty());
}

void TestMainWidget::exportThroughTheDialog()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    tick(w, 108);
    tick(w, 109);
    w->settings->scanCountRadio->setChecked(true);
    w->settings->scanCountSpin->setValue(2);
    QTest::mouseClick(w->startButton, Qt::LeftButton);
    QVERIFY(waitIdle(w));

    QTemporaryDir out;
    QVERIFY(out.isValid());
    QTimer::singleShot(200, this, [w, &out] {
        w->exportDialog->fileNameEdit->setText(QStringLiteral("run/1"));
        w->exportDialog->exportPathLabel->setText(out.path());
        // Enter in the dialog as it opened exports. The dialog's own focus, not the
        // application's: a slow start may not have made it the active window yet.
        QWidget *focused = w->exportDialog->focusWidget();
        auto *button = qobject_cast<QPushButton *>(focused);
        if (!button || button->text() != QStringLiteral("  导出到文件  ")) {
            w->exportDialog->close();
            QFAIL(qPrintable(QStringLiteral("the dialog opened with the focus on %1")
                                 .arg(button ? button->text() : QStringLiteral("no button"))));
        }
        QTest::keyClick(focused, Qt::Key_Return);
    });
    QSignalSpy finished(controller.get(), &LoggingController::exportFinished);
    QTest::mouseClick(w->exportButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
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
    const QString timeFormat = QStringLiteral("yyyy MM dd hh mm ss zzz");
    QCOMPARE(
        lines.at(3),
        QStringLiteral("开始时间,%1")
            .arg(QDateTime::fromMSecsSinceEpoch(controller->recordStartMs()).toString(timeFormat)));
    QCOMPARE(
        lines.at(4),
        QStringLiteral("结束时间,%1")
            .arg(QDateTime::fromMSecsSinceEpoch(controller->recordEndMs()).toString(timeFormat)));
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

void TestMainWidget::lostInstrumentOverlayRetries()
{
    rig = std::make_unique<Rig>(QStringLiteral("TCPIP0::127.0.0.1::1::SOCKET"));
    MainWidget *w = makeWindow();
    QVERIFY(!controller->measureConnected());
    QVERIFY(!w->tabWidget);
    QVERIFY(w->linkLostOverlay && w->linkLostOverlay->isVisible());
    QPushButton *resume = nullptr;
    for (QPushButton *button : w->linkLostOverlay->findChildren<QPushButton *>())
        if (button->text() == QStringLiteral("恢复"))
            resume = button;
    QVERIFY(resume);
    // The overlay names the instrument, where it was looked for and why it failed.
    const QString said = w->linkLostOverlay->messageLabel()->text();
    QVERIFY2(said.contains(QStringLiteral("测量仪器 TCPIP0::127.0.0.1::1::SOCKET 无响应：")) &&
                 said.contains(rig->measureSession().lastErrorText()) &&
                 !rig->measureSession().lastErrorText().isEmpty(),
             qPrintable(said));
    QVERIFY(!said.contains(QStringLiteral("恢复通信失败")));

    // Still unreachable: the overlay stays, ready for another try, and says the try failed.
    QTest::mouseClick(resume, Qt::LeftButton);
    QVERIFY(w->linkLostOverlay->isVisible());
    QTRY_VERIFY(resume->isVisible());
    QVERIFY(!w->tabWidget);
    QVERIFY(w->linkLostOverlay->messageLabel()->text().contains(QStringLiteral("恢复通信失败")));
    QCOMPARE(resume->accessibleDescription(), w->linkLostOverlay->messageLabel()->text());

    rig->setMeasureResource(sim.measureResource());
    QTest::mouseClick(resume, Qt::LeftButton);
    QVERIFY(controller->measureConnected());
    QVERIFY(!w->linkLostOverlay->isVisible());
    QVERIFY(w->tabWidget);
    QTRY_VERIFY(w->tabWidget->isVisible());
    connectSwitch(w);
}

// A recording large enough to take a while, left by an earlier process: the export dialog shows
// the rows written against the rows the store holds, reported on the window's thread; cancel in
// the dialog ends the export, and the part file it had begun is gone.
void TestMainWidget::exportShowsProgressAndCancels()
{
    const int samples = 800000;
    const QString dataSet = QCoreApplication::applicationDirPath() + QLatin1Char('/') + serial +
                            QStringLiteral("_Data");
    QDir(dataSet).removeRecursively();
    QVERIFY(writeLeftRecording(dataSet, samples));
    registerExportResultMetaType();
    MainWidget *w = makeWindow();
    connectSwitch(w);

    QTemporaryDir out;
    QList<QPair<qint64, qint64>> progress;
    QStringList shown;
    bool onWindowThread = true;
    QMetaObject::Connection watch;
    QSignalSpy finished(controller.get(), &LoggingController::exportFinished);
    QSignalSpy interrupted(controller.get(), &LoggingController::exportInterrupted);
    QTimer::singleShot(200, this, [&] {
        // After the dialog's own connection: what it shows is already updated here.
        watch =
            connect(controller.get(), &LoggingController::exportProgress, this,
                    [&](qint64 rows, qint64 total) {
                        progress.append({rows, total});
                        onWindowThread = onWindowThread && QThread::currentThread() == thread();
                        shown << w->exportDialog->progressLabel->text();
                        if (rows == 0 || (rows < total && progress.size() == 2))
                            PlotTest::saveScreenshot(
                                w->exportDialog, rows == 0 ? QStringLiteral("export_progress_start")
                                                           : QStringLiteral("export_progress"));
                    });
        w->exportDialog->exportPathLabel->setText(out.path());
        QTest::mouseClick(w->exportDialog->exportFileButton, Qt::LeftButton);
        // The dialog stays while the export runs, its choices locked.
        QVERIFY(w->exportDialog->isVisible());
        QVERIFY(!w->exportDialog->exportFileButton->isEnabled());
        QVERIFY(w->exportDialog->cancelButton->isVisible());
    });
    // Returns when the dialog closes, at the end of the export.
    QTest::mouseClick(w->exportButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
    QCOMPARE(finished.first().first().value<ExportResult>(), ExportResult::Success);
    QVERIFY(!w->exportDialog->isVisible());
    QVERIFY(progress.size() >= 2);
    QCOMPARE(progress.first(), qMakePair(qint64(0), qint64(samples)));
    QCOMPARE(progress.last(), qMakePair(qint64(samples), qint64(samples)));
    for (int i = 1; i < progress.size(); ++i)
        QVERIFY(progress.at(i).first > progress.at(i - 1).first &&
                progress.at(i).second == samples);
    QVERIFY(onWindowThread);
    QCOMPARE(shown.last(), QStringLiteral("已写 %1 / %1 行（100%）").arg(samples));
    const QStringList written = QDir(out.path()).entryList({QStringLiteral("*.csv")}, QDir::Files);
    QCOMPARE(written.size(), 1);
    QFile csv(out.filePath(written.first()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll().count('\n'), 6 + samples);
    disconnect(watch);

    // Cancelled as soon as the dialog has the count: the part file has been begun by then.
    QTemporaryDir cancelled;
    finished.clear();
    bool partBegun = false;
    QTimer::singleShot(200, this, [&] {
        watch = connect(controller.get(), &LoggingController::exportProgress, this, [&] {
            if (!w->exportDialog->cancelButton->isEnabled())
                return;
            partBegun = QDir(cancelled.path()).entryList({QStringLiteral("*.csv")}).size() == 1;
            QTest::mouseClick(w->exportDialog->cancelButton, Qt::LeftButton);
        });
        w->exportDialog->exportPathLabel->setText(cancelled.path());
        QTest::mouseClick(w->exportDialog->exportFileButton, Qt::LeftButton);
    });
    QTest::mouseClick(w->exportButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
    disconnect(watch);
    QVERIFY(partBegun);
    QCOMPARE(finished.first().first().value<ExportResult>(), ExportResult::Cancelled);
    QVERIFY(interrupted.isEmpty());
    QVERIFY(!w->exportDialog->isVisible());
    QVERIFY(w->exportDialog->exportFileButton->isEnabled());
    QVERIFY(QDir(cancelled.path()).entryList(QDir::Files).isEmpty());
    QTRY_VERIFY(messageText().contains(QStringLiteral("导出已取消")));
    QDir(dataSet).removeRecursively();
}

// Every control a person uses is found by a screen reader under a name that says what it is:
// the communication-lost overlay, the window with the frame connected and the strip open, the
// export dialog and the message box.
void TestMainWidget::everyControlHasAnAccessibleName()
{
    QAccessible::setActive(true);
    rig = std::make_unique<Rig>(QStringLiteral("TCPIP0::127.0.0.1::1::SOCKET"));
    MainWidget *w = makeWindow();
    QMultiMap<QString, QAccessible::Role> inWindow = accessibleNodes(w);
    rig->setMeasureResource(sim.measureResource());
    QTest::mouseClick(w->linkLostOverlay->resumeButton(), Qt::LeftButton);
    QVERIFY(w->tabWidget);
    connectSwitch(w);
    w->channelTree->expandAll();
    w->sideBar->onShowBtnClicked();
    inWindow.unite(accessibleNodes(w));

    QMultiMap<QString, QAccessible::Role> inDialog;
    QString folderHeard;
    QTimer::singleShot(200, this, [&] {
        inDialog = accessibleNodes(w->exportDialog);
        // The folder the files go to, not only the word for it.
        folderHeard = QAccessible::queryAccessibleInterface(w->exportDialog->exportPathLabel)
                          ->text(QAccessible::Description);
        w->exportDialog->close();
    });
    QTest::mouseClick(w->exportButton, Qt::LeftButton);
    CustomMessageDialog::sharedMessageDialog()->showMessage(QStringLiteral("测试"), 2, 0);
    const QMultiMap<QString, QAccessible::Role> inMessage =
        accessibleNodes(CustomMessageDialog::sharedMessageDialog());
    CustomMessageDialog::sharedMessageDialog()->close();
    QAccessible::setActive(false);

    using R = QAccessible::Role;
    const struct
    {
        const QMultiMap<QString, QAccessible::Role> &where;
        const char *name;
        R role;
    } expected[] = {
        {inWindow, "恢复通信", R::Button},
        {inWindow, "开始记录", R::Button},
        {inWindow, "导出数据", R::Button},
        {inWindow, "设置栏", R::Client},
        {inWindow, "打开设置", R::Button},
        {inWindow, "收起设置", R::Button},
        {inWindow, "开关主机已连接：VSK3307 MWT42", R::Button},
        {inWindow, "通道列表", R::Tree},
        {inWindow, "模块 槽位 1", R::TreeItem},
        {inWindow, "模块 槽位 2", R::TreeItem},
        {inWindow, "通道 101", R::TreeItem},
        {inWindow, "通道 210", R::TreeItem},
        {inWindow, "读数表", R::Table},
        {inWindow, "仪器速度：快速", R::RadioButton},
        {inWindow, "仪器速度：低速", R::RadioButton},
        {inWindow, "扫描间隔：最小值", R::RadioButton},
        {inWindow, "扫描间隔：自定义", R::RadioButton},
        {inWindow, "扫描间隔时长", R::Client},
        {inWindow, "停止方式：停止按钮", R::RadioButton},
        {inWindow, "停止方式：已用时间之后", R::RadioButton},
        {inWindow, "记录时长", R::Client},
        {inWindow, "天", R::EditableText},
        {inWindow, "小时", R::EditableText},
        {inWindow, "停止方式：N次扫描后", R::RadioButton},
        {inWindow, "扫描次数", R::SpinBox},
        {inDialog, "列分隔符:", R::ComboBox},
        {inDialog, "文件名", R::EditableText},
        {inDialog, "导出路径", R::StaticText},
        {inDialog, "浏览导出文件夹", R::Button},
        {inDialog, "导出到文件", R::Button},
        {inDialog, "关闭", R::Button},
        {inDialog, "关闭对话框", R::Button},
        {inDialog, "取消导出", R::Button},
        {inDialog, "导出进度", R::ProgressBar},
        {inMessage, "关闭消息", R::Button},
    };
    QStringList missing;
    for (const auto &control : expected) {
        const QString name = QString::fromUtf8(control.name);
        if (!control.where.values(name).contains(control.role))
            missing << QStringLiteral("%1 (role %2, found as %3)")
                           .arg(name)
                           .arg(int(control.role))
                           .arg(control.where.contains(name)
                                    ? QString::number(int(control.where.value(name)))
                                    : QStringLiteral("nothing"));
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral("; "))));
    QCOMPARE(folderHeard, w->exportDialog->exportPathLabel->text());

    QVERIFY(!folderHeard.isEmpty());
}

// At the window's size, strip open or closed, each column of the readings table is as wide as
// its header and a reading of the longest form.
void TestMainWidget::readingsColumnsShowTheirWholeTexts()
{
    MainWidget *w = windowAfterOneScanOf101();
    QVERIFY(w);
    w->tabWidget->setCurrentWidget(w->readingsTable);
    ReadingsTable *table = w->readingsTable;
    const QString time = table->item(0, 2)->text();
    QVERIFY(!time.isEmpty());
    const QString reading = QString::number(-1.234567e-300, 'e', 5);
    const QStringList longest{QStringLiteral("9910"), reading, time, reading, reading, reading};
    for (int column = 0; column < ReadingsTable::Columns; ++column)
        table->item(1, column)->setText(longest.at(column));

    const QFontMetrics cellFont(table->font());
    const QFontMetrics headerFont(table->horizontalHeader()->font());
    const int cellMargins =
        2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1);
    for (const bool open : {false, true}) {
        if (open) {
            w->sideBar->onShowBtnClicked();
            QTRY_COMPARE(w->sideBar->width(), w->sideBar->expandedWidth());
        }
        QCOMPARE(w->size(), QSize(1000, 600));
        QCoreApplication::processEvents();
        PlotTest::saveScreenshot(w, open ? QStringLiteral("window_strip_open")
                                         : QStringLiteral("window_strip_closed"));
        for (int column = 0; column < ReadingsTable::Columns; ++column) {
            const int width = table->columnWidth(column);
            const QString header = table->horizontalHeaderItem(column)->text();
            QVERIFY2(headerFont.horizontalAdvance(header) + 12 <= width, qPrintable(header));
            for (const int row : {0, 1}) {
                const QString text = table->item(row, column)->text();
                QVERIFY2(cellFont.horizontalAdvance(text) + cellMargins <= width,
                         qPrintable(QStringLiteral("%1 open %2: %3 wider than %4")
                                        .arg(text)
                                        .arg(open)
                                        .arg(cellFont.horizontalAdvance(text))
                                        .arg(width)));
            }
        }
    }
}

// The message after an export in three parts to a deep folder: the box shows every path whole.
void TestMainWidget::longExportMessageIsShownWhole()
{
    MainWidget *w = makeWindow();
    const QString folder = QStringLiteral(
        "/home/operator/measurements/2026/line-3/thermal_cycling_chamber_B/run_0042_overnight");
    QStringList files;
    for (int part = 1; part <= 3; ++part)
        files << QStringLiteral("%1/SIM0001_Trace_%2_20261207211444.csv").arg(folder).arg(part);
    w->onExportFinished(ExportResult::Success, files);
    CustomMessageDialog *box = CustomMessageDialog::sharedMessageDialog();
    QVERIFY(box->isVisible());
    for (const QString &file : files)
        QVERIFY(box->text().contains(file));
    QLabel *label = box->textLabel();
    QCoreApplication::processEvents();
    // Tall enough for the text wrapped at its width, and on the screen.
    QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
             qPrintable(QStringLiteral("%1 > %2")
                            .arg(label->heightForWidth(label->width()))
                            .arg(label->height())));
    QVERIFY(label->width() > CustomMessageDialog::kBaseWidth / 2);
    const QRect screen = box->screen()->availableGeometry();
    QVERIFY(box->width() <= screen.width() && box->height() <= screen.height());
    PlotTest::saveScreenshot(box, QStringLiteral("message_long_paths"));
    box->close();
}

QTEST_MAIN(TestMainWidget)
#include "tst_mainwidget.moc"

void TestMainWidget::keyboardReachesEveryControlInReadingOrder()
{
    MainWidget *w = makeWindow();
    connectSwitch(w);
    w->sideBar->onShowBtnClicked();
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::qWait(400); // the side bar slides open

    // Tab from the side bar's first control round to it again.
    QWidget *first = w->sideBar->headerButton();
    first->setFocus(Qt::TabFocusReason);
    QList<QWidget *> reached;
    QList<QImage> focusedLook;
    for (QWidget *at = first; reached.size() < 60;) {
        reached << at;
        focusedLook << at->grab().toImage();
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
        QVERIFY(at);
        if (at == first)
            break;
    }
    QStringList names;
    for (QWidget *widget : qAsConst(reached))
        names << (widget->accessibleName().isEmpty() ? QString::fromLatin1(
                                                           widget->metaObject()->className())
                                                     : widget->accessibleName());
    const QString chain = names.join(QStringLiteral(" > "));
    // Reading order: the side bar, the tabs, the page, the bottom bar from left to right. A
    // group of radio buttons is one stop (the arrow keys choose inside it); a time picker is
    // entered at its days.
    const QStringList expected = {QStringLiteral("收起设置"),
                                  QStringLiteral("仪器速度：低速"),
                                  QStringLiteral("开始方式：开始按钮"),
                                  QStringLiteral("扫描间隔：最小值"),
                                  QStringLiteral("停止方式：停止按钮"),
                                  QStringLiteral("天"),
                                  QStringLiteral("小时"),
                                  QStringLiteral("分钟"),
                                  QStringLiteral("秒"),
                                  QStringLiteral("扫描次数"),
                                  QStringLiteral("QTabBar"),
                                  QStringLiteral("开关主机已连接：VSK3307 MWT42"),
                                  QStringLiteral("通道列表"),
                                  QStringLiteral("开始记录"),
                                  QStringLiteral("消息记录"),
                                  QStringLiteral("导出数据")};
    int from = 0;
    for (const QString &name : expected) {
        const int at = names.indexOf(name, from);
        QVERIFY2(at >= 0, qPrintable(name + QStringLiteral(" not in order in: ") + chain));
        from = at + 1;
    }
    // Nothing that is not a control of its own takes a Tab stop.
    QCOMPARE(names.size(), expected.size());

    // Every stop shows that it has the keyboard.
    w->setFocus();
    QTest::qWait(50);
    for (int i = 0; i < reached.size(); ++i)
        QVERIFY2(reached[i]->grab().toImage() != focusedLook[i],
                 qPrintable(names[i] + QStringLiteral(" looks the same with the focus")));

    // Enter acts on a focused button as Space does.
    w->historyButton->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w->historyButton, Qt::Key_Return);
    QTRY_VERIFY(w->historyDialog && w->historyDialog->isVisible());
    w->historyDialog->close();
}

// The readings table offers a screen reader the rows that belong to channels, read-only cells
// under their column headers; the plot's legend entries say their channel and whether shown.
void TestMainWidget::screenReaderHearsRealRowsAndStates()
{
    QAccessible::setActive(true);
    MainWidget *w = windowAfterOneScanOf101();
    QVERIFY(w);
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(w->readingsTable);
    QVERIFY(table && table->tableInterface());
    QCOMPARE(table->role(), QAccessible::Table);
    QCOMPARE(table->tableInterface()->rowCount(), 1);
    QCOMPARE(table->tableInterface()->columnCount(), ReadingsTable::Columns);
    QCOMPARE(table->childCount(), 2 * ReadingsTable::Columns); // headers and the one row
    for (int column = 0; column < ReadingsTable::Columns; ++column) {
        QAccessibleInterface *cell = table->tableInterface()->cellAt(0, column);
        QVERIFY(cell);
        QCOMPARE(cell->text(QAccessible::Name), w->readingsTable->item(0, column)->text());
        QVERIFY(cell->state().readOnly);
        QVERIFY(!cell->actionInterface() || cell->actionInterface()->actionNames().isEmpty());
        QCOMPARE(table->indexOfChild(cell), ReadingsTable::Columns + column);
        const auto headers = cell->tableCellInterface()->columnHeaderCells();
        QCOMPARE(headers.size(), 1);
        QCOMPARE(headers.first()->text(QAccessible::Name),
                 w->readingsTable->horizontalHeaderItem(column)->text());
    }
    QCOMPARE(table->tableInterface()->cellAt(0, 0)->text(QAccessible::Name),
             QStringLiteral("101"));
    QVERIFY(!table->tableInterface()->cellAt(1, 0));

    auto *entry = w->trendPlot->legend()->findChild<QwtLegendLabel *>();
    QVERIFY(entry);
    QCOMPARE(entry->accessibleName(), QStringLiteral("通道 101：显示"));
    w->trendPlot->setChannelVisible(101, false);
    QCOMPARE(entry->accessibleName(), QStringLiteral("通道 101：已隐藏"));
    QAccessible::setActive(false);
}
