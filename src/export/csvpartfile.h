// The part file of an export being written: named after the export's file and its number,
// opened with its header lines, filled with data rows from a byte buffer, and every write, flush
// and close checked, so that a full disk, an I/O error or a file removed behind the export's back
// is never taken for success.
#pragma once

#include "csvheader.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <string>

// Part n of the export to path: "<base>_<n>_<yyyyMMddhhmmss>.<suffix>" in the directory of path,
// stamped with the store clock's local time.
QString numberedFilePath(const QString &path, int n);

class CsvPartFile
{
public:
    enum class OpenStatus
    {
        Opened,
        OpenFailed,
        WriteFailed
    };

    // columns: the curve names, one column each after the number and the time.
    CsvPartFile(const QString &basePath, const QString &separator, const CsvHeader &header,
                const QStringList &columns);
    ~CsvPartFile();

    CsvPartFile(const CsvPartFile &) = delete;
    CsvPartFile &operator=(const CsvPartFile &) = delete;

    // Opens part n and writes its header. The part must have been closed before. path() is the
    // part's path afterwards, also when opening failed (empty if no name was formed).
    OpenStatus open(int n);
    bool isOpen() const { return file.isOpen(); }
    QString path() const { return partPath; }

    // Data rows are appended here as UTF-8 and reach the file on flush.
    std::string &rows() { return pending; }
    // Writes the pending rows and flushes the file; false on any failure.
    bool flush();
    // flush, close, and make sure the file on disk holds everything written; false on any
    // failure. The file is closed afterwards either way.
    bool close();
    // What went wrong, for the log.
    QString errorText() const { return error; }

private:
    bool fail(const QString &what);
    // Creates the part's file at partPath and writes its byte order mark and header lines into
    // stream; false when the file could not be made.
    bool create();

    const QString basePath;
    const QString separator;
    const CsvHeader header;
    const QStringList columns;

    QFile file;
    QTextStream stream;
    QString partPath;
    std::string pending;
    QString error;
};
