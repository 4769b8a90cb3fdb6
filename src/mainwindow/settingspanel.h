// The side bar's settings page: instrument speed, start, scan interval and stop condition.
// The window connects to its buttons and pickers and hands each choice to the controller.
#pragma once

#include <QScrollArea>

class QLabel;
class QRadioButton;
class QSpinBox;
class TimePicker;

class SettingsPanel : public QScrollArea
{
    Q_OBJECT
public:
    explicit SettingsPanel(QWidget *parent = nullptr);

    // Duration text "dd : hh : mm : ss" of a number of seconds.
    static QString durationText(double seconds);

    QRadioButton *fastRadio = nullptr;
    QRadioButton *slowRadio = nullptr;
    QRadioButton *minIntervalRadio = nullptr;
    QRadioButton *customIntervalRadio = nullptr;
    TimePicker *intervalPicker = nullptr;
    QLabel *intervalLabel = nullptr;
    QRadioButton *stopButtonRadio = nullptr;
    QRadioButton *elapsedRadio = nullptr;
    QLabel *elapsedLabel = nullptr;
    TimePicker *elapsedPicker = nullptr;
    QRadioButton *scanCountRadio = nullptr;
    QSpinBox *scanCountSpin = nullptr;
};
