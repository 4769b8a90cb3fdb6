// The export of the recording: this process's own, or else the one an earlier process left
// in the data directory, and the export thread's outcome.
#include "loggingcontroller.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include "csvexportfromdbthread.h"
#include "curvedatadb.h"
#include "rig.h"

bool LoggingController::exportRunning() const
{
    return exportThread && exportThread->isRunning();
}

LoggingController::ExportStart LoggingController::exportRecording(const QString &folderPath,
                                                                  const QString &name,
                                                                  const QString &separator)
{
    if (exportThread) {
        CsvExportFromDBThread *previous = exportThread.data();
        // The replaced export's late result must not be taken for the new one's.
        previous->disconnect(this);
        previous->stopExport();
        exportThread.clear();
        // A thread still running after the wait is deleted once it has finished, never before.
        if (previous->wait(3000))
            previous->deleteLater();
        else
            connect(previous, &QThread::finished, previous, &QObject::deleteLater);
    }

    CurveDataDB *source = storeToExport();
    if (!source || source->getCurveNames().isEmpty())
        return ExportStart::NoRecording;
    const QList<int> ids = source->getCurveNames().keys();

    QString folder = folderPath;
    if (!folder.isEmpty() && !folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    // A recording left by an earlier process is named by its data set when no frame is
    // connected yet.
    const FrameIdentity frame = rig.identity();
    const QString serial = curveStore || frame.isKnown() ? frame.serial() : strandedSerial;
    const QString base = sanitizeFileName(QStringLiteral("%1_%2").arg(serial, name));
    const QString path = QStringLiteral("%1%2.csv").arg(folder, base);

    // The rows to export are every row this recording stored, wherever the wall clock put
    // them: a clock stepped back stores samples before the start, one stepped forward (or a
    // run cut short by a crash) after the end.
    qint64 start = strandedStartMs;
    qint64 end = strandedEndMs;
    qint64 from = start;
    qint64 until = end;
    if (curveStore) {
        start = startMs;
        end = endMs;
        from = lastStoredMs < firstStoredMs ? start : qMin(start, firstStoredMs);
        until = qMax(end, lastStoredMs);
    }
    CsvHeader header;
    header.address = rig.switchResource();
    header.model = frame.model();
    header.serial = serial;
    header.startMs = start;
    header.endMs = end;

    exportResultReceived = false;
    exportThread =
        new CsvExportFromDBThread(source, ids, path, separator, header, from, until, nullptr);
    // Queued: the thread reports from its own thread, the controller lives in the window's.
    connect(exportThread, &CsvExportFromDBThread::exportProgress, this,
            &LoggingController::exportProgress, Qt::QueuedConnection);
    connect(exportThread, &CsvExportFromDBThread::exportFinished, this,
            &LoggingController::onExportFinished);
    connect(exportThread, &QThread::finished, this, &LoggingController::onExportThreadFinished);
    exportThread->startExport();
    return ExportStart::Started;
}

void LoggingController::cancelExport()
{
    if (exportThread)
        exportThread->stopExport();
}

// The store of this process's recording, or else the data set an earlier process left in the
// data directory (ended by "exit", a crash or a power cut): until the next start, that is
// the last recording, and it must stay exportable.
CurveDataDB *LoggingController::storeToExport()
{
    if (curveStore)
        return curveStore.get();
    if (!strandedStore)
        openStrandedRecording();
    return strandedStore.get();
}

void LoggingController::openStrandedRecording()
{
    const QDir dataDir(dataHome);
    QString dirPath;
    const FrameIdentity frame = rig.identity();
    if (frame.isKnown()) {
        dirPath = dataDir.filePath(dataSetName(frame));
    } else {
        // No frame connected yet: the data set written to last.
        QDateTime newest;
        const QFileInfoList sets =
            dataDir.entryInfoList({QStringLiteral("*_Data")}, QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QFileInfo &set : sets) {
            if (set.isSymLink())
                continue;
            const QFileInfoList days =
                QDir(set.filePath()).entryInfoList({QStringLiteral("*.db")}, QDir::Files);
            for (const QFileInfo &day : days) {
                if (!newest.isValid() || day.lastModified() > newest) {
                    newest = day.lastModified();
                    dirPath = set.filePath();
                }
            }
        }
    }
    if (dirPath.isEmpty() || !QFileInfo(dirPath).isDir() || QFileInfo(dirPath).isSymLink())
        return;
    const StoredRecording recording = CurveDataDB::storedRecording(dirPath);
    if (recording.curveNames.isEmpty() || recording.firstMs > recording.lastMs)
        return;
    auto store = std::make_unique<CurveDataDB>(dirPath);
    // The store finds each curve by its name in every day file, so the ids it gives need not
    // be those of any one file (today's file may number them otherwise).
    for (auto it = recording.curveNames.cbegin(); it != recording.curveNames.cend(); ++it) {
        if (store->registerCurve(it.value()) < 0) {
            qWarning().noquote() << "上次记录的曲线无法载入:" << it.value() << dirPath;
            return;
        }
    }
    strandedSerial = QFileInfo(dirPath).fileName();
    strandedSerial.chop(int(qstrlen("_Data")));
    strandedStartMs = recording.firstMs;
    // The end of a recording is stamped one second after its last reading.
    strandedEndMs = recording.lastMs + 1000;
    strandedStore = std::move(store);
}

void LoggingController::onExportFinished(ExportResult result, const QStringList &files)
{
    exportResultReceived = true;
    QPointer<CsvExportFromDBThread> finished = qobject_cast<CsvExportFromDBThread *>(sender());
    emit exportFinished(result, files);
    QTimer::singleShot(100, this, [this, finished] {
        if (!finished)
            return;
        if (exportThread == finished)
            exportThread.clear();
        // The result is emitted just before the thread ends; delete only once it has.
        if (finished->isFinished())
            finished->deleteLater();
        else
            connect(finished.data(), &QThread::finished, finished.data(), &QObject::deleteLater);
    });
}

void LoggingController::onExportThreadFinished()
{
    if (exportResultReceived)
        return;
    if (auto *thread = qobject_cast<CsvExportFromDBThread *>(sender())) {
        thread->deleteLater();
        if (exportThread == thread)
            exportThread.clear();
    }
    emit exportInterrupted();
}
