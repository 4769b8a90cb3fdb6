// The readings table: per row a channel, its latest stored reading and time, and the run's
// minimum, maximum and average so far. Starts with 90 empty rows and grows when a scan brings
// more readings. Every column is at least as wide as its header and its widest reading text;
// room to spare is shared out, and a window too narrow scrolls the table sideways instead of
// cutting texts short.
#pragma once

#include <QTableWidget>

class CurveSeriesData;

class ReadingsTable : public QTableWidget
{
    Q_OBJECT
public:
    static constexpr int Columns = 6;

    explicit ReadingsTable(QWidget *parent = nullptr);

    // Empties every row that shows a reading.
    void clearReadings();
    // A run starts: each channel gets its row, in the order given, before its first reading.
    void showChannels(const QList<int> &channels);
    void showReading(int row, int channel, const CurveSeriesData &curve);

    // The widest text column can show: its header or a reading of the widest form.
    QString widestText(int column) const;

protected:
    bool viewportEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void appendEmptyRow();
    void fitColumns();
};
