// What the plot asks of the stored recording and what comes back: curves by name, a time span
// (or the whole recording) and a number of pixel columns; per curve the reduced points and the
// extremes of the samples read.
#pragma once

#include <QMetaType>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

struct TrendRequest
{
    QStringList curveNames;
    // True: the span is the first to the last stored sample of the curves; start and end are
    // not used.
    bool wholeRecording = true;
    qint64 start = 0;
    qint64 end = 0;
    int columns = 1000;
};

struct CurveReduction
{
    QString name;
    QVector<QPointF> points;
    qint64 samples = 0; // plottable samples in the span
    double minimum = 0;
    double maximum = 0;
};

struct TrendReduction
{
    int requestId = 0;
    // False when the store could not be read (being cleared, a file that does not open) or the
    // request was abandoned; the curves then hold what was read before, if anything.
    bool complete = false;
    bool wholeRecording = false;
    qint64 start = 0; // the span the points cover, ms, inclusive
    qint64 end = -1;
    int columns = 0;
    qint64 rowsRead = 0;
    QVector<CurveReduction> curves;

    // Empty when no curve has a sample in the span.
    bool isEmpty() const;
};

Q_DECLARE_METATYPE(TrendRequest)
Q_DECLARE_METATYPE(TrendReduction)

// Registers "TrendRequest" and "TrendReduction" for queued signals (idempotent).
void registerTrendTypes();
