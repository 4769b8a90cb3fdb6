// Making today's file current and loading a file's registry, batches and extremes.
#include "curvedatadb.h"

#include "connectionpool.h"
#include "curveregistry.h"
#include "storeclock.h"
#include "storeschema.h"
#include "trackedquery.h"

#include <QDebug>
#include <QVariant>

void CurveDataDB::switchToTodayDatabase()
{
    std::lock_guard<std::mutex> lock(storeMutex);
    enterToday();
}

void CurveDataDB::enterToday()
{
    const QString today = calendarMemo.dayKeyOf(StoreClock::nowMs());
    if (today == currentDateKey && currentIsOpen())
        return;

    // Extremes not yet written belong to the file being left, not to the new one; so does the
    // part of a scan under way, which commits there.
    if (currentIsOpen() && !unsavedMetadata.isEmpty())
        writeCurrentMetadata();
    if (currentConnection)
        finishScanOn(currentConnection->connectionName(), true);

    const QMap<int, QString> knownNames = curveNames;
    if (!currentPath.isEmpty())
        ConnectionPool::instance()->touchConnection(currentPath);

    // Let go of the old handle first, so that a reopen of the same file is not refused as
    // "still in use".
    releaseCurrentConnection();
    currentDateKey = today;
    currentPath = dayFilePath(dataDir, today);
    currentConnection = openGated(currentPath);

    currentFileIds.clear();
    if (currentIsOpen()) {
        ConnectionPool::createTables(*currentConnection);
        // The known curves are looked up (or registered) by name in the new file; a curve that
        // fails here is looked up again at its first sample.
        for (auto it = knownNames.cbegin(); it != knownNames.cend(); ++it)
            currentFileIdOf(it.key());
        loadMetadata(currentPath);
    } else {
        qWarning().noquote() << "切换数据库失败，连接无效：" << currentPath;
    }
}

bool CurveDataDB::loadMetadata(const QString &path)
{
    curveMetadata.clear();
    unsavedMetadata.clear();
    currentTables.clear();

    const QSharedPointer<QSqlDatabase> connection = openGated(path);
    if (!connection || !connection->isOpen())
        return false;

    {
        TrackedQuery query(*connection);
        query.setForwardOnly(true);
        if (query.exec(QString::fromLatin1(StoreSql::selectCurveNames))) {
            while (query.next()) {
                // A name the store knows keeps its id, whatever id this file gives it.
                const int fileId = query.value(0).toInt();
                const int id = storeIdOf(query.value(1).toString(), fileId);
                if (path == currentPath)
                    currentFileIds.insert(id, fileId);
            }
        }
    }
    {
        TrackedQuery query(*connection);
        query.setForwardOnly(true);
        if (query.exec(QString::fromLatin1(StoreSql::selectBatches))) {
            while (query.next()) {
                if (path == currentPath)
                    currentTables.insert(CurveRegistry::batchOfRow(query).tableName);
            }
        }
    }
    curveMetadata = CurveRegistry::readCurveMetadata(*connection);
    ConnectionPool::instance()->touchConnection(path);
    return true;
}
