#include "storedrecording.h"

#include "connectionpool.h"
#include "curvedatadb.h"
#include "shardcalendar.h"
#include "storeclock.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>

#include <sqlite3.h>

#include <cmath>
#include <vector>

namespace PlotTest {

double recordedValue(int curve, int i)
{
    double v = 10.0 * (curve + 1) + 3.0 * std::sin(i / 900.0 + curve) +
               0.01 * double((qint64(i) * 7919) % 97);
    // Lone spikes, one sample wide, at places that differ per curve.
    if ((i + 131 * curve) % 20011 == 0)
        v += 250.0;
    if ((i + 17 * curve) % 30011 == 0)
        v -= 180.0;
    return v;
}

qint64 sampleTime(const RecordingShape &shape, int i)
{
    return shape.start + qint64(i) * shape.stepMs;
}

namespace {

QString dayFileOf(const QString &dir, qint64 t)
{
    return QDir(dir).filePath(
        QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("yyyyMMdd")) +
        QStringLiteral(".db"));
}

bool createTables(const QString &dir, const RecordingShape &shape)
{
    StoreClock::setFixedNow(sampleTime(shape, 0));
    bool ok = true;
    {
        CurveDataDB store(dir);
        for (const QString &name : shape.curveNames)
            ok = ok && store.registerCurve(name) > 0;
        QString lastBatch;
        // The slice of a sample is looked up once per slice, not per sample.
        SliceMemo slices;
        SliceMemo::Slice slice;
        for (int i = 0; i < shape.samples && ok; ++i) {
            const qint64 t = sampleTime(shape, i);
            if (i == 0 || t < slice.from || t >= slice.until)
                slice = slices.sliceOf(t);
            const QString &batch = slice.batchName;
            if (batch == lastBatch)
                continue;
            // Each day's file becomes current in turn, as it would while logging.
            StoreClock::setFixedNow(t);
            store.switchToTodayDatabase();
            for (int c = 0; c < shape.curveNames.size(); ++c)
                ok = ok && store.ensureBatchTable(c + 1, t);
            lastBatch = batch;
        }
    }
    ConnectionPool::instance()->closeAllConnections();
    StoreClock::useSystemTime();
    return ok;
}

} // namespace

bool writeRecording(const QString &dir, const RecordingShape &shape)
{
    QDir().mkpath(dir);
    if (!createTables(dir, shape)) {
        qWarning() << "recording: tables not created in" << dir;
        return false;
    }
    const int curves = shape.curveNames.size();
    sqlite3 *db = nullptr;
    QString openPath;
    QString preparedBatch;
    std::vector<sqlite3_stmt *> inserts(size_t(curves), nullptr);
    bool ok = true;
    const auto closeDay = [&] {
        for (sqlite3_stmt *&s : inserts) {
            sqlite3_finalize(s);
            s = nullptr;
        }
        if (db) {
            if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
                ok = false;
            sqlite3_close(db);
            db = nullptr;
        }
    };
    // Day file and batch of a sample are looked up once per six-hour slice, not per sample.
    SliceMemo slices;
    SliceMemo::Slice slice;
    QString path;
    for (int i = 0; i < shape.samples && ok; ++i) {
        const qint64 t = sampleTime(shape, i);
        if (i == 0 || t < slice.from || t >= slice.until) {
            slice = slices.sliceOf(t);
            path = dayFileOf(dir, t);
        }
        if (path != openPath) {
            closeDay();
            if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) {
                qWarning() << "recording: cannot open" << path;
                return false;
            }
            sqlite3_exec(db, "PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr);
            openPath = path;
            preparedBatch.clear();
        }
        const QString &batch = slice.batchName;
        if (batch != preparedBatch) {
            for (int c = 0; c < curves; ++c) {
                sqlite3_finalize(inserts[size_t(c)]);
                inserts[size_t(c)] = nullptr;
                const QByteArray sql = QStringLiteral("INSERT INTO \"curve_%1_%2\" (curve_id, "
                                                      "timestamp, value) VALUES (?, ?, ?)")
                                           .arg(c + 1)
                                           .arg(batch)
                                           .toUtf8();
                if (sqlite3_prepare_v2(db, sql.constData(), -1, &inserts[size_t(c)], nullptr) !=
                    SQLITE_OK) {
                    qWarning() << "recording:" << sqlite3_errmsg(db);
                    ok = false;
                    break;
                }
            }
            preparedBatch = batch;
        }
        for (int c = 0; c < curves && ok; ++c) {
            sqlite3_stmt *s = inserts[size_t(c)];
            sqlite3_bind_int(s, 1, c + 1);
            sqlite3_bind_int64(s, 2, t);
            sqlite3_bind_double(s, 3, shape.value ? shape.value(c, i) : recordedValue(c, i));
            if (sqlite3_step(s) != SQLITE_DONE) {
                qWarning() << "recording:" << sqlite3_errmsg(db);
                ok = false;
            }
            sqlite3_reset(s);
        }
    }
    closeDay();
    return ok;
}

} // namespace PlotTest
