#include "themeimages.h"

#include "imagecolours.h"

#include <QPainter>
#include <QPainterPath>

namespace imagegen {
namespace {

constexpr int kSmall = 16;  // arrows, check boxes, radio buttons
constexpr int kBranch = 20; // one tree indentation step by one item row

QImage blank(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Splits "checkbox_checked_focus" into its base "checkbox_checked" and the variant.
Variant splitVariant(const QString &name, QString *base)
{
    static const struct
    {
        const char *suffix;
        Variant variant;
    } suffixes[] = {{"_disabled", Variant::Disabled},
                    {"_focus", Variant::Focus},
                    {"_pressed", Variant::Pressed}};
    for (const auto &s : suffixes) {
        if (name.endsWith(QLatin1String(s.suffix))) {
            *base = name.left(name.size() - int(qstrlen(s.suffix)));
            return s.variant;
        }
    }
    *base = name;
    return Variant::Plain;
}

QColor markColour(Variant v)
{
    switch (v) {
    case Variant::Disabled:
        return kMarkDisabled;
    case Variant::Focus:
        return kAccentHover;
    case Variant::Pressed:
        return kAccentPressed;
    case Variant::Plain:
        break;
    }
    return kMark;
}

// A chevron pointing in direction (dx, dy), drawn as two round-capped strokes.
void drawChevron(QPainter &p, QPointF centre, QPointF dir, qreal half, const QColor &colour)
{
    const QPointF across(-dir.y(), dir.x());
    const QPointF tip = centre + dir * (half / 2);
    const QPointF back = centre - dir * (half / 2);
    QPainterPath path;
    path.moveTo(back + across * half);
    path.lineTo(tip);
    path.lineTo(back - across * half);
    p.setPen(QPen(colour, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

QImage arrow(const QString &direction, Variant v)
{
    QPointF dir;
    if (direction == QLatin1String("up"))
        dir = QPointF(0, -1);
    else if (direction == QLatin1String("down"))
        dir = QPointF(0, 1);
    else if (direction == QLatin1String("left"))
        dir = QPointF(-1, 0);
    else if (direction == QLatin1String("right"))
        dir = QPointF(1, 0);
    else
        return QImage();
    QImage image = blank(kSmall);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawChevron(p, QPointF(8, 8), dir, 4.0, markColour(v));
    return image;
}

QImage branch(const QString &kind, Variant v)
{
    QImage image = blank(kBranch);
    QPainter p(&image);
    const qreal mid = kBranch / 2.0;
    if (kind == QLatin1String("closed") || kind == QLatin1String("open")) {
        p.setRenderHint(QPainter::Antialiasing);
        const QPointF dir = kind == QLatin1String("open") ? QPointF(0, 1) : QPointF(1, 0);
        drawChevron(p, QPointF(mid, mid), dir, 3.5, v == Variant::Focus ? kAccent : kMark);
        return image;
    }
    // Lines are drawn crisp on the pixel column left of the middle, so that
    // neighbouring rows join without a seam.
    p.setPen(QPen(kBranchLine, 1));
    const int x = kBranch / 2 - 1;
    if (kind == QLatin1String("more")) {
        p.drawLine(x, 0, x, kBranch - 1);
        p.drawLine(x + 1, x, kBranch - 1, x);
    } else if (kind == QLatin1String("end")) {
        p.drawLine(x, 0, x, x);
        p.drawLine(x + 1, x, kBranch - 1, x);
    } else {
        return QImage();
    }
    return image;
}

struct BoxColours
{
    QColor frame;
    QColor fill;
    QColor mark;
};

BoxColours boxColours(bool ticked, Variant v)
{
    switch (v) {
    case Variant::Disabled:
        return {kFrameDisabled, kWellDisabled, kMarkDisabled};
    case Variant::Focus:
        return ticked ? BoxColours{kAccentHover, kAccentHover, Qt::white}
                      : BoxColours{kAccentHover, kWell, kAccentHover};
    case Variant::Pressed:
        return ticked ? BoxColours{kAccentPressed, kAccentPressed, Qt::white}
                      : BoxColours{kAccent, kAccentPressed, kAccent};
    case Variant::Plain:
        break;
    }
    return ticked ? BoxColours{kAccent, kAccent, Qt::white} : BoxColours{kFrame, kWell, kAccent};
}

QImage checkBox(const QString &state, Variant v)
{
    const bool checked = state == QLatin1String("checked");
    const bool partial = state == QLatin1String("indeterminate");
    if (!checked && !partial && state != QLatin1String("unchecked"))
        return QImage();
    const BoxColours c = boxColours(checked, v);
    QImage image = blank(kSmall);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(c.frame, 1.0));
    p.setBrush(c.fill);
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 2.5, 2.5);
    if (checked) {
        QPainterPath tick;
        tick.moveTo(4.5, 8.2);
        tick.lineTo(7.0, 10.7);
        tick.lineTo(11.6, 5.4);
        p.setPen(QPen(c.mark, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    } else if (partial) {
        p.setPen(Qt::NoPen);
        p.setBrush(v == Variant::Disabled ? kMarkDisabled : c.mark);
        p.drawRoundedRect(QRectF(4.5, 7, 7, 2), 1, 1);
    }
    return image;
}

QImage radio(const QString &state, Variant v)
{
    const bool checked = state == QLatin1String("checked");
    if (!checked && state != QLatin1String("unchecked"))
        return QImage();
    BoxColours c = boxColours(false, v);
    if (checked && v != Variant::Disabled)
        c.frame = v == Variant::Plain ? kAccent : c.frame;
    QImage image = blank(kSmall);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(c.frame, 1.2));
    p.setBrush(c.fill);
    p.drawEllipse(QPointF(8, 8), 6.4, 6.4);
    if (checked) {
        p.setPen(Qt::NoPen);
        p.setBrush(v == Variant::Disabled ? kMarkDisabled : c.frame);
        p.drawEllipse(QPointF(8, 8), 3.4, 3.4);
    }
    return image;
}

} // namespace

QImage paintThemeImage(const QString &name)
{
    QString base;
    const Variant v = splitVariant(name, &base);
    const int cut = base.indexOf(QLatin1Char('_'));
    if (cut < 0)
        return QImage();
    const QString family = base.left(cut);
    const QString rest = base.mid(cut + 1);
    if (family == QLatin1String("arrow"))
        return arrow(rest, v);
    if (family == QLatin1String("branch"))
        return (v == Variant::Plain || v == Variant::Focus) ? branch(rest, v) : QImage();
    if (family == QLatin1String("checkbox"))
        return checkBox(rest, v);
    if (family == QLatin1String("radio"))
        return radio(rest, v);
    return QImage();
}

} // namespace imagegen
