#include "storetestsupport.h"

#include "storeclock.h"

#include <QDateTime>
#include <QProcess>
#include <QThread>

#include <sqlite3.h>

#include <mutex>

namespace StoreTest {

qint64 localMs(const QDate &date, const QTime &time)
{
    return QDateTime(date, time).toMSecsSinceEpoch();
}

QString dayKey(const QDate &date)
{
    return date.toString(QStringLiteral("yyyyMMdd"));
}

FrozenClock::FrozenClock(qint64 ms)
{
    StoreClock::setFixedNow(ms);
}

FrozenClock::~FrozenClock()
{
    StoreClock::useSystemTime();
}

void FrozenClock::set(qint64 ms)
{
    StoreClock::setFixedNow(ms);
}

void FrozenClock::advance(qint64 ms)
{
    StoreClock::advance(ms);
}

namespace {
// std::mutex: the handler runs on worker threads too, and this lock is visible to the thread
// sanitizer.
std::mutex recorderMutex;
QStringList recorded;
QtMessageHandler previousHandler = nullptr;
} // namespace

LogRecorder::LogRecorder()
{
    std::lock_guard<std::mutex> lock(recorderMutex);
    recorded.clear();
    previousHandler = qInstallMessageHandler(&LogRecorder::handler);
}

LogRecorder::~LogRecorder()
{
    qInstallMessageHandler(previousHandler);
}

void LogRecorder::handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    {
        std::lock_guard<std::mutex> lock(recorderMutex);
        recorded.append(msg);
    }
    if (previousHandler)
        previousHandler(type, context, msg);
}

QStringList LogRecorder::messages() const
{
    std::lock_guard<std::mutex> lock(recorderMutex);
    return recorded;
}

int LogRecorder::count(const QString &fragment) const
{
    std::lock_guard<std::mutex> lock(recorderMutex);
    int n = 0;
    for (const QString &m : qAsConst(recorded)) {
        if (m.contains(fragment))
            ++n;
    }
    return n;
}

void LogRecorder::clear()
{
    std::lock_guard<std::mutex> lock(recorderMutex);
    recorded.clear();
}

SqliteFile::SqliteFile(const QString &path, bool create)
{
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        db = nullptr;
        return;
    }
    sqlite3_busy_timeout(db, 5000);
}

SqliteFile::~SqliteFile()
{
    if (db)
        sqlite3_close(db);
}

bool SqliteFile::exec(const QString &sql)
{
    return db && sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

QString SqliteFile::lastError() const
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("not open");
}

QList<QStringList> SqliteFile::rows(const QString &sql)
{
    QList<QStringList> result;
    sqlite3_stmt *stmt = nullptr;
    if (!db || sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        return result;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            if (sqlite3_column_type(stmt, c) == SQLITE_NULL)
                row.append(QStringLiteral("NULL"));
            else
                row.append(QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(stmt, c))));
        }
        result.append(row);
    }
    sqlite3_finalize(stmt);
    return result;
}

QString SqliteFile::scalar(const QString &sql)
{
    const QList<QStringList> r = rows(sql);
    return r.isEmpty() || r.first().isEmpty() ? QString() : r.first().first();
}

QStringList SqliteFile::tableNames()
{
    QStringList names;
    for (const QStringList &row :
         rows(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE "
                             "'sqlite_%' ORDER BY name")))
        names.append(row.first());
    return names;
}

bool runOnThread(const std::function<void()> &work, int timeoutMs)
{
    std::mutex done;
    QThread *thread = QThread::create([&] {
        work();
        std::lock_guard<std::mutex> lock(done);
    });
    thread->start();
    const bool finished = thread->wait(timeoutMs);
    if (finished) {
        std::lock_guard<std::mutex> lock(done);
        delete thread;
    }
    return finished;
}

void Gate::open()
{
    std::lock_guard<std::mutex> lock(mutex);
    isOpen = true;
    opened.notify_all();
}

bool Gate::waitOpen(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    return opened.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return isOpen; });
}

QString sqliteShell(const QString &path, const QString &command)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {path, command});
    if (!shell.waitForFinished(10000) || shell.exitCode() != 0)
        return QString();
    return QString::fromUtf8(shell.readAllStandardOutput());
}

void createFixedTables(SqliteFile &file)
{
    file.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS curve_info ( curve_id INTEGER PRIMARY "
                             "KEY AUTOINCREMENT, name TEXT NOT NULL UNIQUE )"));
    file.exec(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS batch_metadata ( id INTEGER PRIMARY KEY AUTOINCREMENT, "
        "curve_id INTEGER NOT NULL, batch_start INTEGER NOT NULL, batch_end INTEGER NOT NULL, "
        "table_name TEXT NOT NULL, FOREIGN KEY(curve_id) REFERENCES curve_info(curve_id), "
        "UNIQUE(curve_id, table_name) )"));
    file.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS curve_metadata ( curve_id INTEGER "
                             "PRIMARY KEY, min_time INTEGER, max_time INTEGER, min_value REAL, "
                             "max_value REAL, FOREIGN KEY(curve_id) REFERENCES "
                             "curve_info(curve_id) )"));
}

} // namespace StoreTest
