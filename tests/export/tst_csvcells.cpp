// The cell text of the export against Qt's own formatting, value by value and time by time.
#include "csvcells.h"

#include <QDateTime>
#include <QTimeZone>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

QByteArray fastValue(double v)
{
    char cell[CsvCells::maxCellLength];
    return QByteArray(cell, CsvCells::formatValue(v, cell));
}

QByteArray qtValue(double v)
{
    return QString::number(v, 'E', 15).toUtf8();
}

double fromBits(quint64 bits)
{
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

QByteArray fastTime(CsvTimeText &text, qint64 ms)
{
    std::string out;
    text.append(ms, out);
    return QByteArray(out.data(), int(out.size()));
}

QByteArray qtTime(qint64 ms, const QString &format)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(format).toUtf8();
}

} // namespace

class TestCsvCells : public QObject
{
    Q_OBJECT

private slots:
    void specialValues_data();
    void specialValues();
    void valuesMatchQtEverywhere();
    void roundingTiesMatchQt();
    void rowNumbers();
    void timesMatchQtAroundDaylightSavingChanges_data();
    void timesMatchQtAroundDaylightSavingChanges();
    void timesMatchQtAtRandom();
    void otherFormatsFallBackToQt();
};

void TestCsvCells::specialValues_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("1.5") << 1.5 << QByteArray("1.500000000000000E+00");
    QTest::newRow("-0.25") << -0.25 << QByteArray("-2.500000000000000E-01");
    QTest::newRow("zero") << 0.0 << QByteArray("0.000000000000000E+00");
    // Qt drops the sign of a negative zero.
    QTest::newRow("negative zero") << -0.0 << QByteArray("0.000000000000000E+00");
    QTest::newRow("9.9e37") << 9.9e37 << QByteArray("9.899999999999999E+37");
    QTest::newRow("smallest subnormal")
        << std::numeric_limits<double>::denorm_min() << QByteArray("4.940656458412465E-324");
    QTest::newRow("largest subnormal")
        << fromBits(0x000fffffffffffffULL) << QByteArray("2.225073858507201E-308");
    QTest::newRow("largest") << std::numeric_limits<double>::max()
                             << QByteArray("1.797693134862316E+308");
    QTest::newRow("lowest") << std::numeric_limits<double>::lowest()
                            << QByteArray("-1.797693134862316E+308");
    QTest::newRow("three-digit exponent") << 1e100 << QByteArray("1.000000000000000E+100");
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << QByteArray("NAN");
    QTest::newRow("negative nan") << -std::numeric_limits<double>::quiet_NaN() << QByteArray("NAN");
    QTest::newRow("inf") << std::numeric_limits<double>::infinity() << QByteArray("INF");
    QTest::newRow("-inf") << -std::numeric_limits<double>::infinity() << QByteArray("-INF");
    // Exactly halfway at the 16th digit: Qt rounds away from zero, not to even.
    QTest::newRow("tie up") << 1234567890123456.5 << QByteArray("1.234567890123457E+15");
    QTest::newRow("tie negative") << -1000000000000000.5 << QByteArray("-1.000000000000001E+15");
    QTest::newRow("tie quarter") << 515718121532132.25 << QByteArray("5.157181215321323E+14");
    QTest::newRow("rounds up to next decade")
        << 9.9999999999999995 << QByteArray("1.000000000000000E+01");
}

void TestCsvCells::specialValues()
{
    QFETCH(double, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(qtValue(value), expected); // the reference itself
    QCOMPARE(fastValue(value), expected);
}

void TestCsvCells::valuesMatchQtEverywhere()
{
    std::mt19937_64 random(20250115);
    std::uniform_real_distribution<double> reading(-1000.0, 1000.0);
    std::uniform_int_distribution<int> exponent(-330, 310);
    int compared = 0;
    const auto check = [&](double v) {
        ++compared;
        const QByteArray fast = fastValue(v);
        if (fast != qtValue(v)) {
            QFAIL(qPrintable(QStringLiteral("%1: %2 instead of %3")
                                 .arg(v, 0, 'g', 17)
                                 .arg(QString::fromLatin1(fast), QString::fromLatin1(qtValue(v)))));
        }
    };
    // Any bit pattern: every exponent, subnormals, NaN payloads.
    for (int i = 0; i < 400000; ++i) {
        check(fromBits(random()));
        if (QTest::currentTestFailed())
            return;
    }
    // Readings as an instrument gives them, and decimal values of every magnitude.
    for (int i = 0; i < 300000; ++i) {
        check(reading(random));
        check(std::round(reading(random) * 1e4) / 1e4);
        check(reading(random) * std::pow(10.0, exponent(random)));
        if (QTest::currentTestFailed())
            return;
    }
    // Short binary fractions: where rounding ties live.
    for (qint64 i = 0; i < 100000; ++i) {
        check(double(1000000000000000LL + i) + 0.5);
        check(double(100000000000000LL + i) + 0.25);
        check(-(double(10000000000000LL + i) + 0.125));
        check(std::ldexp(double(i + 1), -60));
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY(compared > 1500000);
}

void TestCsvCells::roundingTiesMatchQt()
{
    // Values with exactly 17 significant digits ending in 5, at many magnitudes.
    int ties = 0;
    for (int shift = 1; shift <= 52; ++shift) {
        for (qint64 k = 1; k < 4000; k += 2) {
            const double v = std::ldexp(double((qint64(1) << 52) + k), -shift);
            QCOMPARE(fastValue(v), qtValue(v));
            QCOMPARE(fastValue(-v), qtValue(-v));
            ++ties;
        }
    }
    QVERIFY(ties > 100000);
}

void TestCsvCells::rowNumbers()
{
    char cell[CsvCells::maxCellLength];
    for (const qint64 n : {qint64(1), qint64(99), qint64(1000000), qint64(1000001),
                           std::numeric_limits<qint64>::max()}) {
        QCOMPARE(QByteArray(cell, CsvCells::formatRowNumber(n, cell)), QByteArray::number(n));
    }
}

void TestCsvCells::timesMatchQtAroundDaylightSavingChanges_data()
{
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<qint64>("step");
    const auto utc = [](int y, int m, int d, int h) {
        return QDateTime(QDate(y, m, d), QTime(h, 0), Qt::UTC).toMSecsSinceEpoch();
    };
    QTest::newRow("spring forward") << utc(2024, 3, 31, 0) << utc(2024, 3, 31, 2) << qint64(997);
    QTest::newRow("fall back") << utc(2024, 10, 26, 23) << utc(2024, 10, 27, 2) << qint64(997);
    QTest::newRow("midnight") << utc(2025, 1, 14, 22) << utc(2025, 1, 15, 0) << qint64(1000);
    // Local mean time of 1893 and earlier: an offset of 53 min 28 s, not whole minutes.
    QTest::newRow("local mean time") << utc(1893, 3, 31, 20) << utc(1893, 4, 1, 2) << qint64(1013);
    QTest::newRow("before 1970") << qint64(-7200000) << qint64(7200000) << qint64(333);
}

void TestCsvCells::timesMatchQtAroundDaylightSavingChanges()
{
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(qint64, step);
    // This suite runs in a zone with daylight saving (see its CMake entry).
    QVERIFY(QTimeZone::systemTimeZone().hasDaylightTime());
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    CsvTimeText text(format);
    for (qint64 ms = from; ms <= to; ms += step) {
        const QByteArray fast = fastTime(text, ms);
        if (fast != qtTime(ms, format))
            QFAIL(qPrintable(
                QStringLiteral("%1: %2 instead of %3")
                    .arg(ms)
                    .arg(QString::fromUtf8(fast), QString::fromUtf8(qtTime(ms, format)))));
    }
}

void TestCsvCells::timesMatchQtAtRandom()
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    CsvTimeText text(format);
    std::mt19937_64 random(7);
    std::uniform_int_distribution<qint64> anyTime(-2500000000000LL, 4200000000000LL);
    std::uniform_int_distribution<qint64> jitter(-1500, 90000);
    qint64 ms = 1736933400123LL;
    for (int i = 0; i < 100000; ++i) {
        // Mostly small steps, as rows come; now and then a jump anywhere.
        ms = (i % 50 == 0) ? anyTime(random) : ms + jitter(random);
        const QByteArray fast = fastTime(text, ms);
        if (fast != qtTime(ms, format))
            QFAIL(qPrintable(
                QStringLiteral("%1: %2 instead of %3")
                    .arg(ms)
                    .arg(QString::fromUtf8(fast), QString::fromUtf8(qtTime(ms, format)))));
    }
}

void TestCsvCells::otherFormatsFallBackToQt()
{
    for (const QString &format :
         {QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"), QStringLiteral("dd.MM.yyyy hh:mm"),
          QStringLiteral("yyyy年MM月dd日 hh时mm分ss秒")}) {
        CsvTimeText text(format);
        for (qint64 ms = 1711846800000LL; ms < 1711846800000LL + 7200000; ms += 61001)
            QCOMPARE(fastTime(text, ms), qtTime(ms, format));
    }
}

QTEST_GUILESS_MAIN(TestCsvCells)
#include "tst_csvcells.moc"
