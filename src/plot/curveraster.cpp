#include "curveraster.h"

#include <qwt_scale_map.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Liang-Barsky: cuts the segment to the rectangle [0, w) x [0, h) widened by half a pixel;
// false when nothing of it is inside.
bool clipSegment(QPointF &a, QPointF &b, double w, double h)
{
    const double left = -0.5, top = -0.5, right = w - 0.5, bottom = h - 0.5;
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    double t0 = 0.0, t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - left, right - a.x(), a.y() - top, bottom - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            if (t > t1)
                return false;
            if (t > t0)
                t0 = t;
        } else {
            if (t < t0)
                return false;
            if (t < t1)
                t1 = t;
        }
    }
    const QPointF start = a;
    if (t1 < 1.0)
        b = QPointF(start.x() + t1 * dx, start.y() + t1 * dy);
    if (t0 > 0.0)
        a = QPointF(start.x() + t0 * dx, start.y() + t0 * dy);
    return true;
}

} // namespace

void CurveRaster::begin(const QSize &size)
{
    if (layer.size() != size || layer.format() != QImage::Format_ARGB32_Premultiplied)
        layer = QImage(size, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    bits = layer.isNull() ? nullptr : reinterpret_cast<quint32 *>(layer.bits());
    stride = layer.bytesPerLine() / qsizetype(sizeof(quint32));
}

void CurveRaster::drawLine(QPointF from, QPointF to, QRgb colour)
{
    if (!bits)
        return;
    const double w = layer.width();
    const double h = layer.height();
    // Lines wholly inside, nearly all of them, need no clipping.
    const bool inside = from.x() >= 0 && from.x() <= w - 1 && to.x() >= 0 && to.x() <= w - 1 &&
                        from.y() >= 0 && from.y() <= h - 1 && to.y() >= 0 && to.y() <= h - 1;
    if (!inside && !clipSegment(from, to, w, h))
        return;
    const quint32 pixel = qPremultiply(colour);
    const int width = layer.width();
    const int height = layer.height();
    // Rounded, the clipped ends may still lie half a pixel outside: pulled in.
    int x0 = qBound(0, qRound(from.x()), width - 1);
    int y0 = qBound(0, qRound(from.y()), height - 1);
    const int x1 = qBound(0, qRound(to.x()), width - 1);
    const int y1 = qBound(0, qRound(to.y()), height - 1);
    if (x0 == x1) {
        // Most lines between the lowest and highest sample of a column are vertical.
        quint32 *p = bits + qsizetype(std::min(y0, y1)) * stride + x0;
        for (int n = std::abs(y1 - y0); n >= 0; --n, p += stride)
            *p = pixel;
        return;
    }
    // Bresenham; after clipping at most the image's width plus height pixels long.
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    while (true) {
        bits[qsizetype(y0) * stride + x0] = pixel;
        if (x0 == x1 && y0 == y1)
            break;
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += sx;
        }
        if (twice <= dx) {
            error += dx;
            y0 += sy;
        }
    }
}

void CurveRaster::drawCurve(const QwtSeriesData<QPointF> &data, const QwtScaleMap &xMap,
                            const QwtScaleMap &yMap, const QPointF &origin, QRgb colour)
{
    const size_t n = data.size();
    if (n == 0 || !bits)
        return;
    // The plot's curves keep their points in an array: read straight from it rather than
    // through a virtual call per point.
    QVector<QPointF> array;
    if (auto *arrayData = dynamic_cast<const QwtArraySeriesData<QPointF> *>(&data))
        array = arrayData->samples();
    const bool direct = size_t(array.size()) == n;
    auto map = [&](size_t i) {
        const QPointF p = direct ? array.at(int(i)) : data.sample(i);
        return QPointF(xMap.transform(p.x()) - origin.x(), yMap.transform(p.y()) - origin.y());
    };
    QPointF previous = map(0);
    if (n == 1) {
        drawLine(previous, previous, colour);
        return;
    }
    for (size_t i = 1; i < n; ++i) {
        const QPointF next = map(i);
        if (std::isfinite(next.x()) && std::isfinite(next.y()) && std::isfinite(previous.x()) &&
            std::isfinite(previous.y()))
            drawLine(previous, next, colour);
        previous = next;
    }
}
