// Translucent overlay covering its parent window: a rotating spinner with a loading
// text (busy mode) or a communication-lost message with a resume button (confirm mode).
#pragma once

#include <QGraphicsView>

class QLabel;
class QPushButton;
class QTimer;

class LoadingView : public QGraphicsView
{
    Q_OBJECT

public:
    enum Mode
    {
        BusyMode = 0,
        ConfirmMode = 1
    };
    static constexpr int kTickMs = 80;
    static constexpr int kTickDegrees = 12;

    explicit LoadingView(int mode, QWidget *parent = nullptr);

    void startLoading();
    void stopLoading();
    void setLoadingText(const QString &text);
    // Confirm mode: what is known about the lost link, below the fixed message.
    void setDetailText(const QString &text);

    int mode() const { return m_mode; }
    bool isSpinning() const { return m_spinning; }
    int angle() const { return m_angle; }
    QLabel *textLabel() const { return m_textLabel; }
    QLabel *messageLabel() const { return m_messageLabel; }
    QPushButton *resumeButton() const { return m_resumeButton; }

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void confirmRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void advance();
    void onResumeClicked();
    void relayoutOverlay();
    void coverParent();

    int m_angle = 0;
    QTimer *m_timer = nullptr;
    int m_mode = BusyMode;
    bool m_spinning = false;
    QLabel *m_textLabel = nullptr;
    QLabel *m_messageLabel = nullptr;
    QPushButton *m_resumeButton = nullptr;
};
