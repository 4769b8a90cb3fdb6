// What one run scans and how, fixed when the run starts: the scan thread works from its own
// copy, so nothing the window changes meanwhile reaches a scan under way.
#pragma once

#include <QList>
#include <QtGlobal>

#include <algorithm>

struct ScanPlan
{
    enum class Stop
    {
        Button,  // until stopped
        Elapsed, // after elapsedMs (the controller's clock ends it)
        Count    // after scanCount scans
    };

    // Ascending, each once (see setChannels).
    QList<int> channels;
    bool fast = true;
    int intervalMs = 0;
    Stop stop = Stop::Button;
    int scanCount = 1;
    qint64 elapsedMs = 0;

    void setChannels(const QList<int> &list)
    {
        channels = list;
        std::sort(channels.begin(), channels.end());
        channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
    }
    // How long a closed relay settles before its reading is fetched: the slow aperture
    // integrates longer.
    int settleMs() const { return fast ? 500 : 600; }
    // The scans the run makes; 0 for a run that ends by time or by the button.
    int plannedScans() const { return stop == Stop::Count ? scanCount : 0; }
};
