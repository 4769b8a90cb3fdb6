// Opening a day file: connection names, the directory, the PRAGMAs, checks and fixed tables.
#include "connectionpool.h"

#include "storeclock.h"
#include "storeschema.h"
#include "trackedquery.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QUuid>
#include <QVariant>

namespace {

QString connectionNameFor(const QString &path)
{
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Md5).toHex());
    const QString uuid = QUuid::createUuid().toString().remove(QLatin1Char('-'));
    return QStringLiteral("curve_db_%1_%2").arg(digest.left(8), uuid.left(16));
}

} // namespace

QSqlDatabase ConnectionPool::createConnection(const QString &path)
{
    if (path.isEmpty()) {
        qCritical().noquote() << "数据库路径不能为空!";
        return QSqlDatabase();
    }
    const QString dirPath = QFileInfo(path).absolutePath();
    if (!QDir(dirPath).exists() && !QDir().mkpath(dirPath)) {
        qCritical().noquote() << "创建数据库目录失败:" << dirPath;
        return QSqlDatabase();
    }

    const QString name = connectionNameFor(path);
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase::removeDatabase(name);
        qDebug().noquote() << "连接名已存在，提前移除：" << name;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    if (!db.open()) {
        qCritical().noquote() << "打开数据库失败:" << path << "错误:" << db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        return QSqlDatabase();
    }

    // Today's file takes writes all day: WAL keeps readers (the export, the publisher) out of
    // the writer's way. Yesterday's file still takes the samples of the scan that was under way
    // at midnight, which reach the store moments later (or a minute later from a busy
    // controller); in rollback mode a reader standing on a row of it would hold that write off
    // until it failed. Earlier days are read or touched rarely and are kept in plain rollback
    // mode.
    const QDateTime now = StoreClock::nowLocal();
    const QString day = dateKeyOfFile(path);
    if (day == now.toString(QStringLiteral("yyyyMMdd")) ||
        day == now.date().addDays(-1).toString(QStringLiteral("yyyyMMdd"))) {
        if (executePragma(db, QStringLiteral("PRAGMA journal_mode = WAL"), QStringLiteral("WAL"))) {
            executePragma(db, QStringLiteral("PRAGMA synchronous = NORMAL"),
                          QStringLiteral("NORMAL"));
        } else {
            executePragma(db, QStringLiteral("PRAGMA journal_mode = DELETE"),
                          QStringLiteral("DELETE"));
            executePragma(db, QStringLiteral("PRAGMA synchronous = FULL"), QStringLiteral("FULL"));
        }
    } else {
        if (executePragma(db, QStringLiteral("PRAGMA journal_mode = DELETE"),
                          QStringLiteral("DELETE"))) {
            executePragma(db, QStringLiteral("PRAGMA wal_checkpoint(FULL)"), QStringLiteral("0"));
        }
        executePragma(db, QStringLiteral("PRAGMA synchronous = OFF"), QStringLiteral("OFF"));
    }
    executePragma(db, QStringLiteral("PRAGMA foreign_keys = ON"), QStringLiteral("1"));
    return db;
}

bool ConnectionPool::executePragma(const QSqlDatabase &db, const QString &sql,
                                   const QString &expected)
{
    TrackedQuery query(db);
    if (!query.exec(sql)) {
        qWarning().noquote() << "执行PRAGMA失败：" << sql << " 错误：" << query.lastError().text();
        return false;
    }
    if (!expected.isEmpty() && query.next()) {
        const QString actual = query.value(0).toString();
        if (actual.toLower() != expected.toLower()) {
            qWarning().noquote() << "PRAGMA结果不匹配：" << sql << " 预期：" << expected
                                 << " 实际：" << actual;
            return false;
        }
    }
    return true;
}

bool ConnectionPool::validateConnection(const QSqlDatabase &db)
{
    if (!db.isOpen())
        return false;
    TrackedQuery query(db);
    if (!query.exec(QString::fromLatin1(StoreSql::selectOne))) {
        qDebug().noquote() << "连接验证失败：" << db.connectionName() << "错误："
                           << query.lastError().text();
        return false;
    }
    return query.next() && query.value(0).toInt() == 1;
}

bool ConnectionPool::pingConnection(const QSqlDatabase &db)
{
    if (!db.isOpen())
        return false;
    TrackedQuery query(db);
    return query.exec(QString::fromLatin1(StoreSql::selectOne));
}

bool ConnectionPool::createTables(const QSqlDatabase &db)
{
    if (!db.isOpen())
        return false;
    struct Step
    {
        const char *sql;
        const char *failure;
    };
    const Step steps[] = {
        {StoreSql::createCurveInfo, "创建curve_info表失败:"},
        {StoreSql::createBatchMetadata, "创建batch_metadata表失败:"},
        {StoreSql::createCurveMetadata, "创建curve_metadata表失败:"},
    };
    bool allCreated = true;
    for (const Step &step : steps) {
        TrackedQuery query(db);
        if (!query.exec(QString::fromLatin1(step.sql))) {
            qCritical().noquote() << step.failure << query.lastError().text();
            allCreated = false;
        }
    }
    return allCreated;
}
