#include "csvpartfile.h"

#include "storeclock.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

QString numberedFilePath(const QString &path, int n)
{
    const QFileInfo info(path);
    const QString name =
        QStringLiteral("%1_%2_%3.%4")
            .arg(info.completeBaseName(), QString::number(n),
                 StoreClock::nowLocal().toString(QStringLiteral("yyyyMMddhhmmss")), info.suffix());
    return info.absoluteDir().absoluteFilePath(name);
}

CsvPartFile::CsvPartFile(const QString &basePath, const QString &separator, const CsvHeader &header,
                         const QStringList &columns)
    : basePath(basePath)
    , separator(separator)
    , header(header)
    , columns(columns)
{
}

CsvPartFile::~CsvPartFile()
{
    if (file.isOpen())
        close();
}

CsvPartFile::OpenStatus CsvPartFile::open(int n)
{
    pending.clear();
    error.clear();
    if (file.isOpen()) {
        stream.flush();
        file.close();
    }
    partPath = numberedFilePath(basePath, n);
    if (!create()) {
        if (file.isOpen())
            file.close();
        return OpenStatus::OpenFailed;
    }
    // The header goes out at once, so that a disk that is already full shows here and not
    // as a row that seemed to be written.
    stream.flush();
    if (stream.status() != QTextStream::Ok || file.error() != QFileDevice::NoError) {
        fail(file.errorString());
        return OpenStatus::WriteFailed;
    }
    return OpenStatus::Opened;
}

bool CsvPartFile::create()
{
    const QString dirPath = QFileInfo(partPath).absolutePath();
    if (!QDir(dirPath).exists() && !QDir().mkpath(dirPath)) {
        qWarning().noquote() << "无法创建目标目录:" << dirPath;
        return false;
    }
    file.setFileName(partPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qWarning().noquote() << "无法创建CSV文件:" << partPath << file.errorString();
        return false;
    }
    stream.setDevice(&file);
    stream.setGenerateByteOrderMark(true);
    stream.setCodec("UTF-8");

    // The file's own words: the same whatever language the window speaks.
    const auto headerLine = [this](const QString &label, const QString &value) {
        stream << label << separator << value << "\n";
    };
    headerLine(QStringLiteral("地址"), header.address);
    headerLine(QStringLiteral("型号"), header.model);
    headerLine(QStringLiteral("序列号："), header.serial);
    headerLine(QStringLiteral("开始时间"), CsvHeader::timeText(header.startMs));
    headerLine(QStringLiteral("结束时间"), CsvHeader::timeText(header.endMs));

    stream << QStringLiteral("编号") << separator << QStringLiteral("时间") << separator;
    for (const QString &name : columns)
        stream << name << separator;
    stream << "\n";
    return true;
}

bool CsvPartFile::flush()
{
    if (!file.isOpen())
        return fail(QStringLiteral("file not open"));
    if (!pending.empty()) {
        const qint64 size = qint64(pending.size());
        const qint64 written = file.write(pending.data(), size);
        pending.clear();
        if (written != size)
            return fail(file.errorString());
    }
    if (!file.flush())
        return fail(file.errorString());
    return true;
}

bool CsvPartFile::close()
{
    if (!file.isOpen())
        return error.isEmpty();
    bool ok = flush();
    const qint64 written = file.pos();
    // QFile::close() ignores a failing flush; the error stays readable afterwards.
    file.close();
    if (ok && file.error() != QFileDevice::NoError)
        ok = fail(file.errorString());
    if (ok) {
        // Writing into a file that was deleted (or replaced) meanwhile succeeds on most
        // systems; only the file left on disk tells.
        const QFileInfo onDisk(partPath);
        if (!onDisk.exists())
            ok = fail(QStringLiteral("file no longer exists"));
        else if (onDisk.size() != written)
            ok = fail(QStringLiteral("file holds %1 of %2 bytes").arg(onDisk.size()).arg(written));
    }
    stream.setDevice(nullptr);
    return ok;
}

bool CsvPartFile::fail(const QString &what)
{
    if (error.isEmpty())
        error = what;
    return false;
}
