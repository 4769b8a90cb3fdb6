#include "readingstable.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>

#include <limits>

#include "curveseriesdata.h"
#include "readingsaccessible.h"

ReadingsTable::ReadingsTable(QWidget *parent)
    : QTableWidget(parent)
{
    installReadingsAccessible();
    setColumnCount(Columns);
    setHorizontalHeaderLabels(
        {tr("通道"), tr("读数"), tr("时间"), tr("最小值"), tr("最大值"), tr("平均值")});
    for (int row = 0; row < 90; ++row)
        appendEmptyRow();
    // Widths are set by fitColumns; the user may still drag them wider.
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTextElideMode(Qt::ElideNone);
    verticalHeader()->hide();
}

namespace {
QString readingText(double value)
{
    return QString::number(value, 'e', 5);
}
} // namespace

QString ReadingsTable::widestText(int column) const
{
    switch (column) {
    case 0:
        return QStringLiteral("9910"); // slot 99, channel 10
    case 2:
        return QStringLiteral("8888-88-88 88:88:88");
    default:
        return readingText(std::numeric_limits<double>::lowest());
    }
}

void ReadingsTable::fitColumns()
{
    const QFontMetrics metrics(font());
    // As the item delegate lays a cell's text out, with a little air on both sides.
    const int margins =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 12;
    QVector<int> needed(Columns);
    int sum = 0;
    for (int column = 0; column < Columns; ++column) {
        needed[column] = qMax(horizontalHeader()->sectionSizeHint(column),
                              metrics.horizontalAdvance(widestText(column)) + margins);
        sum += needed[column];
    }
    const int spare = qMax(0, viewport()->width() - sum);
    for (int column = 0; column < Columns; ++column) {
        // The last column takes what the division leaves, so the row ends at the edge.
        const int share =
            column == Columns - 1 ? spare - spare / Columns * (Columns - 1) : spare / Columns;
        setColumnWidth(column, needed[column] + share);
    }
}

bool ReadingsTable::viewportEvent(QEvent *event)
{
    // The viewport, not the table: a vertical scroll bar coming or going changes its width.
    if (event->type() == QEvent::Resize)
        fitColumns();
    return QTableWidget::viewportEvent(event);
}

void ReadingsTable::changeEvent(QEvent *event)
{
    QTableWidget::changeEvent(event);
    // The window's style sheet sets the font once the table is polished.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitColumns();
}

void ReadingsTable::appendEmptyRow()
{
    const int row = rowCount();
    insertRow(row);
    for (int column = 0; column < Columns; ++column) {
        auto *cell = new QTableWidgetItem;
        cell->setTextAlignment(Qt::AlignCenter);
        // A reading is shown, never edited or ticked.
        cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
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

void ReadingsTable::showChannels(const QList<int> &channels)
{
    clearReadings();
    while (channels.size() > rowCount())
        appendEmptyRow();
    for (int row = 0; row < channels.size(); ++row)
        item(row, 0)->setText(QString::number(channels.at(row)));
}

void ReadingsTable::showReading(int row, int channel, const CurveSeriesData &curve)
{
    // A scan may bring more readings than the table has rows: grow it rather than drop them.
    while (row >= rowCount())
        appendEmptyRow();
    item(row, 0)->setText(QString::number(channel));
    item(row, 1)->setText(readingText(curve.lastValue()));
    item(row, 2)->setText(curve.lastTimeText());
    item(row, 3)->setText(readingText(curve.minimum()));
    item(row, 4)->setText(readingText(curve.maximum()));
    item(row, 5)->setText(readingText(curve.average()));
}
