// Draws curves as one-pixel lines straight into an image the size of the plot's canvas. With
// the points reduced to about two per pixel column most lines are a few pixels long, and
// setting those pixels directly costs a small part of what the painter's general line drawing
// does, which is what keeps ninety curves within one frame.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRgb>
#include <QSize>

#include <qwt_series_data.h>

#include <vector>

class QwtScaleMap;

class CurveRaster
{
public:
    // A transparent image of the given size, reused from the last one where possible.
    void begin(const QSize &size);
    // The curve through the points, mapped by the scale maps; origin is the position of the
    // image's top left corner in the maps' coordinates. Lines leaving the image are clipped.
    void drawCurve(const QwtSeriesData<QPointF> &data, const QwtScaleMap &xMap,
                   const QwtScaleMap &yMap, const QPointF &origin, QRgb colour);
    // The frame drawn since begin.
    const QImage &image();

    // One line from (x0, y0) to (x1, y1), clipped to the image.
    void drawLine(QPointF from, QPointF to, QRgb colour);

private:
    // Lines are drawn column by column: pixel (x, y) is columns[x * height + y]. Nearly every
    // line between two reduced points runs up or down within one or two pixel columns, and in
    // this order its pixels lie next to each other in memory instead of a scan line apart.
    std::vector<quint32> columns;
    int width = 0;
    int height = 0;
    bool drawnSinceImage = true;
    QImage layer;
};
