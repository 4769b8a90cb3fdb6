// Measures CurveSeriesData::addSample as the GUI thread pays it (one insert plus the metadata
// save, per sample) for 1, 10 and 90 curves, and in the same run a plain prepared-statement loop
// on the sqlite3 C API doing the same rows and metadata transactions. Prints both and the ratio.
//   store_bench [samples per configuration, default 30000]
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "storeclock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures
{
    double perSecond = 0;
    double p50Us = 0;
    double p99Us = 0;
    double maxUs = 0;
};

Figures summarise(std::vector<double> latenciesUs, double totalSeconds)
{
    Figures f;
    std::sort(latenciesUs.begin(), latenciesUs.end());
    const size_t n = latenciesUs.size();
    f.perSecond = n / totalSeconds;
    f.p50Us = latenciesUs[n / 2];
    f.p99Us = latenciesUs[std::min(n - 1, n * 99 / 100)];
    f.maxUs = latenciesUs.back();
    return f;
}

// Samples are stamped 100 ms apart per scan, every curve in each scan, from 06:00 of the
// frozen day on: all inside one six-hour slice, as a running recording mostly is.
qint64 stampOf(qint64 base, int scan)
{
    return base + qint64(scan) * 100;
}

Figures runStore(const QString &dir, int curves, int samples, qint64 base)
{
    CurveDataDB store(dir);
    std::vector<std::unique_ptr<CurveSeriesData>> series;
    for (int c = 0; c < curves; ++c)
        series.emplace_back(new CurveSeriesData(QString::number(101 + c), &store));
    std::vector<double> latencies;
    latencies.reserve(samples);
    const auto start = Clock::now();
    for (int i = 0; i < samples; ++i) {
        const int scan = i / curves;
        const auto before = Clock::now();
        series[i % curves]->addSample(double(stampOf(base, scan)), 1.0 + (i % 977) * 0.001);
        latencies.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return summarise(latencies, seconds);
}

void execOrDie(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s: %s\n", sql, error);
        std::exit(1);
    }
}

// The same file settings, tables and per-sample statements as the store, with prepared
// statements kept for the whole run and nothing else around them.
Figures runPlain(const QString &path, int curves, int samples, qint64 base, bool withMetadata)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    execOrDie(db, "PRAGMA journal_mode = WAL");
    execOrDie(db, "PRAGMA synchronous = NORMAL");
    execOrDie(db, "PRAGMA foreign_keys = ON");
    execOrDie(db, "CREATE TABLE curve_info ( curve_id INTEGER PRIMARY KEY AUTOINCREMENT, name "
                  "TEXT NOT NULL UNIQUE )");
    execOrDie(db, "CREATE TABLE curve_metadata ( curve_id INTEGER PRIMARY KEY, min_time INTEGER, "
                  "max_time INTEGER, min_value REAL, max_value REAL, FOREIGN KEY(curve_id) "
                  "REFERENCES curve_info(curve_id) )");
    std::vector<sqlite3_stmt *> inserts;
    for (int c = 1; c <= curves; ++c) {
        const QByteArray name = QByteArray::number(100 + c);
        execOrDie(db, ("INSERT INTO curve_info (name) VALUES ('" + name + "')").constData());
        const QByteArray table = "curve_" + QByteArray::number(c) + "_batch";
        execOrDie(db, ("CREATE TABLE \"" + table +
                       "\" ( id INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "curve_id INTEGER NOT NULL, timestamp INTEGER NOT NULL, value REAL NOT "
                       "NULL, UNIQUE(curve_id, timestamp), FOREIGN KEY(curve_id) REFERENCES "
                       "curve_info(curve_id) )")
                          .constData());
        execOrDie(db, ("CREATE INDEX idx_" + table + " ON \"" + table + "\" (curve_id, timestamp)")
                          .constData());
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(
            db,
            ("INSERT OR IGNORE INTO " + table + " (curve_id, timestamp, value) VALUES (?, ?, ?)")
                .constData(),
            -1, &stmt, nullptr);
        inserts.push_back(stmt);
    }
    sqlite3_stmt *begin = nullptr, *commit = nullptr, *remove = nullptr, *meta = nullptr;
    sqlite3_prepare_v2(db, "BEGIN", -1, &begin, nullptr);
    sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr);
    sqlite3_prepare_v2(db, "DELETE FROM curve_metadata WHERE curve_id = ?", -1, &remove, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO curve_metadata (curve_id, min_time, max_time, min_value, "
                       "max_value) VALUES (?, ?, ?, ?, ?)",
                       -1, &meta, nullptr);
    auto step = [](sqlite3_stmt *s) {
        sqlite3_step(s);
        sqlite3_reset(s);
    };

    std::vector<double> latencies;
    latencies.reserve(samples);
    const qint64 first = stampOf(base, 0);
    const auto start = Clock::now();
    for (int i = 0; i < samples; ++i) {
        const int curve = i % curves + 1;
        const qint64 t = stampOf(base, i / curves);
        const double v = 1.0 + (i % 977) * 0.001;
        const auto before = Clock::now();
        sqlite3_stmt *insert = inserts[curve - 1];
        sqlite3_bind_int(insert, 1, curve);
        sqlite3_bind_int64(insert, 2, t);
        sqlite3_bind_double(insert, 3, v);
        step(insert);
        if (withMetadata) {
            step(begin);
            sqlite3_bind_int(remove, 1, curve);
            step(remove);
            sqlite3_bind_int(meta, 1, curve);
            sqlite3_bind_int64(meta, 2, first);
            sqlite3_bind_int64(meta, 3, t);
            sqlite3_bind_double(meta, 4, 1.0);
            sqlite3_bind_double(meta, 5, v);
            step(meta);
            step(commit);
        }
        latencies.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (sqlite3_stmt *s : inserts)
        sqlite3_finalize(s);
    for (sqlite3_stmt *s : {begin, commit, remove, meta})
        sqlite3_finalize(s);
    sqlite3_close(db);
    return summarise(latencies, seconds);
}

void print(const char *what, int curves, const Figures &f)
{
    std::printf("%-34s %3d curves  %9.0f samples/s  p50 %7.1f us  p99 %7.1f us  max %8.1f us\n",
                what, curves, f.perSecond, f.p50Us, f.p99Us, f.maxUs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 30000;
    const QDate day = QDate::currentDate();
    StoreClock::setFixedNow(QDateTime(day, QTime(23, 0)).toMSecsSinceEpoch());
    const qint64 base = QDateTime(day, QTime(6, 0)).toMSecsSinceEpoch();

    // The disk is shared with whatever else runs on the machine: each configuration runs three
    // times, store and plain loop taking turns, and the median of each is reported.
    constexpr int rounds = 3;
    std::printf("store_bench: %d samples per configuration, median of %d alternating runs\n",
                samples, rounds);
    auto median = [](std::vector<Figures> runs) {
        std::sort(runs.begin(), runs.end(),
                  [](const Figures &a, const Figures &b) { return a.perSecond < b.perSecond; });
        return runs[runs.size() / 2];
    };
    for (int curves : {1, 10, 90}) {
        std::vector<Figures> storeRuns, plainRuns, insertRuns;
        for (int round = 0; round < rounds; ++round) {
            QTemporaryDir storeDir, plainDir, plainInsertDir;
            storeRuns.push_back(runStore(storeDir.path(), curves, samples, base));
            plainRuns.push_back(
                runPlain(QDir(plainDir.path()).filePath("plain.db"), curves, samples, base, true));
            insertRuns.push_back(runPlain(QDir(plainInsertDir.path()).filePath("plain.db"), curves,
                                          samples, base, false));
        }
        const Figures store = median(storeRuns);
        const Figures plain = median(plainRuns);
        print("addSample (store + metadata)", curves, store);
        print("sqlite3 C loop (insert + metadata)", curves, plain);
        print("sqlite3 C loop (insert only)", curves, median(insertRuns));
        std::printf(
            "%-34s %3d curves  ratio store / plain: rate %.2f, p50 %.2f   (p99 %s 2 ms)\n\n", "",
            curves, store.perSecond / plain.perSecond, plain.p50Us / store.p50Us,
            store.p99Us < 2000 ? "under" : "OVER");
    }
    return 0;
}
