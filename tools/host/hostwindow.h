// The host's window: embeds the logger's frameless window by its native handle, shows the
// conversation with the logger, sends typed lines and ends the logger when it is closed.
#pragma once

#include <QColor>
#include <QSize>
#include <QWidget>

#include "loggerprocess.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

class HostWindow : public QWidget
{
    Q_OBJECT

public:
    // The size the logger gives its window at start-up; the embedding area is never smaller.
    static QSize loggerSize() { return QSize(1000, 600); }

    explicit HostWindow(QWidget *parent = nullptr);

    LoggerProcess *logger() const { return loggerProcess; }
    // Starts the logger on the resource; its window is embedded once it announces it.
    void startLogger(const QString &resource);

    // 0 when the logger ended normally with status 0, 1 otherwise (also when it never ran).
    int exitCode() const;
    quint64 embeddedWindowId() const { return embeddedId; }
    QColor announcedBackground() const { return background; }
    QWidget *embeddingArea() const { return embedFrame; }
    QLineEdit *lineEdit() const { return inputEdit; }
    QString logText() const;
    QString statusText() const;

    // Asks the logger to end and closes once it has; a second request ends it at once.
    void requestClose();

signals:
    void windowEmbedded(quint64 windowId);
    void loggerEnded(const LoggerOutcome &outcome);

protected:
    void closeEvent(QCloseEvent *event) override;
    // Tab (or Shift+Tab) into the logger's window hands it the keyboard.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildUi();
    void sendTypedLine();
    void embed(const WindowAnnouncement &announcement);
    void setBackground(const QColor &colour);
    void handleEnded(const LoggerOutcome &outcome);
    // One line of the conversation: shown in the log and mirrored on standard output, where
    // scripts driving the host read it.
    void note(const QString &kind, const QString &text);

    LoggerProcess *loggerProcess = nullptr;
    QWidget *embedFrame = nullptr;
    QVBoxLayout *embedLayout = nullptr;
    QLabel *placeholder = nullptr;
    QWidget *container = nullptr;
    QPlainTextEdit *logView = nullptr;
    QLineEdit *inputEdit = nullptr;
    QPushButton *sendButton = nullptr;
    QLabel *statusLabel = nullptr;
    QColor background;
    quint64 embeddedId = 0;
    bool closeRequested = false;
    bool closeAllowed = false;
};
