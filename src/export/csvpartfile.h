// The part file of an export being written: opened with its header through the store, filled
// with data rows from a byte buffer, and every write, flush and close checked, so that a full
// disk, an I/O error or a file removed behind the export's back is never taken for success.
#pragma once

#include <QFile>
#include <QList>
#include <QMap>
#include <QString>
#include <QTextStream>

#include <string>

class CurveDataDB;

class CsvPartFile
{
public:
    enum class OpenStatus
    {
        Opened,
        OpenFailed,
        WriteFailed
    };

    CsvPartFile(CurveDataDB *store, const QString &basePath, const QString &separator,
                const QMap<QString, QString> &headerFields, const QList<int> &curveIds);
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

    CurveDataDB *store;
    const QString basePath;
    const QString separator;
    const QMap<QString, QString> headerFields;
    const QList<int> curveIds;

    QFile file;
    QTextStream stream;
    QString partPath;
    std::string pending;
    QString error;
};
