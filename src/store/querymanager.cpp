#include "querymanager.h"

#include "trackedquery.h"

QueryManager *QueryManager::instance()
{
    // Never destroyed: queries that die during static destruction still unregister safely.
    static QueryManager *const manager = new QueryManager;
    return manager;
}

void QueryManager::registerQuery(TrackedQuery *query)
{
    if (!query)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    activeQueries[query->connectionName()].insert(query);
}

void QueryManager::unregisterQuery(TrackedQuery *query)
{
    if (!query)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = activeQueries.find(query->connectionName());
    if (it == activeQueries.end())
        return;
    it->remove(query);
    if (it->isEmpty())
        activeQueries.erase(it);
}

void QueryManager::finishQueries(const QString &connectionName)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = activeQueries.find(connectionName);
    if (it == activeQueries.end())
        return;
    for (TrackedQuery *query : qAsConst(*it)) {
        if (query->isActive())
            query->finish();
        query->clear();
    }
    activeQueries.erase(it);
}

int QueryManager::queryCount(const QString &connectionName) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return activeQueries.value(connectionName).size();
}
