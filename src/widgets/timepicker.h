// Compact duration entry, days : hours : minutes : seconds . milliseconds, whose
// column ranges keep the total within a maximum number of seconds.
#pragma once

#include <QList>
#include <QMetaObject>
#include <QWidget>

class TimeColumn;

class TimePicker : public QWidget
{
    Q_OBJECT

public:
    explicit TimePicker(QWidget *parent = nullptr);

    // The total in seconds.
    double value() const;
    // 0: all five columns; 1: without milliseconds; 2: without seconds and milliseconds.
    void setDisplayMode(int mode);
    int displayMode() const { return m_displayMode; }
    void setMaximumSeconds(double seconds);
    double maximumSeconds() const { return m_maximumSeconds; }
    void setTime(int days, int hours, int minutes, int seconds, int milliseconds);

    TimeColumn *daysColumn() const { return m_days; }
    TimeColumn *hoursColumn() const { return m_hours; }
    TimeColumn *minutesColumn() const { return m_minutes; }
    TimeColumn *secondsColumn() const { return m_seconds; }
    TimeColumn *millisecondsColumn() const { return m_milliseconds; }

signals:
    void sigTimePickerValueChanged(double value);

private:
    void updateRanges();
    void applyRanges();
    void linkFocusChain();
    QList<TimeColumn *> columns() const;

    TimeColumn *m_days = nullptr;
    TimeColumn *m_hours = nullptr;
    TimeColumn *m_minutes = nullptr;
    TimeColumn *m_seconds = nullptr;
    TimeColumn *m_milliseconds = nullptr;
    int m_displayMode = 0;
    double m_maximumSeconds = 1000.0;
    bool m_updatingRanges = false;
    bool m_rangesStale = false;
    QList<QMetaObject::Connection> m_focusLinks;
};
