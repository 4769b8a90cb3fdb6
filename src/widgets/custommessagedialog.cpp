#include "custommessagedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <QTimer>

#include <cmath>

namespace {

const char kGround[] = "background:rgb(87, 87, 87);";

// A label whose text breaks between words and, where a word is longer than a line, anywhere
// inside it (QLabel's word wrap would let a long path run out of the box).
class WrappingLabel : public QLabel
{
public:
    using QLabel::QLabel;

    // Lays the text out lines of width wide; the widest line and the height of all.
    QSizeF layOut(qreal width, QTextLayout *layout) const
    {
        QString shown = text();
        shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
        layout->setText(shown);
        layout->setFont(font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout->setTextOption(option);
        qreal height = 0;
        qreal widest = 0;
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, height));
            height += line.height();
            widest = qMax(widest, line.naturalTextWidth());
        }
        layout->endLayout();
        return QSizeF(widest, height);
    }

    // The text on as few lines as it has, without breaking any.
    int naturalWidth() const
    {
        QTextLayout layout;
        return int(std::ceil(layOut(1e6, &layout).width()));
    }

    bool hasHeightForWidth() const override { return true; }

    int heightForWidth(int width) const override
    {
        const QMargins m = contentsMargins();
        QTextLayout layout;
        const QSizeF size = layOut(qMax(1, width - m.left() - m.right()), &layout);
        return int(std::ceil(size.height())) + m.top() + m.bottom();
    }

    QSize sizeHint() const override
    {
        const int width = naturalWidth() + contentsMargins().left() + contentsMargins().right();
        return QSize(width, heightForWidth(width));
    }

    QSize minimumSizeHint() const override { return QSize(0, 0); }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QFrame::paintEvent(event);
        const QRect area = contentsRect();
        QTextLayout layout;
        const QSizeF size = layOut(area.width(), &layout);
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        // Left-aligned, centred top to bottom as the label was.
        layout.draw(&painter, QPointF(area.left(),
                                      area.top() + qMax(0.0, (area.height() - size.height()) / 2)));
    }
};

} // namespace

CustomMessageDialog *CustomMessageDialog::sharedMessageDialog()
{
    // Deliberately never deleted: messages may be posted until the process ends.
    static CustomMessageDialog *const instance = new CustomMessageDialog;
    return instance;
}

CustomMessageDialog::CustomMessageDialog(QWidget *parent)
    : QDialog(parent)
{
    setFixedSize(kBaseWidth, kBaseHeight);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setStyleSheet(QStringLiteral("QDialog {    background-color: rgb(87, 87, 87);    "
                                 "border-radius: 5px;    border: 1px solid white;}"));

    m_iconLabel = new QLabel(this);
    m_iconLabel->setStyleSheet(QLatin1String(kGround));
    m_iconLabel->setFixedSize(30, 25);

    m_textLabel = new WrappingLabel(this);
    m_textLabel->setStyleSheet(
        QStringLiteral("background:rgb(87, 87, 87);color: white; font-size: 12px;"));
    m_textLabel->setWordWrap(true);

    m_closeButton = new QPushButton(tr("X"), this);
    m_closeButton->setStyleSheet(QLatin1String(kGround));
    m_closeButton->setFixedSize(25, 20);
    m_closeButton->setAccessibleName(tr("关闭消息"));
    connect(m_closeButton, &QPushButton::clicked, this, &CustomMessageDialog::dismiss);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 1, 1, 5);
    layout->setSpacing(0);
    layout->addWidget(m_iconLabel);
    layout->addWidget(m_textLabel);
    layout->addWidget(m_closeButton, 0, Qt::AlignTop);

    // One timer for all messages: a message shown while an earlier one is still up
    // gets its full time instead of being closed by the earlier message's deadline.
    m_autoClose = new QTimer(this);
    m_autoClose->setSingleShot(true);
    connect(m_autoClose, &QTimer::timeout, this, &CustomMessageDialog::onAutoClose);
}

void CustomMessageDialog::showMessage(const QString &text, int type, int autoCloseMs)
{
    display(text, type);
    m_autoClose->stop();
    if (autoCloseMs > 0) {
        m_autoClose->setTimerType(autoCloseMs >= 2000 ? Qt::CoarseTimer : Qt::PreciseTimer);
        m_autoClose->start(autoCloseMs);
    } else {
        pinned = {text, type};
    }
    show();
}

void CustomMessageDialog::onAutoClose()
{
    if (pinned.text.isEmpty()) {
        close();
        return;
    }
    display(pinned.text, pinned.type);
}

void CustomMessageDialog::dismiss()
{
    m_autoClose->stop();
    close();
}

void CustomMessageDialog::hideEvent(QHideEvent *event)
{
    pinned = {};
    QDialog::hideEvent(event);
}

void CustomMessageDialog::display(const QString &text, int type)
{
    m_textLabel->setText(text);
    QStyle::StandardPixmap icon = QStyle::SP_MessageBoxCritical;
    switch (type) {
    case Warning:
        setWindowTitle(tr("警告"));
        icon = QStyle::SP_MessageBoxWarning;
        break;
    case Error:
        setWindowTitle(tr("错误"));
        break;
    case Information:
        setWindowTitle(tr("信息"));
        icon = QStyle::SP_MessageBoxInformation;
        break;
    default:
        break;
    }
    m_iconLabel->setPixmap(style()->standardIcon(icon).pixmap(25, 25));
    fitToText();
    // A screen reader reads the message from the dialog's name.
    setAccessibleName(tr("%1：%2").arg(windowTitle(), text));
}

void CustomMessageDialog::fitToText()
{
    // The label's style sheet (its font size) applies from its first polish on.
    m_textLabel->ensurePolished();
    const auto *label = static_cast<const WrappingLabel *>(m_textLabel);
    const QMargins margins = layout()->contentsMargins();
    const int besideText = margins.left() + margins.right() + m_iconLabel->width() +
                           m_closeButton->width() + 2 * layout()->spacing();
    const int aboveAndBelow = margins.top() + margins.bottom();
    const QScreen *shownOn = screen();
    const QRect available = shownOn ? shownOn->availableGeometry() : QRect(0, 0, 1024, 768);

    // Short texts keep the small box; longer ones widen it before it grows taller.
    int textWidth = kBaseWidth - besideText;
    if (label->heightForWidth(textWidth) > kBaseHeight - aboveAndBelow) {
        const int widest = qMax(textWidth, available.width() * 2 / 3 - besideText);
        textWidth = qBound(textWidth, label->naturalWidth() + 1, widest);
    }
    const int height = qMin(available.height(),
                            qMax(kBaseHeight, label->heightForWidth(textWidth) + aboveAndBelow));
    setFixedSize(textWidth + besideText, height);
}

QString CustomMessageDialog::text() const
{
    return m_textLabel->text();
}

QPixmap CustomMessageDialog::iconPixmap() const
{
    return m_iconLabel->pixmap(Qt::ReturnByValue);
}

bool CustomMessageDialog::autoClosePending() const
{
    return m_autoClose->isActive();
}
