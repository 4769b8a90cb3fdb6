#include "customdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

CustomDialog::CustomDialog(const QString &title, QWidget *parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint);
    setModal(true);
    setMinimumSize(300, 200);
    setWindowTitle(title);

    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(1, 1, 1, 1);
    mainLayout->setSpacing(0);

    m_titleBar = new QWidget(this);
    m_titleBar->setFixedHeight(35);
    m_titleBar->setStyleSheet(QStringLiteral("background-color: #222222;"));
    m_titleLayout = new QHBoxLayout(m_titleBar);
    m_titleLayout->setContentsMargins(10, 0, 5, 0);
    m_titleLayout->setSpacing(5);

    m_titleLabel = new QLabel(title, m_titleBar);
    m_titleLabel->setStyleSheet(QStringLiteral("font-weight: bold; color: white;"));
    m_closeButton = new QPushButton(tr("X"), m_titleBar);
    m_closeButton->setFixedSize(30, 30);
    m_closeButton->setAccessibleName(tr("关闭对话框"));
    // Enter never closes a dialog by way of its title bar; Esc does.
    m_closeButton->setAutoDefault(false);
    m_closeButton->setStyleSheet(
        QStringLiteral("QPushButton { background: transparent; border: none; color: white; }"
                       "QPushButton:hover { background: #e74c3c; }"));
    connect(m_closeButton, &QPushButton::clicked, this, &CustomDialog::onCloseClicked);

    m_titleLayout->addWidget(m_titleLabel);
    m_titleLayout->addStretch();
    m_titleLayout->addWidget(m_closeButton);

    m_content = new QWidget(this);
    m_contentLayout = new QVBoxLayout(m_content);
    m_contentLayout->setContentsMargins(0, 0, 0, 0);
    m_contentLayout->setSpacing(10);

    mainLayout->addWidget(m_titleBar, 0);
    mainLayout->addWidget(m_content, 1);
}

void CustomDialog::addContentWidget(QWidget *widget)
{
    m_contentLayout->addWidget(widget);
}

void CustomDialog::addContentLayout(QLayout *layout)
{
    m_contentLayout->addLayout(layout);
}

QString CustomDialog::title() const
{
    return m_titleLabel->text();
}

void CustomDialog::onCloseClicked()
{
    close();
}

void CustomDialog::mousePressEvent(QMouseEvent *event)
{
    // A drag belongs to the press that started it: a press on the content that then
    // slides into the title bar must not move the dialog by a stale offset.
    m_dragging = false;
    if (event->button() == Qt::LeftButton && m_titleBar->geometry().contains(event->pos())) {
        m_dragging = true;
        const QPoint offset = event->globalPos() - frameGeometry().topLeft();
        m_dragOffsetX = offset.x();
        m_dragOffsetY = offset.y();
        event->accept();
    }
    QDialog::mousePressEvent(event);
}

void CustomDialog::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton) &&
        m_titleBar->geometry().contains(event->pos())) {
        move(event->globalPos() - QPoint(m_dragOffsetX, m_dragOffsetY));
        event->accept();
    }
    QDialog::mouseMoveEvent(event);
}

void CustomDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    QWidget *parent = parentWidget();
    if (parent && parent->isVisible()) {
        const QRect area = parent->frameGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}
