// What the two simulated instruments share: the switch main frame's closed channel, its fitted
// slots, and the clock and seed that make up the multimeter's reading.
#pragma once

#include <QElapsedTimer>
#include <QVector>

struct RigState
{
    quint64 seed = 1;
    QVector<int> fittedSlots;
    bool frozenClock = false;
    QElapsedTimer started;
    int closedChannel = 0; // 0: every relay open

    double seconds() const { return frozenClock ? 0.0 : started.nsecsElapsed() / 1e9; }
    bool isChannel(int channel) const
    {
        return channel % 100 >= 1 && channel % 100 <= 10 && fittedSlots.contains(channel / 100);
    }
};
