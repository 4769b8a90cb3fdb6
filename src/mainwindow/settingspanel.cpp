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
    elapsedLabel->setText(durationText(elapsedPicker->value()));
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
    setWidget(settingsPage);

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
