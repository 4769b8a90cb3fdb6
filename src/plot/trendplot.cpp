#include "trendplot.h"

#include "curveseriesdata.h"
#include "livecurvedata.h"
#include "recordingreadback.h"
#include "trendcurve.h"
#include "trendpicker.h"
#include "trendrasteritem.h"
#include "trendstyle.h"

#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_panner.h>
#include <qwt_scale_div.h>

#include <cmath>

namespace {
// Pause after the last zoom or pan before the span is read again, so that a turn of the wheel
// costs one read, not one per notch.
constexpr int detailDelayMs = 150;
// Narrowest and widest time spans the view can be zoomed to.
constexpr double narrowestSpanMs = 50.0;
constexpr double widestSpanMs = 3650.0 * 86400000.0;
// A canvas that has not been laid out yet is reduced for this width.
constexpr int fallbackColumns = 1000;
const QString hiddenLegendStyle = QStringLiteral("color: #6A6A6A;");

// The usage hint gives way to the recording's summary beside it: too narrow for its whole
// text, it ends in "…" rather than running into the summary. The whole text stays its text
// (and its tool tip) for a screen reader.
class HintLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
        style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(),
                              isEnabled(), shown, foregroundRole());
    }
};
} // namespace

TrendPlot::TrendPlot(QWidget *parent)
    : QWidget(parent)
{
    registerTrendTypes();
    setObjectName(QStringLiteral("trendPlot"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(TrendStyle::styleSheet());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(4, 0, 0, 0);
    auto *hint = new HintLabel(tr("滚轮缩放时间轴，Shift+滚轮缩放数值轴；左键拖框放大，右键拖动平移"));
    hint->setToolTip(hint->text());
    hint->setObjectName(QStringLiteral("trendStatus"));
    // In a narrow window the hint gives way to the status.
    hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusLabel = new QLabel;
    statusLabel->setObjectName(QStringLiteral("trendStatus"));
    resetButton = new QPushButton(tr("重置视图"));
    resetButton->setObjectName(QStringLiteral("trendResetButton"));
    bar->addWidget(hint, 1);
    bar->addSpacing(12);
    bar->addWidget(statusLabel);
    bar->addSpacing(8);
    bar->addWidget(resetButton);
    layout->addLayout(bar);

    plotWidget = new QwtPlot(this);
    TrendStyle::applyTo(plotWidget);
    // Every curve is drawn by this one item.
    (new TrendRasterItem)->attach(plotWidget);
    plotWidget->setAxisAutoScale(QwtPlot::yLeft, true);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    plotWidget->setAxisScale(QwtPlot::xBottom, double(now - 3600000), double(now));
    legendWidget = new QwtLegend;
    legendWidget->setDefaultItemMode(QwtLegendData::Checkable);
    legendWidget->setMaxColumns(1);
    TrendStyle::applyToLegend(legendWidget);
    plotWidget->insertLegend(legendWidget, QwtPlot::RightLegend);
    layout->addWidget(plotWidget, 1);

    picker = new TrendPicker(plotWidget->canvas());
    panner = new QwtPlotPanner(plotWidget->canvas());
    panner->setMouseButton(Qt::RightButton);
    plotWidget->canvas()->installEventFilter(this);
    detailTimer.setSingleShot(true);
    detailTimer.setInterval(detailDelayMs);

    connect(legendWidget, &QwtLegend::checked, this, &TrendPlot::onLegendChecked);
    connect(picker, QOverload<const QRectF &>::of(&QwtPlotPicker::selected), this,
            &TrendPlot::zoomToRect);
    // The panner has moved the scales itself by the time this arrives.
    connect(panner, &QwtPanner::panned, this, [this] { userChangedView(); });
    connect(&detailTimer, &QTimer::timeout, this, &TrendPlot::requestDetail);
    connect(resetButton, &QPushButton::clicked, this, &TrendPlot::resetView);
}

TrendPlot::~TrendPlot()
{
    // The read-back thread goes first: nothing may arrive for curves being deleted.
    delete readBack.data();
}

void TrendPlot::setCurves(const QMap<int, std::shared_ptr<CurveSeriesData>> &series)
{
    if (readBack)
        readBack->cancel();
    detailTimer.stop();
    clearCurves();
    currentMode = Mode::Live;
    userView = false;
    haveOverview = false;
    overview = TrendReduction();
    shown = TrendReduction();
    plotWidget->setAxisAutoScale(QwtPlot::yLeft, true);
    for (auto it = series.constBegin(); it != series.constEnd(); ++it) {
        if (!it.value())
            continue;
        QwtPlotCurve *curve = addCurve(it.key(), QString::number(it.key()));
        auto *data = new LiveCurveData(it.value());
        curve->setData(data);
        live.insert(it.key(), data);
        curveNames.insert(it.key(), it.value()->curveName());
    }
    setStatus(QString());
    updateLive();
    replotOrDefer();
}

void TrendPlot::clearCurves()
{
    for (QwtPlotCurve *curve : qAsConst(curves)) {
        curve->detach();
        delete curve;
    }
    curves.clear();
    live.clear();
    curveNames.clear();
}

QwtPlotCurve *TrendPlot::addCurve(int channel, const QString &title)
{
    auto *curve = new TrendCurve(title, TrendStyle::curveColour(curves.size()));
    curve->attach(plotWidget);
    curves.insert(channel, curve);
    markLegend(curve, true);
    return curve;
}

void TrendPlot::refresh()
{
    if (currentMode != Mode::Live)
        return;
    // Hidden behind another tab it costs nothing: the work waits for the next show.
    if (!isVisible()) {
        dirty = true;
        return;
    }
    updateLive();
    plotWidget->replot();
    dirty = false;
}

void TrendPlot::updateLive()
{
    if (live.isEmpty())
        return;
    qint64 start = 0;
    qint64 end = 0;
    if (userView) {
        const QwtInterval span = timeSpan();
        start = qint64(std::floor(span.minValue()));
        end = qint64(std::ceil(span.maxValue()));
    } else {
        bool any = false;
        for (const LiveCurveData *data : qAsConst(live)) {
            qint64 oldest = 0;
            qint64 newest = 0;
            if (!data->timeRange(&oldest, &newest))
                continue;
            start = any ? qMin(start, oldest) : oldest;
            end = any ? qMax(end, newest) : newest;
            any = true;
        }
        if (!any)
            return;
        setTimeAxis(start, end);
        const QwtInterval span = timeSpan();
        start = qint64(std::floor(span.minValue()));
        end = qint64(std::ceil(span.maxValue()));
    }
    const int width = columns();
    for (LiveCurveData *data : qAsConst(live))
        data->update(start, end, width);
    shownColumns = width;
}

void TrendPlot::showRecording(CurveDataDB *store)
{
    if (!store)
        return;
    if (!readBack || readBack->store() != store) {
        delete readBack.data();
        readBack = new RecordingReadBack(store, this);
        connect(readBack, &RecordingReadBack::reduced, this, &TrendPlot::onReduced);
    }
    detailTimer.stop();
    currentMode = Mode::Recording;
    userView = false;
    haveOverview = false;
    plotWidget->setAxisAutoScale(QwtPlot::yLeft, true);
    requestWhole();
}

void TrendPlot::requestWhole()
{
    if (!readBack)
        return;
    TrendRequest request;
    request.curveNames = curveNames.values();
    request.wholeRecording = true;
    request.columns = columns();
    readBack->request(request);
    setStatus(tr("正在读取记录..."));
}

void TrendPlot::requestDetail()
{
    if (currentMode != Mode::Recording || !readBack)
        return;
    if (!userView) {
        requestWhole();
        return;
    }
    const QwtInterval span = timeSpan();
    TrendRequest request;
    request.curveNames = curveNames.values();
    request.wholeRecording = false;
    request.start = qint64(std::floor(span.minValue()));
    request.end = qint64(std::ceil(span.maxValue()));
    request.columns = columns();
    readBack->request(request);
    setStatus(tr("正在读取记录..."));
}

void TrendPlot::onReduced(const TrendReduction &result)
{
    if (currentMode != Mode::Recording)
        return;
    if (!result.complete) {
        // The store is being cleared for a new run, or a file would not open: what is drawn
        // stays as it is.
        setStatus(tr("记录读取未完成"));
        return;
    }
    if (result.wholeRecording) {
        overview = result;
        haveOverview = true;
        // Zoomed meanwhile: the read of that span is on its way.
        if (userView)
            return;
        setTimeAxis(result.start, result.end);
        showReduction(result);
        emit recordingShown();
        return;
    }
    if (!userView)
        return;
    showReduction(result);
    emit detailShown();
}

void TrendPlot::showReduction(const TrendReduction &result)
{
    QMap<QString, int> channelOfName;
    for (auto it = curveNames.constBegin(); it != curveNames.constEnd(); ++it)
        channelOfName.insert(it.value(), it.key());
    for (QwtPlotCurve *curve : qAsConst(curves))
        curve->setSamples(QVector<QPointF>());
    // setSamples has replaced (and deleted) the live data of every curve.
    live.clear();
    qint64 samples = 0;
    for (const CurveReduction &reduction : result.curves) {
        QwtPlotCurve *curve = curves.value(channelOfName.value(reduction.name, -1));
        if (!curve)
            continue;
        curve->setSamples(reduction.points);
        samples += reduction.samples;
    }
    shown = result;
    shownColumns = result.columns;
    if (result.wholeRecording)
        setStatus(tr("整个记录：%1 条曲线，%2 个采样点").arg(result.curves.size()).arg(samples));
    else
        setStatus(tr("所选区间：%1 个采样点").arg(samples));
    replotOrDefer();
}

void TrendPlot::resetView()
{
    userView = false;
    detailTimer.stop();
    plotWidget->setAxisAutoScale(QwtPlot::yLeft, true);
    switch (currentMode) {
    case Mode::Live:
        updateLive();
        break;
    case Mode::Recording:
        if (!haveOverview) {
            requestWhole();
            break;
        }
        setTimeAxis(overview.start, overview.end);
        showReduction(overview);
        // Drawn for a much narrower or wider canvas: read again for this one.
        if (std::abs(columns() - overview.columns) > overview.columns / 10)
            requestWhole();
        break;
    case Mode::Empty:
        break;
    }
    replotOrDefer();
}

void TrendPlot::userChangedView()
{
    userView = true;
    plotWidget->updateAxes();
    if (currentMode == Mode::Live)
        updateLive();
    else if (currentMode == Mode::Recording)
        detailTimer.start();
    replotOrDefer();
}

void TrendPlot::zoomTime(double factor, double at)
{
    const QwtInterval span = timeSpan();
    const double width = qBound(narrowestSpanMs, span.width() * factor, widestSpanMs);
    const double share = span.width() > 0 ? (at - span.minValue()) / span.width() : 0.5;
    const double low = at - share * width;
    plotWidget->setAxisScale(QwtPlot::xBottom, low, low + width);
    userChangedView();
}

void TrendPlot::zoomValues(double factor, double at)
{
    const QwtInterval span = valueSpan();
    if (!(span.width() > 0) || !(factor > 0))
        return;
    const double width = span.width() * factor;
    const double share = (at - span.minValue()) / span.width();
    const double low = at - share * width;
    plotWidget->setAxisScale(QwtPlot::yLeft, low, low + width);
    userChangedView();
}

void TrendPlot::zoomToRect(const QRectF &rect)
{
    const QRectF r = rect.normalized();
    // A click without a drag selects nothing worth zooming into.
    if (!(r.width() >= narrowestSpanMs))
        return;
    plotWidget->setAxisScale(QwtPlot::xBottom, r.left(), r.right());
    if (r.height() > 0)
        plotWidget->setAxisScale(QwtPlot::yLeft, r.top(), r.bottom());
    userChangedView();
}

void TrendPlot::panBy(double timeShare, double valueShare)
{
    const QwtInterval x = timeSpan();
    const QwtInterval y = valueSpan();
    plotWidget->setAxisScale(QwtPlot::xBottom, x.minValue() + timeShare * x.width(),
                             x.maxValue() + timeShare * x.width());
    if (valueShare != 0.0)
        plotWidget->setAxisScale(QwtPlot::yLeft, y.minValue() + valueShare * y.width(),
                                 y.maxValue() + valueShare * y.width());
    userChangedView();
}

void TrendPlot::setChannelVisible(int channel, bool visible)
{
    QwtPlotCurve *curve = curves.value(channel);
    if (!curve)
        return;
    curve->setVisible(visible);
    markLegend(curve, visible);
    replotOrDefer();
}

void TrendPlot::onLegendChecked(const QVariant &itemInfo, bool on, int index)
{
    Q_UNUSED(index);
    auto *curve = dynamic_cast<QwtPlotCurve *>(plotWidget->infoToItem(itemInfo));
    if (!curve || curve->isVisible() == on)
        return;
    curve->setVisible(on);
    markLegend(curve, on);
    replotOrDefer();
}

void TrendPlot::markLegend(QwtPlotCurve *curve, bool visible)
{
    auto *label =
        qobject_cast<QwtLegendLabel *>(legendWidget->legendWidget(plotWidget->itemToInfo(curve)));
    if (!label)
        return;
    // Checked means shown; a hidden curve's entry is greyed out as well. A screen reader hears
    // the channel and whether it is shown.
    const QString channel = curve->title().text();
    label->setAccessibleName(visible ? tr("通道 %1：显示").arg(channel)
                                     : tr("通道 %1：已隐藏").arg(channel));
    label->setAccessibleDescription(tr("按下可显示或隐藏这条曲线"));
    label->setPalette(legendWidget->palette());
    label->setChecked(visible);
    label->setStyleSheet(visible ? QString() : hiddenLegendStyle);
}

void TrendPlot::setTimeAxis(qint64 start, qint64 end)
{
    if (end <= start) {
        start -= 1000;
        end += 1000;
    }
    plotWidget->setAxisScale(QwtPlot::xBottom, double(start), double(end));
    plotWidget->updateAxes();
}

void TrendPlot::replotOrDefer()
{
    if (!isVisible()) {
        dirty = true;
        return;
    }
    plotWidget->replot();
    dirty = false;
}

void TrendPlot::setStatus(const QString &text)
{
    statusLabel->setText(text);
}

bool TrendPlot::isReading() const
{
    return readBack && readBack->isBusy();
}

QwtInterval TrendPlot::timeSpan() const
{
    return plotWidget->axisInterval(QwtPlot::xBottom);
}

QwtInterval TrendPlot::valueSpan() const
{
    return plotWidget->axisInterval(QwtPlot::yLeft);
}

QwtInterval TrendPlot::recordingSpan() const
{
    if (!haveOverview)
        return QwtInterval();
    return QwtInterval(double(overview.start), double(overview.end));
}

int TrendPlot::columns() const
{
    const int width = plotWidget->canvas()->contentsRect().width();
    return width > 50 ? width : fallbackColumns;
}

bool TrendPlot::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != plotWidget->canvas())
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::Wheel) {
        auto *wheel = static_cast<QWheelEvent *>(event);
        const int delta = wheel->angleDelta().y();
        if (delta == 0)
            return false;
        // One notch forward shows 80 % of the span, around the point under the cursor.
        const double factor = std::pow(0.8, delta / 120.0);
        const QPointF position = wheel->position();
        if (wheel->modifiers() & Qt::ShiftModifier)
            zoomValues(factor, plotWidget->invTransform(QwtPlot::yLeft, position.y()));
        else
            zoomTime(factor, plotWidget->invTransform(QwtPlot::xBottom, position.x()));
        return true;
    }
    if (event->type() == QEvent::Resize && shownColumns > 0) {
        const int width = columns();
        // Live curves are reduced for the current width at every scan anyway.
        if (currentMode == Mode::Recording && std::abs(width - shownColumns) > shownColumns / 10)
            detailTimer.start();
    }
    return QWidget::eventFilter(watched, event);
}

void TrendPlot::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!dirty)
        return;
    if (currentMode == Mode::Live)
        updateLive();
    plotWidget->replot();
    dirty = false;
}
