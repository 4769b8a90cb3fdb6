#include "timecolumn.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton *makeArrowButton(Qt::ArrowType arrow, QWidget *column)
{
    auto *button = new QToolButton(column);
    button->setArrowType(arrow);
    button->setAutoRaise(true);
    button->setMaximumHeight(12);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    button->setStyleSheet(QStringLiteral("QToolButton { padding: 0px; border: none; }"));
    // For the mouse: the keyboard changes the digits with Up and Down. A Tab stop here would
    // vanish with the arrows when the digits lose the focus.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

bool isDigitKey(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers chord = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    return event->key() >= Qt::Key_0 && event->key() <= Qt::Key_9 && !(event->modifiers() & chord);
}

} // namespace

TimeColumn::TimeColumn(const QString &caption, int minimum, int maximum, int digits,
                       const QString &separator, QWidget *parent)
    : QWidget(parent)
    , m_minimum(minimum)
    , m_maximum(maximum)
    , m_value(minimum)
    , m_digits(digits)
{
    setFocusPolicy(Qt::ClickFocus);
    // Columns keep their own width; spare room in the picker goes to its stretch.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    // Every part is the column's from the start: moving a polished widget under a style
    // sheet polishes it again.
    m_upButton = makeArrowButton(Qt::UpArrow, this);
    m_downButton = makeArrowButton(Qt::DownArrow, this);
    m_upButton->setAccessibleName(tr("增加"));
    m_downButton->setAccessibleName(tr("减少"));
    connect(m_upButton, &QToolButton::clicked, this, &TimeColumn::inc);
    connect(m_downButton, &QToolButton::clicked, this, &TimeColumn::dec);

    m_caption = new QLabel(caption, this);
    m_caption->setAlignment(Qt::AlignCenter);
    QFont captionFont = m_caption->font();
    captionFont.setWeight(50);
    captionFont.setPointSize(6);
    m_caption->setFont(captionFont);
    m_caption->setMaximumHeight(12);

    m_bottomFiller = new QLabel(this);
    m_bottomFiller->setMaximumHeight(12);
    m_bottomFiller->setStyleSheet(QStringLiteral("border: none;"));

    m_separator = new QLabel(separator, this);
    m_separator->setAlignment(Qt::AlignCenter);
    m_separator->setStyleSheet(
        QStringLiteral("background:#171717;font-size: 9pt;border-radius: 0;"));
    // The width has to be measured in the 9 pt font the style sheet gives the label.
    m_separator->ensurePolished();
    m_separator->setFixedWidth(m_separator->fontMetrics().horizontalAdvance(separator) + 5);
    m_separatorHidden = separator.isEmpty();
    m_separator->setVisible(!m_separatorHidden);

    m_edit = new QLineEdit(this);
    m_edit->setAlignment(Qt::AlignCenter);
    m_edit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_edit->setStyleSheet(QStringLiteral("QLineEdit {border: none;padding: 0px;background:#171717;"
                                         "font-size: 10pt;border-radius: 0;}"));
    m_edit->ensurePolished();
    m_edit->setMaxLength(m_digits);
    showText(padded(m_value));
    m_edit->installEventFilter(this);
    connect(m_edit, &QLineEdit::textChanged, this, &TimeColumn::onTextChanged);
    connect(m_edit, &QLineEdit::editingFinished, this, &TimeColumn::onEditingFinished);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_topStack = new QStackedLayout;
    m_topStack->addWidget(m_upButton);
    m_topStack->addWidget(m_caption);
    column->addLayout(m_topStack);

    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_separator);
    row->addWidget(m_edit);
    column->addLayout(row);

    m_bottomStack = new QStackedLayout;
    m_bottomStack->addWidget(m_downButton);
    m_bottomStack->addWidget(m_bottomFiller);
    column->addLayout(m_bottomStack);

    showArrows(false);
    adjustWidth();
}

QString TimeColumn::text() const
{
    return m_edit->text();
}

bool TimeColumn::arrowsShown() const
{
    return m_topStack->currentWidget() == m_upButton;
}

void TimeColumn::setValue(int value)
{
    const int clamped = qMax(m_minimum, qMin(m_maximum, value));
    if (clamped == m_value)
        return;
    m_value = clamped;
    showText(padded(m_value));
    m_edit->setCursorPosition(m_edit->text().size());
    adjustWidth();
    emit valueChanged(m_value);
}

void TimeColumn::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    adjustWidth();
    setValue(m_value);
}

void TimeColumn::setSeparatorVisible(bool visible)
{
    m_separatorHidden = !visible;
    m_separator->setVisible(visible);
}

void TimeColumn::inc()
{
    setValue(m_value + 1);
}

void TimeColumn::dec()
{
    setValue(m_value - 1);
}

bool TimeColumn::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_edit)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
        showArrows(true);
        break;
    case QEvent::FocusOut:
        showArrows(false);
        break;
    case QEvent::KeyPress:
        return editKeyPress(static_cast<QKeyEvent *>(event));
    default:
        break;
    }
    return false;
}

// Keys typed into the digits: overwrite in place, never insert, and hand focus on at
// the edges. Returns whether the key was consumed.
bool TimeColumn::editKeyPress(QKeyEvent *event)
{
    const int pos = m_edit->cursorPosition();
    const int length = m_edit->text().size();

    if (isDigitKey(event)) {
        if (pos < length)
            typeDigit(QChar(u'0' + (event->key() - Qt::Key_0)));
        else
            emit focusNext();
        return true;
    }
    switch (event->key()) {
    case Qt::Key_Backspace:
        if (pos > 0) {
            zeroDigitAt(pos - 1);
            m_edit->setCursorPosition(pos - 1);
        }
        return true;
    case Qt::Key_Delete:
        // Showing the text again leaves the cursor at its end.
        if (pos < length)
            zeroDigitAt(pos);
        return true;
    case Qt::Key_Right:
        if (pos >= length) {
            emit focusNext();
            return true;
        }
        return false;
    case Qt::Key_Left:
        if (pos == 0) {
            emit focusPrev();
            return true;
        }
        return false;
    default:
        break;
    }
    if (event->matches(QKeySequence::Paste)) {
        // The edit holds only as many characters as the field is wide, so letters in
        // the clipboard would crowd out digits before onTextChanged could drop them.
        QString pasted = QApplication::clipboard()->text();
        pasted.remove(QRegularExpression(QStringLiteral("[^0-9]")));
        m_edit->insert(pasted);
        return true;
    }
    return false;
}

void TimeColumn::typeDigit(QChar digit)
{
    const int pos = m_edit->cursorPosition();
    QString candidate = m_edit->text();
    candidate[pos] = digit;
    const int number = candidate.toInt();
    if (number >= m_minimum && number <= m_maximum) {
        showText(candidate);
        m_value = number;
        emit valueChanged(m_value);
    }
    m_edit->setCursorPosition(pos + 1);
}

void TimeColumn::zeroDigitAt(int index)
{
    QString candidate = m_edit->text();
    candidate[index] = u'0';
    const int number = candidate.toInt();
    showText(candidate);
    if (number >= m_minimum && number <= m_maximum && number != m_value) {
        m_value = number;
        emit valueChanged(m_value);
    }
}

void TimeColumn::keyPressEvent(QKeyEvent *event)
{
    if (!m_edit->hasFocus())
        m_edit->setFocus();
    const int pos = m_edit->cursorPosition();
    switch (event->key()) {
    case Qt::Key_Up:
        setValue(m_value + 1);
        break;
    case Qt::Key_Down:
        setValue(m_value - 1);
        break;
    case Qt::Key_Right:
        if (pos >= m_edit->text().size())
            emit focusNext();
        else
            QWidget::keyPressEvent(event);
        break;
    case Qt::Key_Left:
        if (pos == 0)
            emit focusPrev();
        else
            QWidget::keyPressEvent(event);
        break;
    default:
        QWidget::keyPressEvent(event);
        break;
    }
}

void TimeColumn::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    showArrows(true);
    m_edit->setFocus();
}

void TimeColumn::onTextChanged(const QString &text)
{
    if (m_textGuard)
        return;
    QString digitsOnly = text;
    digitsOnly.remove(QRegularExpression(QStringLiteral("[^0-9]")));
    digitsOnly.truncate(m_digits);
    if (digitsOnly == text)
        return;
    const int removed = text.size() - digitsOnly.size();
    const int cursor = qMax(0, m_edit->cursorPosition() - removed);
    showText(digitsOnly);
    m_edit->setCursorPosition(cursor);
    adjustWidth();
}

void TimeColumn::onEditingFinished()
{
    const QString text = m_edit->text().isEmpty() ? QStringLiteral("0") : m_edit->text();
    bool ok = false;
    const int number = text.toInt(&ok);
    // A pasted number is only checked here. Taking it through setValue clamps it into
    // the range and reports it, so the picker's total and the digits never disagree.
    if (ok)
        setValue(number);
    const QString shown = padded(m_value);
    if (shown != m_edit->text()) {
        showText(shown);
        m_edit->setCursorPosition(shown.size());
    }
}

QString TimeColumn::padded(int number) const
{
    return QString::number(number).rightJustified(m_digits, u'0');
}

// Changes the edit's text without treating it as typed input. The guard is cleared
// again at once: setText does not report an unchanged text, and a guard left set
// would swallow the next real edit.
void TimeColumn::showText(const QString &text)
{
    m_textGuard = true;
    m_edit->setText(text);
    m_textGuard = false;
}

void TimeColumn::showArrows(bool arrows)
{
    m_topStack->setCurrentWidget(arrows ? static_cast<QWidget *>(m_upButton) : m_caption);
    m_bottomStack->setCurrentWidget(arrows ? static_cast<QWidget *>(m_downButton) : m_bottomFiller);
}

void TimeColumn::adjustWidth()
{
    int width = m_edit->fontMetrics().horizontalAdvance(padded(m_maximum)) + 15;
    if (m_separator->text() == QLatin1String("."))
        width += 10;
    // The minimum alone would leave the edit at QLineEdit's wide default hint.
    m_edit->setMinimumWidth(width);
    m_edit->setMaximumWidth(width);
}
