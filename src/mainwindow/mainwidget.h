// The logger's one window: settings side bar, channel tree, readings table and the bottom bar
// with the start/stop and export buttons. It shows what the logging controller does and hands
// every user action to it.
#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QWidget>

#include "exportresult.h"
#include "loggingcontroller.h"

class CustomMessageDialog;
class ExportDialog;
class ImageButton;
class LoadingView;
class MessageHistory;
class MessageHistoryDialog;
class QBoxLayout;
class QHBoxLayout;
class QLabel;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;
class ReadingsTable;
class SettingsPanel;
class SideBar;
class TrendPlot;

class MainWidget : public QWidget
{
    Q_OBJECT
public:
    // Shows and drives controller, which outlives the window.
    explicit MainWidget(LoggingController &controller, QWidget *parent = nullptr);
    ~MainWidget() override;

protected:
    // Enter acts on the focused button as Space does.
    void keyPressEvent(QKeyEvent *event) override;

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
    // Tool tip and accessible description of each control held during a run, as they were.
    QHash<QWidget *, QPair<QString, QString>> heldSetUpTexts;
    // Construction and wiring
    void buildUi();
    void buildCentralArea(QBoxLayout *windowLayout);
    void buildTabs();
    void buildBottomBar(QBoxLayout *windowLayout);
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
    void showStartButton(bool logging);
    void showRunStarting();
    void showScanStarted();
    void showIdle();
    // From the start until idle again the ticks, the frame and every setting stay as the run
    // was started with: disabled, saying that they can be changed after 停止.
    void holdSetUp(bool held);
    enum class SwitchLink
    {
        NotConnected,
        Searching,
        Connected,
        // Connected, but it stopped answering.
        Silent
    };
    void showSwitchLink(SwitchLink link);
    void showPublishStatus(const QString &text);
    // The bottom bar while logging: scans done (of how many), time running, time to the next
    // scan; each second.
    void showRunProgress();
    // The channel page names each instrument that does not answer, until it answers again.
    void showInstrumentStates();
    // The history button: how many warnings and errors have not been looked at.
    void showHistoryCount();
    void openMessageHistory();

    // Export dialog
    void onExportFinished(ExportResult result, const QStringList &files);
    void onExportInterrupted();

    LoggingController &controller;
    LoadingView *busyOverlay = nullptr;
    LoadingView *linkLostOverlay = nullptr;
    CustomMessageDialog *messageDialog = nullptr;
    QWidget *centralArea = nullptr;
    SettingsPanel *settings = nullptr;
    QTabWidget *tabWidget = nullptr;
    QWidget *channelPage = nullptr;
    ReadingsTable *readingsTable = nullptr;
    QTreeWidget *channelTree = nullptr;
    QMap<QTreeWidgetItem *, bool> moduleItems;
    bool treeUpdating = false;
    QPushButton *setupButton = nullptr;
    QWidget *bottomBar = nullptr;
    QHBoxLayout *bottomLayout = nullptr;
    ImageButton *startButton = nullptr;
    ImageButton *exportButton = nullptr;
    QLabel *runningLabel = nullptr;
    QLabel *runProgressLabel = nullptr;
    QTimer *runProgressTimer = nullptr;
    QLabel *instrumentStateLabel = nullptr;
    MessageHistory *messageHistory = nullptr;
    MessageHistoryDialog *historyDialog = nullptr;
    QPushButton *historyButton = nullptr;
    QLabel *publishLabel = nullptr;
    ExportDialog *exportDialog = nullptr;
    TrendPlot *trendPlot = nullptr;
    SideBar *sideBar = nullptr;
    bool pagesBuilt = false;

    friend class TestMainWidget;
};
