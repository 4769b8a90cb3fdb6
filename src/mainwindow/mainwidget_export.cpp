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

#include "widgets/customcombobox.h"
#include "widgets/customdialog.h"
#include "widgets/custommessagedialog.h"
#include "widgets/loadingview.h"

namespace {
constexpr int MessageMs = 3000;
} // namespace

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
    const int index = separatorCombo->currentIndex();
    const QString separator = index == 1   ? QStringLiteral(";")
                              : index == 2 ? QStringLiteral("\t")
                                           : QStringLiteral(",");
    QString name = fileNameEdit->text();
    if (name.isEmpty())
        name = tr("顺序对齐曲线数据");
    if (controller.exportRecording(exportPathLabel->text(), name, separator) ==
        LoggingController::ExportStart::NoRecording) {
        messageDialog->showMessage(tr("没有相关轨迹数据"), 2, MessageMs);
        return;
    }
    exportDialog->close();
    busyOverlay->startLoading();
}

void MainWidget::onExportFinished(ExportResult result, const QStringList &files)
{
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
}

void MainWidget::onExportInterrupted()
{
    busyOverlay->stopLoading();
    messageDialog->showMessage(tr("导出异常中断"), 2, MessageMs);
}
