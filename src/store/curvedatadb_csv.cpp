// One part file of a CSV export: its name, byte order mark and header lines. Runs on the
// export thread; only the curve names are read from the store, under its lock.
#include "curvedatadb.h"

#include "shardcalendar.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

bool CurveDataDB::openCsvPart(const QString &basePath, int part, const QString &separator,
                              const QMap<QString, QString> &headerFields,
                              const QList<int> &curveIds, QFile *file, QTextStream *stream,
                              QString *partPath)
{
    if (!file || !stream)
        return false;
    if (file->isOpen()) {
        stream->flush();
        file->close();
    }
    const QString path = numberedFilePath(basePath, part);
    if (partPath)
        *partPath = path;
    const QString dirPath = QFileInfo(path).absolutePath();
    if (!QDir(dirPath).exists() && !QDir().mkpath(dirPath)) {
        qWarning().noquote() << "无法创建目标目录:" << dirPath;
        return false;
    }
    file->setFileName(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qWarning().noquote() << "无法创建CSV文件:" << path << file->errorString();
        return false;
    }
    stream->setDevice(file);
    stream->setGenerateByteOrderMark(true);
    stream->setCodec("UTF-8");

    const auto headerLine = [&](const QString &label, const char *key) {
        *stream << label << separator << headerFields.value(QString::fromLatin1(key)) << "\n";
    };
    headerLine(tr("地址"), "address");
    headerLine(tr("型号"), "instrumentModel");
    headerLine(tr("序列号："), "instrumentNum");
    headerLine(tr("开始时间"), "startTime");
    headerLine(tr("结束时间"), "endTime");

    *stream << tr("编号") << separator << tr("时间") << separator;
    {
        std::lock_guard<std::recursive_mutex> lock(storeMutex);
        for (auto it = curveNames.cbegin(); it != curveNames.cend(); ++it) {
            if (curveIds.contains(it.key()))
                *stream << it.value() << separator;
        }
    }
    *stream << "\n";
    return true;
}
