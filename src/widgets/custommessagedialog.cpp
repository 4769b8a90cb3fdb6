#include "custommessagedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

namespace {

const char kGround[] = "background:rgb(87, 87, 87);";

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
    setFixedSize(200, 50);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setStyleSheet(QStringLiteral("QDialog {    background-color: rgb(87, 87, 87);    "
                                 "border-radius: 5px;    border: 1px solid white;}"));

    m_iconLabel = new QLabel(this);
    m_iconLabel->setStyleSheet(QLatin1String(kGround));
    m_iconLabel->setFixedSize(30, 25);

    m_textLabel = new QLabel(this);
    m_textLabel->setStyleSheet(
        QStringLiteral("background:rgb(87, 87, 87);color: white; font-size: 12px;"));
    m_textLabel->setWordWrap(true);

    m_closeButton = new QPushButton(tr("X"), this);
    m_closeButton->setStyleSheet(QLatin1String(kGround));
    m_closeButton->setFixedSize(25, 20);
    connect(m_closeButton, &QPushButton::clicked, this, &CustomMessageDialog::close);

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
    connect(m_autoClose, &QTimer::timeout, this, &CustomMessageDialog::close);
}

void CustomMessageDialog::showMessage(const QString &text, int type, int autoCloseMs)
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

    m_autoClose->stop();
    if (autoCloseMs > 0) {
        m_autoClose->setTimerType(autoCloseMs >= 2000 ? Qt::CoarseTimer : Qt::PreciseTimer);
        m_autoClose->start(autoCloseMs);
    }
    show();
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
