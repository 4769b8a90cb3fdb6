// Paints the items of the combo box list with an adjustable gap between them.
#pragma once

#include <QStyledItemDelegate>

class CustomItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit CustomItemDelegate(QObject *parent = nullptr);

    void setDelegateSpacing(int spacing);
    int delegateSpacing() const { return m_spacing; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int m_spacing = 4;
};
