// The trend plot widget on real stores: live curves that follow their series, the legend
// hiding and showing curves, wheel and rectangle zoom, panning and the reset, the stored
// recording read back when logging ends and a zoomed span read again at full detail.
#include "connectionpool.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "plotscreens.h"
#include "storedrecording.h"
#include "trendplot.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_map.h>

#include <cmath>
#include <memory>

using namespace PlotTest;

namespace {

using SeriesMap = QMap<int, std::shared_ptr<CurveSeriesData>>;

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

double liveValue(int channel, int i)
{
    return (channel % 100) + 0.8 * std::sin(i / 15.0 + channel) + 0.05 * ((i * 31) % 7);
}

void sendMouse(QWidget *widget, QEvent::Type type, Qt::MouseButton button, const QPoint &at,
               Qt::MouseButtons held)
{
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void drag(QWidget *widget, Qt::MouseButton button, const QPoint &from, const QPoint &to)
{
    sendMouse(widget, QEvent::MouseButtonPress, button, from, button);
    const QPoint middle = (from + to) / 2;
    sendMouse(widget, QEvent::MouseMove, Qt::NoButton, middle, button);
    sendMouse(widget, QEvent::MouseMove, Qt::NoButton, to, button);
    sendMouse(widget, QEvent::MouseButtonRelease, button, to, Qt::NoButton);
    QApplication::processEvents();
}

void wheel(QWidget *widget, const QPoint &at, int delta, Qt::KeyboardModifiers modifiers = {})
{
    QWheelEvent event(QPointF(at), QPointF(widget->mapToGlobal(at)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestTrendPlot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void liveCurvesFollowTheNewestSamples();
    void repaintsAtMostOncePerScanAndNotWhileHidden();
    void legendEntryHidesAndShowsItsCurve();
    void wheelZoomsAroundTheCursorAndResetFollowsAgain();
    void rectangleZoomAndPanWithTheMouse();
    void unplottableReadingsAreNotDrawn();
    void stoppedRunShowsTheWholeRecording();
    void newRunDropsAPendingReadBack();

private:
    SeriesMap makeSeries(const QList<int> &channels);
    // One scan: a sample for every series at time t, then the plot's refresh.
    void scan(const SeriesMap &series, qint64 t, int i);
    QwtLegendLabel *legendLabel(int channel) const;
    QWidget *canvas() const { return plot->plot()->canvas(); }
    QPoint canvasPoint(double time, double value) const;

    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<CurveDataDB> store;
    QScopedPointer<TrendPlot> plot;
};

void TestTrendPlot::initTestCase()
{
    QVERIFY(applyDarkTheme());
}

void TestTrendPlot::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    plot.reset(new TrendPlot);
    plot->resize(1000, 520);
    plot->show();
    QVERIFY(QTest::qWaitForWindowExposed(plot.data()));
}

void TestTrendPlot::cleanup()
{
    plot.reset();
    store.reset();
    ConnectionPool::instance()->closeAllConnections();
    dir.reset();
}

SeriesMap TestTrendPlot::makeSeries(const QList<int> &channels)
{
    if (!store)
        store.reset(new CurveDataDB(dir->filePath(QStringLiteral("data"))));
    SeriesMap series;
    for (int channel : channels)
        series.insert(channel,
                      std::make_shared<CurveSeriesData>(QString::number(channel), store.data()));
    return series;
}

void TestTrendPlot::scan(const SeriesMap &series, qint64 t, int i)
{
    for (auto it = series.constBegin(); it != series.constEnd(); ++it)
        it.value()->addSample(double(t + it.key() % 100), liveValue(it.key(), i));
    plot->refresh();
}

QwtLegendLabel *TestTrendPlot::legendLabel(int channel) const
{
    return qobject_cast<QwtLegendLabel *>(
        plot->legend()->legendWidget(plot->plot()->itemToInfo(plot->curveOf(channel))));
}

QPoint TestTrendPlot::canvasPoint(double time, double value) const
{
    return QPoint(qRound(plot->plot()->transform(QwtPlot::xBottom, time)),
                  qRound(plot->plot()->transform(QwtPlot::yLeft, value)));
}

void TestTrendPlot::liveCurvesFollowTheNewestSamples()
{
    const SeriesMap series = makeSeries({101, 102, 105, 201});
    plot->setCurves(series);
    QCOMPARE(plot->mode(), TrendPlot::Mode::Live);
    QCOMPARE(plot->channels(), QList<int>({101, 102, 105, 201}));
    for (int channel : plot->channels()) {
        QCOMPARE(plot->curveOf(channel)->title().text(), QString::number(channel));
        QVERIFY(legendLabel(channel));
        QCOMPARE(legendLabel(channel)->data().title().text(), QString::number(channel));
        QCOMPARE(plot->curveOf(channel)->dataSize(), size_t(0));
    }

    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 3600 * 1000;
    for (int i = 0; i < 120; ++i)
        scan(series, t0 + i * 2000, i);
    // Two seconds a scan onto some 800 pixels: every sample is drawn as it is.
    for (int channel : plot->channels()) {
        QwtPlotCurve *curve = plot->curveOf(channel);
        QCOMPARE(curve->dataSize(), size_t(120));
        for (size_t k : {size_t(0), size_t(57), size_t(119)}) {
            QCOMPARE(curve->sample(k).x(), series[channel]->sample(k).x());
            QCOMPARE(curve->sample(k).y(), series[channel]->sample(k).y());
        }
    }
    QVERIFY(plot->isFollowing());
    QCOMPARE(plot->timeSpan().minValue(), double(t0 + 1));
    QCOMPARE(plot->timeSpan().maxValue(), double(t0 + 119 * 2000 + 5));
    // Values scaled to take in every curve: channel 1 near 1, channel 5 near 5.
    QVERIFY(plot->valueSpan().minValue() <= 0.2 + 0.05);
    QVERIFY(plot->valueSpan().maxValue() >= 5.8);

    // A further scan moves the view to it.
    scan(series, t0 + 120 * 2000, 120);
    QCOMPARE(plot->timeSpan().maxValue(), double(t0 + 120 * 2000 + 5));
    QCOMPARE(plot->curveOf(101)->dataSize(), size_t(121));
    saveScreenshot(plot.data(), QStringLiteral("trendplot-live"));

    // The window holds only the newest samples: so does the plot.
    series[101]->setWindowCapacity(50);
    scan(series, t0 + 121 * 2000, 121);
    QCOMPARE(plot->curveOf(101)->dataSize(), size_t(50));
    QCOMPARE(plot->curveOf(101)->sample(0).x(), double(t0 + 72 * 2000 + 1));
}

void TestTrendPlot::repaintsAtMostOncePerScanAndNotWhileHidden()
{
    const SeriesMap series = makeSeries({101, 102});
    plot->setCurves(series);
    QApplication::processEvents();
    PaintCounter paints(canvas());
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 10; ++i) {
        scan(series, t0 + i * 1000, i);
        QApplication::processEvents();
    }
    QVERIFY(paints.count >= 1);
    QVERIFY2(paints.count <= 10, qPrintable(QString::number(paints.count)));

    plot->hide();
    paints.count = 0;
    for (int i = 10; i < 20; ++i) {
        scan(series, t0 + i * 1000, i);
        QApplication::processEvents();
    }
    QCOMPARE(paints.count, 0);
    // Nothing was reduced while hidden; showing the plot catches up with one paint.
    QCOMPARE(plot->curveOf(101)->dataSize(), size_t(10));
    plot->show();
    QTRY_VERIFY(paints.count >= 1);
    QCOMPARE(plot->curveOf(101)->dataSize(), size_t(20));
    QVERIFY(paints.count <= 2);
}

void TestTrendPlot::legendEntryHidesAndShowsItsCurve()
{
    const SeriesMap series = makeSeries({101, 102, 103});
    plot->setCurves(series);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    // Channel 103 reads far above the others.
    for (int i = 0; i < 30; ++i) {
        series[101]->addSample(double(t0 + i * 1000), 1.0 + 0.1 * i);
        series[102]->addSample(double(t0 + i * 1000), 2.0);
        series[103]->addSample(double(t0 + i * 1000), 500.0 + i);
    }
    plot->refresh();
    QVERIFY(plot->valueSpan().maxValue() >= 529.0);
    QwtLegendLabel *label = legendLabel(103);
    QVERIFY(label);
    QVERIFY(label->isChecked());

    QTest::mouseClick(label, Qt::LeftButton);
    QVERIFY(!plot->curveOf(103)->isVisible());
    QVERIFY(!label->isChecked());
    QVERIFY(plot->curveOf(101)->isVisible());
    // The value axis now fits the curves still shown.
    QVERIFY(plot->valueSpan().maxValue() < 100.0);
    QVERIFY(plot->valueSpan().maxValue() >= 3.9);
    saveScreenshot(plot.data(), QStringLiteral("trendplot-legend-hidden"));
    // Still hidden after the next scan.
    series[103]->addSample(double(t0 + 30000), 530.0);
    plot->refresh();
    QVERIFY(!plot->curveOf(103)->isVisible());

    QTest::mouseClick(label, Qt::LeftButton);
    QVERIFY(plot->curveOf(103)->isVisible());
    QVERIFY(label->isChecked());
    QVERIFY(plot->valueSpan().maxValue() >= 530.0);

    plot->setChannelVisible(102, false);
    QVERIFY(!legendLabel(102)->isChecked());
    QVERIFY(!plot->curveOf(102)->isVisible());
    // A new run shows every curve again.
    plot->setCurves(makeSeries({101, 102}));
    QVERIFY(plot->curveOf(102)->isVisible());
    QVERIFY(legendLabel(102)->isChecked());
    QVERIFY(!plot->curveOf(103));
}

void TestTrendPlot::wheelZoomsAroundTheCursorAndResetFollowsAgain()
{
    const SeriesMap series = makeSeries({101, 102});
    plot->setCurves(series);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 1000000;
    for (int i = 0; i < 400; ++i)
        scan(series, t0 + i * 1000, i);
    const QwtInterval before = plot->timeSpan();
    const QPoint at(canvas()->width() / 4, canvas()->height() / 2);
    const double timeAt = plot->plot()->invTransform(QwtPlot::xBottom, at.x());

    wheel(canvas(), at, 120);
    QVERIFY(!plot->isFollowing());
    const QwtInterval zoomed = plot->timeSpan();
    QVERIFY(qAbs(zoomed.width() - 0.8 * before.width()) < 1.0);
    // The time under the cursor stays under it.
    QVERIFY(qAbs(plot->plot()->invTransform(QwtPlot::xBottom, at.x()) - timeAt) <
            before.width() / 500);
    // The live curves are reduced to the new span only.
    QVERIFY(plot->curveOf(101)->dataSize() < size_t(400));
    QVERIFY(plot->curveOf(101)->sample(0).x() >= zoomed.minValue());

    // A zoomed view stays where the user put it while scans arrive.
    scan(series, t0 + 400 * 1000, 400);
    QCOMPARE(plot->timeSpan().maxValue(), zoomed.maxValue());

    wheel(canvas(), at, -240);
    QVERIFY(plot->timeSpan().width() > zoomed.width());

    // Shift turns the wheel onto the value axis; the time axis stays.
    const QwtInterval values = plot->valueSpan();
    const QwtInterval times = plot->timeSpan();
    wheel(canvas(), at, 120, Qt::ShiftModifier);
    QVERIFY(plot->valueSpan().width() < values.width());
    QCOMPARE(plot->timeSpan().width(), times.width());

    QTest::mouseClick(plot->findChild<QPushButton *>(QStringLiteral("trendResetButton")),
                      Qt::LeftButton);
    QVERIFY(plot->isFollowing());
    QCOMPARE(plot->timeSpan().maxValue(), double(t0 + 400 * 1000 + 2));
    QCOMPARE(plot->timeSpan().minValue(), double(t0 + 1));
    QVERIFY(plot->plot()->axisAutoScale(QwtPlot::yLeft));
}

void TestTrendPlot::rectangleZoomAndPanWithTheMouse()
{
    const SeriesMap series = makeSeries({101, 102, 103});
    plot->setCurves(series);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 1000000;
    for (int i = 0; i < 300; ++i)
        scan(series, t0 + i * 1000, i);

    const QPoint from = canvasPoint(double(t0 + 100000), 3.5);
    const QPoint to = canvasPoint(double(t0 + 200000), 1.5);
    const double fromTime = plot->plot()->invTransform(QwtPlot::xBottom, from.x());
    const double toTime = plot->plot()->invTransform(QwtPlot::xBottom, to.x());
    drag(canvas(), Qt::LeftButton, from, to);
    QVERIFY(!plot->isFollowing());
    QVERIFY(qAbs(plot->timeSpan().minValue() - fromTime) < 1.0);
    QVERIFY(qAbs(plot->timeSpan().maxValue() - toTime) < 1.0);
    QVERIFY(qAbs(plot->valueSpan().minValue() - 1.5) < 0.05);
    QVERIFY(qAbs(plot->valueSpan().maxValue() - 3.5) < 0.05);
    QVERIFY(!plot->plot()->axisAutoScale(QwtPlot::yLeft));
    saveScreenshot(plot.data(), QStringLiteral("trendplot-live-zoomed"));

    // A click without a drag is no rectangle.
    const QwtInterval span = plot->timeSpan();
    drag(canvas(), Qt::LeftButton, from, from);
    QCOMPARE(plot->timeSpan().minValue(), span.minValue());

    // Dragging with the right button moves the view: a drag to the right shows earlier times.
    const int dx = canvas()->width() / 4;
    const QPoint start(canvas()->width() / 2, canvas()->height() / 2);
    drag(canvas(), Qt::RightButton, start, start + QPoint(dx, 0));
    QTRY_VERIFY(plot->timeSpan().minValue() < span.minValue());
    const double shift = span.minValue() - plot->timeSpan().minValue();
    QVERIFY(qAbs(shift - span.width() * dx / canvas()->contentsRect().width()) < span.width() / 50);
    QCOMPARE(plot->timeSpan().width(), span.width());

    plot->panBy(0.5, 0.0);
    QVERIFY(qAbs(plot->timeSpan().minValue() - (span.minValue() - shift + 0.5 * span.width())) <
            1.0);
}

void TestTrendPlot::unplottableReadingsAreNotDrawn()
{
    const SeriesMap series = makeSeries({101});
    plot->setCurves(series);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 20; ++i)
        series[101]->addSample(double(t0 + i * 1000), i == 7 ? 9.9e37 : double(i));
    plot->refresh();
    QCOMPARE(plot->curveOf(101)->dataSize(), size_t(19));
    QVERIFY(plot->valueSpan().maxValue() < 100.0);
    QCOMPARE(series[101]->maximum(), 9.9e37);
}

void TestTrendPlot::stoppedRunShowsTheWholeRecording()
{
    // Six hours of six channels at one sample per second, spikes included.
    RecordingShape shape;
    for (int c = 0; c < 6; ++c)
        shape.curveNames << QString::number(101 + c);
    shape.start = QDateTime(QDate(2024, 3, 14), QTime(9, 0)).toMSecsSinceEpoch();
    shape.samples = 21600;
    QVERIFY(writeRecording(dir->filePath(QStringLiteral("data")), shape));
    const SeriesMap series = makeSeries({101, 102, 103, 104, 105, 106});
    plot->setCurves(series);

    QSignalSpy shown(plot.data(), &TrendPlot::recordingShown);
    QSignalSpy detail(plot.data(), &TrendPlot::detailShown);
    plot->showRecording(store.data());
    QCOMPARE(plot->mode(), TrendPlot::Mode::Recording);
    QVERIFY(plot->isReading());
    QVERIFY(shown.wait(20000));
    QVERIFY(!plot->isReading());
    QCOMPARE(plot->timeSpan().minValue(), double(shape.start));
    QCOMPARE(plot->timeSpan().maxValue(), double(sampleTime(shape, 21599)));
    QCOMPARE(plot->recordingSpan().minValue(), double(shape.start));
    const int columns = plot->columns();
    QVERIFY(columns > 500);
    for (int c = 0; c < 6; ++c) {
        QwtPlotCurve *curve = plot->curveOf(101 + c);
        QVERIFY(curve->dataSize() <= size_t(2 * columns));
        QVERIFY(curve->dataSize() >= size_t(columns));
        double low = recordedValue(c, 0);
        double high = low;
        for (int i = 1; i < shape.samples; ++i) {
            low = std::min(low, recordedValue(c, i));
            high = std::max(high, recordedValue(c, i));
        }
        // The curve drawn reaches the extremes of every stored row, spikes included.
        QCOMPARE(curve->boundingRect().top(), low);
        QCOMPARE(curve->boundingRect().bottom(), high);
        QVERIFY(plot->valueSpan().minValue() <= low);
        QVERIFY(plot->valueSpan().maxValue() >= high);
    }
    saveScreenshot(plot.data(), QStringLiteral("trendplot-recording"));

    // Zoomed into ten minutes: read again, every row of the span drawn as it is.
    const double from = double(shape.start + 2 * 3600000);
    const double to = double(shape.start + 2 * 3600000 + 599999);
    plot->zoomToRect(QRectF(QPointF(from, 0.0), QPointF(to, 80.0)));
    QVERIFY(detail.wait(10000));
    QCOMPARE(plot->curveOf(101)->dataSize(), size_t(600));
    for (size_t k : {size_t(0), size_t(333), size_t(599)}) {
        const QPointF p = plot->curveOf(104)->sample(k);
        QCOMPARE(p.x(), from + double(k) * 1000.0);
        QCOMPARE(p.y(), recordedValue(3, 7200 + int(k)));
    }
    QVERIFY(!plot->shownReduction().wholeRecording);
    saveScreenshot(plot.data(), QStringLiteral("trendplot-recording-zoomed"));

    // The wheel reads the wider span again, once the turning has stopped.
    const QPoint middle(canvas()->width() / 2, canvas()->height() / 2);
    for (int notch = 0; notch < 3; ++notch)
        wheel(canvas(), middle, -120);
    QVERIFY(detail.wait(10000));
    QCOMPARE(detail.count(), 2);
    QVERIFY(plot->curveOf(101)->dataSize() > size_t(600));

    // Reset: the whole recording again, without a new read.
    plot->resetView();
    QVERIFY(plot->isFollowing());
    QCOMPARE(plot->timeSpan().minValue(), double(shape.start));
    QVERIFY(plot->shownReduction().wholeRecording);
    QCOMPARE(plot->curveOf(101)->boundingRect().bottom(), plot->shownReduction().curves[0].maximum);
    QVERIFY(!plot->isReading());
    QCOMPARE(shown.count(), 1);
}

void TestTrendPlot::newRunDropsAPendingReadBack()
{
    RecordingShape shape;
    shape.curveNames = QStringList{QStringLiteral("101"), QStringLiteral("102")};
    shape.start = QDateTime(QDate(2024, 3, 14), QTime(9, 0)).toMSecsSinceEpoch();
    shape.samples = 20000;
    QVERIFY(writeRecording(dir->filePath(QStringLiteral("data")), shape));
    SeriesMap series = makeSeries({101, 102});
    plot->setCurves(series);
    QSignalSpy shown(plot.data(), &TrendPlot::recordingShown);
    plot->showRecording(store.data());
    series = makeSeries({101, 102});
    plot->setCurves(series);
    QTRY_VERIFY(!plot->isReading());
    QTest::qWait(100);
    QCOMPARE(shown.count(), 0);
    QCOMPARE(plot->mode(), TrendPlot::Mode::Live);
    QCOMPARE(plot->curveOf(101)->dataSize(), size_t(0));

    // Stopping again with nothing new stored shows the stored recording once more.
    plot->showRecording(store.data());
    QVERIFY(shown.wait(10000));
    QCOMPARE(plot->recordingSpan().maxValue(), double(sampleTime(shape, 19999)));
}

QTEST_MAIN(TestTrendPlot)
#include "tst_trendplot.moc"
