// Deletes the store's day files with their WAL companions on a thread of its own, retrying
// files that are in use, and reports when it is done.
#pragma once

#include <QObject>
#include <QString>

class CurveDataDB;

class DBClearWorker : public QObject
{
    Q_OBJECT
public:
    static constexpr int removeTries = 3;
    static constexpr unsigned long retryPauseMs = 500;

    DBClearWorker(CurveDataDB *store, const QString &dataDirPath, QObject *parent = nullptr);

signals:
    void clearFinished();

public slots:
    void doClear();

private:
    CurveDataDB *store; // the store it works for; only the directory is touched here
    const QString dataDirPath;
};
