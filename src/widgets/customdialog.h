// Frameless modal dialog with its own dark title bar, dragged by that bar and
// centred on its parent when shown.
#pragma once

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

class CustomDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CustomDialog(const QString &title, QWidget *parent = nullptr);

    void addContentWidget(QWidget *widget);
    void addContentLayout(QLayout *layout);

    QWidget *titleBar() const { return m_titleBar; }
    QWidget *contentWidget() const { return m_content; }
    QPushButton *closeButton() const { return m_closeButton; }
    QString title() const;

public slots:
    void onCloseClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *m_titleBar = nullptr;
    QHBoxLayout *m_titleLayout = nullptr;
    QWidget *m_content = nullptr;
    QVBoxLayout *m_contentLayout = nullptr;
    QPushButton *m_closeButton = nullptr;
    int m_dragOffsetX = 0;
    int m_dragOffsetY = 0;
    bool m_dragging = false;
    QLabel *m_titleLabel = nullptr;
};
