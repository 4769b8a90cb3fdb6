// Every message the window showed, with its time, kept for the life of the window: a toast
// closes itself, the history does not. Warnings and errors count as unseen until the history
// is opened.
#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include "customdialog.h"

class QPlainTextEdit;

class MessageHistory : public QObject
{
    Q_OBJECT
public:
    struct Entry
    {
        QDateTime time;
        int kind = 0; // as CustomMessageDialog::MessageType
        QString text;
    };
    // Oldest entries go first once there are more; a run of days stays readable.
    static constexpr int MaxEntries = 1000;

    using QObject::QObject;

    void add(int kind, const QString &text, const QDateTime &time = QDateTime::currentDateTime());
    const QList<Entry> &entries() const { return list; }
    int unseenCount() const { return unseen; }
    void markSeen();

    // One line per entry, oldest first: "yyyy-MM-dd hh:mm:ss  <kind>  <text>".
    QString text() const;
    static QString kindName(int kind);

signals:
    void changed();

private:
    QList<Entry> list;
    int unseen = 0;
};

// The history shown to the user: read-only, selectable and copyable text, newest at the end.
class MessageHistoryDialog : public CustomDialog
{
    Q_OBJECT
public:
    explicit MessageHistoryDialog(MessageHistory &history, QWidget *parent = nullptr);

    QPlainTextEdit *view() const { return textView; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    MessageHistory &history;
    QPlainTextEdit *textView = nullptr;
};
