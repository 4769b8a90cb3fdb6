// A scan stored in one transaction: a process killed at any moment leaves every committed scan
// whole (every curve has the scan's row or none has) and the metadata equal to the rows; a scan
// rolled back leaves nothing and the store writes on. The writer is this test run again as a
// child process, killed with SIGKILL while it stores scan after scan.
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "curvedatadb.h"
#include "storeclock.h"

namespace {
constexpr int Curves = 20;
// Noon of a fixed day: no scan of the test crosses midnight or a six-hour slice.
const qint64 startMs = QDateTime(QDate(2026, 3, 10), QTime(12, 0)).toMSecsSinceEpoch();

// The child: stores scans into dir until it is killed, saying each commit on standard output.
int writeScans(const QString &dir)
{
    StoreClock::setFixedNow(startMs);
    CurveDataDB store(dir);
    QList<int> ids;
    for (int c = 0; c < Curves; ++c)
        ids << store.registerCurve(QString::number(101 + c));
    for (int scan = 0;; ++scan) {
        store.beginScan();
        for (int c = 0; c < Curves; ++c)
            if (!store.insertData(ids.at(c), startMs + scan * 10, scan * 1.0 + c))
                return 3;
        if (!store.endScan(true))
            return 4;
        std::printf("committed %d\n", scan + 1);
        std::fflush(stdout);
    }
}

struct FileState
{
    QMap<int, QList<qint64>> times; // per curve id, ascending
    bool metadataMatchesRows = true;
    QString mismatch;
};

FileState readFile(const QString &path)
{
    FileState state;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("r"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery tables(db);
            QStringList names;
            tables.exec(QStringLiteral("SELECT table_name FROM batch_metadata"));
            while (tables.next())
                names << tables.value(0).toString();
            for (const QString &table : qAsConst(names)) {
                QSqlQuery rows(db);
                rows.exec(QStringLiteral("SELECT curve_id, timestamp FROM \"%1\" ORDER BY timestamp")
                              .arg(table));
                while (rows.next())
                    state.times[rows.value(0).toInt()] << rows.value(1).toLongLong();
            }
            QSqlQuery meta(db);
            meta.exec(QStringLiteral("SELECT curve_id, min_time, max_time FROM "
                                     "curve_metadata"));
            while (meta.next()) {
                const QList<qint64> times = state.times.value(meta.value(0).toInt());
                if (times.isEmpty() || meta.value(1).toLongLong() != times.first() ||
                    meta.value(2).toLongLong() != times.last()) {
                    state.metadataMatchesRows = false;
                    state.mismatch = QStringLiteral("curve %1: metadata %2..%3, rows %4")
                                         .arg(meta.value(0).toInt())
                                         .arg(meta.value(1).toLongLong())
                                         .arg(meta.value(2).toLongLong())
                                         .arg(times.size());
                }
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("r"));
    return state;
}
} // namespace

class TestScanTransaction : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesWholeScans_data();
    void killedWriterLeavesWholeScans();
    void rolledBackScanLeavesNothing();
};

void TestScanTransaction::killedWriterLeavesWholeScans_data()
{
    QTest::addColumn<int>("pauseMs");
    // Killed after a few scans and after many (a checkpoint of the log has run by then).
    QTest::newRow("early") << 30;
    QTest::newRow("later") << 400;
    QTest::newRow("much later") << 1500;
}

void TestScanTransaction::killedWriterLeavesWholeScans()
{
    QFETCH(int, pauseMs);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess writer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SCAN_WRITER_DIR"), dir.path());
    writer.setProcessEnvironment(env);
    writer.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(writer.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(writer.bytesAvailable() > 0 || writer.state() != QProcess::Running,
                             20000);
    QTest::qWait(pauseMs);
    ::kill(pid_t(writer.processId()), SIGKILL);
    QVERIFY(writer.waitForFinished(10000));
    QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
    int committed = 0;
    for (const QByteArray &line : writer.readAllStandardOutput().split('\n'))
        if (line.startsWith("committed "))
            committed = line.mid(10).toInt();
    QVERIFY(committed > 0);

    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("*.db")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    const FileState state = readFile(QDir(dir.path()).filePath(files.first()));
    QCOMPARE(state.times.size(), Curves);
    const QList<qint64> first = state.times.first();
    // Every commit said survived; at most the scan in flight besides (committed, not yet said).
    QVERIFY2(first.size() >= committed && first.size() <= committed + 1,
             qPrintable(QStringLiteral("%1 rows, %2 commits said").arg(first.size()).arg(committed)));
    for (auto it = state.times.cbegin(); it != state.times.cend(); ++it)
        QVERIFY2(it.value() == first, qPrintable(QStringLiteral("curve %1 has %2 rows, curve %3 %4")
                                                      .arg(it.key())
                                                      .arg(it.value().size())
                                                      .arg(state.times.firstKey())
                                                      .arg(first.size())));
    QVERIFY2(state.metadataMatchesRows, qPrintable(state.mismatch));
}

void TestScanTransaction::rolledBackScanLeavesNothing()
{
    QTemporaryDir dir;
    StoreClock::setFixedNow(startMs);
    {
        CurveDataDB store(dir.path());
        const int a = store.registerCurve(QStringLiteral("101"));
        const int b = store.registerCurve(QStringLiteral("102"));
        store.beginScan();
        QVERIFY(store.insertData(a, startMs, 1.0));
        QVERIFY(store.insertData(b, startMs, 2.0));
        QVERIFY(store.endScan(true));
        // A scan given up: rows, metadata and the six-hour table it made go back.
        store.beginScan();
        QVERIFY(store.insertData(a, startMs + 1, 100.0));
        QVERIFY(store.insertData(b, startMs + 6 * 3600 * 1000, 200.0));
        QVERIFY(!store.endScan(false));
        QCOMPARE(store.curveMetadataOf(a).maxValue, 1.0);
        // The store writes on, into the tables it still has and the one it makes again (were
        // the rolled-back table still taken for made, the sample of b would find none).
        store.beginScan();
        QVERIFY(store.insertData(a, startMs + 2, 3.0));
        QVERIFY(store.insertData(b, startMs + 6 * 3600 * 1000, 4.0));
        QVERIFY(store.endScan(true));
    }
    StoreClock::useSystemTime();
    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("*.db")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    const FileState state = readFile(QDir(dir.path()).filePath(files.first()));
    QCOMPARE(state.times.size(), 2);
    QCOMPARE(state.times.first(), QList<qint64>({startMs, startMs + 2}));
    QCOMPARE(state.times.last(), QList<qint64>({startMs, startMs + 6 * 3600 * 1000}));
    QVERIFY2(state.metadataMatchesRows, qPrintable(state.mismatch));
}

int main(int argc, char **argv)
{
    const QByteArray writerDir = qgetenv("SCAN_WRITER_DIR");
    if (!writerDir.isEmpty()) {
        QCoreApplication app(argc, argv);
        return writeScans(QString::fromLocal8Bit(writerDir));
    }
    QCoreApplication app(argc, argv);
    TestScanTransaction test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scantransaction.moc"
