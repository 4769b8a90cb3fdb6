// widget-gallery [output dir]
// Renders every widget of the system in its states, offscreen and with the dark style
// sheet, into PNG files, plus contact_sheet.png showing them all. The pictures are for
// people to look at; nothing here asserts.

#include "resources/dataloggerresources.h"
#include "widgets/customcombobox.h"
#include "widgets/customdialog.h"
#include "widgets/custommessagedialog.h"
#include "widgets/imagebutton.h"
#include "widgets/loadingview.h"
#include "widgets/sidebar.h"
#include "widgets/timecolumn.h"
#include "widgets/timepicker.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

struct Shot
{
    QString name;
    QImage image;
};

QList<Shot> g_shots;
QDir g_out;

void settle(int ms = 30)
{
    QElapsedTimer clock;
    clock.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    } while (clock.elapsed() < ms);
}

void keep(const QString &name, const QImage &image)
{
    const QString path = g_out.filePath(name + QStringLiteral(".png"));
    if (!image.save(path))
        qWarning() << "无法保存图片:" << path;
    // Small widgets are easier to judge pixel by pixel when enlarged.
    if (image.width() <= 400 && image.height() <= 400) {
        const QString zoomed =
            g_out.filePath(QStringLiteral("zoom/") + name + QStringLiteral(".png"));
        if (!image.scaled(image.size() * 3, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                 .save(zoomed))
            qWarning() << "无法保存图片:" << zoomed;
    }
    g_shots.append({name, image});
}

void shoot(QWidget *widget, const QString &name)
{
    settle();
    keep(name, widget->grab().toImage());
}

// A plain dark frame around a widget, like the window's panels.
QWidget *framed(QWidget *inner, const QSize &size, const QString &ground = QString())
{
    auto *frame = new QWidget;
    frame->setObjectName(QStringLiteral("galleryFrame"));
    if (!ground.isEmpty())
        frame->setStyleSheet(
            QStringLiteral("QWidget#galleryFrame { background: %1; }").arg(ground));
    frame->setAttribute(Qt::WA_StyledBackground);
    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(inner);
    frame->resize(size);
    frame->show();
    return frame;
}

void timePickers()
{
    auto *picker = new TimePicker;
    picker->setMaximumSeconds(360000.0);
    picker->setTime(1, 2, 3, 4, 0);
    QWidget *frame = framed(picker, QSize(240, 84), QStringLiteral("rgb(63,63,63)"));
    shoot(frame, QStringLiteral("timepicker_mode1"));

    QApplication::setActiveWindow(frame);
    settle();
    QLineEdit *hours = picker->hoursColumn()->lineEdit();
    hours->setFocus();
    hours->setCursorPosition(1);
    shoot(frame, QStringLiteral("timepicker_focus"));

    auto *full = new TimePicker;
    full->setDisplayMode(0);
    full->setMaximumSeconds(8640000.0);
    full->setTime(12, 23, 59, 7, 250);
    shoot(framed(full, QSize(300, 84), QStringLiteral("rgb(63,63,63)")),
          QStringLiteral("timepicker_mode0"));

    auto *disabled = new TimePicker;
    disabled->setMaximumSeconds(360000.0);
    disabled->setEnabled(false);
    shoot(framed(disabled, QSize(240, 84), QStringLiteral("rgb(63,63,63)")),
          QStringLiteral("timepicker_disabled"));
}

// The settings page the window puts into the side bar, reduced to its kinds of widget.
QWidget *settingsPage()
{
    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    auto *page = new QWidget;
    page->setStyleSheet(QStringLiteral("background:rgb(63,63,63);"));
    auto *layout = new QVBoxLayout(page);
    layout->setSpacing(5);
    layout->setContentsMargins(10, 10, 10, 10);

    auto *speed = new QGroupBox(QStringLiteral("仪器速度设置"));
    auto *speedLayout = new QVBoxLayout(speed);
    auto *slow = new QRadioButton(QStringLiteral("低速"));
    auto *fast = new QRadioButton(QStringLiteral("快速"));
    slow->setStyleSheet(QStringLiteral("color:#D3D3D3;"));
    fast->setStyleSheet(QStringLiteral("color:#D3D3D3;"));
    fast->setChecked(true);
    speedLayout->addWidget(slow);
    speedLayout->addWidget(fast);
    layout->addWidget(speed);

    auto *interval = new QGroupBox(QStringLiteral("扫描时间间隔"));
    auto *intervalLayout = new QVBoxLayout(interval);
    auto *minimum = new QRadioButton(QStringLiteral("最小值"));
    minimum->setChecked(true);
    intervalLayout->addWidget(minimum);
    intervalLayout->addWidget(new QRadioButton(QStringLiteral("自定义:")));
    auto *intervalLabel = new QLabel(QStringLiteral("00 : 00 : 00 : 00"));
    intervalLabel->setStyleSheet(QStringLiteral("background: #2D2D2D;"));
    intervalLabel->setAlignment(Qt::AlignCenter);
    intervalLayout->addWidget(intervalLabel);
    auto *intervalPicker = new TimePicker;
    intervalPicker->setMaximumSeconds(360000.0);
    intervalPicker->setEnabled(false);
    intervalLayout->addWidget(intervalPicker);
    layout->addWidget(interval);

    auto *stop = new QGroupBox(QStringLiteral("停止数据记录"));
    auto *stopLayout = new QVBoxLayout(stop);
    stopLayout->setSpacing(0);
    auto *byButton = new QRadioButton(QStringLiteral("使用“停止”按钮立即停止"));
    byButton->setChecked(true);
    stopLayout->addWidget(byButton);
    stopLayout->addWidget(new QRadioButton(QStringLiteral("已用时间之后:")));
    auto *elapsedPicker = new TimePicker;
    elapsedPicker->setMaximumSeconds(8640000.0);
    stopLayout->addWidget(elapsedPicker);
    stopLayout->addWidget(new QRadioButton(QStringLiteral("N次扫描后:")));
    auto *count = new QSpinBox;
    count->setRange(1, 1000000);
    count->setStyleSheet(QStringLiteral("background: #2D2D2D;"));
    stopLayout->addWidget(count);
    layout->addWidget(stop);
    layout->addStretch();
    scroll->setWidget(page);
    return scroll;
}

void sideBars()
{
    for (bool open : {false, true}) {
        auto *window = new QWidget;
        window->setStyleSheet(QStringLiteral("background:rgb(43, 43, 43);"));
        auto *layout = new QHBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto *bar = new SideBar(window);
        bar->setArrowSide(false);
        bar->setExpandedWidth(280);
        bar->setMinimumHeight(50);
        bar->setTitle(QStringLiteral("设置"));
        auto *content = new QVBoxLayout(bar->contentWidget());
        content->setContentsMargins(0, 0, 0, 0);
        content->addWidget(settingsPage());
        layout->addWidget(bar, 0);
        auto *rest = new QLabel(QStringLiteral("（页面）"));
        rest->setAlignment(Qt::AlignCenter);
        rest->setStyleSheet(QStringLiteral("background:rgb(23,23,23);"));
        layout->addWidget(rest, 1);
        window->resize(520, 520);
        window->show();
        settle();
        if (open) {
            bar->onShowBtnClicked();
            settle(SideBar::kAnimationMs + 200);
        }
        shoot(window, open ? QStringLiteral("sidebar_open") : QStringLiteral("sidebar_closed"));
    }
}

void messageDialogs()
{
    CustomMessageDialog *dialog = CustomMessageDialog::sharedMessageDialog();
    const struct
    {
        int type;
        const char *text;
        const char *name;
    } messages[] = {{0, "上一次扫描未停止", "message_warning"},
                    {1, "设备未连接，请检查设备连接情况", "message_error"},
                    {2, "扫描开启中请稍等...", "message_information"}};
    for (const auto &m : messages) {
        dialog->showMessage(QString::fromUtf8(m.text), m.type, 0);
        shoot(dialog, QString::fromLatin1(m.name));
    }
    dialog->close();
}

// Something recognisable underneath, to show that the overlay only dims it.
QWidget *busyWindow()
{
    auto *window = new QWidget;
    window->setStyleSheet(QStringLiteral("background:rgb(43, 43, 43);"));
    auto *layout = new QVBoxLayout(window);
    auto *table = new QTableWidget(8, 3);
    table->setHorizontalHeaderLabels(
        {QStringLiteral("通道"), QStringLiteral("读数"), QStringLiteral("时间")});
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->hide();
    for (int row = 0; row < 8; ++row) {
        table->setItem(row, 0, new QTableWidgetItem(QString::number(101 + row)));
        table->setItem(row, 1, new QTableWidgetItem(QStringLiteral("1.23457e+00")));
        table->setItem(row, 2, new QTableWidgetItem(QStringLiteral("2024-05-01 12:00:00")));
    }
    layout->addWidget(table);
    window->resize(640, 420);
    window->show();
    return window;
}

void loadingViews()
{
    QWidget *window = busyWindow();
    auto *busy = new LoadingView(LoadingView::BusyMode, window);
    busy->startLoading();
    settle(5 * LoadingView::kTickMs);
    shoot(window, QStringLiteral("loading_busy"));
    busy->stopLoading();

    QWidget *lost = busyWindow();
    auto *confirm = new LoadingView(LoadingView::ConfirmMode, lost);
    confirm->startLoading();
    shoot(lost, QStringLiteral("loading_confirm"));
    confirm->resumeButton()->click();
    settle(3 * LoadingView::kTickMs);
    shoot(lost, QStringLiteral("loading_confirm_resumed"));
    lost->resize(900, 360);
    settle();
    shoot(lost, QStringLiteral("loading_confirm_resized"));
}

QIcon swatch(const QString &path)
{
    return QIcon(path);
}

void imageButtons()
{
    const struct
    {
        int position;
        const char *name;
    } arrangements[] = {{ImageButton::Left, "imagebutton_left"},
                        {ImageButton::Right, "imagebutton_right"},
                        {ImageButton::Top, "imagebutton_top"},
                        {ImageButton::Bottom, "imagebutton_bottom"},
                        {ImageButton::LeftAndRight, "imagebutton_leftandright"}};
    for (const auto &a : arrangements) {
        auto *button =
            new ImageButton(swatch(QStringLiteral(":/image/start.png")), QStringLiteral("开始"),
                            swatch(QStringLiteral(":/image/derive.png")));
        button->setObjectName(QStringLiteral("imageButton"));
        button->setIconPosition(a.position);
        button->setIconSize(24, 24);
        button->setImageSpacing(6);
        const bool tall = a.position == ImageButton::Top || a.position == ImageButton::Bottom;
        button->setFixedSize(tall ? QSize(100, 80) : QSize(140, 44));
        shoot(framed(button, tall ? QSize(124, 104) : QSize(164, 68),
                     QStringLiteral("rgb(43,43,43)")),
              QString::fromLatin1(a.name));
    }

    // The bottom bar of the window, idle and logging.
    for (bool logging : {false, true}) {
        auto *bar = new QWidget;
        bar->setStyleSheet(QStringLiteral("background:rgb(43,43,43);"));
        bar->setFixedHeight(40);
        auto *layout = new QHBoxLayout(bar);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto *start = new ImageButton(QIcon(QStringLiteral(":/image/start.png")),
                                      QStringLiteral("开始"), QIcon());
        start->setObjectName(QStringLiteral("imageButton"));
        start->setMinimumHeight(40);
        start->setIconSize(60, 40);
        start->setFixedSize(100, 40);
        layout->addWidget(start);
        if (logging) {
            start->setIcon(QIcon(QStringLiteral(":/image/stop.png")));
            start->setText(QStringLiteral("停止"));
            auto *running = new QLabel(QStringLiteral("数据记录正在运行.."));
            running->setMinimumHeight(40);
            layout->addWidget(running);
        }
        layout->addSpacerItem(
            new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        auto *exportButton = new ImageButton(QIcon(QStringLiteral(":/image/derive.png")),
                                             QStringLiteral("导出"), QIcon());
        exportButton->setObjectName(QStringLiteral("imageButton"));
        exportButton->setMinimumHeight(40);
        exportButton->setIconSize(50, 40);
        exportButton->setFixedSize(90, 40);
        exportButton->setEnabled(!logging);
        layout->addWidget(exportButton);
        bar->resize(600, 40);
        bar->show();
        shoot(bar,
              logging ? QStringLiteral("bottombar_logging") : QStringLiteral("bottombar_idle"));
    }
}

void comboBoxes()
{
    auto *host = new QWidget;
    auto *layout = new QHBoxLayout(host);
    auto *label = new QLabel(QStringLiteral("列分隔符:"));
    label->setStyleSheet(QStringLiteral("background-color:#444444;"));
    auto *box = new CustomComboBox;
    box->setStyleSheet(QStringLiteral("background:#171717;"));
    box->addItem(QStringLiteral("逗号(,)"), QStringLiteral(","));
    box->addItem(QStringLiteral("分号(;)"), QStringLiteral(";"));
    box->addItem(QStringLiteral("制表符(\\t)"), QStringLiteral("\t"));
    layout->addWidget(label);
    layout->addWidget(box);
    layout->addStretch();
    host->resize(320, 60);
    host->show();
    settle();
    shoot(host, QStringLiteral("combobox_closed"));

    QApplication::setActiveWindow(host);
    box->showPopup();
    settle(100);
    box->view()->setCurrentIndex(box->model()->index(1, 0));
    settle();
    QWidget *popup = box->view()->window();
    // The list is a window of its own: put both into one picture where they stand.
    const QRect hostArea(host->mapToGlobal(QPoint(0, 0)), host->size());
    const QRect popupArea(popup->mapToGlobal(QPoint(0, 0)), popup->size());
    const QRect all = hostArea.united(popupArea).adjusted(0, 0, 0, 12);
    QImage image(all.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(43, 43, 43));
    QPainter painter(&image);
    painter.drawImage(hostArea.topLeft() - all.topLeft(), host->grab().toImage());
    painter.drawImage(popupArea.topLeft() - all.topLeft(), popup->grab().toImage());
    painter.end();
    keep(QStringLiteral("combobox_open"), image);
    box->hidePopup();
}

void customDialog()
{
    auto *dialog = new CustomDialog(QStringLiteral("将数据导出到CSV"));
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("列分隔符:"));
    label->setStyleSheet(QStringLiteral("background-color:#444444;"));
    auto *box = new CustomComboBox;
    box->setStyleSheet(QStringLiteral("background:#171717;"));
    box->addItems(
        {QStringLiteral("逗号(,)"), QStringLiteral("分号(;)"), QStringLiteral("制表符(\\t)")});
    row->addWidget(label);
    row->addWidget(box);
    row->addStretch();
    dialog->addContentLayout(row);

    auto *details = new QGroupBox(QStringLiteral("详情"));
    auto *detailsLayout = new QVBoxLayout(details);
    auto *heading = new QLabel(QStringLiteral("导出文件详细信息:"));
    heading->setStyleSheet(QStringLiteral("background-color:#444444;"));
    detailsLayout->addWidget(heading);
    auto *nameRow = new QHBoxLayout;
    auto *nameLabel = new QLabel(QStringLiteral("文件名:"));
    nameLabel->setStyleSheet(QStringLiteral("background-color:#444444;"));
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(new QLineEdit(QStringLiteral("Trace")));
    detailsLayout->addLayout(nameRow);
    auto *pathRow = new QHBoxLayout;
    auto *pathLabel = new QLabel(QStringLiteral("导出路径:"));
    pathLabel->setStyleSheet(QStringLiteral("background-color:#444444;"));
    auto *path = new QLabel(QDir::toNativeSeparators(QStringLiteral("/opt/datalogger")));
    path->setStyleSheet(QStringLiteral("background-color:#444444;"));
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(path, 1);
    pathRow->addWidget(new QPushButton(QStringLiteral("  浏览...  ")));
    detailsLayout->addLayout(pathRow);
    dialog->addContentWidget(details);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(new QPushButton(QStringLiteral("  导出到文件  ")));
    buttons->addWidget(new QPushButton(QStringLiteral("  关闭  ")));
    dialog->addContentLayout(buttons);
    dialog->resize(460, 280);
    dialog->show();
    shoot(dialog, QStringLiteral("customdialog_export"));
    dialog->close();
}

// The channel tree's own style as the window sets it on the tree.
const char kTreeStyle[] =
    "QTreeWidget { background: #171717; alternate-background-color: #2B2B2B; color: white;"
    " border: none; }"
    "QTreeWidget::item { height: 20px; }"
    "QTreeWidget::item:selected { background: rgb(60, 120, 216); color: white; }"
    "QTreeWidget::item:hover { background: rgba(70, 70, 70, 150);"
    " border-top: 1px solid rgb(19, 196, 255); border-bottom: 1px solid rgb(19, 196, 255); }"
    "QTreeWidget QLabel { background: transparent; color: white; border: 1px solid rgb(60, 60, 60);"
    " border-radius: 3px; padding: 2px; margin-top: 1px; margin-bottom: 1px; height: 21px; }";

QWidget *channelTree()
{
    auto *tree = new QTreeWidget;
    tree->setColumnCount(2);
    tree->setHeaderLabels({QStringLiteral("扫描 "), QStringLiteral("编号")});
    tree->setAlternatingRowColors(true);
    tree->setStyleSheet(QString::fromUtf8(kTreeStyle));
    for (int slot : {1, 2}) {
        auto *module = new QTreeWidgetItem(tree);
        module->setCheckState(0, slot == 1 ? Qt::PartiallyChecked : Qt::Unchecked);
        module->setText(0, QStringLiteral("TRM6101:10-Channel Armature Multiplexer"));
        module->setFirstColumnSpanned(true);
        module->setFlags(module->flags() & ~Qt::ItemIsSelectable);
        for (int n = slot * 100 + 1; n <= slot * 100 + (slot == 1 ? 4 : 2); ++n) {
            auto *channel = new QTreeWidgetItem(module);
            channel->setCheckState(0, n % 2 ? Qt::Checked : Qt::Unchecked);
            channel->setForeground(0, QBrush(Qt::white));
            auto *label = new QLabel(QString::number(n), tree);
            label->setAlignment(Qt::AlignCenter);
            tree->setItemWidget(channel, 1, label);
        }
    }
    tree->expandItem(tree->topLevelItem(0));
    return tree;
}

void themeWidgets()
{
    auto *window = new QWidget;
    auto *grid = new QHBoxLayout(window);

    auto *left = new QVBoxLayout;
    auto *buttons = new QGroupBox(QStringLiteral("按钮"));
    auto *buttonsLayout = new QVBoxLayout(buttons);
    buttonsLayout->addWidget(new QPushButton(QStringLiteral("  导出到文件  ")));
    auto *disabled = new QPushButton(QStringLiteral("  不可用  "));
    disabled->setEnabled(false);
    buttonsLayout->addWidget(disabled);
    auto *setup = new QPushButton(QStringLiteral("当前外接设备未连接,连接外部设备"));
    setup->setObjectName(QStringLiteral("setupButton"));
    setup->setFlat(true);
    buttonsLayout->addWidget(setup);
    auto *tools = new QHBoxLayout;
    for (Qt::ArrowType arrow : {Qt::UpArrow, Qt::DownArrow, Qt::LeftArrow, Qt::RightArrow}) {
        auto *tool = new QToolButton;
        tool->setArrowType(arrow);
        tools->addWidget(tool);
    }
    auto *toolText = new QToolButton;
    toolText->setText(QStringLiteral("工具"));
    tools->addWidget(toolText);
    tools->addStretch();
    buttonsLayout->addLayout(tools);
    left->addWidget(buttons);

    auto *choices = new QGroupBox(QStringLiteral("选项"));
    auto *choicesLayout = new QVBoxLayout(choices);
    auto *checkedRadio = new QRadioButton(QStringLiteral("快速"));
    checkedRadio->setChecked(true);
    choicesLayout->addWidget(checkedRadio);
    choicesLayout->addWidget(new QRadioButton(QStringLiteral("低速")));
    auto *offRadio = new QRadioButton(QStringLiteral("不可用"));
    offRadio->setEnabled(false);
    choicesLayout->addWidget(offRadio);
    auto *checked = new QCheckBox(QStringLiteral("已选"));
    checked->setChecked(true);
    choicesLayout->addWidget(checked);
    auto *partial = new QCheckBox(QStringLiteral("部分"));
    partial->setTristate(true);
    partial->setCheckState(Qt::PartiallyChecked);
    choicesLayout->addWidget(partial);
    choicesLayout->addWidget(new QCheckBox(QStringLiteral("未选")));
    auto *spin = new QSpinBox;
    spin->setRange(1, 1000000);
    spin->setValue(3);
    choicesLayout->addWidget(spin);
    choicesLayout->addWidget(new QLineEdit(QStringLiteral("Trace")));
    auto *combo = new QComboBox;
    combo->addItems({QStringLiteral("逗号(,)"), QStringLiteral("分号(;)")});
    choicesLayout->addWidget(combo);
    left->addWidget(choices);
    left->addStretch();
    grid->addLayout(left);

    auto *tabs = new QTabWidget;
    tabs->addTab(channelTree(), QIcon(QStringLiteral(":/image/confChannel.png")),
                 QStringLiteral("配置通道"));
    auto *table = new QTableWidget(30, 6);
    table->setHorizontalHeaderLabels({QStringLiteral("通道"), QStringLiteral("读数"),
                                      QStringLiteral("时间"), QStringLiteral("最小值"),
                                      QStringLiteral("最大值"), QStringLiteral("平均值")});
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->hide();
    tabs->addTab(table, QIcon(QStringLiteral(":/image/DataNetwork.png")),
                 QStringLiteral("图形设置"));
    grid->addWidget(tabs, 1);

    window->resize(820, 480);
    window->show();
    shoot(window, QStringLiteral("theme_widgets"));

    tabs->setCurrentIndex(1);
    for (int row = 0; row < 30; ++row)
        for (int column = 0; column < 6; ++column) {
            auto *item = new QTableWidgetItem(column == 0 ? QString::number(101 + row)
                                                          : QStringLiteral("1.23457e+00"));
            item->setTextAlignment(Qt::AlignCenter);
            table->setItem(row, column, item);
        }
    table->selectRow(2);
    shoot(window, QStringLiteral("theme_table"));
}

// Every bundled image, enlarged, on the window's ground and on the panels' ground.
void bundledImages()
{
    QStringList paths;
    for (const QString &root : {QStringLiteral(":/dark"), QStringLiteral(":/image")}) {
        QDirIterator it(root, QDir::Files);
        while (it.hasNext())
            paths.append(it.next());
    }
    paths.sort();
    const int cell = 150, columns = 6, scale = 3;
    const int rows = (paths.size() + columns - 1) / columns;
    QImage sheet(columns * cell, rows * (cell / 2 + 30), QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(43, 43, 43));
    QPainter painter(&sheet);
    QFont font = QApplication::font();
    font.setPixelSize(11);
    painter.setFont(font);
    for (int i = 0; i < paths.size(); ++i) {
        const QImage image(paths.at(i));
        const QPoint origin((i % columns) * cell, (i / columns) * (cell / 2 + 30));
        painter.fillRect(QRect(origin + QPoint(4, 4), QSize(cell / 2 - 8, cell / 2 - 8)),
                         QColor(23, 23, 23));
        const int fit = qMax(1, qMin(scale, (cell / 2 - 12) / qMax(1, image.width())));
        painter.drawImage(QRect(origin + QPoint(6, 6), image.size() * fit), image);
        painter.drawImage(origin + QPoint(cell / 2 + 10, 20), image);
        painter.setPen(QColor(211, 211, 211));
        painter.drawText(QRect(origin.x() + 4, origin.y() + cell / 2 - 2, cell - 8, 28),
                         Qt::AlignLeft | Qt::TextWrapAnywhere, paths.at(i).mid(2));
    }
    painter.end();
    keep(QStringLiteral("bundle_images"), sheet);
}

void contactSheet()
{
    const int width = 1700, gap = 16, caption = 22;
    // Shelf packing in the order the pictures were taken.
    struct Placed
    {
        QPoint at;
        const Shot *shot;
    };
    QList<Placed> placed;
    int x = gap, y = gap, shelf = 0;
    for (const Shot &shot : qAsConst(g_shots)) {
        const QSize size = shot.image.size();
        if (x + size.width() + gap > width && x > gap) {
            x = gap;
            y += shelf + caption + gap;
            shelf = 0;
        }
        placed.append({QPoint(x, y), &shot});
        x += size.width() + gap;
        shelf = qMax(shelf, size.height());
    }
    const int height = y + shelf + caption + gap;
    QImage sheet(width, height, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(90, 90, 90));
    QPainter painter(&sheet);
    QFont font = QApplication::font();
    font.setPixelSize(13);
    painter.setFont(font);
    for (const Placed &p : qAsConst(placed)) {
        painter.drawImage(p.at + QPoint(0, caption), p.shot->image);
        painter.setPen(Qt::white);
        painter.drawText(QRect(p.at, QSize(p.shot->image.width() + 200, caption)),
                         Qt::AlignLeft | Qt::AlignVCenter, p.shot->name);
    }
    painter.end();
    const QString path = g_out.filePath(QStringLiteral("contact_sheet.png"));
    if (!sheet.save(path))
        qWarning() << "无法保存图片:" << path;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication::setAttribute(Qt::AA_DisableHighDpiScaling);
    QApplication app(argc, argv);
    if (!initDataloggerResources()) {
        qCritical() << "资源包不可用";
        return 1;
    }
    const QStringList args = QApplication::arguments();
    const QString outDir =
        args.size() > 1 ? args.at(1) : QDir::current().filePath(QStringLiteral("gallery"));
    if (!QDir().mkpath(outDir + QStringLiteral("/zoom"))) {
        qCritical() << "无法创建目录:" << outDir;
        return 1;
    }
    g_out = QDir(outDir);

    // The window asks for its own fonts by name; here the installed CJK font stands
    // in for them, as fontconfig would pick it anyway.
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    QApplication::setFont(font);

    QFile sheet(QStringLiteral(":/qss/styles.qss"));
    if (!sheet.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qCritical() << "Failed to open style.qss:" << sheet.errorString();
        return 1;
    }
    app.setStyleSheet(QString::fromUtf8(sheet.readAll()));

    timePickers();
    sideBars();
    messageDialogs();
    loadingViews();
    imageButtons();
    comboBoxes();
    customDialog();
    themeWidgets();
    bundledImages();
    contactSheet();
    return 0;
}
