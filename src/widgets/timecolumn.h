// One numeric column of the time picker: a fixed-width, overwrite-mode digit field
// with a caption above, arrow buttons while it has focus and an optional separator.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QStackedLayout;
class QToolButton;

class TimeColumn : public QWidget
{
    Q_OBJECT

public:
    // caption as "HH"; separator shown left of the digits, empty for none.
    TimeColumn(const QString &caption, int minimum, int maximum, int digits,
               const QString &separator, QWidget *parent = nullptr);

    int value() const { return m_value; }
    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    int digits() const { return m_digits; }
    QString text() const;
    QLineEdit *lineEdit() const { return m_edit; }
    // Whether the arrow buttons (rather than caption and filler) are showing.
    bool arrowsShown() const;

    void setValue(int value);
    void setRange(int minimum, int maximum);
    void setSeparatorVisible(bool visible);

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void valueChanged(int value);
    void focusNext();
    void focusPrev();

public slots:
    void inc();
    void dec();
    void onEditingFinished();
    void onTextChanged(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    QString padded(int number) const;
    void showText(const QString &text);
    void showArrows(bool arrows);
    void adjustWidth();
    bool editKeyPress(QKeyEvent *event);
    void typeDigit(QChar digit);
    void zeroDigitAt(int index);

    int m_minimum;
    int m_maximum;
    int m_value;
    int m_digits;
    bool m_textGuard = false;
    QToolButton *m_upButton = nullptr;
    QToolButton *m_downButton = nullptr;
    QLabel *m_caption = nullptr;
    QLabel *m_bottomFiller = nullptr;
    QLabel *m_separator = nullptr;
    bool m_separatorHidden = false;
    QLineEdit *m_edit = nullptr;
    QStackedLayout *m_topStack = nullptr;
    QStackedLayout *m_bottomStack = nullptr;
};
