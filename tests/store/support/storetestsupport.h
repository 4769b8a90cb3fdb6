// Helpers for the store and series suites: local times, a frozen store clock, a log recorder,
// and an independent look at day files through the sqlite3 C API and the sqlite3 shell.
#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>

struct sqlite3;

namespace StoreTest {

// Milliseconds of a local date and wall-clock time.
qint64 localMs(const QDate &date, const QTime &time);
QString dayKey(const QDate &date);

// Freezes the store clock for the lifetime of the object, then returns to the system clock.
class FrozenClock
{
public:
    explicit FrozenClock(qint64 ms);
    ~FrozenClock();
    void set(qint64 ms);
    void advance(qint64 ms);
};

// Records every Qt log message while alive (any thread); earlier handlers still print them.
class LogRecorder
{
public:
    LogRecorder();
    ~LogRecorder();
    QStringList messages() const;
    int count(const QString &fragment) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg);
};

// A day file opened with the plain sqlite3 C API, independent of Qt's driver.
class SqliteFile
{
public:
    explicit SqliteFile(const QString &path, bool create = false);
    ~SqliteFile();
    SqliteFile(const SqliteFile &) = delete;
    SqliteFile &operator=(const SqliteFile &) = delete;

    bool isOpen() const { return db != nullptr; }
    bool exec(const QString &sql);
    QString lastError() const;
    // Rows of a query, each column as text; NULL reads as "NULL".
    QList<QStringList> rows(const QString &sql);
    // First column of the first row, or an empty string.
    QString scalar(const QString &sql);
    // Tables other than SQLite's own, by name.
    QStringList tableNames();

private:
    sqlite3 *db = nullptr;
};

// Runs work on a QThread of its own and waits up to timeoutMs for it. What the work wrote is
// visible afterwards, also to the thread sanitizer (which does not see QThread::wait).
bool runOnThread(const std::function<void()> &work, int timeoutMs = 30000);

// A one-way signal between threads: open() once, waitOpen() blocks until then.
class Gate
{
public:
    void open();
    bool waitOpen(int timeoutMs = 30000);

private:
    std::mutex mutex;
    std::condition_variable opened;
    bool isOpen = false;
};

// Output of `sqlite3 <path> <command>` (empty on failure).
QString sqliteShell(const QString &path, const QString &command);

// The three fixed tables, created the way the store creates them.
void createFixedTables(SqliteFile &file);

} // namespace StoreTest
