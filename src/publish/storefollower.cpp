#include "storefollower.h"

#include "storeclock.h"
#include "storedcurvecursor.h"

#include <algorithm>
#include <limits>
#include <queue>
#include <tuple>

namespace {

// A reader following the recording looks its tables up again at least this often.
constexpr qint64 relistIntervalMs = 60000;
constexpr qint64 openEnd = std::numeric_limits<qint64>::max();

} // namespace

StoreFollower::StoreFollower() = default;

StoreFollower::~StoreFollower() = default;

void StoreFollower::follow(CurveDataDB *newStore, const QList<int> &newChannels)
{
    cursors.clear();
    store = newStore;
    channels = newChannels;
}

StoreFollower::Pass StoreFollower::read(const std::function<qint64(int)> &from,
                                        const std::function<qint64(int)> &limit, size_t room)
{
    Pass pass;
    bool complete = seek(from);
    const int channelCount = channels.size();
    pass.samples.reserve(room);
    if (room > 0) {
        // Merge of the channels by time stamp, ties in channel order: the cursors standing
        // on a row in a heap, the earliest (time, channel) on top.
        using Head = std::tuple<qint64, int, int>; // time, channel, place
        std::priority_queue<Head, std::vector<Head>, std::greater<Head>> heads;
        std::vector<qint64> limits(static_cast<size_t>(channelCount));
        for (int i = 0; i < channelCount; ++i) {
            limits[size_t(i)] = limit(channels.at(i));
            if (cursors[size_t(i)]->hasRow() &&
                cursors[size_t(i)]->timestamp() <= limits[size_t(i)])
                heads.emplace(cursors[size_t(i)]->timestamp(), channels.at(i), i);
        }
        while (!heads.empty()) {
            if (pass.samples.size() == room) {
                pass.allRead = false;
                break;
            }
            const int i = std::get<2>(heads.top());
            heads.pop();
            StoredCurveCursor &cursor = *cursors[size_t(i)];
            pass.samples.push_back({cursor.timestamp(), channels.at(i), cursor.value()});
            if (cursor.advance() && cursor.timestamp() <= limits[size_t(i)])
                heads.emplace(cursor.timestamp(), channels.at(i), i);
        }
    }
    for (auto &cursor : cursors) {
        complete = complete && cursor->isComplete();
        // No read stays open between passes: the writer's log can be checkpointed.
        cursor->pause();
    }
    // A table that could not be read would leave a hole behind the place: nothing of this
    // pass goes out, the next one looks the tables up again and tries again.
    if (!complete) {
        pass.samples.clear();
        pass.allRead = true;
        relistNext = true;
    }
    pass.complete = complete;
    return pass;
}

bool StoreFollower::seek(const std::function<qint64(int)> &from)
{
    const qint64 now = StoreClock::nowMs();
    const bool relistAll = relistNext || now - lastRelist >= relistIntervalMs;
    if (relistAll) {
        lastRelist = now;
        relistNext = false;
    }
    bool complete = true;
    if (cursors.empty()) {
        // This thread's connections, from the first cursor until release().
        if (!connections)
            connections.emplace();
        cursors.reserve(size_t(channels.size()));
        for (int channel : channels) {
            cursors.push_back(std::make_unique<StoredCurveCursor>(store, QString::number(channel),
                                                                  from(channel), openEnd));
            complete = complete && cursors.back()->isComplete();
        }
        lastRelist = now;
        return complete;
    }
    for (int i = 0; i < channels.size(); ++i) {
        StoredCurveCursor &cursor = *cursors[size_t(i)];
        const qint64 start = from(channels.at(i));
        // Nothing new in the tables known, and the clock has gone past the newest of them: the
        // new samples are in a slice found only by looking again.
        if (!cursor.seek(start, relistAll) && !relistAll && cursor.isComplete() &&
            cursor.listedUntil() < now)
            cursor.seek(start, true);
        complete = complete && cursor.isComplete();
    }
    return complete;
}

bool StoreFollower::tally(int channel, qint64 from, qint64 *count, PublishedSample *newest)
{
    const int i = channels.indexOf(channel);
    if (i < 0 || size_t(i) >= cursors.size())
        return false;
    newest->channel = channel;
    return cursors[size_t(i)]->tally(from, count, &newest->t, &newest->value);
}

qint64 StoreFollower::countAfter(CurveDataDB *store, int channel, qint64 after, qint64 upTo)
{
    StoredCurveCursor cursor(store, QString::number(channel), after + 1, upTo);
    return std::max<qint64>(0, cursor.rowCount());
}

void StoreFollower::release()
{
    cursors.clear();
    connections.reset();
}
