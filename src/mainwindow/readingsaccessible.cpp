#include "readingsaccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QPointer>

#include "readingstable.h"

namespace {

class TableAccessible;

// One cell, or (row -1) one column header.
class CellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    CellAccessible(TableAccessible *table, int row, int column)
        : tableInterface(table)
        , row(row)
        , column(column)
    {
    }

    bool isValid() const override;
    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override;
    QAccessible::Role role() const override
    {
        return row < 0 ? QAccessible::ColumnHeader : QAccessible::Cell;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.readOnly = true;
        return state;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        // No action interface: a reading is read, not pressed or ticked.
        return type == QAccessible::TableCellInterface && row >= 0
                   ? static_cast<QAccessibleTableCellInterface *>(this)
                   : nullptr;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override { return false; }
    QList<QAccessibleInterface *> columnHeaderCells() const override;
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column; }
    int rowIndex() const override { return row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override;

private:
    TableAccessible *tableInterface;
    const int row;
    const int column;
};

class TableAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit TableAccessible(ReadingsTable *table)
        : QAccessibleWidget(table, QAccessible::Table)
    {
    }

    ~TableAccessible() override
    {
        for (QAccessible::Id id : qAsConst(cellIds))
            QAccessible::deleteAccessibleInterface(id);
    }

    ReadingsTable *readings() const { return static_cast<ReadingsTable *>(widget()); }

    // Rows that show a channel: filled from the top, the rest are drawn empty.
    int realRows() const
    {
        const ReadingsTable *t = readings();
        int rows = 0;
        while (rows < t->rowCount() && t->item(rows, 0) && !t->item(rows, 0)->text().isEmpty())
            ++rows;
        return rows;
    }

    // The cell at row (-1: the header) and column, made once and kept while the table lives.
    QAccessibleInterface *cell(int row, int column) const
    {
        const int key = (row + 1) * ReadingsTable::Columns + column;
        const auto found = cellIds.constFind(key);
        if (found != cellIds.constEnd())
            return QAccessible::accessibleInterface(found.value());
        auto *made = new CellAccessible(const_cast<TableAccessible *>(this), row, column);
        cellIds.insert(key, QAccessible::registerAccessibleInterface(made));
        return made;
    }

    // The header row first, then each real row.
    int childCount() const override { return (realRows() + 1) * ReadingsTable::Columns; }
    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        return cell(index / ReadingsTable::Columns - 1, index % ReadingsTable::Columns);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child || child->parent() != this)
            return -1;
        const QAccessibleTableCellInterface *c =
            const_cast<QAccessibleInterface *>(child)->tableCellInterface();
        if (c)
            return (c->rowIndex() + 1) * ReadingsTable::Columns + c->columnIndex();
        for (int column = 0; column < ReadingsTable::Columns; ++column)
            if (cell(-1, column) == child)
                return column;
        return -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const ReadingsTable *t = readings();
        const QPoint at = t->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = t->indexAt(at);
        if (index.isValid() && index.row() < realRows())
            return cell(index.row(), index.column());
        return nullptr;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // QAccessibleTableInterface
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        if (row < 0 || row >= realRows() || column < 0 || column >= ReadingsTable::Columns)
            return nullptr;
        return cell(row, column);
    }
    int selectedCellCount() const override { return 0; }
    QList<QAccessibleInterface *> selectedCells() const override { return {}; }
    QString columnDescription(int column) const override
    {
        const QTableWidgetItem *header = readings()->horizontalHeaderItem(column);
        return header ? header->text() : QString();
    }
    int columnCount() const override { return ReadingsTable::Columns; }
    QString rowDescription(int) const override { return {}; }
    int rowCount() const override { return realRows(); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *) override {}

private:
    mutable QHash<int, QAccessible::Id> cellIds;
};

bool CellAccessible::isValid() const
{
    return tableInterface->isValid() && row < tableInterface->realRows();
}

QWindow *CellAccessible::window() const
{
    return tableInterface->window();
}

QAccessibleInterface *CellAccessible::parent() const
{
    return tableInterface;
}

QAccessibleInterface *CellAccessible::table() const
{
    return tableInterface;
}

QList<QAccessibleInterface *> CellAccessible::columnHeaderCells() const
{
    return {tableInterface->cell(-1, column)};
}

QString CellAccessible::text(QAccessible::Text t) const
{
    if (t != QAccessible::Name || !isValid())
        return {};
    if (row < 0)
        return tableInterface->columnDescription(column);
    const QTableWidgetItem *item = tableInterface->readings()->item(row, column);
    return item ? item->text() : QString();
}

QRect CellAccessible::rect() const
{
    if (!isValid())
        return {};
    const ReadingsTable *t = tableInterface->readings();
    if (row < 0) {
        const QHeaderView *header = t->horizontalHeader();
        const QRect section(header->sectionViewportPosition(column), 0,
                            header->sectionSize(column), header->height());
        return QRect(header->viewport()->mapToGlobal(section.topLeft()), section.size());
    }
    const QRect area = t->visualRect(t->model()->index(row, column));
    return QRect(t->viewport()->mapToGlobal(area.topLeft()), area.size());
}

QAccessibleInterface *readingsFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("ReadingsTable") && object && object->isWidgetType())
        return new TableAccessible(static_cast<ReadingsTable *>(object));
    return nullptr;
}

} // namespace

void installReadingsAccessible()
{
    static const bool installed = [] {
        QAccessible::installFactory(readingsFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
