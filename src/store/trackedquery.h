// A query that the QueryManager knows about for as long as it lives, so that closing its
// connection can finish it first. Every statement of the store runs through one.
#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

class TrackedQuery : public QSqlQuery
{
public:
    explicit TrackedQuery(const QSqlDatabase &db);
    ~TrackedQuery();

    TrackedQuery(const TrackedQuery &) = delete;
    TrackedQuery &operator=(const TrackedQuery &) = delete;

    QString connectionName() const { return connName; }

private:
    const QString connName;
};
