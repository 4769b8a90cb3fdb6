// Flat button of the side bar showing a small icon and a text, laid out in a row or
// in a column (with the text turned for a vertical strip).
#pragma once

#include <QPushButton>

class QBoxLayout;
class QLabel;
class RotatedLabel;

class CustomSideButton : public QPushButton
{
    Q_OBJECT

public:
    explicit CustomSideButton(QWidget *parent = nullptr);

    void setHorizontal(bool horizontal);
    void setRotated(bool rotated);
    // Hides QPushButton::setText: the text is drawn by the button's own label.
    void setText(const QString &text);
    void setIconPixmap(const QPixmap &pixmap);

    bool isHorizontal() const { return m_horizontal; }
    QString labelText() const;
    QLabel *iconLabel() const { return m_iconLabel; }
    RotatedLabel *textLabel() const { return m_textLabel; }

private:
    void relayout();

    bool m_horizontal = false;
    QLabel *m_iconLabel = nullptr;
    RotatedLabel *m_textLabel = nullptr;
    QBoxLayout *m_layout = nullptr;
};
