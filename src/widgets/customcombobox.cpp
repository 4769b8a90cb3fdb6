#include "customcombobox.h"

#include "customitemdelegate.h"

#include <QListView>

CustomComboBox::CustomComboBox(QWidget *parent)
    : QComboBox(parent)
{
    auto *list = new QListView(this);
    list->setSpacing(0);
    list->setUniformItemSizes(true);
    setView(list);
    // After setView: a newly set view starts with a plain delegate of its own.
    m_delegate = new CustomItemDelegate(this);
    m_delegate->setDelegateSpacing(m_itemSpacing);
    setItemDelegate(m_delegate);
    connect(this, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CustomComboBox::onCurrentIndexChanged);
}

void CustomComboBox::addItems(const QStringList &texts)
{
    insertItems(count(), texts);
}

void CustomComboBox::setItemSpacing(int spacing)
{
    if (spacing == m_itemSpacing)
        return;
    m_itemSpacing = spacing;
    m_delegate->setDelegateSpacing(spacing);
    // The list caches the item size (uniform sizes); lay it out again for the new gap.
    view()->doItemsLayout();
    view()->viewport()->update();
    emit itemSpacingChanged(spacing);
}

void CustomComboBox::onCurrentIndexChanged(int) {}

void CustomComboBox::showEvent(QShowEvent *event)
{
    QComboBox::showEvent(event);
    fitListWidth();
}

void CustomComboBox::resizeEvent(QResizeEvent *event)
{
    QComboBox::resizeEvent(event);
    fitListWidth();
}

void CustomComboBox::fitListWidth()
{
    view()->setMinimumWidth(width());
    view()->setMaximumWidth(width());
}
