#include "customitemdelegate.h"

#include <QPainter>

CustomItemDelegate::CustomItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

void CustomItemDelegate::setDelegateSpacing(int spacing)
{
    m_spacing = spacing;
}

void CustomItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const bool selected = opt.state & QStyle::State_Selected;

    painter->save();
    painter->fillRect(opt.rect, opt.palette.brush(selected ? QPalette::Highlight : QPalette::Base));

    QRect area = opt.rect.adjusted(0, m_spacing / 2, 0, -(m_spacing / 2));
    if (!opt.icon.isNull()) {
        const QRect square(area.left(), area.top(), area.height(), area.height());
        opt.icon.paint(painter, square, Qt::AlignCenter);
        area.setLeft(square.right() + 1 + 4);
    }
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(area, int(opt.displayAlignment), opt.text);
    painter->restore();
}

QSize CustomItemDelegate::sizeHint(const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rheight() += m_spacing;
    return size;
}
