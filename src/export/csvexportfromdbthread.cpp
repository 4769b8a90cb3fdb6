#include "csvexportfromdbthread.h"

#include "csvcells.h"
#include "csvpartfile.h"
#include "curvedatadb.h"
#include "exportrowreader.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

CsvExportFromDBThread::CsvExportFromDBThread(CurveDataDB *store, const QList<int> &curveIds,
                                             const QString &filePath, const QString &separator,
                                             const CsvHeader &header, qint64 startTime,
                                             qint64 endTime, QObject *parent)
    : WorkerThread(QStringLiteral("csv-export"), parent)
    , store(store)
    , curveIds(curveIds)
    , filePath(filePath)
    , separator(separator)
    , header(header)
    , startTime(startTime)
    , endTime(endTime)
    , separatorUtf8(separator.toStdString())
{
    registerExportResultMetaType();
}

CsvExportFromDBThread::~CsvExportFromDBThread()
{
    // A QThread object must not die while its thread runs.
    requestStop();
    waitForEnd();
}

void CsvExportFromDBThread::startExport()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    if (exporting || isRunning()) {
        qWarning().noquote() << "[导出线程] 已在运行中，无需重复启动";
        return;
    }
    // Set here already, so that a second start right after this one is refused too.
    exporting = true;
    startWork();
}

bool CsvExportFromDBThread::isExporting() const
{
    std::lock_guard<std::mutex> lock(stateMutex);
    return exporting;
}

void CsvExportFromDBThread::setExporting(bool value)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    exporting = value;
}

void CsvExportFromDBThread::work()
{
    setExporting(true);
    QStringList files;
    ExportResult result = ExportResult::NoData;

    if (!store) {
        qCritical().noquote() << "[导出线程] CurveDataDB实例为空";
        result = ExportResult::DatabaseError;
    } else if (curveIds.isEmpty()) {
        qCritical().noquote() << "[导出线程] 未选中任何曲线";
        result = ExportResult::NoData;
    } else {
        const QMap<int, QString> names = store->getCurveNames();
        const QStringList exported = selectExistingCurves(names);
        if (names.isEmpty()) {
            qCritical().noquote() << "[导出线程] CurveDataDB中无任何曲线";
            result = ExportResult::NoData;
        } else if (exported.isEmpty()) {
            qCritical().noquote() << "[导出线程] 选中的曲线在CurveDataDB中不存在";
            result = ExportResult::NoData;
        } else {
            result = exportRows(exported, files);
        }
    }

    // Part files are temporary until the export has succeeded.
    if (result != ExportResult::Success) {
        for (const QString &path : qAsConst(files)) {
            if (QFile::exists(path) && !QFile::remove(path))
                qWarning().noquote() << "[导出线程] 删除临时文件失败：" << path;
        }
        files.clear();
    }
    setExporting(false);
    emit exportFinished(result, files);
}

QStringList CsvExportFromDBThread::selectExistingCurves(const QMap<int, QString> &names) const
{
    QStringList exported;
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        if (curveIds.contains(it.key()))
            exported.append(it.value());
    }
    return exported;
}

ExportResult CsvExportFromDBThread::exportRows(const QStringList &exported, QStringList &files)
{
    // The cursors live on reader threads and read the day files through connections of those
    // threads; no connection of another thread is ever used here. Two readers split the
    // curves where two cores can take them; the first reader has the first curve, whose time
    // is the row's time.
    const int readerCount = std::min(exported.size(), QThread::idealThreadCount() > 1 ? 2 : 1);
    std::vector<std::unique_ptr<ExportRowReader>> readers;
    const int perReader = (exported.size() + readerCount - 1) / readerCount;
    for (int first = 0; first < exported.size(); first += perReader) {
        readers.push_back(std::make_unique<ExportRowReader>(store, exported.mid(first, perReader),
                                                            startTime, endTime));
    }
    bool anyRow = false;
    // Rows are aligned by sequence: the export has as many as its longest curve.
    qint64 totalRows = 0;
    for (auto &reader : readers) {
        anyRow = reader->begin() || anyRow;
        const qint64 rows = reader->rowCount();
        totalRows = rows < 0 || totalRows < 0 ? -1 : std::max(totalRows, rows);
    }
    ExportResult result = ExportResult::NoData;
    if (!anyRow)
        qCritical().noquote() << "[导出线程] 所有选中曲线均无有效数据（游标初始化失败）";
    else
        result = writeParts(readers, exported, totalRows, files);
    for (auto &reader : readers)
        reader->finish();
    return result;
}

ExportResult
CsvExportFromDBThread::writeParts(const std::vector<std::unique_ptr<ExportRowReader>> &readers,
                                  const QStringList &columns, qint64 totalRows, QStringList &files)
{
    CsvPartFile part(filePath, separator, header, columns);
    const auto writeFailed = [&part] {
        qCritical().noquote() << "[导出线程] 写入CSV文件失败：" << part.path() << part.errorText();
        return ExportResult::WriteError;
    };

    int partNo = 1;
    switch (part.open(partNo)) {
    case CsvPartFile::OpenStatus::OpenFailed:
        qCritical().noquote() << "[导出线程] 创建CSV文件失败：" << part.path();
        return ExportResult::FileError;
    case CsvPartFile::OpenStatus::WriteFailed:
        files.append(part.path());
        part.close();
        return writeFailed();
    case CsvPartFile::OpenStatus::Opened:
        files.append(part.path());
        break;
    }

    CsvTimeText timeText(csvTimeFormat);
    // The current block of every reader (null once it has no more) and the row in them.
    std::vector<const AlignedRows *> blocks(readers.size(), nullptr);
    std::vector<int> curveCounts;
    for (const auto &reader : readers)
        curveCounts.push_back(reader->curveCount());
    int index = 0;
    int blockRows = 0;
    qint64 rowNo = 1;
    qint64 rowsInFile = 0;
    ExportResult result = ExportResult::Success;
    qint64 rowsReported = 0;
    QElapsedTimer sinceReport;
    sinceReport.start();
    emit exportProgress(0, totalRows);
    while (true) {
        if (stopRequested()) {
            qDebug().noquote() << "[导出线程] 收到停止信号，终止导出";
            result = ExportResult::Cancelled;
            break;
        }
        if (index >= blockRows) {
            blockRows = 0;
            index = 0;
            for (size_t r = 0; r < readers.size(); ++r) {
                blocks[r] = readers[r]->nextBlock();
                if (blocks[r])
                    blockRows = std::max(blockRows, blocks[r]->count);
            }
        }
        if (blockRows == 0) {
            // A file with nothing but its header is no success (the store may have been
            // cleared since the cursors began).
            if (rowNo == 1) {
                qCritical().noquote() << "[导出线程] 所有选中曲线均无有效数据";
                result = ExportResult::NoData;
                break;
            }
            qDebug().noquote() << "[导出线程] 所有曲线数据导出完成";
            result = ExportResult::Success;
            // The count missed rows (a table it could not read): the end is reported anyway.
            if (rowsReported != rowNo - 1)
                emit exportProgress(rowNo - 1, totalRows);
            break;
        }
        if (!writeCsvRow(part.rows(), rowNo, blocks, curveCounts, index, timeText)) {
            qCritical().noquote() << "[导出线程] 写入CSV行失败";
            result = ExportResult::WriteError;
            break;
        }
        ++index;
        ++rowsInFile;
        if (rowNo == totalRows ||
            (rowNo % progressCheckRows == 0 && sinceReport.elapsed() >= progressIntervalMs)) {
            rowsReported = rowNo;
            sinceReport.restart();
            emit exportProgress(rowNo, totalRows);
        }
        if (rowsInFile % 1000 == 0 && !part.flush()) {
            result = writeFailed();
            break;
        }
        if (rowsInFile >= maxRowsPerPart) {
            if (!part.close()) {
                result = writeFailed();
                break;
            }
            ++partNo;
            const CsvPartFile::OpenStatus status = part.open(partNo);
            if (status == CsvPartFile::OpenStatus::OpenFailed) {
                qCritical().noquote() << "[导出线程] 创建CSV分片失败：" << part.path();
                result = ExportResult::FileError;
                break;
            }
            files.append(part.path());
            if (status == CsvPartFile::OpenStatus::WriteFailed) {
                result = writeFailed();
                break;
            }
            rowsInFile = 0;
        }
        ++rowNo;
    }

    if (part.isOpen() && !part.close() && result == ExportResult::Success)
        result = writeFailed();
    return result;
}

bool CsvExportFromDBThread::writeCsvRow(std::string &out, qint64 rowNo,
                                        const std::vector<const AlignedRows *> &blocks,
                                        const std::vector<int> &curveCounts, int index,
                                        CsvTimeText &timeText) const
{
    try {
        char cell[CsvCells::maxCellLength];
        out.append(cell, size_t(CsvCells::formatRowNumber(rowNo, cell)));
        out.append(separatorUtf8);
        // The time column is the first curve's; empty once that curve has run out.
        const AlignedRows *first = blocks.front();
        if (first && index < first->count &&
            first->present[size_t(index) * size_t(curveCounts.front())])
            timeText.append(first->times[size_t(index)], out);
        for (size_t r = 0; r < blocks.size(); ++r) {
            const AlignedRows *block = blocks[r];
            const int count = curveCounts[r];
            const bool hasRow = block && index < block->count;
            for (int c = 0; c < count; ++c) {
                out.append(separatorUtf8);
                if (!hasRow)
                    continue;
                const size_t at = size_t(index) * size_t(count) + size_t(c);
                if (block->present[at])
                    out.append(cell, size_t(CsvCells::formatValue(block->values[at], cell)));
            }
        }
        out.push_back('\n');
        return true;
    } catch (const std::exception &e) {
        qWarning().noquote() << "[写入CSV] 失败：" << e.what();
        return false;
    }
}
