// The logger's one window: settings side bar, channel tree, readings table and the bottom bar
// with the start/stop and export buttons. It drives the scan thread, the store and the export
// thread; the host link lives in the application (app/).
#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>

#include "exportresult.h"
#include "measurementdata.h"

class CsvExportFromDBThread;
class CurveDataDB;
class CustomComboBox;
class CustomDialog;
class CustomMessageDialog;
class ImageButton;
class LoadingView;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QRadioButton;
class QScrollArea;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;
class QThread;
class ReadData;
class SideBar;
class TimePicker;
class TrendPlot;

class MainWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

    // Replaces characters that cannot appear in a file name by '_' and drops NULs.
    static QString sanitizeFileName(const QString &name);
    // "%1_Data" from the switch main frame's serial number, made safe as a directory name.
    static QString dataSetName();
    // Highest slot number a switch main frame can have: channel numbers are slot × 100 + 1..10.
    static constexpr int MaxSlot = 99;
    static QList<int> fittedSlots(const QString &reply, QStringList *ignored = nullptr);
    // Duration text "dd : hh : mm : ss" of a number of seconds.
    static QString durationText(double seconds);

public slots:
    void scanFunc();

private slots:
    void recvLoadBtnSlot();
    void refreshCurveSeriesDataSlot(const QList<MeasurementData> &dataList);
    void recvStartButtonSlot();
    void recvReadDataSlot();
    void recvExportButtonSlot();
    void recvBrowseButtonSlot();
    void recvExportFileButtonSlot();
    void onElapsedPickerChanged(double value);
    void recvConBtnSlot();
    void recvDataClearFinished();
    void onItemChanged(QTreeWidgetItem *item, int column);
    void onModuleItemChanged(QTreeWidgetItem *item, int column);
    void onChannelItemChanged(QTreeWidgetItem *item, int column);
    void recvElapsedTimeSlot();
    void recvSpeedSlot(bool isChecked);
    void recvStopSlot(bool isChecked);
    void recvStopCountSlot(int count);
    void recvIntervalPickerSlot(double value);
    void recvIntervalSlot(bool isChecked);
    void onInstrumentState(int instrument, bool answering, const QDateTime &since);
    void onInstrumentLost(int instrument, const QDateTime &since);

private:
    // Construction and wiring
    void initObjects();
    void buildUi();
    void buildCentralArea();
    void buildSettingsPage();
    void buildTabs();
    void buildReadingsTable();
    void buildBottomBar();
    void connectSignals();
    void buildPagesOnce();

    // Channel tree
    void buildChannelPage();
    void addModule(int slot);
    void rebuildSelectedChannels();

    // Instrument link
    void linkMeasureDevice();
    QStringList findInstruments();

    // Logging control
    void removeDataSetDir();
    bool prepareCurves();
    void refuseStart(const QString &message);
    void showIdle();
    void storeFailedWhileLogging(int notStored);
    QString instrumentName(int instrument) const;
    void showIntervalText(double seconds);
    void showElapsedText(double seconds);
    void armElapsedStop();
    void stopElapsedTimer();
    void fillReadingRow(int row, int channel);

    // Export dialog
    void buildExportDialog();
    void onExportFinished(ExportResult result, const QStringList &files);
    void onExportThreadFinished();
    CurveDataDB *storeToExport();
    void openStrandedRecording();
    void forgetStrandedRecording();
    void stopThread(QThread *thread);

    // Trend plot
    QWidget *buildTrendPage();
    void showCurvesOnTrend();
    void showScanOnTrend();
    void showRecordingOnTrend();

    LoadingView *busyOverlay = nullptr;
    LoadingView *linkLostOverlay = nullptr;
    ReadData *scanThread = nullptr;
    CustomMessageDialog *messageDialog = nullptr;
    CurveDataDB *curveStore = nullptr;
    bool measureConnected = false;
    bool switchConnected = false;
    bool logging = false;
    QWidget *centralArea = nullptr;
    QHBoxLayout *centralLayout = nullptr;
    QScrollArea *settingsScroll = nullptr;
    QWidget *settingsPage = nullptr;
    QRadioButton *fastRadio = nullptr;
    QRadioButton *slowRadio = nullptr;
    QRadioButton *startNowRadio = nullptr;
    QRadioButton *minIntervalRadio = nullptr;
    QRadioButton *customIntervalRadio = nullptr;
    TimePicker *intervalPicker = nullptr;
    QLabel *intervalLabel = nullptr;
    QRadioButton *stopButtonRadio = nullptr;
    QRadioButton *elapsedRadio = nullptr;
    QLabel *elapsedLabel = nullptr;
    TimePicker *elapsedPicker = nullptr;
    QTimer *elapsedTimer = nullptr;
    QRadioButton *scanCountRadio = nullptr;
    QSpinBox *scanCountSpin = nullptr;
    QTabWidget *tabWidget = nullptr;
    QWidget *channelPage = nullptr;
    QTableWidget *readingsTable = nullptr;
    QTreeWidget *channelTree = nullptr;
    QMap<QTreeWidgetItem *, bool> moduleItems;
    QPushButton *setupButton = nullptr;
    QWidget *bottomBar = nullptr;
    QHBoxLayout *bottomLayout = nullptr;
    ImageButton *startButton = nullptr;
    ImageButton *exportButton = nullptr;
    QLabel *runningLabel = nullptr;
    CustomDialog *exportDialog = nullptr;
    CustomComboBox *separatorCombo = nullptr;
    QLabel *exportPathLabel = nullptr;
    QLineEdit *fileNameEdit = nullptr;
    QPointer<CsvExportFromDBThread> exportThread;
    bool exportResultReceived = false;
    // The recording an earlier process left, while this process has none of its own.
    std::unique_ptr<CurveDataDB> strandedStore;
    QString strandedSerial;
    qint64 strandedStartMs = 0;
    qint64 strandedEndMs = 0;
    TrendPlot *trendPlot = nullptr;

    SideBar *sideBar = nullptr;
    bool pagesBuilt = false;
    bool closing = false;
    // The elapsed-time stop limit can exceed what one timer interval holds: the timer wakes
    // in steps and compares against the time since logging started.
    QElapsedTimer elapsedClock;
    qint64 elapsedLimitMs = 0;
    // What ended the last run when it was not the user (a lost instrument, a failing store).
    QString endNotice;
    bool storeFailureShown = false;
    QMap<int, QDateTime> silentInstruments;

    friend class TestMainWidget;
};
