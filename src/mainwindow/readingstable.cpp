#include "readingstable.h"

#include <QHeaderView>

#include "curveseriesdata.h"

ReadingsTable::ReadingsTable(QWidget *parent)
    : QTableWidget(parent)
{
    setColumnCount(Columns);
    setHorizontalHeaderLabels(
        {tr("通道"), tr("读数"), tr("时间"), tr("最小值"), tr("最大值"), tr("平均值")});
    for (int row = 0; row < 90; ++row)
        appendEmptyRow();
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    verticalHeader()->hide();
}

void ReadingsTable::appendEmptyRow()
{
    const int row = rowCount();
    insertRow(row);
    for (int column = 0; column < Columns; ++column) {
        auto *cell = new QTableWidgetItem;
        cell->setTextAlignment(Qt::AlignCenter);
        setItem(row, column, cell);
    }
}

void ReadingsTable::clearReadings()
{
    for (int row = 0; row < rowCount(); ++row) {
        if (item(row, 0)->text().isEmpty())
            continue;
        for (int column = 0; column < Columns; ++column)
            item(row, column)->setText(QString());
    }
}

void ReadingsTable::showReading(int row, int channel, const CurveSeriesData &curve)
{
    // A scan may bring more readings than the table has rows: grow it rather than drop them.
    while (row >= rowCount())
        appendEmptyRow();
    auto number = [](double v) { return QString::number(v, 'e', 5); };
    item(row, 0)->setText(QString::number(channel));
    item(row, 1)->setText(number(curve.lastValue()));
    item(row, 2)->setText(curve.lastTimeText());
    item(row, 3)->setText(number(curve.minimum()));
    item(row, 4)->setText(number(curve.maximum()));
    item(row, 5)->setText(number(curve.average()));
}
