// A label that can draw its text turned by 90 degrees, for vertical strips.
#pragma once

#include <QLabel>

class RotatedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit RotatedLabel(QWidget *parent = nullptr);

    bool isRotated() const { return m_rotated; }
    void setRotated(bool rotated);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_rotated = false;
};
