#include "exporttestsupport.h"

#include "csvexportfromdbthread.h"
#include "curvedatadb.h"
#include "shardcalendar.h"
#include "storeclock.h"

#include <QSqlDatabase>

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTextStream>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <mutex>

namespace ExportTest {

qint64 localMs(const QDate &date, const QTime &time)
{
    return QDateTime(date, time).toMSecsSinceEpoch();
}

TestStore::TestStore(qint64 startMs, const QStringList &curveNames)
{
    StoreClock::setFixedNow(startMs);
    QDir(dir.path()).mkpath(QStringLiteral("data"));
    QDir(dir.path()).mkpath(QStringLiteral("out"));
    db = std::make_unique<CurveDataDB>(dataDir());
    for (const QString &name : curveNames)
        ids.insert(name, db->registerCurve(name));
}

TestStore::~TestStore()
{
    db.reset();
    StoreClock::useSystemTime();
}

QString TestStore::dataDir() const
{
    return QDir(dir.path()).filePath(QStringLiteral("data"));
}

QString TestStore::exportDir() const
{
    return QDir(dir.path()).filePath(QStringLiteral("out"));
}

void TestStore::setClock(qint64 ms)
{
    StoreClock::setFixedNow(ms);
}

void TestStore::write(QList<Sample> samples, qint64 clockAfter)
{
    std::stable_sort(samples.begin(), samples.end(),
                     [](const Sample &a, const Sample &b) { return a.time < b.time; });
    for (const Sample &s : qAsConst(samples)) {
        // Written at the moment it was taken: the sample's own day file is today's file.
        StoreClock::setFixedNow(s.time);
        db->insertData(s.curveId, s.time, s.value);
    }
    if (clockAfter >= 0)
        StoreClock::setFixedNow(clockAfter);
}

namespace {
QtMessageHandler handlerBeforeBulk = nullptr;

void dropMetadataSaveFailures(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (msg.contains(QStringLiteral("保存曲线元数据失败")))
        return;
    if (handlerBeforeBulk)
        handlerBeforeBulk(type, context, msg);
}
} // namespace

bool TestStore::writeInOneTransaction(const QList<Sample> &samples, qint64 clockAt)
{
    StoreClock::setFixedNow(clockAt);
    db->switchToTodayDatabase();
    QMap<int, QString> lastBatch;
    for (const Sample &s : samples) {
        const QString batch = batchNameOfTime(s.time);
        if (lastBatch.value(s.curveId) != batch) {
            if (!db->ensureBatchTable(s.curveId, s.time))
                return false;
            lastBatch.insert(s.curveId, batch);
        }
    }
    const QSharedPointer<QSqlDatabase> connection = db->getConnection(db->currentDatabasePath());
    if (!connection || !connection->transaction())
        return false;
    handlerBeforeBulk = qInstallMessageHandler(&dropMetadataSaveFailures);
    for (const Sample &s : samples)
        db->insertData(s.curveId, s.time, s.value);
    qInstallMessageHandler(handlerBeforeBulk);
    // Each sample's metadata went into the transaction with its row.
    return connection->commit();
}

namespace {
std::mutex logMutex;
QStringList logged;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    {
        std::lock_guard<std::mutex> lock(logMutex);
        logged.append(msg);
    }
    // Debug lines of the cursors are many; only warnings and worse are passed on.
    if (previousHandler && type != QtDebugMsg)
        previousHandler(type, context, msg);
}
} // namespace

LogCapture::LogCapture()
{
    std::lock_guard<std::mutex> lock(logMutex);
    logged.clear();
    previousHandler = qInstallMessageHandler(&captureMessage);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList LogCapture::messages() const
{
    std::lock_guard<std::mutex> lock(logMutex);
    return logged;
}

int LogCapture::count(const QStringList &fragments) const
{
    std::lock_guard<std::mutex> lock(logMutex);
    int n = 0;
    for (const QString &m : qAsConst(logged)) {
        bool all = true;
        for (const QString &f : fragments)
            all = all && m.contains(f);
        if (all)
            ++n;
    }
    return n;
}

ExportOutcome runExport(CsvExportFromDBThread &thread, int timeoutMs)
{
    ExportOutcome outcome;
    QEventLoop loop;
    QObject receiver;
    QObject::connect(
        &thread, &CsvExportFromDBThread::exportFinished, &receiver,
        [&](ExportResult result, const QStringList &files) {
            ++outcome.resultCount;
            outcome.finished = true;
            outcome.result = result;
            outcome.files = files;
            loop.quit();
        },
        Qt::QueuedConnection);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    thread.startExport();
    loop.exec();
    thread.wait(timeoutMs);
    // A second result would be queued by now.
    QCoreApplication::processEvents();
    return outcome;
}

CsvHeader headerFields()
{
    CsvHeader header;
    header.address = QStringLiteral("TCPIP0::127.0.0.1::5025::SOCKET");
    header.model = QStringLiteral("MF3000");
    header.serial = QStringLiteral("A1");
    header.startMs = localMs(QDate(2025, 1, 15), QTime(10, 30, 0, 123));
    header.endMs = localMs(QDate(2025, 1, 15), QTime(10, 40, 1, 456));
    return header;
}

namespace {

struct Row
{
    qint64 time;
    double value;
};

QList<Row> readCurve(const QString &dataDir, const QString &name, qint64 start, qint64 end)
{
    QList<Row> rows;
    const QStringList files =
        QDir(dataDir).entryList({QStringLiteral("*.db")}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(QDir(dataDir).filePath(file).toUtf8().constData(), &db,
                            SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            continue;
        }
        int id = -1;
        QStringList tables;
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT curve_id FROM curve_info WHERE name = ?", -1, &stmt,
                               nullptr) == SQLITE_OK) {
            const QByteArray utf8 = name.toUtf8();
            sqlite3_bind_text(stmt, 1, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
            if (sqlite3_step(stmt) == SQLITE_ROW)
                id = sqlite3_column_int(stmt, 0);
        }
        sqlite3_finalize(stmt);
        if (id >= 0 && sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table'",
                                          -1, &stmt, nullptr) == SQLITE_OK) {
            const QString prefix = QStringLiteral("curve_%1_").arg(id);
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                const QString table =
                    QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
                if (table.startsWith(prefix))
                    tables.append(table);
            }
            sqlite3_finalize(stmt);
        }
        for (const QString &table : qAsConst(tables)) {
            const QByteArray sql = QStringLiteral("SELECT timestamp, value FROM \"%1\" WHERE "
                                                  "curve_id = %2 AND timestamp BETWEEN %3 AND %4")
                                       .arg(table)
                                       .arg(id)
                                       .arg(start)
                                       .arg(end)
                                       .toUtf8();
            if (sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
                continue;
            while (sqlite3_step(stmt) == SQLITE_ROW)
                rows.append(Row{sqlite3_column_int64(stmt, 0), sqlite3_column_double(stmt, 1)});
            sqlite3_finalize(stmt);
        }
        sqlite3_close(db);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row &a, const Row &b) { return a.time < b.time; });
    return rows;
}

} // namespace

QList<QByteArray> referenceExport(const QString &dataDir, const QStringList &curveNames,
                                  qint64 start, qint64 end, const QString &separator,
                                  const CsvHeader &header)
{
    const auto timeText = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(
            QStringLiteral("yyyy MM dd hh mm ss zzz"));
    };
    QList<QList<Row>> curves;
    int rowCount = 0;
    for (const QString &name : curveNames) {
        curves.append(readCurve(dataDir, name, start, end));
        rowCount = std::max(rowCount, int(curves.last().size()));
    }

    QList<QByteArray> parts;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QTextStream out;
    const auto openPart = [&] {
        bytes.clear();
        buffer.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.setDevice(&buffer);
        out.setCodec("UTF-8");
        out.setGenerateByteOrderMark(true);
        out << QStringLiteral("地址") << separator << header.address << "\n";
        out << QStringLiteral("型号") << separator << header.model << "\n";
        out << QStringLiteral("序列号：") << separator << header.serial << "\n";
        out << QStringLiteral("开始时间") << separator << timeText(header.startMs) << "\n";
        out << QStringLiteral("结束时间") << separator << timeText(header.endMs) << "\n";
        out << QStringLiteral("编号") << separator << QStringLiteral("时间") << separator;
        for (const QString &name : curveNames)
            out << name << separator;
        out << "\n";
    };
    const auto closePart = [&] {
        out.flush();
        buffer.close();
        parts.append(bytes);
    };

    openPart();
    int inPart = 0;
    for (int r = 0; r < rowCount; ++r) {
        QStringList cells{QString::number(qint64(r) + 1)};
        cells.append(r < curves.first().size()
                         ? QDateTime::fromMSecsSinceEpoch(curves.first().at(r).time)
                               .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                         : QString());
        for (const QList<Row> &curve : qAsConst(curves))
            cells.append(r < curve.size() ? QString::number(curve.at(r).value, 'E', 15)
                                          : QString());
        out << cells.join(separator) << "\n";
        if (++inPart == 1000000) {
            closePart();
            openPart();
            inPart = 0;
        }
    }
    closePart();
    return parts;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

namespace {
QString shown(const QByteArray &line)
{
    QByteArray text = line;
    if (text.startsWith("\xEF\xBB\xBF"))
        text.replace(0, 3, "<BOM>");
    text.replace('\t', "\\t");
    text.replace('\r', "\\r");
    return QString::fromUtf8(text);
}
} // namespace

QString lineDiff(const QByteArray &actual, const QByteArray &expected)
{
    if (actual == expected)
        return QString();
    const QList<QByteArray> a = actual.split('\n');
    const QList<QByteArray> e = expected.split('\n');
    for (int i = 0; i < std::max(a.size(), e.size()); ++i) {
        const QByteArray al = i < a.size() ? a.at(i) : QByteArray("<no line>");
        const QByteArray el = i < e.size() ? e.at(i) : QByteArray("<no line>");
        if (al != el || i >= a.size() || i >= e.size()) {
            return QStringLiteral("line %1 differs (of %2 actual, %3 expected):\n  actual:   %4\n"
                                  "  expected: %5")
                .arg(i + 1)
                .arg(a.size())
                .arg(e.size())
                .arg(shown(al), shown(el));
        }
    }
    return QStringLiteral("contents differ");
}

QString goldenPath(const QString &name)
{
    const QString root = qEnvironmentVariable("DATALOGGER_SOURCE_DIR");
    return QDir(root).filePath(QStringLiteral("tests/export/golden/") + name);
}

QStringList filesIn(const QString &dir, const QString &suffix)
{
    QStringList result;
    const QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        if (name.endsWith(suffix))
            result.append(QDir(dir).filePath(name));
    }
    return result;
}

} // namespace ExportTest
