// The on-disk format of a day file: every statement the store runs, in one place.
// %1 is a table name filled in with QString::arg before the statement is prepared.
#pragma once

namespace StoreSql {

constexpr const char *createCurveInfo =
    "CREATE TABLE IF NOT EXISTS curve_info ( curve_id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "name TEXT NOT NULL UNIQUE )";
constexpr const char *createBatchMetadata =
    "CREATE TABLE IF NOT EXISTS batch_metadata ( id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "curve_id INTEGER NOT NULL, batch_start INTEGER NOT NULL, batch_end INTEGER NOT NULL, "
    "table_name TEXT NOT NULL, FOREIGN KEY(curve_id) REFERENCES curve_info(curve_id), "
    "UNIQUE(curve_id, table_name) )";
constexpr const char *createCurveMetadata =
    "CREATE TABLE IF NOT EXISTS curve_metadata ( curve_id INTEGER PRIMARY KEY, "
    "min_time INTEGER, max_time INTEGER, min_value REAL, max_value REAL, "
    "FOREIGN KEY(curve_id) REFERENCES curve_info(curve_id) )";
constexpr const char *createBatchTable =
    "CREATE TABLE IF NOT EXISTS \"%1\" ( id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "curve_id INTEGER NOT NULL, timestamp INTEGER NOT NULL, value REAL NOT NULL, "
    "UNIQUE(curve_id, timestamp), FOREIGN KEY(curve_id) REFERENCES curve_info(curve_id) )";
constexpr const char *createBatchIndex =
    "CREATE INDEX IF NOT EXISTS idx_%1_curve_time ON \"%1\" (curve_id, timestamp)";

constexpr const char *selectOne = "SELECT 1";
constexpr const char *selectCurveIdByName = "SELECT curve_id FROM curve_info WHERE name = ?";
constexpr const char *insertCurveName = "INSERT INTO curve_info (name) VALUES (?)";
constexpr const char *selectCurveNames = "SELECT curve_id, name FROM curve_info";
constexpr const char *selectBatches =
    "SELECT curve_id, batch_start, batch_end, table_name FROM batch_metadata";
constexpr const char *selectCurveMetadata =
    "SELECT curve_id, min_time, max_time, min_value, max_value FROM curve_metadata";
constexpr const char *selectRecordingSpan =
    "SELECT min(min_time), max(max_time) FROM curve_metadata";
constexpr const char *deleteCurveMetadata = "DELETE FROM curve_metadata WHERE curve_id = ?";
constexpr const char *insertCurveMetadata =
    "INSERT INTO curve_metadata (curve_id, min_time, max_time, min_value, max_value) "
    "VALUES (?, ?, ?, ?, ?)";
constexpr const char *selectBatchExists =
    "SELECT 1 FROM batch_metadata WHERE curve_id = ? AND table_name = ?";
constexpr const char *insertBatchMetadata =
    "INSERT OR IGNORE INTO batch_metadata (curve_id, batch_start, batch_end, table_name) "
    "VALUES (?, ?, ?, ?)";
constexpr const char *insertSample =
    "INSERT OR IGNORE INTO %1 (curve_id, timestamp, value) VALUES (?, ?, ?)";
constexpr const char *selectBatchesInRange =
    "SELECT curve_id, batch_start, batch_end, table_name FROM batch_metadata WHERE curve_id = ? "
    "AND ( (batch_start BETWEEN ? AND ?) OR (batch_end BETWEEN ? AND ?) OR "
    "(batch_start <= ? AND batch_end >= ?) )";
constexpr const char *selectTableExists =
    "SELECT name FROM sqlite_master WHERE type='table' AND name='%1'";

constexpr const char *sampleSavepoint = "SAVEPOINT sample";
constexpr const char *sampleRelease = "RELEASE sample";
constexpr const char *sampleRollback = "ROLLBACK TO sample";

constexpr const char *walCheckpointTruncate = "PRAGMA wal_checkpoint(TRUNCATE)";
constexpr const char *journalModeDelete = "PRAGMA journal_mode = DELETE";

} // namespace StoreSql
