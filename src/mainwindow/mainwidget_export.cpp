// The export dialog: separator, file name and folder, and the export thread's outcome.
#include "mainwidget.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "csvexportfromdbthread.h"
#include "curvedatadb.h"
#include "processvalues.h"
#include "widgets/customcombobox.h"
#include "widgets/customdialog.h"
#include "widgets/custommessagedialog.h"
#include "widgets/loadingview.h"

namespace {
constexpr int MessageMs = 3000;

QString identityField(int index)
{
    return instrumentIdentity.split(QLatin1Char(' ')).value(index);
}
} // namespace

QString MainWidget::sanitizeFileName(const QString &name)
{
    QString clean = name;
    for (QChar c : QStringLiteral("/\\:*?\"<>|"))
        clean.replace(c, QLatin1Char('_'));
    clean.remove(QChar(0));
    return clean;
}

void MainWidget::recvExportButtonSlot()
{
    if (!exportDialog)
        buildExportDialog();
    exportDialog->exec();
}

void MainWidget::buildExportDialog()
{
    exportDialog = new CustomDialog(tr("将数据导出到CSV"), this);
    const QString labelStyle = QStringLiteral("background-color:#444444;");

    auto *separatorRow = new QHBoxLayout;
    auto *separatorLabel = new QLabel(tr("列分隔符:"));
    separatorLabel->setStyleSheet(labelStyle);
    separatorCombo = new CustomComboBox;
    separatorCombo->setStyleSheet(QStringLiteral("background:#171717;"));
    separatorCombo->addItem(tr("逗号(,)"), QStringLiteral(","));
    separatorCombo->addItem(tr("分号(;)"), QStringLiteral(";"));
    separatorCombo->addItem(tr("制表符(\\t)"), QStringLiteral("\t"));
    separatorRow->addWidget(separatorLabel);
    separatorRow->addWidget(separatorCombo);
    separatorRow->addItem(new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    exportDialog->addContentLayout(separatorRow);

    auto *details = new QGroupBox(tr("详情"));
    auto *detailsLayout = new QVBoxLayout(details);
    auto *detailsLabel = new QLabel(tr("导出文件详细信息:"));
    detailsLabel->setStyleSheet(labelStyle);
    detailsLayout->addWidget(detailsLabel);
    auto *nameRow = new QHBoxLayout;
    auto *nameLabel = new QLabel(tr("文件名:"));
    nameLabel->setStyleSheet(labelStyle);
    fileNameEdit = new QLineEdit(QStringLiteral("Trace"));
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(fileNameEdit);
    detailsLayout->addLayout(nameRow);
    auto *pathRow = new QHBoxLayout;
    auto *pathLabel = new QLabel(tr("导出路径:"));
    pathLabel->setStyleSheet(labelStyle);
    exportPathLabel = new QLabel(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
    exportPathLabel->setStyleSheet(labelStyle);
    auto *browseButton = new QPushButton(tr("  浏览...  "));
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(exportPathLabel, 1);
    pathRow->addWidget(browseButton);
    detailsLayout->addLayout(pathRow);
    exportDialog->addContentWidget(details);

    auto *buttonRow = new QHBoxLayout;
    auto *exportFileButton = new QPushButton(tr("  导出到文件  "));
    auto *closeButton = new QPushButton(tr("  关闭  "));
    buttonRow->addStretch();
    buttonRow->addWidget(exportFileButton);
    buttonRow->addWidget(closeButton);
    exportDialog->addContentLayout(buttonRow);

    connect(browseButton, &QPushButton::clicked, this, &MainWidget::recvBrowseButtonSlot);
    connect(exportFileButton, &QPushButton::clicked, this, &MainWidget::recvExportFileButtonSlot);
    connect(closeButton, &QPushButton::clicked, exportDialog, &QDialog::close);
}

void MainWidget::recvBrowseButtonSlot()
{
    const QString folder = QFileDialog::getExistingDirectory(
        nullptr, QStringLiteral("Select Directory"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        exportPathLabel->setText(folder);
}

void MainWidget::recvExportFileButtonSlot()
{
    if (exportThread) {
        CsvExportFromDBThread *previous = exportThread.data();
        // The replaced export's late result must not close the overlay of the new one.
        previous->disconnect(this);
        previous->stopExport();
        exportThread.clear();
        // A thread still running after the wait is deleted once it has finished, never before.
        if (previous->wait(3000))
            previous->deleteLater();
        else
            connect(previous, &QThread::finished, previous, &QObject::deleteLater);
    }

    CurveDataDB *store = storeToExport();
    if (!store || store->getCurveNames().isEmpty()) {
        messageDialog->showMessage(tr("没有相关轨迹数据"), 2, MessageMs);
        return;
    }
    const QList<int> ids = store->getCurveNames().keys();

    if (!busyOverlay)
        busyOverlay = new LoadingView(0, this);
    exportDialog->close();
    busyOverlay->startLoading();

    const int index = separatorCombo->currentIndex();
    const QString separator = index == 1   ? QStringLiteral(";")
                              : index == 2 ? QStringLiteral("\t")
                                           : QStringLiteral(",");
    QString folder = exportPathLabel->text();
    if (!folder.isEmpty() && !folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    QString name = fileNameEdit->text();
    if (name.isEmpty())
        name = tr("顺序对齐曲线数据");
    // A recording left by an earlier process is named by its data set when no frame is
    // connected yet.
    const QString serial =
        curveStore || !instrumentIdentity.isEmpty() ? identityField(2) : strandedSerial;
    const QString base = sanitizeFileName(QStringLiteral("%1_%2").arg(serial, name));
    const QString path = QStringLiteral("%1%2.csv").arg(folder, base);

    QMap<QString, QString> header;
    header.insert(QStringLiteral("address"), switchResource);
    header.insert(QStringLiteral("instrumentModel"), identityField(1));
    header.insert(QStringLiteral("instrumentNum"), serial);
    header.insert(QStringLiteral("instrumentVer"), identityField(3));
    const QString format = QStringLiteral("yyyy MM dd hh mm ss zzz");
    QString startText = recordStartTime;
    QString endText = recordEndTime;
    if (!curveStore) {
        startText = QDateTime::fromMSecsSinceEpoch(strandedStartMs).toString(format);
        endText = QDateTime::fromMSecsSinceEpoch(strandedEndMs).toString(format);
    }
    header.insert(QStringLiteral("startTime"), startText);
    header.insert(QStringLiteral("endTime"), endText);

    exportResultReceived = false;
    const qint64 start = QDateTime::fromString(startText, format).toMSecsSinceEpoch();
    const qint64 end = QDateTime::fromString(endText, format).toMSecsSinceEpoch();

    exportThread =
        new CsvExportFromDBThread(store, ids, path, separator, header, start, end, nullptr);
    connect(exportThread, &CsvExportFromDBThread::exportFinished, this,
            &MainWidget::onExportFinished);
    connect(exportThread, &QThread::finished, this, &MainWidget::onExportThreadFinished);
    exportThread->startExport();
}

// The store of this process's recording, or else the data set an earlier process left beside
// the executable (ended by "exit", a crash or a power cut): until the next start, that is
// the last recording, and it must stay exportable.
CurveDataDB *MainWidget::storeToExport()
{
    if (curveStore)
        return curveStore;
    if (!strandedStore)
        openStrandedRecording();
    return strandedStore.get();
}

void MainWidget::openStrandedRecording()
{
    const QDir appDir(QCoreApplication::applicationDirPath());
    QString dirPath;
    if (!instrumentIdentity.isEmpty()) {
        dirPath = appDir.filePath(dataSetName());
    } else {
        // No frame connected yet: the data set written to last.
        QDateTime newest;
        const QFileInfoList sets =
            appDir.entryInfoList({QStringLiteral("*_Data")}, QDir::Dirs | QDir::NoDotAndDotDot);
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
    // Registered in their stored order, the curves get the ids they have in the day files.
    for (auto it = recording.curveNames.cbegin(); it != recording.curveNames.cend(); ++it) {
        if (store->registerCurve(it.value()) != it.key()) {
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

void MainWidget::forgetStrandedRecording()
{
    strandedStore.reset();
}

void MainWidget::onExportFinished(ExportResult result, const QStringList &files)
{
    exportResultReceived = true;
    busyOverlay->stopLoading();
    QString message;
    switch (result) {
    case ExportResult::Success:
        message = tr("导出成功%1").arg(files.join(QStringLiteral("; ")));
        break;
    case ExportResult::FileError:
        message = tr("CSV文件无法打开（可能被占用）");
        break;
    case ExportResult::NoData:
        message = tr("没有可以保存的数据");
        break;
    case ExportResult::DatabaseError:
        message = tr("数据库读取失败，请检查数据文件");
        break;
    case ExportResult::Cancelled:
        message = tr("导出已取消");
        break;
    case ExportResult::WriteError:
        message = tr("导出失败");
        break;
    }
    if (!message.isEmpty())
        messageDialog->showMessage(message, 2, MessageMs);

    QPointer<CsvExportFromDBThread> finished = qobject_cast<CsvExportFromDBThread *>(sender());
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

void MainWidget::onExportThreadFinished()
{
    if (exportResultReceived)
        return;
    busyOverlay->stopLoading();
    messageDialog->showMessage(tr("导出异常中断"), 2, MessageMs);
    if (auto *thread = qobject_cast<CsvExportFromDBThread *>(sender())) {
        thread->deleteLater();
        if (exportThread == thread)
            exportThread.clear();
    }
}
