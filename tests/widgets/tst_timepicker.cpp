// Ranges, value arithmetic, display modes and the focus chain of the time picker.

#include "quietoffscreen.h"
#include "resources/dataloggerresources.h"
#include "widgets/timecolumn.h"
#include "widgets/timepicker.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

struct Ranges
{
    int days, hours, minutes, seconds, milliseconds;
};

Ranges maxima(const TimePicker &picker)
{
    return {picker.daysColumn()->maximum(), picker.hoursColumn()->maximum(),
            picker.minutesColumn()->maximum(), picker.secondsColumn()->maximum(),
            picker.millisecondsColumn()->maximum()};
}

qint64 totalMs(const TimePicker &picker)
{
    return picker.daysColumn()->value() * 86400000LL + picker.hoursColumn()->value() * 3600000LL +
           picker.minutesColumn()->value() * 60000LL + picker.secondsColumn()->value() * 1000LL +
           picker.millisecondsColumn()->value();
}

} // namespace

class TimePickerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void constructionDefaults();
    void rangesForWindowMaxima_data();
    void rangesForWindowMaxima();
    void valueArithmetic_data();
    void valueArithmetic();
    void totalNeverExceedsMaximum_data();
    void totalNeverExceedsMaximum();
    void typedHoursStayAtFullDays();
    void loweringMaximumClampsAndSettles();
    void everyChangeReportsTotal();
    void displayModes();
    void focusChainMode1();
    void focusChainMode0WrapsForward();

private:
    void showActive(QWidget *widget);
};

void TimePickerTest::initTestCase()
{
    silenceOffscreenSizeHints();
    QVERIFY(initDataloggerResources());
}

void TimePickerTest::showActive(QWidget *widget)
{
    widget->show();
    QApplication::setActiveWindow(widget);
    QVERIFY(QTest::qWaitForWindowActive(widget));
}

void TimePickerTest::constructionDefaults()
{
    TimePicker picker;
    QCOMPARE(picker.value(), 0.0);
    QCOMPARE(picker.maximumSeconds(), 1000.0);
    QCOMPARE(picker.displayMode(), 1);
    QCOMPARE(picker.focusPolicy(), Qt::StrongFocus);
    QVERIFY(picker.millisecondsColumn()->isHidden());
    QVERIFY(!picker.secondsColumn()->isHidden());
    // 1000 s leave no whole hour and 16 whole minutes.
    const Ranges r = maxima(picker);
    QCOMPARE(r.days, 0);
    QCOMPARE(r.hours, 0);
    QCOMPARE(r.minutes, 16);
    QCOMPARE(r.seconds, 59);
    QCOMPARE(picker.daysColumn()->text(), QStringLiteral("00"));
    QCOMPARE(picker.millisecondsColumn()->text(), QStringLiteral("000"));
}

void TimePickerTest::rangesForWindowMaxima_data()
{
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("seconds");

    QTest::newRow("scan interval 100 h") << 360000.0 << 4 << 23 << 59 << 59;
    QTest::newRow("elapsed time 100 d") << 8640000.0 << 99 << 23 << 59 << 59;
    QTest::newRow("one day") << 86400.0 << 1 << 23 << 59 << 59;
    QTest::newRow("90 s") << 90.0 << 0 << 0 << 1 << 59;
    QTest::newRow("nothing") << 0.0 << 0 << 0 << 0 << 0;
}

void TimePickerTest::rangesForWindowMaxima()
{
    QFETCH(double, maximum);
    QFETCH(int, days);
    QFETCH(int, hours);
    QFETCH(int, minutes);
    QFETCH(int, seconds);

    TimePicker picker;
    picker.setMaximumSeconds(maximum);
    const Ranges r = maxima(picker);
    QCOMPARE(r.days, days);
    QCOMPARE(r.hours, hours);
    QCOMPARE(r.minutes, minutes);
    QCOMPARE(r.seconds, seconds);
    QCOMPARE(picker.daysColumn()->minimum(), 0);
}

void TimePickerTest::valueArithmetic_data()
{
    QTest::addColumn<QList<int>>("time");
    QTest::addColumn<double>("seconds");

    QTest::newRow("zero") << QList<int>{0, 0, 0, 0, 0} << 0.0;
    QTest::newRow("one of each") << QList<int>{1, 1, 1, 1, 0} << 90061.0;
    QTest::newRow("five seconds") << QList<int>{0, 0, 0, 5, 0} << 5.0;
    QTest::newRow("a minute") << QList<int>{0, 0, 1, 0, 0} << 60.0;
    QTest::newRow("milliseconds") << QList<int>{0, 0, 0, 2, 250} << 2.25;
    QTest::newRow("largest") << QList<int>{99, 23, 59, 59, 999} << 8639999.999;
}

void TimePickerTest::valueArithmetic()
{
    QFETCH(QList<int>, time);
    QFETCH(double, seconds);

    TimePicker picker;
    picker.setDisplayMode(0);
    picker.setMaximumSeconds(8640000.0);
    picker.setTime(time[0], time[1], time[2], time[3], time[4]);
    QCOMPARE(picker.daysColumn()->value(), time[0]);
    QCOMPARE(picker.hoursColumn()->value(), time[1]);
    QCOMPARE(picker.minutesColumn()->value(), time[2]);
    QCOMPARE(picker.secondsColumn()->value(), time[3]);
    QCOMPARE(picker.millisecondsColumn()->value(), time[4]);
    QVERIFY(qAbs(picker.value() - seconds) < 1e-6);
}

void TimePickerTest::totalNeverExceedsMaximum_data()
{
    QTest::addColumn<double>("maximum");
    QTest::addColumn<QList<int>>("time");
    QTest::addColumn<QList<int>>("expected");

    // Hours first, then days: 4 d 12 h would be 108 h.
    QTest::newRow("100 h, 12 h then days")
        << 360000.0 << QList<int>{4, 12, 0, 0, 0} << QList<int>{4, 4, 0, 0, 0};
    QTest::newRow("100 h exactly")
        << 360000.0 << QList<int>{4, 4, 0, 0, 0} << QList<int>{4, 4, 0, 0, 0};
    QTest::newRow("100 h, minutes over")
        << 360000.0 << QList<int>{4, 3, 59, 59, 0} << QList<int>{4, 3, 59, 59, 0};
    QTest::newRow("100 d") << 8640000.0 << QList<int>{99, 23, 59, 59, 0}
                           << QList<int>{99, 23, 59, 59, 0};
    QTest::newRow("1000 s") << 1000.0 << QList<int>{0, 0, 20, 30, 0} << QList<int>{0, 0, 16, 30, 0};
}

void TimePickerTest::totalNeverExceedsMaximum()
{
    QFETCH(double, maximum);
    QFETCH(QList<int>, time);
    QFETCH(QList<int>, expected);

    TimePicker picker;
    picker.setDisplayMode(0);
    picker.setMaximumSeconds(maximum);
    picker.setTime(time[0], time[1], time[2], time[3], time[4]);
    const QList<int> got{picker.daysColumn()->value(), picker.hoursColumn()->value(),
                         picker.minutesColumn()->value(), picker.secondsColumn()->value(),
                         picker.millisecondsColumn()->value()};
    QCOMPARE(got, expected);
    QVERIFY(totalMs(picker) <= qint64(maximum * 1000));
    // Every column's maximum is reachable from where the others stand.
    for (TimeColumn *c : {picker.daysColumn(), picker.hoursColumn(), picker.minutesColumn(),
                          picker.secondsColumn()}) {
        const int before = c->value();
        c->setValue(c->maximum());
        QVERIFY2(totalMs(picker) <= qint64(maximum * 1000), qPrintable(c->text()));
        c->setValue(before);
    }
}

void TimePickerTest::typedHoursStayAtFullDays()
{
    // At 4 days of a 100-hour maximum four more hours fit; a typed 3 must stay 3.
    TimePicker picker;
    picker.setMaximumSeconds(360000.0);
    showActive(&picker);
    picker.setTime(4, 0, 0, 0, 0);
    QCOMPARE(picker.hoursColumn()->maximum(), 4);

    QLineEdit *hours = picker.hoursColumn()->lineEdit();
    hours->setFocus();
    QTRY_VERIFY(hours->hasFocus());
    hours->setCursorPosition(1);
    QTest::keyClick(hours, Qt::Key_3);
    QCOMPARE(picker.hoursColumn()->value(), 3);
    QCOMPARE(picker.hoursColumn()->text(), QStringLiteral("03"));
    QCOMPARE(picker.hoursColumn()->maximum(), 4);
    QCOMPARE(picker.minutesColumn()->maximum(), 59);
    QCOMPARE(picker.value(), 4 * 86400.0 + 3 * 3600.0);

    // Up steps on to the limit and no further.
    QTest::keyClick(hours, Qt::Key_Up);
    QTest::keyClick(hours, Qt::Key_Up);
    QCOMPARE(picker.hoursColumn()->value(), 4);
    QCOMPARE(picker.minutesColumn()->maximum(), 0);
    QCOMPARE(picker.value(), 360000.0);
}

void TimePickerTest::loweringMaximumClampsAndSettles()
{
    TimePicker picker;
    picker.setMaximumSeconds(8640000.0);
    picker.setTime(10, 5, 0, 0, 0);
    QSignalSpy reported(&picker, &TimePicker::sigTimePickerValueChanged);
    picker.setMaximumSeconds(360000.0);
    QVERIFY(totalMs(picker) <= 360000000LL);
    // The ranges afterwards agree with the values that stayed.
    QCOMPARE(picker.daysColumn()->maximum(),
             int((360000 - picker.hoursColumn()->value() * 3600) / 86400));
    QCOMPARE(picker.hoursColumn()->maximum(),
             qMin(23, (360000 - picker.daysColumn()->value() * 86400) / 3600));
    QCOMPARE(reported.count(), 1);
    QCOMPARE(reported.last().at(0).toDouble(), picker.value());
}

void TimePickerTest::everyChangeReportsTotal()
{
    TimePicker picker;
    picker.setMaximumSeconds(360000.0);
    QSignalSpy reported(&picker, &TimePicker::sigTimePickerValueChanged);
    picker.minutesColumn()->setValue(1);
    QCOMPARE(reported.count(), 1);
    QCOMPARE(reported.last().at(0).toDouble(), 60.0);
    picker.secondsColumn()->inc();
    QCOMPARE(reported.last().at(0).toDouble(), 61.0);
    picker.secondsColumn()->dec();
    picker.secondsColumn()->dec();
    QCOMPARE(reported.last().at(0).toDouble(), 60.0);
    QCOMPARE(reported.count(), 3);
}

void TimePickerTest::displayModes()
{
    TimePicker picker;
    picker.setDisplayMode(0);
    for (TimeColumn *c : {picker.daysColumn(), picker.hoursColumn(), picker.minutesColumn(),
                          picker.secondsColumn(), picker.millisecondsColumn()})
        QVERIFY(!c->isHidden());
    picker.setDisplayMode(2);
    QVERIFY(picker.secondsColumn()->isHidden());
    QVERIFY(picker.millisecondsColumn()->isHidden());
    QVERIFY(!picker.minutesColumn()->isHidden());
    picker.setDisplayMode(1);
    QVERIFY(!picker.secondsColumn()->isHidden());
    QVERIFY(picker.millisecondsColumn()->isHidden());
}

void TimePickerTest::focusChainMode1()
{
    TimePicker picker;
    showActive(&picker);
    QLineEdit *days = picker.daysColumn()->lineEdit();
    QLineEdit *hours = picker.hoursColumn()->lineEdit();
    QLineEdit *seconds = picker.secondsColumn()->lineEdit();

    days->setFocus();
    QTRY_VERIFY(days->hasFocus());
    days->setCursorPosition(0);
    QTest::keyClick(days, Qt::Key_Left);
    QTRY_VERIFY(seconds->hasFocus());
    QCOMPARE(seconds->cursorPosition(), 2);

    // Past the end of the seconds wraps to the days, at their start.
    QTest::keyClick(seconds, Qt::Key_Right);
    QTRY_VERIFY(days->hasFocus());
    QCOMPARE(days->cursorPosition(), 0);

    // Two digits fill the days; a third digit moves on to the hours at their start.
    QTest::keyClicks(days, QStringLiteral("12"));
    QCOMPARE(picker.daysColumn()->value(), 0); // 1000 s hold no day
    days->setCursorPosition(2);
    QTest::keyClick(days, Qt::Key_7);
    QTRY_VERIFY(hours->hasFocus());
    QCOMPARE(hours->cursorPosition(), 0);
    QCOMPARE(hours->text(), QStringLiteral("00"));
}

void TimePickerTest::focusChainMode0WrapsForward()
{
    TimePicker picker;
    picker.setDisplayMode(0);
    picker.setMaximumSeconds(8640000.0);
    showActive(&picker);
    QLineEdit *days = picker.daysColumn()->lineEdit();
    QLineEdit *ms = picker.millisecondsColumn()->lineEdit();

    days->setFocus();
    QTRY_VERIFY(days->hasFocus());
    days->setCursorPosition(0);
    QTest::keyClick(days, Qt::Key_Left);
    QTRY_VERIFY(ms->hasFocus());
    QCOMPARE(ms->cursorPosition(), 3);
    QTest::keyClick(ms, Qt::Key_Right);
    QTRY_VERIFY(days->hasFocus());

    // Typing through the columns: 01 02 03 04 .005
    days->setCursorPosition(0);
    QTest::keyClicks(days, QStringLiteral("01"));
    QTest::keyClick(days, Qt::Key_0); // at the end: on to the hours
    QLineEdit *hours = picker.hoursColumn()->lineEdit();
    QTRY_VERIFY(hours->hasFocus());
    QTest::keyClicks(hours, QStringLiteral("02"));
    QCOMPARE(picker.value(), 86400.0 + 7200.0);
}

QTEST_MAIN(TimePickerTest)
#include "tst_timepicker.moc"
