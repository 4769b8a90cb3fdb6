#include "recordingreducer.h"

#include "columnreducer.h"
#include "curvedatadb.h"
#include "storedcurvecursor.h"
#include "storereaderscope.h"

#include <QDebug>
#include <QThread>

#include <limits>
#include <memory>
#include <vector>

namespace {

// Rows between two looks at whether the read is still wanted.
constexpr qint64 abandonCheckRows = 16384;

} // namespace

RecordingReducer::RecordingReducer(CurveDataDB *store)
    : store(store)
{
}

TrendReduction RecordingReducer::read(const TrendRequest &request, const AbandonCheck &abandoned)
{
    TrendReduction result;
    result.wholeRecording = request.wholeRecording;
    result.columns = qBound(1, request.columns, ColumnReducer::maxColumns);
    result.curves.resize(request.curveNames.size());
    for (int i = 0; i < request.curveNames.size(); ++i)
        result.curves[i].name = request.curveNames.at(i);
    if (!store)
        return result;
    if (QThread::currentThread() == store->thread()) {
        // Closing this thread's connections at the end would close the store's own.
        qWarning().noquote() << "曲线回读不能在数据库线程中运行";
        return result;
    }

    qint64 start = request.start;
    qint64 end = request.end;
    if (request.wholeRecording) {
        start = std::numeric_limits<qint64>::min();
        end = std::numeric_limits<qint64>::max();
    }
    if (end < start) {
        result.complete = true;
        return result;
    }

    bool complete = true;
    // The connections of this thread are closed when the read is over, however it ends.
    StoreReaderScope connections;
    // The order of the rows does not matter to the reduction: tables are read as stored.
    std::vector<std::unique_ptr<StoredCurveCursor>> cursors;
    for (const QString &name : request.curveNames) {
        if (abandoned && abandoned()) {
            complete = false;
            break;
        }
        cursors.push_back(std::make_unique<StoredCurveCursor>(store, name, start, end,
                                                              StoredCurveCursor::Order::Stored));
    }
    if (request.wholeRecording) {
        bool any = false;
        qint64 first = 0;
        qint64 last = 0;
        for (const auto &cursor : cursors) {
            qint64 low = 0;
            qint64 high = 0;
            if (!cursor->extent(&low, &high))
                continue;
            first = any ? qMin(first, low) : low;
            last = any ? qMax(last, high) : high;
            any = true;
        }
        // Nothing stored: an empty span and an empty answer.
        start = any ? first : 0;
        end = any ? last : -1;
    }

    std::vector<ColumnReducer> reducers(size_t(request.curveNames.size()));
    for (ColumnReducer &reducer : reducers)
        reducer.reset(start, end, result.columns);
    for (size_t c = 0; c < cursors.size() && end >= start; ++c) {
        StoredCurveCursor &cursor = *cursors[c];
        ColumnReducer &reducer = reducers[c];
        qint64 count = 0;
        bool stopped = false;
        while (cursor.hasRow()) {
            reducer.add(cursor.timestamp(), cursor.value());
            if (++count % abandonCheckRows == 0 && abandoned && abandoned()) {
                stopped = true;
                break;
            }
            cursor.advance();
        }
        result.rowsRead += count;
        cursor.close();
        if (stopped) {
            complete = false;
            break;
        }
    }
    for (const auto &cursor : cursors)
        complete = complete && cursor->isComplete();
    cursors.clear();

    result.start = start;
    result.end = end;
    for (size_t i = 0; i < reducers.size(); ++i) {
        CurveReduction &curve = result.curves[int(i)];
        curve.points = reducers[i].points();
        curve.samples = reducers[i].sampleCount();
        curve.minimum = reducers[i].minimum();
        curve.maximum = reducers[i].maximum();
    }
    result.complete = complete;
    return result;
}
