#include "storedrows.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

long storedRows(const QString &dataDir)
{
    long rows = 0;
    const QString connection = QStringLiteral("bench_row_count");
    for (const QFileInfo &day :
         QDir(dataDir).entryInfoList({QStringLiteral("*.db")}, QDir::Files)) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(day.filePath());
            if (db.open()) {
                QSqlQuery query(db);
                QStringList tables;
                query.exec(QStringLiteral("SELECT table_name FROM batch_metadata"));
                while (query.next())
                    tables << query.value(0).toString();
                for (const QString &table : qAsConst(tables)) {
                    query.exec(QStringLiteral("SELECT count(*) FROM \"%1\"").arg(table));
                    if (query.next())
                        rows += query.value(0).toLongLong();
                }
            }
        }
        QSqlDatabase::removeDatabase(connection);
    }
    return rows;
}
