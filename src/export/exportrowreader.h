// Reads the cursors of some of an export's curves ahead on a thread of its own and hands their
// rows over in blocks, aligned by sequence: row k holds the k-th sample of each of its curves
// that still has one. Stepping the cursors through the day files is the largest cost of an
// export; readers for different curves and the formatting of the text run side by side.
#pragma once

#include <QStringList>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class CurveDataDB;

// A block of aligned rows of one reader's curves. Cells of row r and curve c are at
// r * curveCount + c. Every block but the last of a reader holds rowsPerBlock rows, so block k
// of every reader covers the same rows of the export.
struct AlignedRows
{
    int count = 0;
    std::vector<qint64> times;
    std::vector<double> values;
    std::vector<unsigned char> present;
};

class ExportRowReader : public QThread
{
    Q_OBJECT
public:
    static constexpr int rowsPerBlock = 4096;
    static constexpr int blockCount = 3;

    // One cursor per curve, by name in the order given, each read a block's worth at a time.
    ExportRowReader(CurveDataDB *store, const QStringList &curveNames, qint64 startTime,
                    qint64 endTime, QObject *parent = nullptr);
    ~ExportRowReader() override;

    // Starts the thread and waits until the cursors are open and their rows counted; true when
    // any of them has a row.
    bool begin();
    // After begin: the rows this reader will hand over (its longest curve's), -1 when a curve
    // could not be counted.
    qint64 rowCount() const { return rows; }
    // The next block of rows, or null when every cursor is exhausted. The block stays valid
    // until the next call; the one before goes back to the reader.
    const AlignedRows *nextBlock();
    int curveCount() const { return curveNames.size(); }
    // Stops reading, closes the cursors and waits for the thread.
    void finish();

protected:
    void run() override;

private:
    // run's reading: the cursors and the blocks they fill, up to the last row or a stop.
    void readBlocks();

    CurveDataDB *const store;
    const QStringList curveNames;
    const qint64 startTime;
    const qint64 endTime;

    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    bool anyRow = false;
    qint64 rows = -1;
    bool stopping = false;
    bool done = false;
    std::vector<std::unique_ptr<AlignedRows>> blocks;
    std::vector<AlignedRows *> freeBlocks;
    std::deque<AlignedRows *> filledBlocks;
    AlignedRows *consumed = nullptr;
};
