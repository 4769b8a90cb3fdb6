// Writes a recording into a store directory the way the store lays it out (day files, curve
// registry, six-hour batch tables with their metadata), fast: the tables through the store's
// own API, the rows with one prepared statement per table. Shared by the plot's tests and its
// benchmark.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

namespace PlotTest {

struct RecordingShape
{
    QStringList curveNames;
    qint64 start = 0; // time of the first sample, ms
    qint64 stepMs = 1000;
    int samples = 0; // per curve
    // Value of sample i of curve c; recordedValue when empty.
    std::function<double(int c, int i)> value;
};

// A slow wave per curve around 10 x (c + 1), with a few sharp spikes up and down.
double recordedValue(int curve, int i);
qint64 sampleTime(const RecordingShape &shape, int i);

// False (with the reason on the log) when a file or table could not be written. The store
// clock is moved through the recording's days and left on the system time.
bool writeRecording(const QString &dir, const RecordingShape &shape);

} // namespace PlotTest
