// Collapsible side panel: a 20-pixel strip with a turned title that opens, with a
// width animation, into a header button above a content widget.
#pragma once

#include <QWidget>

class CustomSideButton;
class QHBoxLayout;
class QPropertyAnimation;
class QVBoxLayout;

class SideBar : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kStripWidth = 20;
    static constexpr int kAnimationMs = 300;

    explicit SideBar(QWidget *parent = nullptr);

    void setExpandedWidth(int width);
    int expandedWidth() const { return m_openWidth; }
    void setTitle(const QString &title);
    // false: the header points left and the strip right (a bar at the left edge).
    void setArrowSide(bool arrowSide);
    QWidget *contentWidget() const { return m_content; }
    bool isOpen() const { return m_open; }
    CustomSideButton *headerButton() const { return m_headerButton; }
    CustomSideButton *stripButton() const { return m_stripButton; }

public slots:
    void onHideAnimFinished();
    void onHideBtnClicked();
    void onShowBtnClicked();

private:
    CustomSideButton *m_headerButton = nullptr;
    CustomSideButton *m_stripButton = nullptr;
    QWidget *m_content = nullptr;
    QHBoxLayout *m_mainLayout = nullptr;
    QVBoxLayout *m_stripColumn = nullptr;
    QVBoxLayout *m_openColumn = nullptr;
    QPropertyAnimation *m_openAnimation = nullptr;
    QPropertyAnimation *m_closeAnimation = nullptr;
    int m_openWidth = 100;
    bool m_arrowSide = false;
    bool m_open = false;
};
