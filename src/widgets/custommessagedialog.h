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
    // autoCloseMs > 0 closes the dialog that long after the latest message.
    void showMessage(const QString &text, int type, int autoCloseMs);

    QString text() const;
    QPixmap iconPixmap() const;
    QPushButton *closeButton() const { return m_closeButton; }
    QLabel *textLabel() const { return m_textLabel; }
    bool autoClosePending() const;

    static constexpr int kBaseWidth = 200;
    static constexpr int kBaseHeight = 50;

private:
    explicit CustomMessageDialog(QWidget *parent = nullptr);
    void fitToText();

    QLabel *m_iconLabel = nullptr;
    QLabel *m_textLabel = nullptr;
    QPushButton *m_closeButton = nullptr;
    QTimer *m_autoClose = nullptr;
};
