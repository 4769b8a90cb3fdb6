// The overload value and the test for a measured value that the scan, the plot and the
// publisher share: its edges on both signs, and the instrument's own spelling of an overload.
#include "readingvalue.h"

#include <QtTest>

#include <cmath>
#include <limits>

class TestReadingValue : public QObject
{
    Q_OBJECT
private slots:
    void measuredValues_data();
    void measuredValues();
    void theInstrumentsOverloadTextIsTheOverloadValue_data();
    void theInstrumentsOverloadTextIsTheOverloadValue();
};

void TestReadingValue::measuredValues_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("measured");
    const double overload = ReadingValue::Overload;
    QTest::newRow("zero") << 0.0 << true;
    QTest::newRow("negative zero") << -0.0 << true;
    QTest::newRow("denormal") << std::numeric_limits<double>::denorm_min() << true;
    QTest::newRow("just below") << std::nextafter(overload, 0.0) << true;
    QTest::newRow("just above minus") << std::nextafter(-overload, 0.0) << true;
    QTest::newRow("overload") << overload << false;
    QTest::newRow("minus overload") << -overload << false;
    QTest::newRow("just beyond") << std::nextafter(overload, HUGE_VAL) << false;
    QTest::newRow("largest double") << std::numeric_limits<double>::max() << false;
    QTest::newRow("inf") << std::numeric_limits<double>::infinity() << false;
    QTest::newRow("-inf") << -std::numeric_limits<double>::infinity() << false;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << false;
    QTest::newRow("-nan") << -std::numeric_limits<double>::quiet_NaN() << false;
}

void TestReadingValue::measuredValues()
{
    QFETCH(double, value);
    QFETCH(bool, measured);
    QCOMPARE(ReadingValue::isMeasured(value), measured);
}

// The instrument reports an overload as a number with a good status; the logger stores what
// it parsed, so that text must come out as exactly the overload value.
void TestReadingValue::theInstrumentsOverloadTextIsTheOverloadValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("long form") << "+9.90000000E+37" << ReadingValue::Overload;
    QTest::newRow("short form") << "9.9E37" << ReadingValue::Overload;
    QTest::newRow("negative") << "-9.90000000E+37" << -ReadingValue::Overload;
}

void TestReadingValue::theInstrumentsOverloadTextIsTheOverloadValue()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    QVERIFY(ok);
    QCOMPARE(parsed, value);
    QVERIFY(!ReadingValue::isMeasured(parsed));
}

QTEST_APPLESS_MAIN(TestReadingValue)
#include "tst_readingvalue.moc"
