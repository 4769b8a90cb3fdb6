#include "customsidebutton.h"

#include "rotatedlabel.h"

#include <QBoxLayout>
#include <QLabel>

CustomSideButton::CustomSideButton(QWidget *parent)
    : QPushButton(parent)
{
    setFlat(true);
    setCheckable(false);

    m_iconLabel = new QLabel(this);
    m_iconLabel->setAlignment(Qt::AlignCenter);
    m_iconLabel->setScaledContents(true);

    m_textLabel = new RotatedLabel(this);
    m_textLabel->setStyleSheet(QStringLiteral("font-size:12px;"));
    m_textLabel->setAlignment(Qt::AlignCenter);

    for (QLabel *label : {m_iconLabel, static_cast<QLabel *>(m_textLabel)}) {
        label->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
        label->setMinimumSize(0, 0);
    }

    m_layout = new QBoxLayout(QBoxLayout::TopToBottom, this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    relayout();
}

void CustomSideButton::setHorizontal(bool horizontal)
{
    m_horizontal = horizontal;
    relayout();
}

void CustomSideButton::setRotated(bool rotated)
{
    m_textLabel->setRotated(rotated);
    relayout();
}

void CustomSideButton::setText(const QString &text)
{
    m_textLabel->setText(text);
    relayout();
}

QString CustomSideButton::labelText() const
{
    return m_textLabel->text();
}

void CustomSideButton::setIconPixmap(const QPixmap &pixmap)
{
    const QPixmap scaled = pixmap.scaled(15, 15, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    m_iconLabel->setPixmap(scaled);
    m_iconLabel->setFixedSize(scaled.size());
    relayout();
}

void CustomSideButton::relayout()
{
    // Deleting a taken item frees the spacer or the wrapper of a label; the labels
    // themselves stay children of the button.
    while (QLayoutItem *item = m_layout->takeAt(0))
        delete item;
    m_layout->setDirection(m_horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    m_layout->addWidget(m_iconLabel, 0);
    m_layout->addWidget(m_textLabel, 0);
    if (m_horizontal)
        m_layout->addSpacerItem(
            new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    else
        m_layout->addSpacerItem(
            new QSpacerItem(20, 20, QSizePolicy::Minimum, QSizePolicy::Expanding));
    updateGeometry();
}
