// Construction, wiring and destruction of the main window.
#include "mainwidget.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "readingstable.h"
#include "settingspanel.h"
#include "trendplot.h"
#include "trendstyle.h"
#include "widgets/custommessagedialog.h"
#include "widgets/customsidebutton.h"
#include "widgets/imagebutton.h"
#include "widgets/loadingview.h"
#include "widgets/messagehistory.h"
#include "widgets/sidebar.h"
#include "widgets/timepicker.h"

MainWidget::MainWidget(LoggingController &controller, QWidget *parent)
    : QWidget(parent)
    , controller(controller)
{
    // Before any child exists: changing the flags of a built window re-styles all of it.
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    messageDialog = CustomMessageDialog::sharedMessageDialog();
    messageHistory = new MessageHistory(this);
    busyOverlay = new LoadingView(0, this);
    busyOverlay->startLoading();
    // Messages also reach a window still waiting for its measuring instrument.
    connect(&controller, &LoggingController::message, this, &MainWidget::showMessage);
    linkMeasureDevice();
    setStyleSheet(
        QStringLiteral("background:rgb(43, 43, 43);font-family:'Microsoft YaHei',Arial;"));
    if (controller.measureConnected())
        buildPagesOnce();

    resize(600, 400);
    hide();

    busyOverlay->stopLoading();
}

MainWidget::~MainWidget()
{
    // Nothing the controller says reaches a window half taken down (a run that ends while the
    // window goes away is not shown, and its plot not redrawn).
    controller.disconnect(this);
}

void MainWidget::keyPressEvent(QKeyEvent *event)
{
    // A button of the window ignores Enter (only a dialog's default button takes it) and the
    // key comes here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto *button = qobject_cast<QAbstractButton *>(focusWidget());
        if (button && button->isEnabled() && isAncestorOf(button)) {
            button->animateClick();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

// The pages need an answering measuring instrument; they are built once, at construction or
// at the first successful retry from the communication-lost overlay.
void MainWidget::buildPagesOnce()
{
    if (pagesBuilt)
        return;
    pagesBuilt = true;
    buildUi();
    connectSignals();
}

// The window is built from the top down: every container is in its place before its children
// are made, since moving a built subtree under a style sheet re-styles every widget in it.
void MainWidget::buildUi()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildCentralArea(layout);
    buildBottomBar(layout);
}

void MainWidget::buildCentralArea(QBoxLayout *windowLayout)
{
    centralArea = new QWidget(this);
    centralArea->setStyleSheet(QStringLiteral("background:rgb(23,23,23);"));
    windowLayout->addWidget(centralArea, 0);
    auto *centralLayout = new QHBoxLayout(centralArea);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);

    sideBar = new SideBar(centralArea);
    centralLayout->addWidget(sideBar, 0);
    sideBar->setArrowSide(false);
    sideBar->setExpandedWidth(280);
    sideBar->setMinimumHeight(50);
    sideBar->setTitle(tr("设置"));
    sideBar->setAccessibleName(tr("设置栏"));
    sideBar->stripButton()->setAccessibleName(tr("打开设置"));
    sideBar->stripButton()->setAccessibleDescription(
        tr("展开设置栏：仪器速度、扫描时间间隔和停止条件"));
    sideBar->headerButton()->setAccessibleName(tr("收起设置"));

    auto *contentLayout = new QVBoxLayout(sideBar->contentWidget());
    settings = new SettingsPanel(sideBar->contentWidget());
    contentLayout->addWidget(settings);
    controller.setSpeed(true);
    onElapsedPickerChanged(settings->elapsedPicker->value());

    tabWidget = new QTabWidget(centralArea);
    centralLayout->addWidget(tabWidget, 1);
    buildTabs();
}

void MainWidget::buildTabs()
{
    // The channel page goes in first, empty; the other pages are made in the tab widget's page
    // stack, where the first one went, so that none is moved once built.
    channelPage = new QWidget;
    tabWidget->addTab(channelPage, QIcon(QStringLiteral(":/image/confChannel.png")),
                      tr("配置通道"));
    QWidget *const pageStack = channelPage->parentWidget();
    buildChannelPage();
    readingsTable = new ReadingsTable(pageStack);
    readingsTable->setAccessibleName(tr("读数表"));
    tabWidget->addTab(readingsTable, QIcon(QStringLiteral(":/image/DataNetwork.png")),
                      tr("图形设置"));
    trendPlot = new TrendPlot(pageStack);
    // The plot shrinks with the window; its axes and legend must not widen the window beyond
    // the size the host gives it.
    trendPlot->setMinimumSize(1, 1);
    trendPlot->setAccessibleName(tr("趋势图"));
    tabWidget->addTab(trendPlot, TrendStyle::tabIcon(), tr("趋势图"));
}

void MainWidget::buildBottomBar(QBoxLayout *windowLayout)
{
    bottomBar = new QWidget(this);
    windowLayout->addWidget(bottomBar, 1);
    bottomBar->setStyleSheet(QStringLiteral("background:rgb(43,43,43);"));
    bottomBar->setMinimumHeight(40);
    bottomBar->setMaximumHeight(40);
    bottomLayout = new QHBoxLayout;
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->setSpacing(0);

    startButton = new ImageButton(QIcon(QStringLiteral(":/image/start.png")), tr("开始"), QIcon());
    startButton->setObjectName(QStringLiteral("imageButton"));
    startButton->setMinimumHeight(40);
    startButton->setIconSize(QSize(60, 40));
    startButton->setFixedSize(100, 40);
    showStartButton(false);
    bottomLayout->addWidget(startButton);

    // Owned by the bar while it is out of the layout; inserted only while logging.
    runningLabel = new QLabel(tr("数据记录正在运行.."), bottomBar);
    runningLabel->setMinimumHeight(40);
    runningLabel->hide();

    // Where the run stands; inserted after runningLabel while logging.
    runProgressLabel = new QLabel(bottomBar);
    runProgressLabel->setMinimumHeight(40);
    runProgressLabel->setStyleSheet(QStringLiteral("color:#D3D3D3;padding-left:12px;"));
    runProgressLabel->setAccessibleName(tr("记录进度"));
    runProgressLabel->hide();
    runProgressTimer = new QTimer(this);
    runProgressTimer->setInterval(1000);
    connect(runProgressTimer, &QTimer::timeout, this, &MainWidget::showRunProgress);

    bottomLayout->addItem(new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    // The live publisher's state; shown only while readings are published.
    publishLabel = new QLabel(controller.publishStatus());
    publishLabel->setStyleSheet(QStringLiteral("color:#D3D3D3;padding-right:12px;"));
    publishLabel->setVisible(!controller.publishStatus().isEmpty());
    bottomLayout->addWidget(publishLabel);

    // Without a parent until the layout adopts it: the Tab order follows the bar's order.
    historyButton = new QPushButton;
    historyButton->setObjectName(QStringLiteral("historyButton"));
    historyButton->setMinimumHeight(40);
    historyButton->setFlat(true);
    historyButton->setStyleSheet(QStringLiteral(
        "QPushButton#historyButton { color:#D3D3D3; border:none; padding:0 12px; }"
        "QPushButton#historyButton[unseen=\"true\"] { color:rgb(255, 170, 60); font-weight:bold; }"
        "QPushButton#historyButton:focus { border:2px solid rgb(255, 190, 60); }"));
    showHistoryCount();
    bottomLayout->addWidget(historyButton);

    exportButton =
        new ImageButton(QIcon(QStringLiteral(":/image/derive.png")), tr("导出"), QIcon());
    exportButton->setObjectName(QStringLiteral("imageButton"));
    exportButton->setMinimumHeight(40);
    exportButton->setIconSize(QSize(50, 40));
    exportButton->setFixedSize(90, 40);
    exportButton->setAccessibleName(tr("导出数据"));
    exportButton->setAccessibleDescription(tr("将记录的数据导出到CSV文件"));
    bottomLayout->addWidget(exportButton);

    bottomBar->setLayout(bottomLayout);
    // Reached with Tab, not focused by a click: the focus mark shows where the keyboard is,
    // not which button the mouse pressed last.
    for (QWidget *button : {static_cast<QWidget *>(startButton), static_cast<QWidget *>(historyButton),
                            static_cast<QWidget *>(exportButton)})
        button->setFocusPolicy(Qt::TabFocus);
}

void MainWidget::connectSignals()
{
    connect(channelTree, &QTreeWidget::itemChanged, this, &MainWidget::onItemChanged);
    connect(startButton, &QAbstractButton::clicked, this, &MainWidget::recvStartButtonSlot);
    connect(exportButton, &QAbstractButton::clicked, this, &MainWidget::recvExportButtonSlot);
    connect(settings->elapsedPicker, &TimePicker::sigTimePickerValueChanged, this,
            &MainWidget::onElapsedPickerChanged);
    for (QRadioButton *radio :
         {settings->stopButtonRadio, settings->elapsedRadio, settings->scanCountRadio})
        connect(radio, &QAbstractButton::toggled, this, &MainWidget::recvStopSlot);
    for (QRadioButton *radio : {settings->slowRadio, settings->fastRadio})
        connect(radio, &QAbstractButton::toggled, this, &MainWidget::recvSpeedSlot);
    connect(setupButton, &QAbstractButton::clicked, this, &MainWidget::recvConBtnSlot);
    connect(settings->scanCountSpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWidget::recvStopCountSlot);
    connect(settings->intervalPicker, &TimePicker::sigTimePickerValueChanged, this,
            &MainWidget::recvIntervalPickerSlot);
    for (QRadioButton *radio : {settings->minIntervalRadio, settings->customIntervalRadio})
        connect(radio, &QAbstractButton::toggled, this, &MainWidget::recvIntervalSlot);

    connect(&controller, &LoggingController::runStarting, this, &MainWidget::showRunStarting);
    connect(&controller, &LoggingController::curvesPrepared, trendPlot,
            [this] { trendPlot->setCurves(controller.curves()); });
    connect(&controller, &LoggingController::scanStarted, this, &MainWidget::showScanStarted);
    connect(&controller, &LoggingController::stopping, busyOverlay, &LoadingView::startLoading);
    connect(&controller, &LoggingController::scanStored, this,
            &MainWidget::refreshCurveSeriesDataSlot);
    connect(&controller, &LoggingController::runEnded, this, &MainWidget::recvReadDataSlot);
    connect(&controller, &LoggingController::runningTextChanged, runningLabel, &QLabel::setText);
    connect(&controller, &LoggingController::instrumentStatesChanged, this,
            &MainWidget::showInstrumentStates);
    connect(messageHistory, &MessageHistory::changed, this, &MainWidget::showHistoryCount);
    connect(historyButton, &QAbstractButton::clicked, this, &MainWidget::openMessageHistory);
    connect(&controller, &LoggingController::publishStatusChanged, this,
            &MainWidget::showPublishStatus);
    connect(&controller, &LoggingController::exportFinished, this, &MainWidget::onExportFinished);
    connect(&controller, &LoggingController::exportInterrupted, this,
            &MainWidget::onExportInterrupted);
}

void MainWidget::recvLoadBtnSlot()
{
    linkMeasureDevice();
    if (controller.measureConnected()) {
        linkLostOverlay->stopLoading();
        buildPagesOnce();
        return;
    }
    // Still no instrument: back to the message and the resume button, so the user can retry.
    linkLostOverlay->stopLoading();
    linkLostOverlay->startLoading();
}
