#include "exportdialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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
    exportPathLabel = new QLabel(QDir::toNativeSeparators(dataDirectory()));
    exportPathLabel->setStyleSheet(labelStyle);
    browseButton = new QPushButton(tr("  浏览...  "));
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(exportPathLabel, 1);
    pathRow->addWidget(browseButton);
    detailsLayout->addLayout(pathRow);
    addContentWidget(details);

    auto *buttonRow = new QHBoxLayout;
    exportFileButton = new QPushButton(tr("  导出到文件  "));
    auto *closeButton = new QPushButton(tr("  关闭  "));
    buttonRow->addStretch();
    buttonRow->addWidget(exportFileButton);
    buttonRow->addWidget(closeButton);
    addContentLayout(buttonRow);

    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
}
