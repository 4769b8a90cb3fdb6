#include "curveseriesdata.h"

#include "curvedatadb.h"

#include <QDateTime>
#include <QDebug>

#include <cfloat>
#include <cmath>

CurveSeriesData::CurveSeriesData(const QString &curveName, CurveDataDB *store)
    : name(curveName)
    , maximumMember(-DBL_MAX)
    , minimumMember(DBL_MAX)
{
    registerWith(store);
}

void CurveSeriesData::registerWith(CurveDataDB *db)
{
    store = db;
    curveIdMember = store ? store->registerCurve(name) : -1;
    if (curveIdMember == -1)
        qWarning().noquote() << "曲线注册失败，无法生成有效curve_id" << name;
}

CurveSeriesData::SampleResult CurveSeriesData::addSample(double x, double y)
{
    const SampleResult result = storeSample(x, y);
    if (result == SampleResult::Stored)
        countSample(x, y);
    return result;
}

CurveSeriesData::SampleResult CurveSeriesData::storeSample(double x, double y)
{
    if (curveIdMember == -1 || !store)
        return SampleResult::StoreFailed;
    // The value column cannot hold NaN; such a reading is neither stored nor counted.
    if (std::isnan(y))
        return SampleResult::NotANumber;
    return store->insertData(curveIdMember, static_cast<qint64>(x), y) ? SampleResult::Stored
                                                                        : SampleResult::StoreFailed;
}

void CurveSeriesData::countSample(double x, double y)
{
    const qint64 time = static_cast<qint64>(x);
    ++countMember;
    sum += y;
    averageMember = sum / countMember;
    lastValueMember = y;
    lastTimeTextMember =
        QDateTime::fromMSecsSinceEpoch(time).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (y > maximumMember)
        maximumMember = y;
    if (y < minimumMember)
        minimumMember = y;
    remember(QPointF(x, y));
}

void CurveSeriesData::remember(const QPointF &point)
{
    // Grows to the capacity once, then overwrites the oldest sample.
    if (stored < capacity) {
        if (window.size() > stored)
            window[stored] = point;
        else
            window.append(point);
        ++stored;
    } else {
        window[head] = point;
        head = (head + 1) % capacity;
    }
    boundsValid = false;
}

size_t CurveSeriesData::size() const
{
    return static_cast<size_t>(stored);
}

QPointF CurveSeriesData::sample(size_t i) const
{
    if (i >= static_cast<size_t>(stored))
        return QPointF();
    return window[static_cast<int>((head + i) % capacity)];
}

QRectF CurveSeriesData::boundingRect() const
{
    if (boundsValid)
        return bounds;
    // Recomputed only after new samples, so a plot asking on every repaint pays once.
    bool any = false;
    double left = 0, right = 0, top = 0, bottom = 0;
    for (int i = 0; i < stored; ++i) {
        const QPointF &p = window[(head + i) % capacity];
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            continue;
        if (!any) {
            left = right = p.x();
            top = bottom = p.y();
            any = true;
            continue;
        }
        left = qMin(left, p.x());
        right = qMax(right, p.x());
        top = qMin(top, p.y());
        bottom = qMax(bottom, p.y());
    }
    bounds =
        any ? QRectF(QPointF(left, top), QPointF(right, bottom)) : QRectF(1.0, 1.0, -2.0, -2.0);
    boundsValid = true;
    return bounds;
}

void CurveSeriesData::setRectOfInterest(const QRectF &rect)
{
    interest = rect;
}

void CurveSeriesData::setWindowCapacity(int samples)
{
    const int newCapacity = qMax(1, samples);
    QVector<QPointF> kept;
    const int keep = qMin(stored, newCapacity);
    kept.reserve(keep);
    for (int i = stored - keep; i < stored; ++i)
        kept.append(window[(head + i) % capacity]);
    window = kept;
    capacity = newCapacity;
    head = 0;
    stored = keep;
    boundsValid = false;
}
