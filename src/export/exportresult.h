// The outcome of one CSV export, carried by CsvExportFromDBThread::exportFinished across threads.
#pragma once

#include <QMetaType>

enum class ExportResult : int
{
    Success = 0,       // every row written and every part file closed
    FileError = 1,     // the first or a later part file could not be created
    NoData = 2,        // nothing to export
    DatabaseError = 3, // the export has no store
    Cancelled = 4,     // a stop was requested
    WriteError = 5     // writing, flushing or closing a part file failed
};

Q_DECLARE_METATYPE(ExportResult)

// Registers ExportResult under the name "ExportResult" (idempotent).
void registerExportResultMetaType();
