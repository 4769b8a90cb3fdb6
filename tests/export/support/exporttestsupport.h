// Helpers for the export suites: real stores written through the store's own API under a
// frozen clock, a thread-safe log capture, running an export to its end, an independent
// reference export read with the sqlite3 C API, and golden-file comparison.
#pragma once

#include "csvheader.h"
#include "exportresult.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTime>

#include <memory>

class CurveDataDB;
class CsvExportFromDBThread;

namespace ExportTest {

struct Sample
{
    int curveId;
    qint64 time;
    double value;
};

// Milliseconds of a local date and wall-clock time (with milliseconds).
qint64 localMs(const QDate &date, const QTime &time);

// A store of its own in a temporary directory. Samples are written through insertData with the
// store clock set to each sample's time, as a recording would write them.
class TestStore
{
public:
    // The clock starts at startMs; names are registered in the order given (ids 1, 2, ...).
    TestStore(qint64 startMs, const QStringList &curveNames);
    ~TestStore();

    CurveDataDB *store() const { return db.get(); }
    QString dataDir() const;
    QString exportDir() const; // an empty folder for the CSV files
    int idOf(const QString &name) const { return ids.value(name, -1); }
    // Writes the samples in time order; afterwards the clock stands at clockAfter (if given).
    void write(QList<Sample> samples, qint64 clockAfter = -1);
    // Writes many samples of one day, in time order, through insertData inside one transaction
    // on the store's connection to that day's file, with the clock at clockAt (same day, not
    // before the last sample). The batch tables are made first, outside the transaction; the
    // store's per-sample metadata save cannot open its own transaction inside this one, so its
    // metadata is saved once at the end instead (and those warnings are kept out of the log).
    bool writeInOneTransaction(const QList<Sample> &samples, qint64 clockAt);
    void setClock(qint64 ms);

private:
    QTemporaryDir dir;
    std::unique_ptr<CurveDataDB> db;
    QMap<QString, int> ids;
};

// Records every Qt log message while alive, from any thread.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList messages() const;
    // Messages that contain every fragment.
    int count(const QStringList &fragments) const;
    bool contains(const QString &fragment) const { return count({fragment}) > 0; }
};

struct ExportOutcome
{
    bool finished = false; // exportFinished arrived in time
    int resultCount = 0;   // how many exportFinished arrived
    ExportResult result = ExportResult::Success;
    QStringList files;
};

// Starts the export, waits for its result on this thread's event loop, then for the thread.
ExportOutcome runExport(CsvExportFromDBThread &thread, int timeoutMs = 120000);

// The header of the golden files: started 2025-01-15 10:30:00.123, ended 10:40:01.456 local time.
CsvHeader headerFields();

// The export of the given curve names (in the given column order) built independently: rows
// read from every day file with the sqlite3 C API, cells formatted with QString::number and
// QDateTime::toString, written through QTextStream. One QByteArray per part file.
QList<QByteArray> referenceExport(const QString &dataDir, const QStringList &curveNames,
                                  qint64 start, qint64 end, const QString &separator,
                                  const CsvHeader &header);

QByteArray readFile(const QString &path);
// Empty when equal; otherwise the first differing line of each, escaped, with its number.
QString lineDiff(const QByteArray &actual, const QByteArray &expected);
QString goldenPath(const QString &name);

// Files (not directories) in dir whose name ends with suffix.
QStringList filesIn(const QString &dir, const QString &suffix = QStringLiteral(".csv"));

} // namespace ExportTest
