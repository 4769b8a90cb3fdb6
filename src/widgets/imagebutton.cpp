#include "imagebutton.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

ImageButton::ImageButton(QWidget *parent)
    : QPushButton(parent)
{
}

ImageButton::ImageButton(const QString &text, QWidget *parent)
    : QPushButton(parent)
    , m_text(text)
{
}

ImageButton::ImageButton(const QIcon &icon, const QString &text, const QIcon &rightIcon,
                         QWidget *parent)
    : QPushButton(parent)
    , m_icon(icon)
    , m_rightIcon(rightIcon)
    , m_text(text)
    , m_position(LeftAndRight)
{
}

void ImageButton::setIcon(const QIcon &icon)
{
    m_icon = icon;
    update();
}

void ImageButton::setRightIcon(const QIcon &icon)
{
    m_rightIcon = icon;
    update();
}

void ImageButton::setText(const QString &text)
{
    m_text = text;
    update();
}

void ImageButton::setIconSize(const QSize &size)
{
    setIconSize(size.width(), size.height());
}

void ImageButton::setIconSize(int width, int height)
{
    m_iconWidth = width;
    m_iconHeight = height;
    update();
}

void ImageButton::setIconPosition(int position)
{
    m_position = position;
    update();
}

void ImageButton::setImageSpacing(int spacing)
{
    m_spacing = spacing;
    update();
}

// The pieces are packed into one block centred in the contents rectangle. A piece
// that follows another starts `spacing` pixels past the other's last pixel column
// (or row), which is how the buttons of the window have always been laid out.
ImageButton::Geometry ImageButton::contentGeometry() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QFontMetrics metrics(font());
    const int tw =
        metrics.boundingRect(QRect(), Qt::AlignCenter | Qt::TextShowMnemonic, m_text).width();
    const int th = metrics.height();
    const int iw = m_iconWidth;
    const int ih = m_iconHeight;
    const int s = m_spacing;
    const bool hasIcon = !m_icon.isNull();
    const bool hasRight = !m_rightIcon.isNull();

    int bw = tw;
    int bh = th;
    switch (m_position) {
    case Left:
    case Right:
        bw = iw + tw + (hasIcon ? s : 0) + (m_position == Right && hasRight ? s : 0);
        bh = qMax(ih, th);
        break;
    case Top:
    case Bottom:
        bw = qMax(tw, iw);
        bh = ih + th + (hasIcon ? s : 0);
        break;
    case LeftAndRight:
        bw = tw + (hasIcon ? iw + s : 0) + (hasRight ? s + iw : 0);
        bh = qMax(th, ih);
        break;
    default:
        break;
    }
    const int x0 = contents.left() + (contents.width() - bw) / 2;
    const int y0 = contents.top() + (contents.height() - bh) / 2;

    Geometry g;
    g.block = QRect(x0, y0, bw, bh);
    const auto besideIcon = [&](int x) { return QRect(x, y0 + (bh - ih) / 2, iw, ih); };
    const auto besideText = [&](int x) { return QRect(x, y0 + (bh - th) / 2, tw, th); };
    switch (m_position) {
    case Left:
        if (hasIcon) {
            g.icon = besideIcon(x0);
            g.text = besideText(g.icon.right() + s);
        } else {
            g.text = g.block;
        }
        break;
    case Right:
        if (hasRight) {
            g.text = besideText(x0);
            g.rightIcon = besideIcon(g.text.right() + s);
        } else {
            g.text = g.block;
        }
        break;
    case Top: {
        const QRect icon(x0 + (bw - iw) / 2, y0, iw, ih);
        g.icon = hasIcon ? icon : QRect();
        g.text = QRect(x0 + (bw - tw) / 2, icon.bottom() + s, tw, th);
        break;
    }
    case Bottom:
        g.text = QRect(x0 + (bw - tw) / 2, y0, tw, th);
        g.icon = hasIcon ? QRect(x0 + (bw - iw) / 2, g.text.bottom() + s, iw, ih) : QRect();
        break;
    case LeftAndRight: {
        int x = x0;
        if (hasIcon) {
            g.icon = besideIcon(x);
            x = g.icon.right() + s;
        }
        g.text = besideText(x);
        if (hasRight)
            g.rightIcon = besideIcon(g.text.right() + s);
        break;
    }
    default:
        g.text = g.block;
        break;
    }
    if (m_text.isEmpty())
        g.text = QRect();
    return g;
}

void ImageButton::paintEvent(QPaintEvent *)
{
    const Geometry g = contentGeometry();
    QPainter painter(this);
    // The button draws itself, so it draws its own focus mark too, in the theme's focus colour.
    if (hasFocus()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor::fromRgba(FocusMarkColour), 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
    }
    if (!g.icon.isNull())
        m_icon.paint(&painter, g.icon, Qt::AlignCenter, QIcon::Normal, QIcon::On);
    if (!g.rightIcon.isNull())
        m_rightIcon.paint(&painter, g.rightIcon, Qt::AlignCenter, QIcon::Normal, QIcon::On);
    if (!g.text.isNull())
        style()->drawItemText(&painter, g.text, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                              isEnabled(), m_text, QPalette::ButtonText);
}
