#include "curveraster.h"

#include <qwt_scale_map.h>

#include <algorithm>
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
    width = std::max(0, size.width());
    height = std::max(0, size.height());
    columns.assign(size_t(width) * size_t(height), 0u);
    drawnSinceImage = true;
}

const QImage &CurveRaster::image()
{
    if (!drawnSinceImage)
        return layer;
    drawnSinceImage = false;
    if (layer.size() != QSize(width, height) ||
        layer.format() != QImage::Format_ARGB32_Premultiplied)
        layer = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull())
        return layer;
    // Turned back into scan lines in tiles, so that both sides are read and written a cache
    // line at a time.
    constexpr int tile = 32;
    quint32 *out = reinterpret_cast<quint32 *>(layer.bits());
    const qsizetype stride = layer.bytesPerLine() / qsizetype(sizeof(quint32));
    for (int x0 = 0; x0 < width; x0 += tile) {
        const int x1 = std::min(width, x0 + tile);
        for (int y0 = 0; y0 < height; y0 += tile) {
            const int y1 = std::min(height, y0 + tile);
            for (int y = y0; y < y1; ++y) {
                quint32 *row = out + qsizetype(y) * stride;
                const quint32 *in = columns.data() + qsizetype(x0) * height + y;
                for (int x = x0; x < x1; ++x, in += height)
                    row[x] = *in;
            }
        }
    }
    return layer;
}

void CurveRaster::drawLine(QPointF from, QPointF to, QRgb colour)
{
    if (width <= 0 || height <= 0)
        return;
    const double w = width;
    const double h = height;
    // Lines wholly inside, nearly all of them, need no clipping.
    const bool inside = from.x() >= 0 && from.x() <= w - 1 && to.x() >= 0 && to.x() <= w - 1 &&
                        from.y() >= 0 && from.y() <= h - 1 && to.y() >= 0 && to.y() <= h - 1;
    if (!inside && !clipSegment(from, to, w, h))
        return;
    drawnSinceImage = true;
    const quint32 pixel = qPremultiply(colour);
    // Rounded, the clipped ends may still lie half a pixel outside: pulled in.
    int x0 = qBound(0, qRound(from.x()), width - 1);
    int y0 = qBound(0, qRound(from.y()), height - 1);
    const int x1 = qBound(0, qRound(to.x()), width - 1);
    const int y1 = qBound(0, qRound(to.y()), height - 1);
    quint32 *const base = columns.data();
    auto run = [base, pixel, this](int x, int ya, int yb) {
        quint32 *p = base + qsizetype(x) * height + std::min(ya, yb);
        std::fill(p, p + std::abs(yb - ya) + 1, pixel);
    };
    if (x0 == x1) {
        run(x0, y0, y1);
        return;
    }
    if (std::abs(x1 - x0) == 1) {
        // Between neighbouring columns: the first half of the rise in the one, the rest in the
        // other, as the general line below would draw it.
        const int middle = y0 + (y1 - y0) / 2;
        run(x0, y0, middle);
        run(x1, middle + (y1 > y0 ? 1 : y1 < y0 ? -1 : 0), y1);
        return;
    }
    // Bresenham; after clipping at most the image's width plus height pixels long.
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    while (true) {
        base[qsizetype(x0) * height + y0] = pixel;
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
    if (n == 0 || width <= 0 || height <= 0)
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
