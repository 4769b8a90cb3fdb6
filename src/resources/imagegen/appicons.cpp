#include "appicons.h"

#include "imagecolours.h"

#include <QPainter>
#include <QPainterPath>

namespace imagegen {
namespace {

constexpr int kButtonIcon = 24; // bottom bar buttons
constexpr int kTabIcon = 16;    // tab bar

QImage blank(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A ring with a filled play triangle.
QImage start()
{
    QImage image = blank(kButtonIcon);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kStart, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(12, 12), 10.5, 10.5);
    QPainterPath play;
    play.moveTo(9.5, 7.0);
    play.lineTo(17.5, 12.0);
    play.lineTo(9.5, 17.0);
    play.closeSubpath();
    p.setPen(QPen(kStart, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kStart);
    p.drawPath(play);
    return image;
}

// A ring with a filled square.
QImage stop()
{
    QImage image = blank(kButtonIcon);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kStop, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(12, 12), 10.5, 10.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kStop);
    p.drawRoundedRect(QRectF(8, 8, 8, 8), 1.2, 1.2);
    return image;
}

// A sheet with a folded corner and an arrow leaving it to the right.
QImage derive()
{
    QImage image = blank(kButtonIcon);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath sheet;
    sheet.moveTo(13.5, 8.0);
    sheet.lineTo(13.5, 3.0);
    sheet.lineTo(9.0, 3.0);
    sheet.lineTo(4.0, 8.0);
    sheet.lineTo(4.0, 21.0);
    sheet.lineTo(13.5, 21.0);
    sheet.lineTo(13.5, 16.0);
    p.setPen(QPen(kMark, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(sheet);
    p.drawPolyline(QPolygonF({QPointF(9.0, 3.0), QPointF(9.0, 8.0), QPointF(4.0, 8.0)}));
    p.setPen(QPen(kAccent, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(9.0, 12.0), QPointF(20.5, 12.0));
    p.drawPolyline(QPolygonF({QPointF(17.0, 8.5), QPointF(20.5, 12.0), QPointF(17.0, 15.5)}));
    return image;
}

// Three sliders: the channel configuration page.
QImage confChannel()
{
    QImage image = blank(kTabIcon);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal rows[] = {3.5, 8.0, 12.5};
    const qreal knobs[] = {5.0, 11.0, 7.5};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(kMark, 1.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(1.5, rows[i]), QPointF(14.5, rows[i]));
        p.setPen(QPen(kAccent, 1.0));
        p.setBrush(kAccent);
        p.drawEllipse(QPointF(knobs[i], rows[i]), 1.9, 1.9);
    }
    return image;
}

// Axes with a rising curve: the readings page.
QImage dataNetwork()
{
    QImage image = blank(kTabIcon);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kMark, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(1.5, 1.5), QPointF(1.5, 14.5), QPointF(14.5, 14.5)}));
    p.setPen(QPen(kAccent, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(
        QPolygonF({QPointF(3.5, 11.5), QPointF(6.5, 7.0), QPointF(9.0, 9.5), QPointF(13.5, 3.5)}));
    return image;
}

} // namespace

QImage paintAppIcon(const QString &name)
{
    if (name == QLatin1String("start"))
        return start();
    if (name == QLatin1String("stop"))
        return stop();
    if (name == QLatin1String("derive"))
        return derive();
    if (name == QLatin1String("confChannel"))
        return confChannel();
    if (name == QLatin1String("DataNetwork"))
        return dataNetwork();
    return QImage();
}

} // namespace imagegen
