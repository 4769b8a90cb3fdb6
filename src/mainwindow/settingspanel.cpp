#include "settingspanel.h"

#include <QApplication>

#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "widgets/timepicker.h"

QString SettingsPanel::durationText(double seconds)
{
    const qint64 x = static_cast<qint64>(seconds);
    const qint64 days = x / 86400;
    const qint64 hours = (x - days * 86400) / 3600;
    const qint64 minutes = (x - days * 86400 - hours * 3600) / 60;
    const qint64 secs = x % 60;
    auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return QStringLiteral("%1 : %2 : %3 : %4").arg(two(days), two(hours), two(minutes), two(secs));
}

SettingsPanel::SettingsPanel(QWidget *parent)
    : QScrollArea(parent)
{
    setWidgetResizable(true);
    // Not a Tab stop of its own; the control the keyboard reaches is scrolled into view, from
    // whichever side it came.
    setFocusPolicy(Qt::NoFocus);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now && widget() && widget()->isAncestorOf(now))
            ensureWidgetVisible(now);
    });
    auto *settingsPage = new QWidget(this);
    settingsPage->setStyleSheet(QStringLiteral("background:rgb(63,63,63);"));
    // In its place before it is filled: moving a built page re-styles every widget on it.
    setWidget(settingsPage);
    auto *pageLayout = new QVBoxLayout(settingsPage);
    pageLayout->setSpacing(5);
    pageLayout->setContentsMargins(10, 10, 10, 10);
    const QString radioStyle = QStringLiteral("color:#D3D3D3;");

    // Each group is on the page, and each box of a group in it, before its controls are made
    // inside it: nothing built is moved afterwards.
    auto addGroup = [settingsPage, pageLayout](const QString &title) {
        auto *group = new QGroupBox(title, settingsPage);
        pageLayout->addWidget(group);
        return group;
    };
    auto addBox = [](QBoxLayout *groupLayout) {
        auto *box = new QVBoxLayout;
        groupLayout->addLayout(box);
        return box;
    };

    auto *speedGroup = addGroup(tr("仪器速度设置"));
    auto *speedLayout = new QVBoxLayout(speedGroup);
    slowRadio = new QRadioButton(tr("低速"), speedGroup);
    fastRadio = new QRadioButton(tr("快速"), speedGroup);
    slowRadio->setStyleSheet(radioStyle);
    fastRadio->setStyleSheet(radioStyle);
    fastRadio->setChecked(true);
    speedLayout->addWidget(slowRadio);
    speedLayout->addWidget(fastRadio);

    auto *startGroup = addGroup(tr("开始数据记录"));
    auto *startLayout = new QVBoxLayout(startGroup);
    auto *startNowRadio = new QRadioButton(tr("使用\"开始\"按钮立即开始"), startGroup);
    startNowRadio->setStyleSheet(radioStyle);
    startNowRadio->setChecked(true);
    startLayout->addWidget(startNowRadio);

    auto makeLabel = [](QWidget *group) {
        auto *label = new QLabel(group);
        label->setStyleSheet(QStringLiteral("background: #2D2D2D;"));
        label->setAlignment(Qt::AlignCenter);
        return label;
    };
    auto makePicker = [](QWidget *group, double maximumSeconds) {
        auto *picker = new TimePicker(group);
        picker->setDisplayMode(1);
        picker->setMaximumSeconds(maximumSeconds);
        return picker;
    };

    auto *intervalGroup = addGroup(tr("扫描时间间隔"));
    auto *intervalLayout = new QVBoxLayout(intervalGroup);
    minIntervalRadio = new QRadioButton(tr("最小值"), intervalGroup);
    minIntervalRadio->setChecked(true);
    intervalLayout->addWidget(minIntervalRadio);
    auto *customLayout = addBox(intervalLayout);
    customIntervalRadio = new QRadioButton(tr("自定义:"), intervalGroup);
    intervalLabel = makeLabel(intervalGroup);
    intervalPicker = makePicker(intervalGroup, 360000);
    intervalPicker->setEnabled(false);
    intervalLabel->setText(durationText(intervalPicker->value()));
    customLayout->addWidget(customIntervalRadio);
    customLayout->addWidget(intervalLabel);
    customLayout->addWidget(intervalPicker);

    auto *stopGroup = addGroup(tr("停止数据记录"));
    auto *stopLayout = new QVBoxLayout(stopGroup);
    stopLayout->setSpacing(0);
    stopButtonRadio = new QRadioButton(tr("使用“停止”按钮立即停止"), stopGroup);
    stopButtonRadio->setChecked(true);
    stopLayout->addWidget(stopButtonRadio);
    auto *elapsedLayout = addBox(stopLayout);
    elapsedRadio = new QRadioButton(tr("已用时间之后:"), stopGroup);
    elapsedLabel = makeLabel(stopGroup);
    elapsedPicker = makePicker(stopGroup, 8640000);
    elapsedPicker->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    elapsedLabel->setText(durationText(elapsedPicker->value()));
    elapsedLayout->addWidget(elapsedRadio);
    elapsedLayout->addWidget(elapsedLabel);
    elapsedLayout->addWidget(elapsedPicker);
    auto *countLayout = addBox(stopLayout);
    scanCountRadio = new QRadioButton(tr("N次扫描后:"), stopGroup);
    scanCountSpin = new QSpinBox(stopGroup);
    scanCountSpin->setRange(1, 1000000);
    scanCountSpin->setValue(1);
    scanCountSpin->setStyleSheet(QStringLiteral("background: #2D2D2D;"));
    countLayout->addWidget(scanCountRadio);
    countLayout->addWidget(scanCountSpin);

    pageLayout->addStretch();

    // A screen reader reads a choice without its group: the names say both.
    slowRadio->setAccessibleName(tr("仪器速度：低速"));
    slowRadio->setAccessibleDescription(tr("每个通道稳定0.6秒"));
    fastRadio->setAccessibleName(tr("仪器速度：快速"));
    fastRadio->setAccessibleDescription(tr("每个通道稳定0.5秒"));
    startNowRadio->setAccessibleName(tr("开始方式：开始按钮"));
    minIntervalRadio->setAccessibleName(tr("扫描间隔：最小值"));
    minIntervalRadio->setAccessibleDescription(tr("扫描紧接着扫描"));
    customIntervalRadio->setAccessibleName(tr("扫描间隔：自定义"));
    customIntervalRadio->setAccessibleDescription(tr("每次扫描前暂停设定的时间"));
    intervalPicker->setAccessibleName(tr("扫描间隔时长"));
    stopButtonRadio->setAccessibleName(tr("停止方式：停止按钮"));
    elapsedRadio->setAccessibleName(tr("停止方式：已用时间之后"));
    elapsedPicker->setAccessibleName(tr("记录时长"));
    scanCountRadio->setAccessibleName(tr("停止方式：N次扫描后"));
    scanCountSpin->setAccessibleName(tr("扫描次数"));
}
