#include "timepicker.h"

#include "timecolumn.h"

#include <QHBoxLayout>
#include <QLineEdit>

#include <cmath>

namespace {

constexpr qint64 kDayMs = 86400000;
constexpr qint64 kHourMs = 3600000;
constexpr qint64 kMinuteMs = 60000;
constexpr qint64 kSecondMs = 1000;

} // namespace

TimePicker::TimePicker(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);

    m_days = new TimeColumn(QStringLiteral("DD"), 0, 99, 2, QString(), this);
    m_days->setSeparatorVisible(false);
    m_hours = new TimeColumn(QStringLiteral("HH"), 0, 23, 2, QStringLiteral(":"), this);
    m_minutes = new TimeColumn(QStringLiteral("MM"), 0, 59, 2, QStringLiteral(":"), this);
    m_seconds = new TimeColumn(QStringLiteral("SS"), 0, 59, 2, QStringLiteral(":"), this);
    m_milliseconds = new TimeColumn(QStringLiteral("MS"), 0, 999, 3, QStringLiteral("."), this);

    // The digit fields are what takes the keys; each says which part of the duration it is.
    m_days->lineEdit()->setAccessibleName(tr("天"));
    m_hours->lineEdit()->setAccessibleName(tr("小时"));
    m_minutes->lineEdit()->setAccessibleName(tr("分钟"));
    m_seconds->lineEdit()->setAccessibleName(tr("秒"));
    m_milliseconds->lineEdit()->setAccessibleName(tr("毫秒"));
    // The picker is entered at its first digits, not as a Tab stop of its own.
    setFocusProxy(m_days->lineEdit());

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (TimeColumn *column : columns()) {
        layout->addWidget(column);
        connect(column, &TimeColumn::valueChanged, this, &TimePicker::updateRanges);
    }
    layout->addStretch();

    m_maximumSeconds = 1000.0;
    updateRanges();
    linkFocusChain();
    setTime(0, 0, 0, 0, 0);
    setDisplayMode(1);
}

double TimePicker::value() const
{
    return m_days->value() * 86400.0 + m_hours->value() * 3600.0 + m_minutes->value() * 60.0 +
           m_seconds->value() + m_milliseconds->value() / 1000.0;
}

void TimePicker::setDisplayMode(int mode)
{
    if (mode == m_displayMode)
        return;
    m_displayMode = mode;
    m_milliseconds->setVisible(mode != 1 && mode != 2);
    m_seconds->setVisible(mode != 2);
    linkFocusChain();
    layout()->invalidate();
    layout()->activate();
    adjustSize();
    update();
}

void TimePicker::setMaximumSeconds(double seconds)
{
    m_maximumSeconds = seconds;
    updateRanges();
}

void TimePicker::setTime(int days, int hours, int minutes, int seconds, int milliseconds)
{
    m_days->setValue(days);
    m_hours->setValue(hours);
    m_minutes->setValue(minutes);
    m_seconds->setValue(seconds);
    m_milliseconds->setValue(milliseconds);
    updateRanges();
}

// Narrowing a range can clamp a column, whose valueChanged lands here again. Such a
// nested call only marks the ranges stale; this outer call repeats until nothing
// moves, so the final ranges match the final values, and reports the total once.
void TimePicker::updateRanges()
{
    if (m_updatingRanges) {
        m_rangesStale = true;
        return;
    }
    m_updatingRanges = true;
    do {
        m_rangesStale = false;
        applyRanges();
    } while (m_rangesStale);
    m_updatingRanges = false;
    emit sigTimePickerValueChanged(value());
}

// Each column may go as high as the room the other columns leave below the maximum,
// capped at its natural limit. Counting in whole milliseconds keeps 0.1 s steps exact.
void TimePicker::applyRanges()
{
    const qint64 limit = m_maximumSeconds > 0 ? std::llround(m_maximumSeconds * 1000.0) : 0;
    const qint64 total = m_days->value() * kDayMs + m_hours->value() * kHourMs +
                         m_minutes->value() * kMinuteMs + m_seconds->value() * kSecondMs +
                         m_milliseconds->value();
    const auto room = [&](const TimeColumn *column, qint64 unit, int cap) {
        const qint64 free = limit - (total - column->value() * unit);
        return free <= 0 ? 0 : int(qMin<qint64>(cap, free / unit));
    };
    const int daysMax = room(m_days, kDayMs, 99);
    const int hoursMax = room(m_hours, kHourMs, 23);
    const int minutesMax = room(m_minutes, kMinuteMs, 59);
    const int secondsMax = room(m_seconds, kSecondMs, 59);
    const int millisecondsMax = room(m_milliseconds, 1, 999);
    m_days->setRange(0, daysMax);
    m_hours->setRange(0, hoursMax);
    m_minutes->setRange(0, minutesMax);
    m_seconds->setRange(0, secondsMax);
    m_milliseconds->setRange(0, millisecondsMax);
}

void TimePicker::linkFocusChain()
{
    for (const QMetaObject::Connection &link : qAsConst(m_focusLinks))
        disconnect(link);
    m_focusLinks.clear();

    QList<TimeColumn *> shown;
    for (TimeColumn *column : columns()) {
        if (!column->isHidden())
            shown.append(column);
    }
    const int count = shown.size();
    for (int i = 0; i < count; ++i) {
        TimeColumn *next = shown.at((i + 1) % count);
        TimeColumn *previous = shown.at((i + count - 1) % count);
        m_focusLinks.append(connect(shown.at(i), &TimeColumn::focusNext, this, [next] {
            next->lineEdit()->setFocus();
            next->lineEdit()->setCursorPosition(0);
        }));
        m_focusLinks.append(connect(shown.at(i), &TimeColumn::focusPrev, this, [previous] {
            previous->lineEdit()->setFocus();
            previous->lineEdit()->setCursorPosition(previous->lineEdit()->text().size());
        }));
    }
}

QList<TimeColumn *> TimePicker::columns() const
{
    return {m_days, m_hours, m_minutes, m_seconds, m_milliseconds};
}
