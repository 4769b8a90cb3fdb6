#include "csvpartfile.h"

#include "curvedatadb.h"

#include <QFileInfo>

CsvPartFile::CsvPartFile(CurveDataDB *store, const QString &basePath, const QString &separator,
                         const QMap<QString, QString> &headerFields, const QList<int> &curveIds)
    : store(store)
    , basePath(basePath)
    , separator(separator)
    , headerFields(headerFields)
    , curveIds(curveIds)
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
    partPath.clear();
    if (!store->openCsvPart(basePath, n, separator, headerFields, curveIds, &file, &stream,
                            &partPath)) {
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
