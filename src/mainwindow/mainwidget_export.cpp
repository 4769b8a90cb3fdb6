// The export dialog: separator, file name and folder, and the export thread's outcome.
#include "mainwidget.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
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
#include "widgets/CustomComboBox.h"
#include "widgets/CustomDialog.h"
#include "widgets/CustomMessageDialog.h"
#include "widgets/LoadingView.h"

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

    if (!curveStore || curveStore->getCurveNames().isEmpty()) {
        messageDialog->showMessage(tr("没有相关轨迹数据"), 2, MessageMs);
        return;
    }
    const QList<int> ids = curveStore->getCurveNames().keys();

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
    const QString base = sanitizeFileName(QStringLiteral("%1_%2").arg(identityField(2), name));
    const QString path = QStringLiteral("%1%2.csv").arg(folder, base);

    QMap<QString, QString> header;
    header.insert(QStringLiteral("address"), switchResource);
    header.insert(QStringLiteral("instrumentModel"), identityField(1));
    header.insert(QStringLiteral("instrumentNum"), identityField(2));
    header.insert(QStringLiteral("instrumentVer"), identityField(3));
    header.insert(QStringLiteral("startTime"), recordStartTime);
    header.insert(QStringLiteral("endTime"), recordEndTime);

    exportResultReceived = false;
    const QString format = QStringLiteral("yyyy MM dd hh mm ss zzz");
    const qint64 start = QDateTime::fromString(recordStartTime, format).toMSecsSinceEpoch();
    const qint64 end = QDateTime::fromString(recordEndTime, format).toMSecsSinceEpoch();

    exportThread =
        new CsvExportFromDBThread(curveStore, ids, path, separator, header, start, end, nullptr);
    connect(exportThread, &CsvExportFromDBThread::exportFinished, this,
            &MainWidget::onExportFinished);
    connect(exportThread, &QThread::finished, this, &MainWidget::onExportThreadFinished);
    exportThread->startExport();
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
