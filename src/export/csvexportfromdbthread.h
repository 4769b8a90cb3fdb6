// Exports stored curves to CSV part files on a thread of its own: one column per curve, rows
// aligned by sequence, at most 1 000 000 data rows per part; reports the outcome and the files.
#pragma once

#include "csvheader.h"
#include "exportresult.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include "workerthread.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CurveDataDB;
class CsvPartFile;
class CsvTimeText;
struct AlignedRows;
class ExportRowReader;

class CsvExportFromDBThread : public WorkerThread
{
    Q_OBJECT
public:
    static constexpr qint64 maxRowsPerPart = 1000000;
    // Progress is reported at most this often, looked at every progressCheckRows rows.
    static constexpr int progressIntervalMs = 100;
    static constexpr qint64 progressCheckRows = 1024;

    CsvExportFromDBThread(CurveDataDB *store, const QList<int> &curveIds, const QString &filePath,
                          const QString &separator, const CsvHeader &header, qint64 startTime,
                          qint64 endTime, QObject *parent = nullptr);
    ~CsvExportFromDBThread() override;

    // Starts the export unless it is already running.
    void startExport();
    // Asks the export to end before its next row; it then reports Cancelled.
    void stopExport() { requestStop(); }
    bool isExporting() const;

signals:
    // Data rows written out of total, the rows the store holds for the export (-1 when they
    // could not be counted): once with 0 before the first row, then at most every
    // progressIntervalMs, and after the last row. From the export thread.
    void exportProgress(qint64 processed, qint64 total);
    // Once per run, from the export thread. files is empty unless result is Success.
    void exportFinished(ExportResult result, QStringList files);

protected:
    void work() override;

private:
    // Names of the curves asked for that the store knows, by ascending id: the columns.
    QStringList selectExistingCurves(const QMap<int, QString> &names) const;
    ExportResult exportRows(const QStringList &columns, QStringList &files);
    ExportResult writeParts(const std::vector<std::unique_ptr<ExportRowReader>> &readers,
                            const QStringList &columns, qint64 totalRows, QStringList &files);
    // Appends data row rowNo to out: row index of the current block of every reader (null
    // for a reader without rows left); false if it could not be written.
    bool writeCsvRow(std::string &out, qint64 rowNo, const std::vector<const AlignedRows *> &blocks,
                     const std::vector<int> &curveCounts, int index, CsvTimeText &timeText) const;
    void setExporting(bool value);

    CurveDataDB *store;
    const QList<int> curveIds;
    const QString filePath;
    const QString separator;
    const CsvHeader header;
    const qint64 startTime;
    const qint64 endTime;
    const std::string separatorUtf8;

    // std::mutex rather than QMutex: its locking is visible to the thread sanitizer.
    mutable std::mutex stateMutex;
    bool exporting = false;
};
