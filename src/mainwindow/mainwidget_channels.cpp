// The channel page: the switch main frame's modules and their ticked channels.
#include "mainwidget.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const char channelTreeStyle[] =
    "QTreeWidget { background: #171717; alternate-background-color: #2B2B2B; color: white;"
    " border: 2px solid transparent; }"
    "QTreeWidget::item { height: 20px; }"
    "QTreeWidget::item:selected { background: rgb(60, 120, 216); color: white; }"
    "QTreeWidget::item:hover { background: rgba(70, 70, 70, 150);"
    " border-top: 1px solid rgb(19, 196, 255); border-bottom: 1px solid rgb(19, 196, 255); }"
    // Where the keyboard is: the tree, and its current item.
    "QTreeWidget:focus { border-color: rgb(255, 190, 60); }"
    "QTreeWidget::item:focus { border: 1px solid rgb(255, 190, 60); }"
    "QTreeWidget QLabel { background: transparent; color: white; border: 1px solid rgb(60, 60, 60);"
    " border-radius: 3px; padding: 2px; margin-top: 1px; margin-bottom: 1px; height: 21px; }"
    // Held during a run: the channel numbers look as disabled as the ticks beside them.
    "QTreeWidget:disabled, QTreeWidget QLabel:disabled { color: #767676; }";
} // namespace

// Fills channelPage, which is in its place already.
void MainWidget::buildChannelPage()
{
    auto *layout = new QVBoxLayout(channelPage);
    setupButton = new QPushButton;
    setupButton->setObjectName(QStringLiteral("setupButton"));
    setupButton->setFlat(true);
    setupButton->setFocusPolicy(Qt::TabFocus);
    showSwitchLink(SwitchLink::NotConnected);
    layout->addWidget(setupButton);

    instrumentStateLabel = new QLabel;
    instrumentStateLabel->setObjectName(QStringLiteral("instrumentStateLabel"));
    instrumentStateLabel->setWordWrap(true);
    instrumentStateLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    instrumentStateLabel->setStyleSheet(
        QStringLiteral("color:rgb(255, 110, 90);padding:4px;font-weight:bold;"));
    instrumentStateLabel->hide();
    layout->addWidget(instrumentStateLabel);

    channelTree = new QTreeWidget;
    channelTree->setColumnCount(2);
    channelTree->setAlternatingRowColors(true);
    channelTree->setStyleSheet(QString::fromLatin1(channelTreeStyle));
    channelTree->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    channelTree->setHeaderLabels({tr("扫描 "), tr("编号")});
    channelTree->setAccessibleName(tr("通道列表"));
    channelTree->setAccessibleDescription(tr("勾选要扫描的模块和通道"));
    layout->addWidget(channelTree);
}

void MainWidget::addModule(int slot)
{
    auto *module = new QTreeWidgetItem(channelTree);
    module->setData(0, Qt::CheckStateRole, Qt::Unchecked);
    const QString model = QStringLiteral("TRM6101:10-Channel Armature Multiplexer");
    module->setText(0, tr("槽位 %1：%2").arg(QString::number(slot), model));
    module->setData(0, Qt::AccessibleTextRole, tr("模块 槽位 %1").arg(slot));
    module->setData(0, Qt::AccessibleDescriptionRole, model);
    module->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    module->setFirstColumnSpanned(true);
    module->setFlags(module->flags() & ~Qt::ItemIsSelectable);
    moduleItems.insert(module, false);

    for (int n = slot * 100 + 1; n <= slot * 100 + 10; ++n) {
        auto *channel = new QTreeWidgetItem(module);
        channel->setData(0, Qt::CheckStateRole, Qt::Unchecked);
        channel->setForeground(0, QBrush(Qt::white));
        channel->setData(0, Qt::AccessibleTextRole, tr("通道 %1").arg(n));
        auto *label = new QLabel(QString::number(n), channelTree);
        label->setAlignment(Qt::AlignCenter);
        channelTree->setItemWidget(channel, 1, label);
    }
}

void MainWidget::onItemChanged(QTreeWidgetItem *item, int column)
{
    if (treeUpdating || column != 0)
        return;
    treeUpdating = true;
    if (moduleItems.contains(item))
        onModuleItemChanged(item, 0);
    else if (item->parent() && moduleItems.contains(item->parent()))
        onChannelItemChanged(item, 0);
    rebuildSelectedChannels();
    treeUpdating = false;
}

void MainWidget::onModuleItemChanged(QTreeWidgetItem *item, int column)
{
    if (column != 0 || !moduleItems.contains(item))
        return;
    const Qt::CheckState state = item->checkState(0);
    const bool wasBlocked = channelTree->blockSignals(true);
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem *child = item->child(i);
        if (child->flags() & Qt::ItemIsUserCheckable)
            child->setCheckState(0, state);
    }
    channelTree->blockSignals(wasBlocked);
}

void MainWidget::onChannelItemChanged(QTreeWidgetItem *item, int column)
{
    QTreeWidgetItem *module = item ? item->parent() : nullptr;
    if (column != 0 || !module || !moduleItems.contains(module))
        return;
    int checked = 0;
    int partly = 0;
    for (int i = 0; i < module->childCount(); ++i) {
        const Qt::CheckState state = module->child(i)->checkState(0);
        checked += state == Qt::Checked;
        partly += state == Qt::PartiallyChecked;
    }
    Qt::CheckState moduleState = Qt::Unchecked;
    if (checked == module->childCount())
        moduleState = Qt::Checked;
    else if (checked > 0 || partly > 0)
        moduleState = Qt::PartiallyChecked;
    const bool wasBlocked = channelTree->blockSignals(true);
    module->setCheckState(0, moduleState);
    channelTree->blockSignals(wasBlocked);
}

void MainWidget::rebuildSelectedChannels()
{
    QList<int> channels;
    for (int m = 0; m < channelTree->topLevelItemCount(); ++m) {
        QTreeWidgetItem *module = channelTree->topLevelItem(m);
        for (int c = 0; c < module->childCount(); ++c) {
            QTreeWidgetItem *channel = module->child(c);
            if (channel->data(0, Qt::CheckStateRole).toInt() != Qt::Checked)
                continue;
            if (auto *label = qobject_cast<QLabel *>(channelTree->itemWidget(channel, 1)))
                channels.append(label->text().toInt());
        }
    }
    controller.setChannels(channels);
}
