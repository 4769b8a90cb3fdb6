// The logger's one window: settings side bar, channel tree, readings table and the bottom bar
// with the start/stop and export buttons. It shows what the logging controller does and hands
// every user action to it.
#pragma once

#include <QList>
#include <QMap>
#include <QWidget>

#include "exportresult.h"
#include "loggingcontroller.h"

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
class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;
class SideBar;
class TimePicker;
class TrendPlot;

class MainWidget : public QWidget
{
    Q_OBJECT
public:
    // Shows and drives controller, which outlives the window.
    explicit MainWidget(LoggingController &controller, QWidget *parent = nullptr);
    ~MainWidget() override;

    // Duration text "dd : hh : mm : ss" of a number of seconds.
    static QString durationText(double seconds);

private slots:
    void recvLoadBtnSlot();
    void refreshCurveSeriesDataSlot(const LoggingController::StoredRows &rows);
    void recvStartButtonSlot();
    void recvReadDataSlot();
    void recvExportButtonSlot();
    void recvBrowseButtonSlot();
    void recvExportFileButtonSlot();
    void onElapsedPickerChanged(double value);
    void recvConBtnSlot();
    void onItemChanged(QTreeWidgetItem *item, int column);
    void onModuleItemChanged(QTreeWidgetItem *item, int column);
    void onChannelItemChanged(QTreeWidgetItem *item, int column);
    void recvSpeedSlot(bool isChecked);
    void recvStopSlot(bool isChecked);
    void recvStopCountSlot(int count);
    void recvIntervalPickerSlot(double value);
    void recvIntervalSlot(bool isChecked);

private:
    // Construction and wiring
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

    // What the controller does
    void showMessage(const QString &text, int kind);
    void showRunStarting();
    void showScanStarted();
    void showIdle();
    void fillReadingRow(int row, int channel);

    // Export dialog
    void buildExportDialog();
    void onExportFinished(ExportResult result, const QStringList &files);
    void onExportInterrupted();

    LoggingController &controller;
    LoadingView *busyOverlay = nullptr;
    LoadingView *linkLostOverlay = nullptr;
    CustomMessageDialog *messageDialog = nullptr;
    QWidget *centralArea = nullptr;
    QScrollArea *settingsScroll = nullptr;
    QRadioButton *fastRadio = nullptr;
    QRadioButton *slowRadio = nullptr;
    QRadioButton *minIntervalRadio = nullptr;
    QRadioButton *customIntervalRadio = nullptr;
    TimePicker *intervalPicker = nullptr;
    QLabel *intervalLabel = nullptr;
    QRadioButton *stopButtonRadio = nullptr;
    QRadioButton *elapsedRadio = nullptr;
    QLabel *elapsedLabel = nullptr;
    TimePicker *elapsedPicker = nullptr;
    QRadioButton *scanCountRadio = nullptr;
    QSpinBox *scanCountSpin = nullptr;
    QTabWidget *tabWidget = nullptr;
    QWidget *channelPage = nullptr;
    QTableWidget *readingsTable = nullptr;
    QTreeWidget *channelTree = nullptr;
    QMap<QTreeWidgetItem *, bool> moduleItems;
    bool treeUpdating = false;
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
    TrendPlot *trendPlot = nullptr;
    SideBar *sideBar = nullptr;
    bool pagesBuilt = false;
    bool closing = false;

    friend class TestMainWidget;
};
