#include "rotatedlabel.h"

#include <QPainter>

RotatedLabel::RotatedLabel(QWidget *parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    setMouseTracking(true);
}

void RotatedLabel::setRotated(bool rotated)
{
    if (rotated == m_rotated)
        return;
    m_rotated = rotated;
    updateGeometry();
    update();
}

QSize RotatedLabel::sizeHint() const
{
    const QSize plain = QLabel::sizeHint();
    return m_rotated ? plain.transposed() : plain;
}

void RotatedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    if (!m_rotated) {
        painter.drawText(rect(), Qt::AlignCenter, text());
        return;
    }
    painter.translate((width() - 1) / 2, (height() - 1) / 2);
    painter.rotate(90);
    const QSize turned = size().transposed();
    const QRect area(-turned.width() / 2, -turned.height() / 2, turned.width(), turned.height());
    painter.drawText(area, Qt::AlignHCenter, text());
}
