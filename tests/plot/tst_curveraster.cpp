// The curves' pixels: lines of every direction, ends far outside the canvas, points that are
// not numbers, and the mapping from times and values to pixels.
#include "curveraster.h"

#include <QElapsedTimer>
#include <QtTest>

#include <qwt_point_data.h>
#include <qwt_scale_map.h>

#include <limits>

namespace {

const QRgb red = qRgb(255, 0, 0);

int countColoured(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                ++n;
    return n;
}

bool isSet(const QImage &image, int x, int y)
{
    return image.pixel(x, y) == red;
}

} // namespace

class TestCurveRaster : public QObject
{
    Q_OBJECT
private slots:
    void linesOfEveryDirection_data();
    void linesOfEveryDirection();
    void endsFarOutsideAreClipped_data();
    void endsFarOutsideAreClipped();
    void curveThroughScaleMaps();
    void beginClearsTheLastFrame();
};

void TestCurveRaster::linesOfEveryDirection_data()
{
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<int>("pixels");
    QTest::newRow("horizontal") << QPointF(2, 5) << QPointF(17, 5) << 16;
    QTest::newRow("vertical down") << QPointF(4, 1) << QPointF(4, 18) << 18;
    QTest::newRow("vertical up") << QPointF(4, 18) << QPointF(4, 1) << 18;
    QTest::newRow("diagonal") << QPointF(0, 0) << QPointF(19, 19) << 20;
    QTest::newRow("steep") << QPointF(3, 0) << QPointF(6, 19) << 20;
    QTest::newRow("one point") << QPointF(7, 7) << QPointF(7, 7) << 1;
    QTest::newRow("neighbouring columns") << QPointF(5, 2) << QPointF(6, 9) << 8;
    QTest::newRow("neighbouring columns, up") << QPointF(6, 9) << QPointF(5, 2) << 8;
    QTest::newRow("neighbouring, level") << QPointF(5, 4) << QPointF(6, 4) << 2;
    QTest::newRow("rounded ends") << QPointF(1.4, 2.6) << QPointF(8.6, 2.4) << 9;
}

void TestCurveRaster::linesOfEveryDirection()
{
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(int, pixels);
    CurveRaster raster;
    raster.begin(QSize(20, 20));
    raster.drawLine(from, to, red);
    const QImage &image = raster.image();
    QCOMPARE(countColoured(image), pixels);
    QVERIFY(isSet(image, qRound(from.x()), qRound(from.y())));
    QVERIFY(isSet(image, qRound(to.x()), qRound(to.y())));
    QCOMPARE(image.format(), QImage::Format_ARGB32_Premultiplied);
}

void TestCurveRaster::endsFarOutsideAreClipped_data()
{
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<int>("pixels");
    const double far = 1e15;
    QTest::newRow("across, far on both sides") << QPointF(-far, 10) << QPointF(far, 10) << 100;
    QTest::newRow("from far above") << QPointF(50, -far) << QPointF(50, 10) << 11;
    QTest::newRow("wholly left") << QPointF(-500, 3) << QPointF(-1, 60) << 0;
    QTest::newRow("wholly below") << QPointF(10, 150) << QPointF(90, 120) << 0;
    QTest::newRow("corner to corner beyond") << QPointF(-100, -100) << QPointF(199, 199) << 100;
}

void TestCurveRaster::endsFarOutsideAreClipped()
{
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(int, pixels);
    CurveRaster raster;
    raster.begin(QSize(100, 100));
    QElapsedTimer timer;
    timer.start();
    raster.drawLine(from, to, red);
    // Clipped before it is drawn: never a walk along a line a billion pixels long.
    QVERIFY(timer.elapsed() < 100);
    QCOMPARE(countColoured(raster.image()), pixels);
}

void TestCurveRaster::curveThroughScaleMaps()
{
    // Times 0..1000 ms onto x 10..110, values 0..10 onto y 110..10 (up is smaller y).
    QwtScaleMap xMap;
    xMap.setScaleInterval(0, 1000);
    xMap.setPaintInterval(10, 110);
    QwtScaleMap yMap;
    yMap.setScaleInterval(0, 10);
    yMap.setPaintInterval(110, 10);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QwtPointSeriesData data(QVector<QPointF>{{0, 0}, {500, 10}, {600, nan}, {1000, 0}});
    CurveRaster raster;
    raster.begin(QSize(100, 100));
    // The image's corner sits at (10, 10) of the maps.
    raster.drawCurve(data, xMap, yMap, QPointF(10, 10), red);
    const QImage &image = raster.image();
    QVERIFY(isSet(image, 0, 99));
    QVERIFY(isSet(image, 50, 0));
    // The lines into and out of the point that is not a number are left out: only the first
    // line, 100 pixels from (0, 99) up to (50, 0), is drawn.
    QVERIFY(!isSet(image, 75, 50));
    QVERIFY(!isSet(image, 99, 99));
    QCOMPARE(countColoured(image), 100);

    QwtPointSeriesData single(QVector<QPointF>{{250, 5}});
    raster.begin(QSize(100, 100));
    raster.drawCurve(single, xMap, yMap, QPointF(10, 10), red);
    QCOMPARE(countColoured(raster.image()), 1);
    QVERIFY(isSet(raster.image(), 25, 50));
}

void TestCurveRaster::beginClearsTheLastFrame()
{
    CurveRaster raster;
    raster.begin(QSize(30, 30));
    raster.drawLine(QPointF(0, 0), QPointF(29, 29), red);
    raster.begin(QSize(30, 30));
    QCOMPARE(countColoured(raster.image()), 0);
    raster.begin(QSize(40, 10));
    QCOMPARE(raster.image().size(), QSize(40, 10));
    raster.drawLine(QPointF(0, 9), QPointF(39, 9), red);
    QCOMPARE(countColoured(raster.image()), 40);
    // Nothing to draw on before the first frame, and no size at all: no crash, nothing drawn.
    CurveRaster unset;
    unset.drawLine(QPointF(0, 0), QPointF(5, 5), red);
    unset.begin(QSize(0, 0));
    unset.drawLine(QPointF(0, 0), QPointF(5, 5), red);
    QVERIFY(unset.image().isNull());
}

QTEST_GUILESS_MAIN(TestCurveRaster)
#include "tst_curveraster.moc"
