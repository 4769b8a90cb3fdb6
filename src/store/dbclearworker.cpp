#include "dbclearworker.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

DBClearWorker::DBClearWorker(CurveDataDB *store, const QString &dataDirPath, QObject *parent)
    : QObject(parent)
    , store(store)
    , dataDirPath(dataDirPath)
{
}

void DBClearWorker::doClear()
{
    const QDir dir(dataDirPath);
    if (!dir.exists()) {
        emit clearFinished();
        return;
    }
    // Companions first, so that no log is left behind for a day file that is already gone.
    QFileInfoList files;
    for (const char *pattern : {"*.db-wal", "*.db-shm", "*.db"}) {
        files +=
            dir.entryInfoList({QString::fromLatin1(pattern)},
                              QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Unsorted);
    }
    for (const QFileInfo &info : qAsConst(files)) {
        const QString path = info.absoluteFilePath();
        bool removed = false;
        for (int attempt = 0; attempt < removeTries && !removed; ++attempt) {
            // A companion that vanished since the listing (its last connection removed it) is gone.
            removed = QFile::remove(path) || !QFileInfo::exists(path);
            if (!removed)
                QThread::msleep(retryPauseMs);
        }
        if (!removed)
            qCritical().noquote() << "多次重试后仍无法删除文件（可能被其他进程占用）:" << path;
    }
    emit clearFinished();
}
