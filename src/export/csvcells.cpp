#include "csvcells.h"

#include <QDateTime>

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

int copyText(const char *text, char *out)
{
    const int length = int(std::strlen(text));
    std::memcpy(out, text, size_t(length));
    return length;
}

// Whether the exact decimal value of v could end in a 5 right after the 16th significant
// digit, the one case where the shortest correct rounding (ties to even) and Qt's rounding
// (ties away from zero) part. decimalExponent is the exponent of the rounded text.
bool mayBeRoundingTie(double v, int decimalExponent)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    const int biased = int((bits >> 52) & 0x7ff);
    quint64 mantissa = bits & ((quint64(1) << 52) - 1);
    int exponent = -1074;
    if (biased != 0) {
        mantissa |= quint64(1) << 52;
        exponent = biased - 1075;
    }
    if (mantissa == 0)
        return false;
    const int trailingZeros = __builtin_ctzll(mantissa);
    mantissa >>= trailingZeros;
    exponent += trailingZeros;
    // An integer has no tie at 16 digits: above 2^53 a double's 17-digit tail cannot be 5
    // followed by zeros, and below it there are at most 16 digits.
    if (exponent >= 0)
        return false;
    // m / 2^k has exactly k digits after the point, so this many significant digits. The
    // rounded text's exponent may be one above the exact one; both neighbours are let through.
    const int significantDigits = -exponent + decimalExponent + 1;
    return significantDigits >= 16 && significantDigits <= 18;
}

} // namespace

namespace CsvCells {

int formatValue(double v, char *out)
{
    if (std::isnan(v))
        return copyText("NAN", out);
    if (std::isinf(v))
        return copyText(v < 0 ? "-INF" : "INF", out);
    if (v == 0.0) // -0.0 as well: Qt drops the sign of zero
        return copyText("0.000000000000000E+00", out);

    const std::to_chars_result result =
        std::to_chars(out, out + maxCellLength, v, std::chars_format::scientific, 15);
    const int length = int(result.ptr - out);
    // "d.ddddddddddddddde" with 15 digits after the point, after a sign when negative.
    char *const e = out + (v < 0 ? 18 : 17);
    *e = 'E';
    int decimalExponent = 0;
    for (const char *digit = e + 2; digit < result.ptr; ++digit)
        decimalExponent = decimalExponent * 10 + (*digit - '0');
    if (e[1] == '-')
        decimalExponent = -decimalExponent;
    if (mayBeRoundingTie(v, decimalExponent)) {
        const QByteArray text = QString::number(v, 'E', 15).toLatin1();
        std::memcpy(out, text.constData(), size_t(text.size()));
        return text.size();
    }
    return length;
}

int formatRowNumber(qint64 n, char *out)
{
    return int(std::to_chars(out, out + maxCellLength, n).ptr - out);
}

} // namespace CsvCells

CsvTimeText::CsvTimeText(const QString &format)
    : format(format)
    , secondsLast(format == QLatin1String("yyyy-MM-dd hh:mm:ss"))
{
}

void CsvTimeText::append(qint64 ms, std::string &out)
{
    if (secondsLast) {
        // Floor division: times before 1970 belong to the minute that starts before them.
        qint64 start = ms / 60000 * 60000;
        if (start > ms)
            start -= 60000;
        if ((minuteValid && start == minuteStart) || loadMinute(start)) {
            const int second = int((ms - minuteStart) / 1000);
            out.append(minutePrefix.constData(), size_t(minutePrefix.size()));
            out.push_back(char('0' + second / 10));
            out.push_back(char('0' + second % 10));
            return;
        }
    }
    const QByteArray text = QDateTime::fromMSecsSinceEpoch(ms).toString(format).toUtf8();
    out.append(text.constData(), size_t(text.size()));
}

bool CsvTimeText::loadMinute(qint64 start)
{
    minuteValid = false;
    const QDateTime first = QDateTime::fromMSecsSinceEpoch(start);
    const QDateTime last = QDateTime::fromMSecsSinceEpoch(start + 59999);
    // The seconds of a UTC minute are the local seconds only when the zone's offset is whole
    // minutes and does not change inside it (old local mean times carry odd seconds).
    if (!first.isValid() || !last.isValid())
        return false;
    const int offset = first.offsetFromUtc();
    if (offset != last.offsetFromUtc() || offset % 60 != 0)
        return false;
    minutePrefix = first.toString(QStringLiteral("yyyy-MM-dd hh:mm:")).toUtf8();
    minuteStart = start;
    minuteValid = true;
    return true;
}
