// The process-wide curve store: today's day file as the current database, the curve registry
// (name -> id per day file), the per-curve extremes, sample routing into day files and six-hour
// batch tables, and clearing of the whole store.
//
// Threads: the store is driven from the GUI thread. Another thread (a StoredCurveCursor of the
// export, the plot's read-back or the publisher) may call getConnection, getCurveNames,
// isClearing and dataDirectory; getConnection then returns a connection owned by that thread,
// which a StoreReaderScope on that thread hands back when the reading is done.
#pragma once

#include "dbtypes.h"
#include "shardcalendar.h"
#include "statementcache.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <mutex>

class QThread;
class TrackedQuery;

// What the day files of a data-set directory hold, read without opening it as a store: the
// curves by id and the times of the first and last stored sample.
struct StoredRecording
{
    QMap<int, QString> curveNames;
    qint64 firstMs = 0;
    qint64 lastMs = -1;
};

class CurveDataDB : public QObject
{
    Q_OBJECT
public:
    // The recording left in dataDirPath (by an earlier process, say), read from its files.
    static StoredRecording storedRecording(const QString &dataDirPath);

    // The store of the data set in dataDirPath, made when missing; its owner deletes it before
    // the application object goes.
    explicit CurveDataDB(const QString &dataDirPath, QObject *parent = nullptr);
    ~CurveDataDB() override;

    // Makes sure the data directory and today's file can be used (creating them when missing);
    // false with lastError telling why, e.g. a plain file in the way or a name too long.
    bool ensureUsable();
    // The cause of the most recent failure to open, register or store, for the user.
    QString lastError() const;

    // Id of the curve name in today's file, registering it if needed; -1 on failure.
    int registerCurve(const QString &name);
    // Makes the file of the store clock's day current (registering the known curves there); a
    // no-op while it is. Every write does this first.
    void switchToTodayDatabase();

    // Stores one sample of curveId (the id registerCurve returned) in the day file and batch
    // table of its time stamp and keeps that file's curve metadata up to date, both in one
    // transaction. False when the sample could not be stored (lastError says why); a second
    // sample at the same millisecond is ignored and is no failure.
    bool insertData(int curveId, qint64 time, double value);

    // The samples of one scan are stored in one transaction per day file they go to: one
    // commit writes the scan's rows and metadata, and a kill at any moment leaves every
    // committed scan whole. Between beginScan and endScan, insertData writes into that
    // transaction. endScan(true) commits and returns whether every part committed;
    // endScan(false), or a commit that fails, rolls the scan back, and the store's memory of
    // the current file (extremes, batch tables) goes back to where the scan began. A scan that
    // crosses midnight commits the part in the day file it leaves before it moves on.
    bool beginScan();
    bool endScan(bool commit);

    // Makes the batch table of curveId for the slice of time, in the day file of time, as the
    // first sample of that slice would: for loaders that write a data set's rows themselves.
    bool ensureBatchTable(int curveId, qint64 time);

    // Deletes every day file; sigClearFinished follows when today's empty file is current.
    void clearAllData();

    // The calling thread's connection to the day file at path, for reading it (a cursor on
    // another thread gets one of its own, which a StoreReaderScope hands back); null while the
    // store is being cleared or when the file cannot be opened.
    QSharedPointer<QSqlDatabase> getConnection(const QString &path);

    // Observers.
    QString dataDirectory() const;
    QString currentDatabasePath() const;
    bool isClearing() const;
    // Extremes of curveId in the current file, as far as the store knows them.
    DBCurveMetadata curveMetadataOf(int curveId) const;
    QMap<int, QString> getCurveNames() const;

signals:
    void sigClearFinished();

private slots:
    void startClearWorker();
    void onClearFinished();

private:
    // Everything below runs with storeMutex held by the public function that called it (or in
    // the constructor, before another thread can know the store), and never takes it again.
    // The gate to the pool: refuses every path while the store is being cleared.
    QSharedPointer<QSqlDatabase> openGated(const QString &path);
    // switchToTodayDatabase's work.
    void enterToday();
    // Reads the registry, batch tables and extremes of the file at path into memory.
    bool loadMetadata(const QString &path);
    // endScan's work.
    bool finishScan(bool commit);
    void closeCurrentDatabase();
    void closeAllDatabases();
    // In memory only.
    void updateCurveMetadata(int curveId, qint64 time, double value);
    bool createBatchTable(const DBBatchInfo &info, QSqlDatabase db, int curveId);

    bool currentIsOpen() const;
    // Lets go of the current connection and the statements prepared on it.
    void releaseCurrentConnection();
    // The day file of ms through the calendar memo.
    QString memoPathForTime(qint64 ms);
    // The id of name in the file of db, registering it there when missing; false on failure.
    bool curveIdInFile(const QSqlDatabase &db, const QString &name, int *fileCurveId);
    // The id in the current file of the curve the store knows as curveId, found (or
    // registered) by its name on first use; -1 on failure.
    int currentFileIdOf(int curveId);
    // The store's id of name, which has fileCurveId in the current file: a known name keeps
    // its id; a new one takes fileCurveId unless another curve of the store holds it.
    int storeIdOf(const QString &name, int fileCurveId);
    bool ensureBatchTableIn(int curveId, qint64 time, int *fileCurveId);
    bool writeCurrentMetadata();
    // The changed curves' metadata rows, inside a transaction the caller holds.
    bool writeMetadataRows();
    bool inSavepoint(TrackedQuery *begin, TrackedQuery *release, TrackedQuery *rollback,
                     const std::function<bool()> &work, const QString &what);
    // curveId: the curve's id in the current file.
    bool insertIntoCurrent(int curveId, const QString &table, qint64 time, double value);
    bool insertIntoOtherFile(const QSqlDatabase &db, const QString &path, int fileCurveId,
                             const QString &table, qint64 time, double value);
    bool makeDataDirectory();
    // Logs what failed and keeps the cause for lastError.
    void noteFailure(const QString &what, const QString &cause);
    bool updateFileMetadata(const QSqlDatabase &db, int fileCurveId, qint64 time, double value);
    // Enters db into the open scan's transaction (a no-op outside a scan or when it is in).
    bool joinScan(const QSharedPointer<QSqlDatabase> &db);
    bool inScan(const QSqlDatabase &db) const;
    // Ends the scan's transaction on the connection named connectionName; false when a commit
    // was asked for and failed (it is then rolled back).
    bool finishScanOn(const QString &connectionName, bool commit);

    const QString dataDir;
    QString currentPath;
    QString currentDateKey;
    QSharedPointer<QSqlDatabase> currentConnection;
    // The store's curve ids (those registerCurve returned) and their names. A day file numbers
    // its curves itself: another process or a failed registration at midnight can give a name
    // another id there, so a sample is always written under the id its name has in that file.
    QMap<int, QString> curveNames;
    // Store id -> id in the current file, filled as curves are looked up there.
    QHash<int, int> currentFileIds;
    // Keyed by the current file's ids, as the file's curve_metadata rows are.
    QMap<int, DBCurveMetadata> curveMetadata;
    // Taken once per public call; nothing inside takes it again. Lock order: this, then the
    // pool's mutex, then the query registry's.
    mutable std::mutex storeMutex;
    QThread *clearThread = nullptr;
    bool clearing = false;
    // Curves whose extremes changed since they were last written to the current file.
    QSet<int> unsavedMetadata;
    // Names of the batch tables of the current file, so that a sample in an existing slice
    // costs no lookup.
    QSet<QString> currentTables;
    // Statements and calendar answers of the write path, reused from sample to sample.
    StatementCache statements;
    SliceMemo calendarMemo;
    QString lastErrorText;

    // The scan under way: connections holding its open transaction, and what the store knew
    // of the current file when it began.
    struct ScanState
    {
        bool open = false;
        bool failed = false;
        QList<QSharedPointer<QSqlDatabase>> connections;
        QMap<int, DBCurveMetadata> metadata;
        QSet<int> unsavedMetadata;
        QSet<QString> tables;
    } scan;
};
