// One logged channel's curve: every sample goes to the store at once and into running
// statistics; the most recent samples stay in a bounded window that a plot can read through
// the Qwt series interface, so memory stays flat over a run of days. Used on the GUI thread.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVector>

#include <qwt_series_data.h>

class CurveDataDB;

class CurveSeriesData : public QwtSeriesData<QPointF>
{
public:
    static constexpr int defaultWindowCapacity = 10000;

    // Registers curveName with the given store (not owned).
    CurveSeriesData(const QString &curveName, CurveDataDB *store);
    ~CurveSeriesData() override = default;

    CurveSeriesData(const CurveSeriesData &) = delete;
    CurveSeriesData &operator=(const CurveSeriesData &) = delete;

    enum class SampleResult
    {
        Stored,
        NotANumber,
        StoreFailed
    };
    // x: time in ms since the epoch, y: the value. Stored, then counted. A NaN value cannot be
    // stored and a sample the store failed to take is not counted either.
    SampleResult addSample(double x, double y);
    // The two halves of addSample, for a scan stored in one transaction: storeSample hands
    // the sample to the store; countSample takes a stored sample into the statistics and the
    // window once the scan has committed.
    SampleResult storeSample(double x, double y);
    void countSample(double x, double y);

    double lastValue() const { return lastValueMember; }
    QString lastTimeText() const { return lastTimeTextMember; }
    double minimum() const { return minimumMember; }
    double maximum() const { return maximumMember; }
    double average() const { return averageMember; }
    int count() const { return countMember; }
    int curveId() const { return curveIdMember; }
    QString curveName() const { return name; }

    // The window of recent samples, oldest first.
    size_t size() const override;
    QPointF sample(size_t i) const override;
    // Extent of the window's finite points; an invalid rectangle when there are none.
    QRectF boundingRect() const override;
    void setRectOfInterest(const QRectF &rect) override;
    QRectF rectOfInterest() const { return interest; }

    int windowCapacity() const { return capacity; }
    // Keeps the newest samples that fit; at least one.
    void setWindowCapacity(int samples);

private:
    void registerWith(CurveDataDB *db);
    void remember(const QPointF &point);

    QString name;
    CurveDataDB *store = nullptr;
    int curveIdMember = -1;
    int countMember = 0;
    double lastValueMember = 0.0;
    QString lastTimeTextMember;
    double maximumMember;
    double minimumMember;
    double averageMember = 0.0;
    double sum = 0.0;

    // Ring buffer: window[(head + i) % capacity] is the i-th oldest of `stored` samples.
    QVector<QPointF> window;
    int capacity = defaultWindowCapacity;
    int head = 0;
    int stored = 0;
    QRectF interest;
    mutable QRectF bounds;
    mutable bool boundsValid = false;
};
