// The trend plot in the logger's window, driven through the window's own controls against the
// simulated instruments over loopback sockets: curves appear for the ticked channels and follow
// the readings, and when logging stops the whole recording comes back from the store. The scan
// thread runs at a tenth of its pace here.
#include "curveseriesdata.h"
#include "loggingcontroller.h"
#include "mainwidget.h"
#include "plotscreens.h"
#include "readdata.h"
#include "rig.h"
#include "simulatedinstruments.h"
#include "trendplot.h"
#include "widgets/imagebutton.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <qwt_plot_curve.h>

namespace {
const QString serial = QStringLiteral("TRW7");

template<typename T>
T *childWithText(QWidget *parent, const QString &text)
{
    for (T *child : parent->findChildren<T *>())
        if (child->text() == text)
            return child;
    return nullptr;
}
} // namespace

class TestTrendWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void trendPlotIsTheThirdTab();
    void curvesFollowTheReadingsAndTheRecordingComesBack();

private:
    MainWidget *makeWindow();
    void connectSwitch();
    void tick(int channel);
    ImageButton *startButton() const;

    SimulatedInstruments sim;
    QTemporaryDir dir;
    std::unique_ptr<Rig> rig;
    std::unique_ptr<LoggingController> controller;
    MainWidget *window = nullptr;
};

void TestTrendWindow::initTestCase()
{
    QVERIFY(PlotTest::applyDarkTheme());
    QVERIFY(dir.isValid());
    QVERIFY(sim.start(
        {QStringLiteral("--slots"), QStringLiteral("1,2"), QStringLiteral("--serial"), serial}));
    QVERIFY(sim.makeOnlySearchResult(dir.path()));
    rig = std::make_unique<Rig>(sim.measureResource());
}

void TestTrendWindow::cleanup()
{
    delete window;
    window = nullptr;
    controller.reset();
}

void TestTrendWindow::cleanupTestCase()
{
    QDir(QCoreApplication::applicationDirPath() + QLatin1Char('/') + serial +
         QStringLiteral("_Data"))
        .removeRecursively();
    QCOMPARE(SimulatedInstruments::uncleanExits(), 0);
}

MainWidget *TestTrendWindow::makeWindow()
{
    controller = std::make_unique<LoggingController>(*rig);
    controller->scanThread()->setSleeper([](int ms) { QThread::msleep(ms / 10); });
    window = new MainWidget(*controller);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(1200, 640);
    window->show();
    return window;
}

void TestTrendWindow::connectSwitch()
{
    auto *setup = window->findChild<QPushButton *>(QStringLiteral("setupButton"));
    QVERIFY(setup);
    QTest::mouseClick(setup, Qt::LeftButton);
    QVERIFY2(setup->text().startsWith(QStringLiteral("设备连接成功")), qPrintable(setup->text()));
}

void TestTrendWindow::tick(int channel)
{
    auto *tree = window->findChild<QTreeWidget *>();
    QVERIFY(tree);
    for (int m = 0; m < tree->topLevelItemCount(); ++m) {
        QTreeWidgetItem *module = tree->topLevelItem(m);
        for (int c = 0; c < module->childCount(); ++c) {
            auto *label = qobject_cast<QLabel *>(tree->itemWidget(module->child(c), 1));
            if (label && label->text().toInt() == channel) {
                module->child(c)->setCheckState(0, Qt::Checked);
                return;
            }
        }
    }
    QFAIL(qPrintable(QStringLiteral("no channel %1").arg(channel)));
}

ImageButton *TestTrendWindow::startButton() const
{
    for (ImageButton *button : window->findChildren<ImageButton *>())
        if (button->text() == QStringLiteral("开始") || button->text() == QStringLiteral("停止"))
            return button;
    return nullptr;
}

void TestTrendWindow::trendPlotIsTheThirdTab()
{
    makeWindow();
    auto *tabs = window->findChild<QTabWidget *>();
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QStringLiteral("配置通道"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("图形设置"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("趋势图"));
    QVERIFY(!tabs->tabIcon(2).isNull());
    auto *plot = qobject_cast<TrendPlot *>(tabs->widget(2));
    QVERIFY(plot);
    QCOMPARE(plot->mode(), TrendPlot::Mode::Empty);
    QVERIFY(plot->channels().isEmpty());
}

void TestTrendWindow::curvesFollowTheReadingsAndTheRecordingComesBack()
{
    makeWindow();
    connectSwitch();
    const QList<int> ticked{101, 102, 104, 201, 203};
    for (int channel : ticked)
        tick(channel);
    auto *tabs = window->findChild<QTabWidget *>();
    auto *plot = qobject_cast<TrendPlot *>(tabs->widget(2));
    QVERIFY(plot);
    tabs->setCurrentIndex(2);
    childWithText<QRadioButton>(window, QStringLiteral("N次扫描后:"))->setChecked(true);
    auto *count = window->findChild<QSpinBox *>();
    QVERIFY(count);
    count->setValue(25);
    QSignalSpy shown(plot, &TrendPlot::recordingShown);
    QSignalSpy scans(controller->scanThread(), &ReadData::sigSendMeasure);

    QTest::mouseClick(startButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(plot->mode(), TrendPlot::Mode::Live, 10000);
    QCOMPARE(plot->channels(), ticked);
    QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 8, 30000);
    QTest::qWait(0);
    // Every scan so far is drawn, and the view ends at the newest reading.
    const int drawnScans = int(plot->curveOf(101)->dataSize());
    QVERIFY(drawnScans >= 8);
    QVERIFY(plot->isFollowing());
    qint64 newest = 0;
    for (int channel : ticked) {
        const CurveSeriesData &series = *controller->curves().value(channel);
        QCOMPARE(int(plot->curveOf(channel)->dataSize()), series.count());
        newest = qMax(newest, qint64(series.sample(series.size() - 1).x()));
        // The simulated channel n reads n +- 0.25.
        const QRectF bounds = plot->curveOf(channel)->boundingRect();
        QVERIFY(bounds.top() > channel - 0.3 && bounds.bottom() < channel + 0.3);
    }
    QCOMPARE(plot->timeSpan().maxValue(), double(newest));
    PlotTest::saveScreenshot(window, QStringLiteral("trendwindow-running"));

    // Logging ends after the 25th scan: the recording is read back from the store.
    QVERIFY(shown.wait(30000));
    QCOMPARE(plot->mode(), TrendPlot::Mode::Recording);
    QCOMPARE(startButton()->text(), QStringLiteral("开始"));
    const TrendReduction &recording = plot->shownReduction();
    QVERIFY(recording.wholeRecording);
    QCOMPARE(recording.curves.size(), ticked.size());
    for (const CurveReduction &curve : recording.curves) {
        const CurveSeriesData &series = *controller->curves().value(curve.name.toInt());
        // The stored recording and the statistics of the run agree.
        QCOMPARE(curve.samples, qint64(25));
        QCOMPARE(curve.minimum, series.minimum());
        QCOMPARE(curve.maximum, series.maximum());
        QCOMPARE(int(plot->curveOf(curve.name.toInt())->dataSize()), 25);
    }
    QCOMPARE(plot->timeSpan().maxValue(), double(recording.end));
    PlotTest::saveScreenshot(window, QStringLiteral("trendwindow-stopped"));

    // A second run clears the store and starts with empty curves; stopped with the button.
    tick(205);
    auto *stopButtonRadio =
        childWithText<QRadioButton>(window, QStringLiteral("使用“停止”按钮立即停止"));
    QVERIFY(stopButtonRadio);
    stopButtonRadio->setChecked(true);
    scans.clear();
    QTest::mouseClick(startButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 3, 30000);
    QCOMPARE(plot->mode(), TrendPlot::Mode::Live);
    QVERIFY(plot->curveOf(205));
    QTest::mouseClick(startButton(), Qt::LeftButton);
    QVERIFY(shown.wait(30000));
    QCOMPARE(shown.count(), 2);
    const qint64 secondRun = controller->curves().value(101)->count();
    QCOMPARE(plot->shownReduction().curves.first().samples, secondRun);
    QVERIFY(secondRun < 25);
}

QTEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"
