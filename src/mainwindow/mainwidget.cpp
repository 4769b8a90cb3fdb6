// Construction, wiring and destruction of the main window.
#include "mainwidget.h"

#include <QCoreApplication>
#include <QDebug>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "curvedatadb.h"
#include "readdata.h"
#include "trendplot.h"
#include "trendstyle.h"
#include "widgets/custommessagedialog.h"
#include "widgets/imagebutton.h"
#include "widgets/loadingview.h"
#include "widgets/sidebar.h"
#include "widgets/timepicker.h"

MainWidget::MainWidget(LoggingController &controller, QWidget *parent)
    : QWidget(parent)
    , controller(controller)
{
    messageDialog = CustomMessageDialog::sharedMessageDialog();
    busyOverlay = new LoadingView(0, this);
    busyOverlay->startLoading();
    linkMeasureDevice();
    setStyleSheet(
        QStringLiteral("background:rgb(43, 43, 43);font-family:'Microsoft YaHei',Arial;"));
    if (controller.measureConnected())
        buildPagesOnce();

    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    resize(600, 400);
    hide();

    busyOverlay->stopLoading();
}

MainWidget::~MainWidget()
{
    // The plot is not redrawn for a run that ends while the window goes away.
    closing = true;
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

void MainWidget::buildUi()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildCentralArea();
    buildBottomBar();
    layout->addWidget(centralArea, 0);
    layout->addWidget(bottomBar, 1);
}

void MainWidget::buildCentralArea()
{
    centralArea = new QWidget;
    centralArea->setStyleSheet(QStringLiteral("background:rgb(23,23,23);"));
    auto *centralLayout = new QHBoxLayout(centralArea);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);

    sideBar = new SideBar(this);
    sideBar->setArrowSide(false);
    sideBar->setExpandedWidth(280);
    sideBar->setMinimumHeight(50);
    sideBar->setTitle(tr("设置"));

    buildSettingsPage();
    auto *contentLayout = new QVBoxLayout(sideBar->contentWidget());
    contentLayout->addWidget(settingsScroll);
    centralLayout->addWidget(sideBar, 0);

    buildTabs();
    centralLayout->addWidget(tabWidget, 1);
}

void MainWidget::buildSettingsPage()
{
    settingsScroll = new QScrollArea;
    settingsScroll->setWidgetResizable(true);
    auto *settingsPage = new QWidget(settingsScroll);
    settingsPage->setStyleSheet(QStringLiteral("background:rgb(63,63,63);"));
    auto *pageLayout = new QVBoxLayout(settingsPage);
    pageLayout->setSpacing(5);
    pageLayout->setContentsMargins(10, 10, 10, 10);
    const QString radioStyle = QStringLiteral("color:#D3D3D3;");

    auto *speedGroup = new QGroupBox(tr("仪器速度设置"));
    auto *speedLayout = new QVBoxLayout(speedGroup);
    slowRadio = new QRadioButton(tr("低速"));
    fastRadio = new QRadioButton(tr("快速"));
    slowRadio->setStyleSheet(radioStyle);
    fastRadio->setStyleSheet(radioStyle);
    fastRadio->setChecked(true);
    speedLayout->addWidget(slowRadio);
    speedLayout->addWidget(fastRadio);
    pageLayout->addWidget(speedGroup);
    controller.setSpeed(true);

    auto *startGroup = new QGroupBox(tr("开始数据记录"));
    auto *startLayout = new QVBoxLayout(startGroup);
    auto *startNowRadio = new QRadioButton(tr("使用\"开始\"按钮立即开始"));
    startNowRadio->setStyleSheet(radioStyle);
    startNowRadio->setChecked(true);
    startLayout->addWidget(startNowRadio);
    pageLayout->addWidget(startGroup);

    auto makeLabel = [] {
        auto *label = new QLabel;
        label->setStyleSheet(QStringLiteral("background: #2D2D2D;"));
        label->setAlignment(Qt::AlignCenter);
        return label;
    };
    auto makePicker = [this](double maximumSeconds) {
        auto *picker = new TimePicker(this);
        picker->setDisplayMode(1);
        picker->setMaximumSeconds(maximumSeconds);
        return picker;
    };

    auto *intervalGroup = new QGroupBox(tr("扫描时间间隔"));
    auto *intervalLayout = new QVBoxLayout(intervalGroup);
    minIntervalRadio = new QRadioButton(tr("最小值"));
    minIntervalRadio->setChecked(true);
    intervalLayout->addWidget(minIntervalRadio);
    auto *customLayout = new QVBoxLayout;
    customIntervalRadio = new QRadioButton(tr("自定义:"));
    intervalLabel = makeLabel();
    intervalPicker = makePicker(360000);
    intervalPicker->setEnabled(false);
    intervalLabel->setText(durationText(intervalPicker->value()));
    customLayout->addWidget(customIntervalRadio);
    customLayout->addWidget(intervalLabel);
    customLayout->addWidget(intervalPicker);
    intervalLayout->addLayout(customLayout);
    pageLayout->addWidget(intervalGroup);

    auto *stopGroup = new QGroupBox(tr("停止数据记录"));
    auto *stopLayout = new QVBoxLayout(stopGroup);
    stopLayout->setSpacing(0);
    stopButtonRadio = new QRadioButton(tr("使用“停止”按钮立即停止"));
    stopButtonRadio->setChecked(true);
    stopLayout->addWidget(stopButtonRadio);
    auto *elapsedLayout = new QVBoxLayout;
    elapsedRadio = new QRadioButton(tr("已用时间之后:"));
    elapsedLabel = makeLabel();
    elapsedPicker = makePicker(8640000);
    elapsedPicker->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    onElapsedPickerChanged(elapsedPicker->value());
    elapsedLayout->addWidget(elapsedRadio);
    elapsedLayout->addWidget(elapsedLabel);
    elapsedLayout->addWidget(elapsedPicker);
    stopLayout->addLayout(elapsedLayout);
    auto *countLayout = new QVBoxLayout;
    scanCountRadio = new QRadioButton(tr("N次扫描后:"));
    scanCountSpin = new QSpinBox;
    scanCountSpin->setRange(1, 1000000);
    scanCountSpin->setValue(1);
    scanCountSpin->setStyleSheet(QStringLiteral("background: #2D2D2D;"));
    countLayout->addWidget(scanCountRadio);
    countLayout->addWidget(scanCountSpin);
    stopLayout->addLayout(countLayout);
    pageLayout->addWidget(stopGroup);

    pageLayout->addStretch();
    settingsScroll->setWidget(settingsPage);
}

void MainWidget::buildTabs()
{
    tabWidget = new QTabWidget;
    buildChannelPage();
    buildReadingsTable();
    tabWidget->addTab(channelPage, QIcon(QStringLiteral(":/image/confChannel.png")),
                      tr("配置通道"));
    tabWidget->addTab(readingsTable, QIcon(QStringLiteral(":/image/DataNetwork.png")),
                      tr("图形设置"));
    trendPlot = new TrendPlot;
    // The plot shrinks with the window; its axes and legend must not widen the window beyond
    // the size the host gives it.
    trendPlot->setMinimumSize(1, 1);
    tabWidget->addTab(trendPlot, TrendStyle::tabIcon(), tr("趋势图"));
}

void MainWidget::buildReadingsTable()
{
    readingsTable = new QTableWidget;
    readingsTable->setColumnCount(6);
    readingsTable->setHorizontalHeaderLabels(
        {tr("通道"), tr("读数"), tr("时间"), tr("最小值"), tr("最大值"), tr("平均值")});
    readingsTable->setRowCount(90);
    for (int row = 0; row < 90; ++row)
        for (int column = 0; column < 6; ++column) {
            auto *item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            readingsTable->setItem(row, column, item);
        }
    readingsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    readingsTable->verticalHeader()->hide();
}

void MainWidget::buildBottomBar()
{
    bottomBar = new QWidget;
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
    bottomLayout->addWidget(startButton);

    // Owned by the bar while it is out of the layout; inserted only while logging.
    runningLabel = new QLabel(tr("数据记录正在运行.."), bottomBar);
    runningLabel->setMinimumHeight(40);
    runningLabel->hide();

    bottomLayout->addItem(new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    exportButton =
        new ImageButton(QIcon(QStringLiteral(":/image/derive.png")), tr("导出"), QIcon());
    exportButton->setObjectName(QStringLiteral("imageButton"));
    exportButton->setMinimumHeight(40);
    exportButton->setIconSize(QSize(50, 40));
    exportButton->setFixedSize(90, 40);
    bottomLayout->addWidget(exportButton);

    bottomBar->setLayout(bottomLayout);
}

void MainWidget::connectSignals()
{
    connect(channelTree, &QTreeWidget::itemChanged, this, &MainWidget::onItemChanged);
    connect(startButton, &QAbstractButton::clicked, this, &MainWidget::recvStartButtonSlot);
    connect(exportButton, &QAbstractButton::clicked, this, &MainWidget::recvExportButtonSlot);
    connect(elapsedPicker, &TimePicker::sigTimePickerValueChanged, this,
            &MainWidget::onElapsedPickerChanged);
    for (QRadioButton *radio : {stopButtonRadio, elapsedRadio, scanCountRadio})
        connect(radio, &QAbstractButton::toggled, this, &MainWidget::recvStopSlot);
    for (QRadioButton *radio : {slowRadio, fastRadio})
        connect(radio, &QAbstractButton::toggled, this, &MainWidget::recvSpeedSlot);
    connect(setupButton, &QAbstractButton::clicked, this, &MainWidget::recvConBtnSlot);
    connect(scanCountSpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWidget::recvStopCountSlot);
    connect(intervalPicker, &TimePicker::sigTimePickerValueChanged, this,
            &MainWidget::recvIntervalPickerSlot);
    for (QRadioButton *radio : {minIntervalRadio, customIntervalRadio})
        connect(radio, &QAbstractButton::toggled, this, &MainWidget::recvIntervalSlot);

    connect(&controller, &LoggingController::message, this, &MainWidget::showMessage);
    connect(&controller, &LoggingController::runStarting, this, &MainWidget::showRunStarting);
    connect(&controller, &LoggingController::curvesPrepared, trendPlot,
            [this] { trendPlot->setCurves(controller.curves()); });
    connect(&controller, &LoggingController::scanStarted, this, &MainWidget::showScanStarted);
    connect(&controller, &LoggingController::stopping, busyOverlay, &LoadingView::startLoading);
    connect(&controller, &LoggingController::scanStored, this,
            &MainWidget::refreshCurveSeriesDataSlot);
    connect(&controller, &LoggingController::runEnded, this, &MainWidget::recvReadDataSlot);
    connect(&controller, &LoggingController::runningTextChanged, runningLabel, &QLabel::setText);
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
