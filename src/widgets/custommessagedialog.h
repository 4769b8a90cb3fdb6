// The process-wide message box: a small frameless dialog with an icon and a text
// that closes itself after a given time. A text too long for the small box widens the box,
// up to two thirds of the screen, and then makes it taller; it breaks between words and,
// inside a word too long for a line (a file path), anywhere.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;

class CustomMessageDialog : public QDialog
{
    Q_OBJECT

public:
    enum MessageType
    {
        Warning = 0,
        Error = 1,
        Information = 2
    };

    // Created without parent on first use and kept for the life of the process.
    static CustomMessageDialog *sharedMessageDialog();

    // type: 0 warning, 1 error, 2 information (others: error icon, title kept);
    // autoCloseMs > 0 closes the dialog that long after the latest message. A message without
    // an auto-close time stays until it is dismissed: a closing message shown over it gives
    // way to it again when its time is up.
    void showMessage(const QString &text, int type, int autoCloseMs);
    // The message that stays until dismissed; empty when there is none.
    QString pinnedText() const { return pinned.text; }

    QString text() const;
    QPixmap iconPixmap() const;
    QPushButton *closeButton() const { return m_closeButton; }
    QLabel *textLabel() const { return m_textLabel; }
    bool autoClosePending() const;

    static constexpr int kBaseWidth = 200;
    static constexpr int kBaseHeight = 50;

protected:
    // However the dialog goes away (its X, close(), hide()), the message that stayed is gone.
    void hideEvent(QHideEvent *event) override;

private:
    explicit CustomMessageDialog(QWidget *parent = nullptr);
    void display(const QString &text, int type);
    void fitToText();
    void onAutoClose();
    void dismiss();

    struct Pinned
    {
        QString text;
        int type = Error;
    } pinned;

    QLabel *m_iconLabel = nullptr;
    QLabel *m_textLabel = nullptr;
    QPushButton *m_closeButton = nullptr;
    QTimer *m_autoClose = nullptr;
};
