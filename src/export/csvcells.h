// Text of the CSV data cells, byte for byte what QString::number(v, 'E', 15) and
// QDateTime::toString(csvTimeFormat) give, written straight into a byte buffer.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <string>

namespace CsvCells {

// Room a value or row number cell needs at most.
constexpr int maxCellLength = 32;

// Writes QString::number(v, 'E', 15) of v to out; returns its length.
int formatValue(double v, char *out);
// Writes n in decimal to out; returns its length.
int formatRowNumber(qint64 n, char *out);

} // namespace CsvCells

// The time cell: a local date-time in a QDateTime format. For the usual "yyyy-MM-dd hh:mm:ss"
// the text of a whole minute is worked out once and only the seconds are filled in per row.
// The format of the time column.
inline const QString csvTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

class CsvTimeText
{
public:
    explicit CsvTimeText(const QString &format);

    // Appends the local date-time of ms (milliseconds since the epoch) as UTF-8.
    void append(qint64 ms, std::string &out);

private:
    bool loadMinute(qint64 minuteStart);

    QString format;
    bool secondsLast; // format is "yyyy-MM-dd hh:mm:ss": the per-minute path applies
    bool minuteValid = false;
    qint64 minuteStart = 0;  // UTC start of the cached minute
    QByteArray minutePrefix; // its local text up to and including the ':' before the seconds
};
