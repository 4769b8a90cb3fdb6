#include "loadingview.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

namespace {

const char kLabelStyle[] = "QLabel{ color: white; font: 14px '微软雅黑'; background:transparent; }";
const char kMessageStyle[] =
    "QLabel{ color: white; font: 14px '微软雅黑'; background:transparent; text-align: center; }";
const char kButtonStyle[] =
    "QPushButton{ color: white; background-color: #333333; border: 1px solid #666666; "
    "font: 14px '微软雅黑'; padding: 6px 12px; border-radius: 4px; } "
    "QPushButton:hover{ background-color: #444444; }"
    "QPushButton:pressed{ background-color: #555555; }";

} // namespace

LoadingView::LoadingView(int mode, QWidget *parent)
    : QGraphicsView(parent)
    , m_mode(mode)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral("background: transparent;"));
    // A frame or scroll bars would leave a border around the covered window.
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_timer = new QTimer(this);
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &LoadingView::advance);

    // On the viewport, not the view: a screen reader reaches a scroll area's viewport and scroll
    // bars only, so widgets placed beside them would be out of its reach.
    if (m_mode == ConfirmMode) {
        m_messageLabel = new QLabel(tr("应用程序将在恢复通信时与仪器同步。"), viewport());
        m_messageLabel->setStyleSheet(QString::fromUtf8(kMessageStyle));
        m_messageLabel->setAlignment(Qt::AlignCenter);
        m_messageLabel->setWordWrap(true);
        m_resumeButton = new QPushButton(tr("恢复"), viewport());
        m_resumeButton->setAccessibleName(tr("恢复通信"));
        m_resumeButton->setAccessibleDescription(m_messageLabel->text());
        m_resumeButton->setStyleSheet(QString::fromUtf8(kButtonStyle));
        connect(m_resumeButton, &QPushButton::clicked, this, &LoadingView::onResumeClicked);
    }
    m_textLabel = new QLabel(tr("正在加载，请稍等..."), viewport());
    m_textLabel->setStyleSheet(QString::fromUtf8(kLabelStyle));
    m_textLabel->setAlignment(Qt::AlignCenter);
    m_textLabel->adjustSize();
    if (m_mode == ConfirmMode)
        m_textLabel->hide();

    if (parent) {
        parent->installEventFilter(this);
        coverParent();
        raise();
    }
    // Nothing covers the window until startLoading asks for it, whether or not the
    // parent is already on screen.
    hide();
}

void LoadingView::startLoading()
{
    if (!isVisible()) {
        if (parentWidget()) {
            coverParent();
            relayoutOverlay();
            raise();
        }
        show();
    }
    m_spinning = m_mode != ConfirmMode;
    if (m_spinning) {
        m_timer->start();
    } else {
        // Asked again after "恢复" switched to the spinner (the retry failed): offer
        // the message and the button again rather than a spinner that never stops.
        m_timer->stop();
        m_textLabel->hide();
        m_messageLabel->show();
        m_resumeButton->show();
        relayoutOverlay();
    }
    viewport()->update();
}

void LoadingView::stopLoading()
{
    m_timer->stop();
    m_spinning = false;
    hide();
    if (m_mode == ConfirmMode) {
        m_messageLabel->show();
        m_resumeButton->show();
        m_textLabel->hide();
    }
}

void LoadingView::setDetailText(const QString &text)
{
    if (m_mode != ConfirmMode)
        return;
    const QString message = tr("应用程序将在恢复通信时与仪器同步。");
    m_messageLabel->setText(text.isEmpty() ? message : message + QLatin1Char('\n') + text);
    m_resumeButton->setAccessibleDescription(m_messageLabel->text());
    m_messageLabel->adjustSize();
    relayoutOverlay();
}

void LoadingView::setLoadingText(const QString &text)
{
    m_textLabel->setText(text);
    m_textLabel->adjustSize();
    relayoutOverlay();
}

bool LoadingView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        coverParent();
        relayoutOverlay();
    }
    return QGraphicsView::eventFilter(watched, event);
}

void LoadingView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillRect(viewport()->rect(), QColor(40, 40, 40, 220));
    if (!m_spinning)
        return;

    const int w = viewport()->width();
    const int h = viewport()->height();
    const int outer = qMin(w, h) / 8;
    const int inner = int(outer * 0.7);
    painter.setPen(QPen(QColor(153, 153, 153), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.translate(w * 0.5, h * 0.5 - 20);
    painter.rotate(m_angle);
    const QRect outerSquare(-outer, -outer, 2 * outer, 2 * outer);
    for (int start : {0, 120, 240})
        painter.drawArc(outerSquare, start * 16, 45 * 16);
    const QRect innerSquare(-inner, -inner, 2 * inner, 2 * inner);
    for (int start : {60, 180, 300})
        painter.drawArc(innerSquare, start * 16, 45 * 16);
}

void LoadingView::showEvent(QShowEvent *event)
{
    QGraphicsView::showEvent(event);
    if (parentWidget()) {
        relayoutOverlay();
        raise();
    }
}

void LoadingView::advance()
{
    m_angle = (m_angle + kTickDegrees) % 360;
    viewport()->update();
}

void LoadingView::onResumeClicked()
{
    m_messageLabel->hide();
    m_resumeButton->hide();
    m_textLabel->show();
    relayoutOverlay();
    m_spinning = true;
    m_timer->start();
    viewport()->update();
    emit confirmRequested();
}

void LoadingView::coverParent()
{
    if (QWidget *parent = parentWidget())
        setGeometry(0, 0, parent->width(), parent->height());
}

void LoadingView::relayoutOverlay()
{
    const int w = width();
    const int h = height();
    if (m_mode == ConfirmMode && !m_messageLabel->isHidden()) {
        const int labelWidth = qMin(m_messageLabel->sizeHint().width(), int(w * 0.6));
        m_messageLabel->setFixedWidth(labelWidth);
        m_messageLabel->setFixedHeight(m_messageLabel->heightForWidth(labelWidth));
        m_messageLabel->move((w - labelWidth) / 2, int(h * 0.3));
    }
    if (m_mode == ConfirmMode && !m_resumeButton->isHidden()) {
        m_resumeButton->adjustSize();
        m_resumeButton->move((w - m_resumeButton->width()) / 2, int(h * 0.5));
    }
    if (!m_textLabel->isHidden())
        m_textLabel->move((w - m_textLabel->width()) / 2, qMin(w, h) / 8 + h / 2);
}
