#include "exportrowreader.h"

#include "storedcurvecursor.h"
#include "storereaderscope.h"

#include <QDebug>

#include <algorithm>

ExportRowReader::ExportRowReader(CurveDataDB *store, const QStringList &curveNames,
                                 qint64 startTime, qint64 endTime, QObject *parent)
    : QThread(parent)
    , store(store)
    , curveNames(curveNames)
    , startTime(startTime)
    , endTime(endTime)
{
    const size_t cells = size_t(rowsPerBlock) * size_t(curveNames.size());
    for (int i = 0; i < blockCount; ++i) {
        auto block = std::make_unique<AlignedRows>();
        block->times.resize(rowsPerBlock);
        block->values.resize(cells);
        block->present.resize(cells);
        freeBlocks.push_back(block.get());
        blocks.push_back(std::move(block));
    }
}

ExportRowReader::~ExportRowReader()
{
    finish();
}

bool ExportRowReader::begin()
{
    start();
    if (!isRunning() && !isFinished()) {
        // No thread could be made: there is nobody to read the curves.
        qCritical().noquote() << "[导出线程] 无法启动读取线程";
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return ready; });
    return anyRow;
}

const AlignedRows *ExportRowReader::nextBlock()
{
    std::unique_lock<std::mutex> lock(mutex);
    if (consumed) {
        freeBlocks.push_back(consumed);
        consumed = nullptr;
        changed.notify_all();
    }
    changed.wait(lock, [this] { return !filledBlocks.empty() || done; });
    if (filledBlocks.empty())
        return nullptr;
    consumed = filledBlocks.front();
    filledBlocks.pop_front();
    return consumed;
}

void ExportRowReader::finish()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        changed.notify_all();
    }
    wait();
}

void ExportRowReader::run()
{
    {
        // The connections of this thread are of no use to anyone else once the rows are read;
        // they are closed before the reader says it is done.
        StoreReaderScope connections;
        readBlocks();
    }
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    changed.notify_all();
}

void ExportRowReader::readBlocks()
{
    std::vector<std::unique_ptr<StoredCurveCursor>> cursors;
    int withRow = 0;
    qint64 longest = 0;
    for (const QString &name : curveNames) {
        cursors.push_back(std::make_unique<StoredCurveCursor>(store, name, startTime, endTime));
        if (cursors.back()->hasRow())
            ++withRow;
        const qint64 count = cursors.back()->rowCount();
        longest = count < 0 || longest < 0 ? -1 : std::max(longest, count);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        ready = true;
        anyRow = withRow > 0;
        rows = longest;
        changed.notify_all();
    }

    const size_t curveCount = cursors.size();
    while (withRow > 0) {
        AlignedRows *block = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this] { return stopping || !freeBlocks.empty(); });
            if (stopping)
                break;
            block = freeBlocks.back();
            freeBlocks.pop_back();
        }
        // The block belongs to this thread until it is queued; the hand-over is under the lock.
        // One curve at a time down the block: each statement's pages and state stay in the
        // cache for a whole run of rows instead of ten statements taking turns on every row.
        int rows = 0;
        for (size_t c = 0; c < curveCount; ++c) {
            StoredCurveCursor &cursor = *cursors[c];
            int r = 0;
            for (; r < rowsPerBlock && cursor.hasRow(); ++r) {
                const size_t cell = size_t(r) * curveCount + c;
                block->present[cell] = 1;
                block->values[cell] = cursor.value();
                if (c == 0)
                    block->times[size_t(r)] = cursor.timestamp();
                if (!cursor.advance())
                    --withRow;
            }
            for (int rest = r; rest < rowsPerBlock; ++rest)
                block->present[size_t(rest) * curveCount + c] = 0;
            rows = std::max(rows, r);
        }
        block->count = rows;
        std::lock_guard<std::mutex> lock(mutex);
        filledBlocks.push_back(block);
        changed.notify_all();
    }

    for (auto &cursor : cursors)
        cursor->close();
}
