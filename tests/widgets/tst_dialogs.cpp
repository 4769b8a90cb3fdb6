// The frameless dialog, the shared message dialog and the loading overlay.

#include "quietoffscreen.h"
#include "resources/dataloggerresources.h"
#include "widgets/customdialog.h"
#include "widgets/custommessagedialog.h"
#include "widgets/loadingview.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QtTest>

#include <memory>

namespace {

void sendMouse(QWidget *target, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

bool isSpinnerGrey(QRgb pixel)
{
    return qAbs(qRed(pixel) - 153) <= 3 && qAbs(qGreen(pixel) - 153) <= 3 &&
           qAbs(qBlue(pixel) - 153) <= 3;
}

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void messageTitlesAndIcons_data();
    void messageTitlesAndIcons();
    void messageClosesItself();
    void messageWithoutTimeStays();
    void laterMessageGetsItsFullTime();
    void stayingMessageComesBackAfterAClosingOne();
    void oneSharedMessageDialog();

    void dialogFrame();
    void dialogDraggedByTitleBarOnly();
    void dialogCentredOnParent();

    void overlayCoversResizedParent();
    void spinnerWhereExpected();
    void spinnerTurns();
    void busyModeStartAndStop();
    void confirmModeResumeOncePerPress();
    void loadingTextBelowSpinner();
};

void DialogsTest::initTestCase()
{
    silenceOffscreenSizeHints();
    QVERIFY(initDataloggerResources());
}

void DialogsTest::messageTitlesAndIcons_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("icon");

    QTest::newRow("warning") << 0 << "警告" << int(QStyle::SP_MessageBoxWarning);
    QTest::newRow("error") << 1 << "错误" << int(QStyle::SP_MessageBoxCritical);
    QTest::newRow("information") << 2 << "信息" << int(QStyle::SP_MessageBoxInformation);
    QTest::newRow("unknown keeps title") << 7 << "信息" << int(QStyle::SP_MessageBoxCritical);
}

void DialogsTest::messageTitlesAndIcons()
{
    QFETCH(int, type);
    QFETCH(QString, title);
    QFETCH(int, icon);

    CustomMessageDialog *dialog = CustomMessageDialog::sharedMessageDialog();
    if (type > 2)
        dialog->showMessage(QStringLiteral("前一条"), 2, 0);
    dialog->showMessage(QStringLiteral("设备未连接，请检查设备连接情况"), type, 0);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), title);
    QCOMPARE(dialog->text(), QStringLiteral("设备未连接，请检查设备连接情况"));
    const QImage expected =
        dialog->style()->standardIcon(QStyle::StandardPixmap(icon)).pixmap(25, 25).toImage();
    QCOMPARE(dialog->iconPixmap().toImage(), expected);
    QCOMPARE(dialog->size(), QSize(200, 50));
    QVERIFY(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
    dialog->close();
}

void DialogsTest::messageClosesItself()
{
    CustomMessageDialog *dialog = CustomMessageDialog::sharedMessageDialog();
    QElapsedTimer clock;
    clock.start();
    dialog->showMessage(QStringLiteral("扫描通道未选择"), 1, 3000);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("错误"));
    QVERIFY(dialog->isVisible());
    QTest::qWait(1500);
    QVERIFY(dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), 10000);
    // Coarse timers may fire up to 5 % early.
    QVERIFY2(clock.elapsed() >= 2800, qPrintable(QString::number(clock.elapsed())));
}

void DialogsTest::messageWithoutTimeStays()
{
    CustomMessageDialog *dialog = CustomMessageDialog::sharedMessageDialog();
    dialog->showMessage(QStringLiteral("常驻"), 2, 200);
    dialog->showMessage(QStringLiteral("常驻"), 2, 0);
    QVERIFY(!dialog->autoClosePending());
    QTest::qWait(600);
    QVERIFY(dialog->isVisible());
    QTest::mouseClick(dialog->closeButton(), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
}

void DialogsTest::laterMessageGetsItsFullTime()
{
    CustomMessageDialog *dialog = CustomMessageDialog::sharedMessageDialog();
    dialog->showMessage(QStringLiteral("第一条"), 2, 600);
    QTest::qWait(400);
    dialog->showMessage(QStringLiteral("第二条"), 2, 600);
    QCOMPARE(dialog->text(), QStringLiteral("第二条"));
    // The first message's deadline passes; the second message is still up.
    QTest::qWait(350);
    QVERIFY(dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), 5000);
}

// An error that stays until dismissed is not lost under an information that closes itself.
void DialogsTest::stayingMessageComesBackAfterAClosingOne()
{
    CustomMessageDialog *dialog = CustomMessageDialog::sharedMessageDialog();
    dialog->showMessage(QStringLiteral("记录已停止"), 1, 0);
    dialog->showMessage(QStringLiteral("导出成功"), 2, 100);
    QCOMPARE(dialog->text(), QStringLiteral("导出成功"));
    QTRY_COMPARE(dialog->text(), QStringLiteral("记录已停止"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("错误"));
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->accessibleName().contains(QStringLiteral("记录已停止")));
    QTest::mouseClick(dialog->closeButton(), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    // Dismissed is dismissed: a later information closes for good.
    dialog->showMessage(QStringLiteral("扫描开启中"), 2, 100);
    QTRY_VERIFY(!dialog->isVisible());
    QTest::qWait(150);
    QVERIFY(!dialog->isVisible());
}

void DialogsTest::oneSharedMessageDialog()
{
    CustomMessageDialog *first = CustomMessageDialog::sharedMessageDialog();
    CustomMessageDialog *second = CustomMessageDialog::sharedMessageDialog();
    QVERIFY(first);
    QCOMPARE(first, second);
    QVERIFY(!first->parent());
    first->showMessage(QStringLiteral("甲"), 2, 0);
    second->showMessage(QStringLiteral("乙"), 0, 0);
    QCOMPARE(first->text(), QStringLiteral("乙"));
    QCOMPARE(first->windowTitle(), QStringLiteral("警告"));
    int shown = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        shown += qobject_cast<CustomMessageDialog *>(w) && w->isVisible();
    QCOMPARE(shown, 1);
    first->close();
}

void DialogsTest::dialogFrame()
{
    CustomDialog dialog(QStringLiteral("将数据导出到CSV"));
    QVERIFY(dialog.isModal());
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(dialog.minimumSize(), QSize(300, 200));
    QCOMPARE(dialog.title(), QStringLiteral("将数据导出到CSV"));
    QCOMPARE(dialog.titleBar()->height(), 35);
    QCOMPARE(dialog.closeButton()->size(), QSize(30, 30));
    QCOMPARE(dialog.closeButton()->text(), QStringLiteral("X"));

    auto *label = new QLabel(QStringLiteral("列分隔符:"));
    dialog.addContentWidget(label);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(label->parentWidget(), dialog.contentWidget());
    QVERIFY(dialog.titleBar()->geometry().bottom() < dialog.contentWidget()->geometry().top());
    QTest::mouseClick(dialog.closeButton(), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
}

void DialogsTest::dialogDraggedByTitleBarOnly()
{
    CustomDialog dialog(QStringLiteral("拖动"));
    dialog.resize(400, 300);
    dialog.move(100, 100);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint start = dialog.pos();

    // Content area: no movement.
    const QPoint inContent = dialog.contentWidget()->geometry().center();
    sendMouse(&dialog, QEvent::MouseButtonPress, inContent, Qt::LeftButton, Qt::LeftButton);
    sendMouse(&dialog, QEvent::MouseMove, inContent + QPoint(40, 30), Qt::NoButton, Qt::LeftButton);
    sendMouse(&dialog, QEvent::MouseButtonRelease, inContent + QPoint(40, 30), Qt::LeftButton,
              Qt::NoButton);
    QCOMPARE(dialog.pos(), start);

    // Pressed in the content, then slid up into the title bar: still no movement.
    sendMouse(&dialog, QEvent::MouseButtonPress, inContent, Qt::LeftButton, Qt::LeftButton);
    sendMouse(&dialog, QEvent::MouseMove, QPoint(60, 10), Qt::NoButton, Qt::LeftButton);
    sendMouse(&dialog, QEvent::MouseButtonRelease, QPoint(60, 10), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(dialog.pos(), start);

    // Title bar: follows the cursor.
    const QPoint inTitle(50, 15);
    const QPoint globalPress = dialog.mapToGlobal(inTitle);
    QMouseEvent press(QEvent::MouseButtonPress, inTitle, globalPress, Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &press);
    QMouseEvent drag(QEvent::MouseMove, inTitle, globalPress + QPoint(70, 40), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drag);
    QCOMPARE(dialog.pos(), start + QPoint(70, 40));
}

void DialogsTest::dialogCentredOnParent()
{
    QWidget parent;
    parent.setGeometry(50, 60, 1000, 600);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    CustomDialog dialog(QStringLiteral("居中"), &parent);
    dialog.resize(400, 300);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QRect area = parent.frameGeometry();
    QCOMPARE(dialog.pos(),
             QPoint(area.x() + (area.width() - 400) / 2, area.y() + (area.height() - 300) / 2));
}

void DialogsTest::overlayCoversResizedParent()
{
    QWidget window;
    window.resize(600, 400);
    LoadingView view(LoadingView::BusyMode, &window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!view.isVisible());
    view.startLoading();
    QVERIFY(view.isVisible());
    QCOMPARE(view.geometry(), window.rect());

    window.resize(1000, 600);
    QTRY_COMPARE(view.geometry(), QRect(0, 0, 1000, 600));
    window.resize(320, 900);
    QTRY_COMPARE(view.geometry(), QRect(0, 0, 320, 900));

    // Resized while hidden, it still covers the window when started again.
    view.stopLoading();
    window.resize(700, 500);
    view.startLoading();
    QTRY_COMPARE(view.geometry(), QRect(0, 0, 700, 500));
}

void DialogsTest::spinnerWhereExpected()
{
    QWidget window;
    window.setStyleSheet(QStringLiteral("background: rgb(0, 0, 0);"));
    window.resize(600, 400);
    LoadingView view(LoadingView::BusyMode, &window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    view.startLoading();
    window.resize(800, 300);
    QTRY_COMPARE(view.geometry(), QRect(0, 0, 800, 300));
    QCOMPARE(view.angle(), 0);

    const QImage image = window.grab().toImage();
    // Centre 20 px above the middle; R = min(w, h) / 8, r = R * 0.7.
    const QPointF centre(400.0, 130.0);
    const int outer = 300 / 8;
    const int inner = int(outer * 0.7);
    const auto at = [&](double radius, double degrees) {
        const double a = qDegreesToRadians(degrees);
        return image.pixel(int(centre.x() + radius * qCos(a)), int(centre.y() - radius * qSin(a)));
    };
    for (double mid : {22.5, 142.5, 262.5})
        QVERIFY2(isSpinnerGrey(at(outer, mid)), qPrintable(QString::number(mid)));
    for (double mid : {82.5, 202.5, 322.5})
        QVERIFY2(isSpinnerGrey(at(inner, mid)), qPrintable(QString::number(mid)));
    // Gaps between the arcs and the centre stay the dimmed ground.
    for (double gap : {82.5, 202.5, 322.5})
        QVERIFY(!isSpinnerGrey(at(outer, gap)));
    const QRgb middle = image.pixel(400, 130);
    QVERIFY(!isSpinnerGrey(middle));
    QVERIFY(qAbs(qRed(middle) - 35) <= 6);
}

void DialogsTest::spinnerTurns()
{
    QWidget window;
    window.resize(300, 300);
    LoadingView view(LoadingView::BusyMode, &window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    view.startLoading();
    QVERIFY(view.isSpinning());
    QTRY_VERIFY_WITH_TIMEOUT(view.angle() >= 3 * LoadingView::kTickDegrees, 5000);
    QCOMPARE(view.angle() % LoadingView::kTickDegrees, 0);
    view.stopLoading();
    const int stoppedAt = view.angle();
    QTest::qWait(3 * LoadingView::kTickMs);
    QCOMPARE(view.angle(), stoppedAt);
    QVERIFY(!view.isSpinning());
}

void DialogsTest::busyModeStartAndStop()
{
    QWidget window;
    window.resize(400, 300);
    LoadingView view(LoadingView::BusyMode, &window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!view.messageLabel());
    QVERIFY(!view.resumeButton());
    QCOMPARE(view.textLabel()->text(), QStringLiteral("正在加载，请稍等..."));
    view.startLoading();
    QVERIFY(view.textLabel()->isVisible());
    view.stopLoading();
    QVERIFY(!view.isVisible());
    view.startLoading();
    QVERIFY(view.isVisible());
    QVERIFY(view.isSpinning());
}

void DialogsTest::confirmModeResumeOncePerPress()
{
    QWidget window;
    window.resize(600, 400);
    LoadingView view(LoadingView::ConfirmMode, &window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy confirmed(&view, &LoadingView::confirmRequested);

    view.startLoading();
    QVERIFY(!view.isSpinning());
    QVERIFY(view.messageLabel()->isVisible());
    QVERIFY(view.resumeButton()->isVisible());
    QVERIFY(!view.textLabel()->isVisible());
    QCOMPARE(view.messageLabel()->text(), QStringLiteral("应用程序将在恢复通信时与仪器同步。"));
    QCOMPARE(view.resumeButton()->text(), QStringLiteral("恢复"));
    // Message at 30 % of the height, button at half, both centred.
    QCOMPARE(view.messageLabel()->y(), int(400 * 0.3));
    QVERIFY(view.messageLabel()->width() <= int(600 * 0.6));
    QCOMPARE(view.resumeButton()->y(), 200);
    QCOMPARE(view.resumeButton()->x(), (600 - view.resumeButton()->width()) / 2);

    QTest::mouseClick(view.resumeButton(), Qt::LeftButton);
    QCOMPARE(confirmed.count(), 1);
    QVERIFY(view.isSpinning());
    QVERIFY(!view.resumeButton()->isVisible());
    QVERIFY(!view.messageLabel()->isVisible());
    QVERIFY(view.textLabel()->isVisible());

    // A failed retry asks for the overlay again while it still spins: the message and
    // the button come back, the spinner stops.
    view.startLoading();
    QVERIFY(!view.isSpinning());
    QVERIFY(view.resumeButton()->isVisible());
    QVERIFY(view.messageLabel()->isVisible());
    QVERIFY(!view.textLabel()->isVisible());
    const int angle = view.angle();
    QTest::qWait(3 * LoadingView::kTickMs);
    QCOMPARE(view.angle(), angle);
    QTest::mouseClick(view.resumeButton(), Qt::LeftButton);
    QCOMPARE(confirmed.count(), 2);

    // After stopLoading the overlay comes back with its button for the next attempt.
    view.stopLoading();
    view.startLoading();
    QVERIFY(view.resumeButton()->isVisible());
    QVERIFY(!view.isSpinning());
    QTest::mouseClick(view.resumeButton(), Qt::LeftButton);
    QCOMPARE(confirmed.count(), 3);
}

void DialogsTest::loadingTextBelowSpinner()
{
    QWidget window;
    window.resize(600, 400);
    LoadingView view(LoadingView::BusyMode, &window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    view.startLoading();
    view.setLoadingText(QStringLiteral("正在导出数据，请稍等..."));
    QLabel *label = view.textLabel();
    QCOMPARE(label->size(), label->sizeHint());
    QCOMPARE(label->x(), (600 - label->width()) / 2);
    QCOMPARE(label->y(), 400 / 8 + 400 / 2);
    // Below the spinner's outer ring, whose bottom is at h / 2 - 20 + R.
    QVERIFY(label->y() > 400 / 2 - 20 + 400 / 8);
    window.resize(900, 700);
    QTRY_COMPARE(label->y(), 700 / 8 + 700 / 2);
    QCOMPARE(label->x(), (900 - label->width()) / 2);
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
