// Export: the dialog's choices handed to the controller, and the export's outcome.
#include "mainwidget.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "exportdialog.h"
#include "widgets/customcombobox.h"
#include "widgets/custommessagedialog.h"

void MainWidget::recvExportButtonSlot()
{
    if (!exportDialog) {
        exportDialog = new ExportDialog(this);
        connect(exportDialog->browseButton, &QPushButton::clicked, this,
                &MainWidget::recvBrowseButtonSlot);
        connect(exportDialog->exportFileButton, &QPushButton::clicked, this,
                &MainWidget::recvExportFileButtonSlot);
        connect(exportDialog, &ExportDialog::cancelRequested, &controller,
                &LoggingController::cancelExport);
        connect(&controller, &LoggingController::exportProgress, exportDialog,
                &ExportDialog::showProgress);
    }
    exportDialog->exportFileButton->setFocus();
    exportDialog->exec();
}

void MainWidget::recvBrowseButtonSlot()
{
    const QString folder = QFileDialog::getExistingDirectory(nullptr, tr("Select Directory"),
                                                             QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        exportDialog->setFolder(folder);
}

void MainWidget::recvExportFileButtonSlot()
{
    const int index = exportDialog->separatorCombo->currentIndex();
    const QString separator = index == 1   ? QStringLiteral(";")
                              : index == 2 ? QStringLiteral("\t")
                                           : QStringLiteral(",");
    QString name = exportDialog->fileNameEdit->text();
    if (name.isEmpty()) // a file name: the same in every language
        name = QStringLiteral("顺序对齐曲线数据");
    if (controller.exportRecording(exportDialog->exportPathLabel->text(), name, separator) ==
        LoggingController::ExportStart::NoRecording) {
        showMessage(tr("没有相关轨迹数据"), CustomMessageDialog::Information);
        return;
    }
    // The dialog shows the progress and closes when the export has ended.
    exportDialog->beginExport();
}

void MainWidget::onExportFinished(ExportResult result, const QStringList &files)
{
    if (exportDialog)
        exportDialog->endExport();
    QString message;
    // A failed export is an error: it stays on screen until it is dismissed.
    int kind = CustomMessageDialog::Error;
    switch (result) {
    case ExportResult::Success:
        message = tr("导出成功%1").arg(files.join(QStringLiteral("; ")));
        kind = CustomMessageDialog::Information;
        break;
    case ExportResult::FileError:
        message = tr("CSV文件无法打开（可能被占用）");
        break;
    case ExportResult::NoData:
        message = tr("没有可以保存的数据");
        kind = CustomMessageDialog::Information;
        break;
    case ExportResult::DatabaseError:
        message = tr("数据库读取失败，请检查数据文件");
        break;
    case ExportResult::Cancelled:
        message = tr("导出已取消");
        kind = CustomMessageDialog::Information;
        break;
    case ExportResult::WriteError:
        message = tr("导出失败");
        break;
    }
    if (!message.isEmpty())
        showMessage(message, kind);
}

void MainWidget::onExportInterrupted()
{
    if (exportDialog)
        exportDialog->endExport();
    showMessage(tr("导出异常中断"), CustomMessageDialog::Error);
}
