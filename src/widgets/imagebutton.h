// Push button that paints its own icon(s) and text in one of five arrangements
// (icon left, right, above, below, or icons on both sides of the text).
#pragma once

#include <QIcon>
#include <QPushButton>

class ImageButton : public QPushButton
{
    Q_OBJECT

public:
    enum IconPosition
    {
        Left = 0,
        Right = 1,
        Top = 2,
        Bottom = 3,
        LeftAndRight = 4
    };
    Q_ENUM(IconPosition)

    // Where the pieces are painted; a null rectangle for a piece that is not drawn.
    struct Geometry
    {
        QRect block;
        QRect icon;
        QRect text;
        QRect rightIcon;
    };

    // The dark theme's focus colour (its style sheet's "Focus").
    static constexpr QRgb FocusMarkColour = 0xFFFFBE3C;

    explicit ImageButton(QWidget *parent = nullptr);
    explicit ImageButton(const QString &text, QWidget *parent = nullptr);
    ImageButton(const QIcon &icon, const QString &text, const QIcon &rightIcon,
                QWidget *parent = nullptr);

    void setIcon(const QIcon &icon);
    void setRightIcon(const QIcon &icon);
    void setText(const QString &text);
    void setIconSize(const QSize &size);
    void setIconSize(int width, int height);
    void setIconPosition(int position);
    void setImageSpacing(int spacing);

    QIcon icon() const { return m_icon; }
    QIcon rightIcon() const { return m_rightIcon; }
    QString text() const { return m_text; }
    QSize iconSize() const { return QSize(m_iconWidth, m_iconHeight); }
    int iconPosition() const { return m_position; }
    int imageSpacing() const { return m_spacing; }

    Geometry contentGeometry() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QIcon m_icon;
    QIcon m_rightIcon;
    QString m_text;
    int m_iconWidth = 16;
    int m_iconHeight = 16;
    int m_position = Left;
    int m_spacing = 0;
};
