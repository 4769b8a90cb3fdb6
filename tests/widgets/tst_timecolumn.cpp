// Editing rules of one time column, driven by real key events on its edit.

#include "quietoffscreen.h"
#include "resources/dataloggerresources.h"
#include "widgets/timecolumn.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <memory>

class TimeColumnTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void typedDigitOverwrites_data();
    void typedDigitOverwrites();
    void digitAtEndMovesFocusOn();
    void backspace_data();
    void backspace();
    void deleteKey_data();
    void deleteKey();
    void arrowKeysAtEdgesMoveFocus();
    void upAndDownStopAtLimits();
    void pastedTextKeepsDigitsOnly();
    void pastedNumberOutOfRangeIsClampedWhenEditingEnds();
    void lettersNeverStay();
    void unchangedTextDoesNotLeaveEditsUnfiltered();
    void focusSwapsCaptionForArrows();
    void arrowButtonsStep();
    void narrowerRangeClampsAndReports();
    void editIsCompact();

private:
    // Shows `text` with the cursor at `cursor`; the value follows from the text.
    void prepare(int value, int cursor);

    std::unique_ptr<QWidget> m_host;
    TimeColumn *m_column = nullptr;
    QLineEdit *m_other = nullptr;
};

void TimeColumnTest::initTestCase()
{
    silenceOffscreenSizeHints();
    QVERIFY(initDataloggerResources());
}

void TimeColumnTest::init()
{
    m_host = std::make_unique<QWidget>();
    auto *layout = new QHBoxLayout(m_host.get());
    m_column = new TimeColumn(QStringLiteral("HH"), 0, 23, 2, QStringLiteral(":"));
    m_other = new QLineEdit;
    layout->addWidget(m_column);
    layout->addWidget(m_other);
    m_host->show();
    QApplication::setActiveWindow(m_host.get());
    QVERIFY(QTest::qWaitForWindowActive(m_host.get()));
}

void TimeColumnTest::cleanup()
{
    m_host.reset();
    m_column = nullptr;
}

void TimeColumnTest::prepare(int value, int cursor)
{
    m_column->setValue(value);
    QLineEdit *edit = m_column->lineEdit();
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    edit->setCursorPosition(cursor);
}

void TimeColumnTest::typedDigitOverwrites_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cursorAfter");
    QTest::addColumn<QList<int>>("reported");

    QTest::newRow("29 would exceed 23") << 9 << 0 << int(Qt::Key_2) << "09" << 1 << QList<int>{};
    QTest::newRow("19 fits") << 9 << 0 << int(Qt::Key_1) << "19" << 1 << QList<int>{19};
    QTest::newRow("second digit") << 9 << 1 << int(Qt::Key_5) << "05" << 2 << QList<int>{5};
    QTest::newRow("second digit too high")
        << 20 << 1 << int(Qt::Key_7) << "20" << 2 << QList<int>{};
    QTest::newRow("23 exactly") << 20 << 1 << int(Qt::Key_3) << "23" << 2 << QList<int>{23};
}

void TimeColumnTest::typedDigitOverwrites()
{
    QFETCH(int, value);
    QFETCH(int, cursor);
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(int, cursorAfter);
    QFETCH(QList<int>, reported);

    prepare(value, cursor);
    QSignalSpy changed(m_column, &TimeColumn::valueChanged);
    QSignalSpy next(m_column, &TimeColumn::focusNext);
    QTest::keyClick(m_column->lineEdit(), Qt::Key(key));

    QCOMPARE(m_column->text(), text);
    QCOMPARE(m_column->lineEdit()->cursorPosition(), cursorAfter);
    QList<int> seen;
    for (const QList<QVariant> &args : qAsConst(changed))
        seen.append(args.at(0).toInt());
    QCOMPARE(seen, reported);
    QCOMPARE(m_column->value(), reported.isEmpty() ? value : reported.last());
    QCOMPARE(next.count(), 0);
}

void TimeColumnTest::digitAtEndMovesFocusOn()
{
    prepare(12, 2);
    QSignalSpy changed(m_column, &TimeColumn::valueChanged);
    QSignalSpy next(m_column, &TimeColumn::focusNext);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_5);
    QCOMPARE(next.count(), 1);
    QCOMPARE(m_column->text(), QStringLiteral("12"));
    QCOMPARE(changed.count(), 0);
}

void TimeColumnTest::backspace_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cursorAfter");
    QTest::addColumn<int>("reports");

    QTest::newRow("last digit") << 19 << 2 << "10" << 1 << 1;
    QTest::newRow("first digit") << 19 << 1 << "09" << 0 << 1;
    QTest::newRow("at start nothing") << 19 << 0 << "19" << 0 << 0;
    QTest::newRow("already zero") << 10 << 2 << "10" << 1 << 0;
}

void TimeColumnTest::backspace()
{
    QFETCH(int, value);
    QFETCH(int, cursor);
    QFETCH(QString, text);
    QFETCH(int, cursorAfter);
    QFETCH(int, reports);

    prepare(value, cursor);
    QSignalSpy changed(m_column, &TimeColumn::valueChanged);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Backspace);
    QCOMPARE(m_column->text(), text);
    QCOMPARE(m_column->value(), text.toInt());
    QCOMPARE(m_column->lineEdit()->cursorPosition(), cursorAfter);
    QCOMPARE(changed.count(), reports);
}

void TimeColumnTest::deleteKey_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cursorAfter");
    QTest::addColumn<int>("reports");

    QTest::newRow("first digit") << 19 << 0 << "09" << 2 << 1;
    QTest::newRow("second digit") << 19 << 1 << "10" << 2 << 1;
    QTest::newRow("at end nothing") << 19 << 2 << "19" << 2 << 0;
}

void TimeColumnTest::deleteKey()
{
    QFETCH(int, value);
    QFETCH(int, cursor);
    QFETCH(QString, text);
    QFETCH(int, cursorAfter);
    QFETCH(int, reports);

    prepare(value, cursor);
    QSignalSpy changed(m_column, &TimeColumn::valueChanged);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Delete);
    QCOMPARE(m_column->text(), text);
    QCOMPARE(m_column->value(), text.toInt());
    QCOMPARE(m_column->lineEdit()->cursorPosition(), cursorAfter);
    QCOMPARE(changed.count(), reports);
}

void TimeColumnTest::arrowKeysAtEdgesMoveFocus()
{
    QSignalSpy next(m_column, &TimeColumn::focusNext);
    QSignalSpy previous(m_column, &TimeColumn::focusPrev);

    prepare(12, 0);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Left);
    QCOMPARE(previous.count(), 1);
    QCOMPARE(next.count(), 0);

    // Inside the text the keys just move the cursor.
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Right);
    QCOMPARE(m_column->lineEdit()->cursorPosition(), 1);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Right);
    QCOMPARE(m_column->lineEdit()->cursorPosition(), 2);
    QCOMPARE(next.count(), 0);

    QTest::keyClick(m_column->lineEdit(), Qt::Key_Right);
    QCOMPARE(next.count(), 1);
    QCOMPARE(previous.count(), 1);
}

void TimeColumnTest::upAndDownStopAtLimits()
{
    prepare(22, 1);
    QSignalSpy changed(m_column, &TimeColumn::valueChanged);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Up);
    QCOMPARE(m_column->value(), 23);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Up);
    QCOMPARE(m_column->value(), 23);
    QCOMPARE(m_column->text(), QStringLiteral("23"));
    QCOMPARE(changed.count(), 1);

    m_column->setValue(1);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Down);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Down);
    QCOMPARE(m_column->value(), 0);
    QCOMPARE(m_column->text(), QStringLiteral("00"));
}

void TimeColumnTest::pastedTextKeepsDigitsOnly()
{
    m_column->setRange(0, 59);
    prepare(0, 0);
    QApplication::clipboard()->setText(QStringLiteral("1a2b"));
    QSignalSpy changed(m_column, &TimeColumn::valueChanged);
    m_column->lineEdit()->selectAll();
    QTest::keyClick(m_column->lineEdit(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(m_column->text(), QStringLiteral("12"));
    // Pasting only edits the digits; the number is taken when editing ends.
    QCOMPARE(changed.count(), 0);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Return);
    QCOMPARE(m_column->value(), 12);
    QCOMPARE(changed.count(), 1);
}

void TimeColumnTest::pastedNumberOutOfRangeIsClampedWhenEditingEnds()
{
    m_column->setRange(0, 59);
    prepare(30, 0);
    QApplication::clipboard()->setText(QStringLiteral("75"));
    QSignalSpy changed(m_column, &TimeColumn::valueChanged);
    m_column->lineEdit()->selectAll();
    QTest::keyClick(m_column->lineEdit(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(m_column->text(), QStringLiteral("75"));
    m_other->setFocus();
    QTRY_VERIFY(m_other->hasFocus());
    QCOMPARE(m_column->value(), 59);
    QCOMPARE(m_column->text(), QStringLiteral("59"));
    QCOMPARE(changed.count(), 1);
}

void TimeColumnTest::lettersNeverStay()
{
    prepare(7, 0);
    m_column->lineEdit()->selectAll();
    QTest::keyClicks(m_column->lineEdit(), QStringLiteral("x"));
    QCOMPARE(m_column->text(), QString());
    QCOMPARE(m_column->value(), 7);
    // An emptied field reads as 0 when editing ends.
    QTest::keyClick(m_column->lineEdit(), Qt::Key_Return);
    QCOMPARE(m_column->value(), 0);
    QCOMPARE(m_column->text(), QStringLiteral("00"));
}

void TimeColumnTest::unchangedTextDoesNotLeaveEditsUnfiltered()
{
    // Typing 0 over a 0 rewrites the same text; the next foreign text must still be
    // filtered.
    prepare(0, 0);
    QTest::keyClick(m_column->lineEdit(), Qt::Key_0);
    QCOMPARE(m_column->text(), QStringLiteral("00"));
    m_column->lineEdit()->setText(QStringLiteral("7b"));
    QCOMPARE(m_column->text(), QStringLiteral("7"));
}

void TimeColumnTest::focusSwapsCaptionForArrows()
{
    m_other->setFocus();
    QTRY_VERIFY(m_other->hasFocus());
    QVERIFY(!m_column->arrowsShown());
    m_column->lineEdit()->setFocus();
    QTRY_VERIFY(m_column->arrowsShown());
    m_other->setFocus();
    QTRY_VERIFY(!m_column->arrowsShown());

    // Focusing the column itself hands focus to its digits.
    m_column->setFocus();
    QTRY_VERIFY(m_column->lineEdit()->hasFocus());
    QVERIFY(m_column->arrowsShown());
}

void TimeColumnTest::arrowButtonsStep()
{
    prepare(5, 0);
    const QList<QToolButton *> buttons = m_column->findChildren<QToolButton *>();
    QCOMPARE(buttons.size(), 2);
    QToolButton *up = buttons.at(0)->arrowType() == Qt::UpArrow ? buttons.at(0) : buttons.at(1);
    QToolButton *down = up == buttons.at(0) ? buttons.at(1) : buttons.at(0);
    QCOMPARE(down->arrowType(), Qt::DownArrow);
    QTRY_VERIFY(up->isVisible());
    QTest::mouseClick(up, Qt::LeftButton);
    QTest::mouseClick(up, Qt::LeftButton);
    QCOMPARE(m_column->value(), 7);
    QTest::mouseClick(down, Qt::LeftButton);
    QCOMPARE(m_column->value(), 6);
    QCOMPARE(m_column->text(), QStringLiteral("06"));
}

void TimeColumnTest::narrowerRangeClampsAndReports()
{
    m_column->setValue(20);
    QSignalSpy changed(m_column, &TimeColumn::valueChanged);
    m_column->setRange(0, 4);
    QCOMPARE(m_column->value(), 4);
    QCOMPARE(m_column->text(), QStringLiteral("04"));
    QCOMPARE(changed.count(), 1);
    m_column->setRange(0, 23);
    QCOMPARE(m_column->value(), 4);
    QCOMPARE(changed.count(), 1);
}

void TimeColumnTest::editIsCompact()
{
    // Two digits need far less than a default line edit.
    QLineEdit *edit = m_column->lineEdit();
    const int expected = edit->fontMetrics().horizontalAdvance(QStringLiteral("23")) + 15;
    QCOMPARE(edit->minimumWidth(), expected);
    QCOMPARE(edit->width(), expected);

    TimeColumn milliseconds(QStringLiteral("MS"), 0, 999, 3, QStringLiteral("."));
    QLineEdit *msEdit = milliseconds.lineEdit();
    QCOMPARE(msEdit->minimumWidth(),
             msEdit->fontMetrics().horizontalAdvance(QStringLiteral("999")) + 25);
    QCOMPARE(msEdit->maxLength(), 3);
    QCOMPARE(milliseconds.text(), QStringLiteral("000"));
}

QTEST_MAIN(TimeColumnTest)
#include "tst_timecolumn.moc"
