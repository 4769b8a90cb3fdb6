// The scan thread: walks the selected channels, closes each on the switch main frame, fetches a
// reading from the measuring instrument and hands each scan's readings over in one signal.
#pragma once

#include <QList>
#include <QThread>
#include <atomic>
#include <climits>
#include <functional>

#include "measurementdata.h"

class CDeviceVisa;

class ReadData : public QThread
{
    Q_OBJECT
public:
    // Every wait of the loop goes through this; tests replace it to run the loop fast.
    using Sleeper = std::function<void(int milliseconds)>;

    explicit ReadData(QObject *parent = nullptr);
    // The process-wide scan thread, created on first use and never deleted.
    static ReadData *instance();
    ~ReadData() override;

    void setSleeper(Sleeper sleeper);

    // Starts a run. A stop requested at any point after this call ends the run.
    void startScanning();
    // Asks the run to end after the scan in progress.
    void requestStop();
    // Waits for the run to end. Besides QThread::wait it takes the run's last store, so that
    // everything the run wrote is ordered before the caller's next step in a way the thread
    // sanitizer can see (Qt's own wait is invisible to it).
    bool waitForEnd(unsigned long milliseconds = ULONG_MAX);

    std::atomic<bool> running{false};
    std::atomic<bool> continuous{true};
    std::atomic<int> remainingScans{0};
    std::atomic<int> settleMs{500};
    std::atomic<int> intervalMs{0};

signals:
    void sigStopScan();
    void sigSendMeasure(QList<MeasurementData> dataList);

protected:
    void run() override;

private:
    bool switchAnswers();
    bool reconnectSwitch();
    bool reconnectMeasure();
    QString fetchReading();
    static MeasurementData parseReading(const QString &reply, int channel);
    void pause(int milliseconds);

    QList<MeasurementData> results;
    Sleeper sleeper;
    std::atomic<bool> stopRequested{false};
    std::atomic<int> runsEnded{0};
    bool measureLostThisScan = false;

    friend class TestReadData;
};
