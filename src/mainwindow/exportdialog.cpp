#include "exportdialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "datadirectory.h"
#include "widgets/customcombobox.h"

ExportDialog::ExportDialog(QWidget *parent)
    : CustomDialog(tr("将数据导出到CSV"), parent)
{
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
    addContentLayout(separatorRow);

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
    exportPathLabel = new QLabel;
    exportPathLabel->setStyleSheet(labelStyle);
    browseButton = new QPushButton(tr("  浏览...  "));
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(exportPathLabel, 1);
    pathRow->addWidget(browseButton);
    detailsLayout->addLayout(pathRow);
    addContentWidget(details);

    progressArea = new QWidget;
    auto *progressLayout = new QVBoxLayout(progressArea);
    progressLayout->setContentsMargins(10, 0, 10, 0);
    progressBar = new QProgressBar;
    progressBar->setTextVisible(false);
    progressBar->setStyleSheet(
        QStringLiteral("QProgressBar { background:#171717; border:1px solid #555555; height:12px; }"
                       "QProgressBar::chunk { background:rgb(60, 120, 216); }"));
    progressLabel = new QLabel;
    progressLabel->setStyleSheet(QStringLiteral("color:white;"));
    progressLayout->addWidget(progressBar);
    progressLayout->addWidget(progressLabel);
    progressArea->hide();
    addContentWidget(progressArea);

    auto *buttonRow = new QHBoxLayout;
    exportFileButton = new QPushButton(tr("  导出到文件  "));
    dismissButton = new QPushButton(tr("  关闭  "));
    cancelButton = new QPushButton(tr("  取消导出  "));
    cancelButton->hide();
    buttonRow->addStretch();
    buttonRow->addWidget(exportFileButton);
    buttonRow->addWidget(dismissButton);
    buttonRow->addWidget(cancelButton);
    addContentLayout(buttonRow);

    // On Linux a screen reader names a combo box by its label, elsewhere by its name.
    separatorLabel->setBuddy(separatorCombo);
    separatorCombo->setAccessibleName(tr("列分隔符"));
    nameLabel->setBuddy(fileNameEdit);
    fileNameEdit->setAccessibleName(tr("文件名"));
    exportPathLabel->setAccessibleName(tr("导出路径"));
    setFolder(QDir::toNativeSeparators(dataDirectory()));
    browseButton->setAccessibleName(tr("浏览导出文件夹"));
    browseButton->setAccessibleDescription(tr("选择CSV文件所在的文件夹"));
    exportFileButton->setAccessibleName(tr("导出到文件"));
    exportFileButton->setAccessibleDescription(tr("将记录的数据写入CSV文件"));
    dismissButton->setAccessibleName(tr("关闭"));
    cancelButton->setAccessibleName(tr("取消导出"));
    cancelButton->setAccessibleDescription(tr("停止导出并删除已写的文件"));
    progressBar->setAccessibleName(tr("导出进度"));

    // Enter exports, Esc closes.
    exportFileButton->setDefault(true);
    dismissButton->setAutoDefault(false);
    connect(dismissButton, &QPushButton::clicked, this, &QDialog::close);
    connect(cancelButton, &QPushButton::clicked, this, &ExportDialog::reject);
}

void ExportDialog::setFolder(const QString &folder)
{
    exportPathLabel->setText(folder);
    exportPathLabel->setAccessibleDescription(folder);
}

QString ExportDialog::progressText(qint64 processed, qint64 total)
{
    if (total <= 0)
        return tr("已写 %1 行").arg(processed);
    const qint64 percent = qMin<qint64>(100, processed * 100 / total);
    return tr("已写 %1 / %2 行（%3%）")
        .arg(QString::number(processed), QString::number(total), QString::number(percent));
}

void ExportDialog::beginExport()
{
    exporting = true;
    setChoicesEnabled(false);
    // Unknown until the export has counted the rows: a busy bar.
    progressBar->setRange(0, 0);
    progressLabel->setText(tr("正在统计数据行数..."));
    progressArea->show();
    dismissButton->hide();
    cancelButton->setEnabled(true);
    cancelButton->show();
    cancelButton->setFocus();
    // Taller by the progress, nothing squeezed.
    resize(size().expandedTo(sizeHint()));
}

void ExportDialog::showProgress(qint64 processed, qint64 total)
{
    // After a cancel the dialog says so until the export has ended.
    if (!exporting || !cancelButton->isEnabled())
        return;
    if (total > 0) {
        progressBar->setRange(0, 1000);
        progressBar->setValue(int(qMin<qint64>(1000, processed * 1000 / total)));
    } else {
        progressBar->setRange(0, 0);
    }
    progressLabel->setText(progressText(processed, total));
    progressBar->setAccessibleDescription(progressLabel->text());
}

void ExportDialog::endExport()
{
    exporting = false;
    setChoicesEnabled(true);
    progressArea->hide();
    cancelButton->hide();
    dismissButton->show();
    close();
    adjustSize();
}

void ExportDialog::reject()
{
    if (!exporting) {
        CustomDialog::reject();
        return;
    }
    // Asked once; the dialog closes when the export has ended and removed its files.
    if (cancelButton->isEnabled()) {
        cancelButton->setEnabled(false);
        progressLabel->setText(tr("正在取消导出..."));
        emit cancelRequested();
    }
}

void ExportDialog::setChoicesEnabled(bool enabled)
{
    for (QWidget *choice :
         {static_cast<QWidget *>(separatorCombo), static_cast<QWidget *>(fileNameEdit),
          static_cast<QWidget *>(browseButton), static_cast<QWidget *>(exportFileButton)})
        choice->setEnabled(enabled);
}
