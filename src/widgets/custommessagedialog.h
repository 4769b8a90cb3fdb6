// The process-wide message box: a small frameless dialog with an icon and a text
// that closes itself after a given time.
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
    bool autoClosePending() const;

private:
    explicit CustomMessageDialog(QWidget *parent = nullptr);

    QLabel *m_iconLabel = nullptr;
    QLabel *m_textLabel = nullptr;
    QPushButton *m_closeButton = nullptr;
    QTimer *m_autoClose = nullptr;
};
