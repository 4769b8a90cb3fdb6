#include "trackedquery.h"

#include "querymanager.h"

TrackedQuery::TrackedQuery(const QSqlDatabase &db)
    : QSqlQuery(db)
    , connName(db.connectionName())
{
    QueryManager::instance()->registerQuery(this);
}

TrackedQuery::~TrackedQuery()
{
    // Unregister first: once out of the registry no close can reach into this object.
    QueryManager::instance()->unregisterQuery(this);
    if (isActive())
        finish();
    // After its connection was removed the query has no driver left, and clear() would need one.
    if (driver())
        clear();
}
