// Curve registration: a curve's id in today's file and in any other day file a sample goes to,
// and the store's own ids; the recording an existing data set holds.
#include "curvedatadb.h"

#include "connectionpool.h"
#include "curveregistry.h"
#include "storeschema.h"
#include "trackedquery.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

namespace {
constexpr int lookupTries = 3;
constexpr unsigned long lookupRetryPauseMs = 100;
} // namespace

bool CurveDataDB::curveIdInFile(const QSqlDatabase &db, const QString &name, int *fileCurveId)
{
    // Retried only when the lookup itself fails (a missing table, a busy file); a lookup that
    // runs and finds nothing means a new name, which is inserted at once.
    for (int attempt = 1; attempt <= lookupTries; ++attempt) {
        int id = -1;
        QString error;
        if (CurveRegistry::lookupCurveId(db, name, &id, &error)) {
            if (id >= 0) {
                *fileCurveId = id;
                return true;
            }
            break;
        }
        if (error.contains(QLatin1String("no such table")))
            ConnectionPool::createTables(db);
        if (attempt < lookupTries)
            QThread::msleep(lookupRetryPauseMs);
    }

    auto insertName = [&db, &name](QString *error) -> int {
        TrackedQuery insert(db);
        if (!insert.prepare(QString::fromLatin1(StoreSql::insertCurveName))) {
            *error = insert.lastError().text();
            return -1;
        }
        insert.addBindValue(name);
        if (!insert.exec()) {
            *error = insert.lastError().text();
            return -1;
        }
        return insert.lastInsertId().toInt();
    };

    QString error;
    int id = insertName(&error);
    if (id < 0) {
        // Another process writing the same data set (a logger and an export of it, both
        // reaching a new day's file) may have registered it since the lookup.
        QString lookupError;
        if (CurveRegistry::lookupCurveId(db, name, &id, &lookupError) && id >= 0) {
            *fileCurveId = id;
            return true;
        }
    }
    if (id < 0) {
        if (!error.contains(QLatin1String("no such table")) &&
            !error.contains(QLatin1String("SQL logic error"))) {
            noteFailure(QStringLiteral("注册曲线失败:"), error);
            return false;
        }
        ConnectionPool::createTables(db);
        id = insertName(&error);
        if (id < 0) {
            noteFailure(QStringLiteral("重新初始化后仍无法注册曲线:"), error);
            return false;
        }
    }
    *fileCurveId = id;
    return true;
}

int CurveDataDB::registerCurve(const QString &name)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    enterToday();
    if (!currentIsOpen()) {
        qCritical().noquote() << "数据库已关闭，尝试重新打开...";
        releaseCurrentConnection();
        currentConnection = openGated(currentPath);
        if (!currentIsOpen()) {
            const QString cause = currentConnection ? currentConnection->lastError().text()
                                                    : QStringLiteral("连接无效");
            qCritical().noquote() << "重新打开失败! 错误:" << cause;
            // A more telling cause (the directory could not be made) stays.
            if (lastErrorText.isEmpty())
                lastErrorText = cause;
            return -1;
        }
    }
    int fileId = -1;
    if (!curveIdInFile(*currentConnection, name, &fileId))
        return -1;
    const int id = storeIdOf(name, fileId);
    currentFileIds.insert(id, fileId);
    return id;
}

int CurveDataDB::storeIdOf(const QString &name, int fileCurveId)
{
    int id = curveNames.key(name, -1);
    if (id < 0) {
        id = curveNames.contains(fileCurveId) ? curveNames.lastKey() + 1 : fileCurveId;
        curveNames.insert(id, name);
    }
    return id;
}

int CurveDataDB::currentFileIdOf(int curveId)
{
    const auto known = currentFileIds.constFind(curveId);
    if (known != currentFileIds.constEnd())
        return known.value();
    const QString name = curveNames.value(curveId);
    if (name.isEmpty() || !currentIsOpen())
        return -1;
    int fileId = -1;
    if (!curveIdInFile(*currentConnection, name, &fileId))
        return -1;
    currentFileIds.insert(curveId, fileId);
    return fileId;
}

StoredRecording CurveDataDB::storedRecording(const QString &dataDirPath)
{
    StoredRecording recording;
    const QFileInfoList days =
        QDir(dataDirPath).entryInfoList({QStringLiteral("*.db")}, QDir::Files, QDir::Name);
    const QString connectionName =
        QStringLiteral("stored_recording_%1").arg(reinterpret_cast<quintptr>(&recording));
    for (const QFileInfo &day : days) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
            db.setDatabaseName(day.filePath());
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            if (db.open()) {
                QMap<int, QString> names;
                QSqlQuery query(db);
                query.setForwardOnly(true);
                if (query.exec(QString::fromLatin1(StoreSql::selectCurveNames)))
                    while (query.next())
                        names.insert(query.value(0).toInt(), query.value(1).toString());
                // Every day file of a recording lists its curves in the same order; the
                // fullest list wins.
                if (names.size() >= recording.curveNames.size())
                    recording.curveNames = names;
                if (query.exec(QString::fromLatin1(StoreSql::selectRecordingSpan)) &&
                    query.next() && !query.isNull(0)) {
                    const qint64 first = query.value(0).toLongLong();
                    const qint64 last = query.value(1).toLongLong();
                    if (recording.lastMs < recording.firstMs || first < recording.firstMs)
                        recording.firstMs = first;
                    recording.lastMs = qMax(recording.lastMs, last);
                }
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connectionName);
    }
    return recording;
}
