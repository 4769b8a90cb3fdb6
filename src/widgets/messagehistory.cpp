#include "messagehistory.h"

#include <QGuiApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include "custommessagedialog.h"

void MessageHistory::add(int kind, const QString &text, const QDateTime &time)
{
    list.append({time, kind, text});
    if (list.size() > MaxEntries)
        list.removeFirst();
    if (kind != CustomMessageDialog::Information)
        ++unseen;
    emit changed();
}

void MessageHistory::markSeen()
{
    if (unseen == 0)
        return;
    unseen = 0;
    emit changed();
}

QString MessageHistory::kindName(int kind)
{
    switch (kind) {
    case CustomMessageDialog::Warning:
        return tr("警告");
    case CustomMessageDialog::Information:
        return tr("信息");
    default:
        return tr("错误");
    }
}

QString MessageHistory::text() const
{
    QStringList lines;
    for (const Entry &entry : list)
        lines << QStringLiteral("%1  %2  %3")
                     .arg(entry.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                          kindName(entry.kind), entry.text);
    return lines.join(QLatin1Char('\n'));
}

MessageHistoryDialog::MessageHistoryDialog(MessageHistory &history, QWidget *parent)
    : CustomDialog(tr("消息记录"), parent)
    , history(history)
{
    // Read while the run goes on: the window stays usable.
    setModal(false);
    textView = new QPlainTextEdit;
    textView->setReadOnly(true);
    textView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    textView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    textView->setStyleSheet(QStringLiteral("background:#171717;color:white;"));
    textView->setAccessibleName(tr("消息记录"));
    textView->setMinimumSize(520, 260);
    addContentWidget(textView);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *copyButton = new QPushButton(tr("全部复制"));
    copyButton->setAccessibleDescription(tr("将全部消息及其时间复制到剪贴板"));
    copyButton->setAutoDefault(false);
    connect(copyButton, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(this->history.text()); });
    buttons->addWidget(copyButton);
    addContentLayout(buttons);

    connect(&history, &MessageHistory::changed, this, [this] {
        if (isVisible())
            refresh();
    });
}

void MessageHistoryDialog::showEvent(QShowEvent *event)
{
    refresh();
    CustomDialog::showEvent(event);
    textView->setFocus();
}

void MessageHistoryDialog::refresh()
{
    // What is open in front of the user has been seen.
    history.markSeen();
    const QString text = history.text();
    if (textView->toPlainText() == text)
        return;
    textView->setPlainText(text);
    textView->verticalScrollBar()->setValue(textView->verticalScrollBar()->maximum());
}
