// Follows one recording's curves in the store as they are written: a cursor per channel kept
// from pass to pass, read forward from where each channel was sent up to, merged into one
// stream in time order (ties in channel order). Used on the publisher's thread only.
#pragma once

#include "publishpayload.h"
#include "storereaderscope.h"

#include <QList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CurveDataDB;
class StoredCurveCursor;

class StoreFollower
{
public:
    StoreFollower();
    ~StoreFollower();

    // The recording followed from now on; lets go of the previous one's cursors.
    void follow(CurveDataDB *store, const QList<int> &channels);
    // Cursors open on the day files.
    bool isReading() const { return !cursors.empty(); }

    struct Pass
    {
        // In time order, ties in channel order.
        std::vector<PublishedSample> samples;
        // Every channel's samples up to its limit were read (room did not run out).
        bool allRead = true;
        // Every table could be read; otherwise nothing was taken, and the next pass looks the
        // tables up again.
        bool complete = true;
    };
    // Reads at most room samples, per channel from from(channel) on and up to limit(channel).
    // The cursors stay open for the next pass but hold no read open in between.
    Pass read(const std::function<qint64(int)> &from, const std::function<qint64(int)> &limit,
              size_t room);
    // After a pass: the channel's samples from `from` on, counted in the tables found without
    // reading them, and the newest of them; false when a table could not be counted.
    bool tally(int channel, qint64 from, qint64 *count, PublishedSample *newest);
    // Samples of channel after `after` up to upTo, counted afresh on the calling thread: whole
    // slice tables from their b-trees, the others through the index, no row read. Zero when the
    // count failed (the store being cleared, a damaged file).
    static qint64 countAfter(CurveDataDB *store, int channel, qint64 after, qint64 upTo);

    // Lets go of the cursors and of this thread's connections to the day files.
    void release();

private:
    // Opens (or re-runs) one cursor per channel; false when a table could not be read.
    bool seek(const std::function<qint64(int)> &from);

    CurveDataDB *store = nullptr;
    QList<int> channels;
    // This thread's connections, held while cursors are open and let go at release().
    // Declared before the cursors, so that they are gone when it closes the connections.
    std::optional<StoreReaderScope> connections;
    // One per channel, in channel order.
    std::vector<std::unique_ptr<StoredCurveCursor>> cursors;
    qint64 lastRelist = 0;
    bool relistNext = false;
};
