#include "csvheader.h"

#include <QDateTime>

QString CsvHeader::timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy MM dd hh mm ss zzz"));
}
