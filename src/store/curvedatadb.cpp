// The store as a whole: construction and teardown, the connection gate, day-file paths and
// observers.
#include "curvedatadb.h"

#include "connectionpool.h"
#include "shardcalendar.h"
#include "storeclock.h"
#include "workerthread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>

#include <QThread>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

CurveDataDB::CurveDataDB(const QString &dataDirPath, QObject *parent)
    : QObject(parent)
    , dataDir(dataDirPath)
{
    registerStoreMetaTypes();
    if (makeDataDirectory())
        switchToTodayDatabase();
}

CurveDataDB::~CurveDataDB()
{
    // A clear worker's thread may still be winding down after onClearFinished has forgotten
    // it; as a child of the store it must have ended before the store deletes it.
    const QList<QThread *> workers = findChildren<QThread *>(QString(), Qt::FindDirectChildrenOnly);
    for (QThread *worker : workers)
        endThread(*worker, [worker] { worker->quit(); }, 3000);
    {
        std::lock_guard<std::mutex> lock(storeMutex);
        closeCurrentDatabase();
        closeAllDatabases();
    }
    ConnectionPool::instance()->closeAllConnections();
}

QSharedPointer<QSqlDatabase> CurveDataDB::getConnection(const QString &path)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    return openGated(path);
}

QSharedPointer<QSqlDatabase> CurveDataDB::openGated(const QString &path)
{
    if (clearing) {
        qWarning().noquote() << "正在清理数据库，禁止打开新连接：" << path;
        return {};
    }
    return ConnectionPool::instance()->getConnection(path);
}

// Made with mkdir itself so that the cause of a failure (no permission, a read-only or full
// file system, a name too long) can be told to the user.
bool CurveDataDB::makeDataDirectory()
{
    const QFileInfo info(dataDir);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink()) {
        noteFailure(
            QStringLiteral("创建数据目录失败:"),
            QStringLiteral("%1 已存在，但不是文件夹").arg(QDir::toNativeSeparators(dataDir)));
        return false;
    }
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath() && !QFileInfo(parent).isDir() && !QDir().mkpath(parent)) {
        noteFailure(QStringLiteral("创建数据目录失败:"),
                    QStringLiteral("无法创建 %1").arg(QDir::toNativeSeparators(parent)));
        return false;
    }
    if (::mkdir(QFile::encodeName(dataDir).constData(), 0777) != 0 && errno != EEXIST) {
        noteFailure(QStringLiteral("创建数据目录失败:"), QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return true;
}

bool CurveDataDB::ensureUsable()
{
    std::lock_guard<std::mutex> lock(storeMutex);
    lastErrorText.clear();
    if (!makeDataDirectory())
        return false;
    enterToday();
    if (currentIsOpen() && ConnectionPool::createTables(*currentConnection))
        return true;
    if (lastErrorText.isEmpty())
        lastErrorText = currentConnection ? currentConnection->lastError().text()
                                          : QStringLiteral("无法打开数据库文件 %1")
                                                .arg(QDir::toNativeSeparators(currentPath));
    return false;
}

QString CurveDataDB::lastError() const
{
    std::lock_guard<std::mutex> lock(storeMutex);
    return lastErrorText;
}

void CurveDataDB::noteFailure(const QString &what, const QString &cause)
{
    qWarning().noquote() << what << cause;
    lastErrorText = cause;
}

QString CurveDataDB::dataDirectory() const
{
    return dataDir;
}

QString CurveDataDB::currentDatabasePath() const
{
    std::lock_guard<std::mutex> lock(storeMutex);
    return currentPath;
}

bool CurveDataDB::isClearing() const
{
    std::lock_guard<std::mutex> lock(storeMutex);
    return clearing;
}

DBCurveMetadata CurveDataDB::curveMetadataOf(int curveId) const
{
    std::lock_guard<std::mutex> lock(storeMutex);
    return curveMetadata.value(currentFileIds.value(curveId, curveId));
}

QMap<int, QString> CurveDataDB::getCurveNames() const
{
    std::lock_guard<std::mutex> lock(storeMutex);
    return curveNames;
}

bool CurveDataDB::currentIsOpen() const
{
    return currentConnection && currentConnection->isOpen();
}

void CurveDataDB::releaseCurrentConnection()
{
    statements.clear();
    currentConnection.reset();
}

QString CurveDataDB::memoPathForTime(qint64 ms)
{
    return dayFilePath(dataDir, calendarMemo.dayKeyOf(qMin(ms, StoreClock::nowMs())));
}
