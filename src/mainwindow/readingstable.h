// The readings table: per row a channel, its latest stored reading and time, and the run's
// minimum, maximum and average so far. Starts with 90 empty rows and grows when a scan brings
// more readings.
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
    void showReading(int row, int channel, const CurveSeriesData &curve);

private:
    void appendEmptyRow();
};
