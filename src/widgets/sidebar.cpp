#include "sidebar.h"

#include "customsidebutton.h"

#include <QHBoxLayout>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QVBoxLayout>

namespace {

QPropertyAnimation *makeWidthAnimation(QWidget *target)
{
    auto *animation = new QPropertyAnimation(target, "minimumWidth", target);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setDuration(SideBar::kAnimationMs);
    return animation;
}

} // namespace

SideBar::SideBar(QWidget *parent)
    : QWidget(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_StyledBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);

    m_headerButton = new CustomSideButton(this);
    m_headerButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_stripButton = new CustomSideButton(this);
    m_stripButton->setFixedWidth(kStripWidth);
    m_stripButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    // Tab stops; a click does not leave a focus mark on them.
    m_headerButton->setFocusPolicy(Qt::TabFocus);
    m_stripButton->setFocusPolicy(Qt::TabFocus);
    m_content = new QWidget(this);
    m_content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    m_mainLayout = new QHBoxLayout(this);
    m_openColumn = new QVBoxLayout;
    m_stripColumn = new QVBoxLayout;
    for (QBoxLayout *layout :
         {static_cast<QBoxLayout *>(m_mainLayout), static_cast<QBoxLayout *>(m_openColumn),
          static_cast<QBoxLayout *>(m_stripColumn)}) {
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    m_openColumn->addWidget(m_headerButton);
    m_openColumn->addWidget(m_content);
    m_stripColumn->addWidget(m_stripButton);
    m_mainLayout->addLayout(m_openColumn);
    m_mainLayout->addLayout(m_stripColumn);

    m_openAnimation = makeWidthAnimation(this);
    m_closeAnimation = makeWidthAnimation(this);
    connect(m_closeAnimation, &QPropertyAnimation::finished, this, &SideBar::onHideAnimFinished);
    connect(m_headerButton, &CustomSideButton::clicked, this, &SideBar::onHideBtnClicked);
    connect(m_stripButton, &CustomSideButton::clicked, this, &SideBar::onShowBtnClicked);

    m_headerButton->hide();
    m_content->hide();
}

void SideBar::setExpandedWidth(int width)
{
    m_openWidth = width;
    setMinimumWidth(kStripWidth);
    setMaximumWidth(width);
    m_headerButton->setMaximumWidth(width - kStripWidth);
}

void SideBar::setTitle(const QString &title)
{
    m_headerButton->setText(title);
    m_headerButton->setRotated(false);
    m_stripButton->setText(title);
    m_stripButton->setRotated(true);
}

void SideBar::setArrowSide(bool arrowSide)
{
    m_arrowSide = arrowSide;
    const QPixmap left(QStringLiteral(":/dark/arrow_left.png"));
    const QPixmap right(QStringLiteral(":/dark/arrow_right.png"));
    m_headerButton->setIconPixmap(arrowSide ? right : left);
    m_stripButton->setIconPixmap(arrowSide ? left : right);
    m_headerButton->setHorizontal(true);
    m_stripButton->setHorizontal(false);
}

void SideBar::onShowBtnClicked()
{
    if (m_openAnimation->state() == QAbstractAnimation::Running || m_open)
        return;
    m_content->show();
    m_headerButton->show();
    m_stripButton->hide();
    m_openAnimation->setStartValue(kStripWidth);
    m_openAnimation->setEndValue(m_openWidth);
    m_openAnimation->start();
    m_open = true;
}

void SideBar::onHideBtnClicked()
{
    if (m_closeAnimation->state() == QAbstractAnimation::Running || !m_open)
        return;
    m_stripButton->hide();
    m_closeAnimation->setStartValue(m_openWidth);
    m_closeAnimation->setEndValue(kStripWidth);
    m_closeAnimation->start();
}

void SideBar::onHideAnimFinished()
{
    m_content->hide();
    m_headerButton->hide();
    m_stripButton->show();
    m_open = false;
}
