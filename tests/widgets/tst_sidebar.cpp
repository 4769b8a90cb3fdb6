// The side bar's open and close animations, its final widths and its buttons.

#include "quietoffscreen.h"
#include "resources/dataloggerresources.h"
#include "widgets/customsidebutton.h"
#include "widgets/rotatedlabel.h"
#include "widgets/sidebar.h"

#include <QApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class SideBarTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsClosedAsStrip();
    void opensToExpandedWidth();
    void closesToStrip();
    void clickDuringOpeningIsIgnored();
    void clickDuringClosingIsIgnored();
    void openingDuringClosingIsIgnored();
    void arrowSideChoosesImages();
    void sideButtonLayouts();
    void rotatedLabelSizeHint();
    void rotatedLabelDrawsTurnedText();

private:
    std::unique_ptr<QWidget> m_window;
    SideBar *m_bar = nullptr;
    QWidget *m_rest = nullptr;
};

void SideBarTest::initTestCase()
{
    silenceOffscreenSizeHints();
    QVERIFY(initDataloggerResources());
}

void SideBarTest::init()
{
    m_window = std::make_unique<QWidget>();
    m_window->resize(800, 400);
    auto *layout = new QHBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_bar = new SideBar(m_window.get());
    m_bar->setArrowSide(false);
    m_bar->setExpandedWidth(280);
    m_bar->setMinimumHeight(50);
    m_bar->setTitle(QStringLiteral("设置"));
    auto *content = new QVBoxLayout(m_bar->contentWidget());
    content->addWidget(new QLabel(QStringLiteral("内容")));
    m_rest = new QWidget;
    layout->addWidget(m_bar, 0);
    layout->addWidget(m_rest, 1);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void SideBarTest::cleanup()
{
    m_window.reset();
}

void SideBarTest::startsClosedAsStrip()
{
    QTRY_COMPARE(m_bar->width(), SideBar::kStripWidth);
    QVERIFY(!m_bar->isOpen());
    QVERIFY(m_bar->stripButton()->isVisible());
    QVERIFY(!m_bar->headerButton()->isVisible());
    QVERIFY(!m_bar->contentWidget()->isVisible());
    QCOMPARE(m_bar->stripButton()->width(), SideBar::kStripWidth);
    QCOMPARE(m_bar->maximumWidth(), 280);
    QCOMPARE(m_bar->headerButton()->maximumWidth(), 260);
    QCOMPARE(m_bar->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QVERIFY(m_bar->testAttribute(Qt::WA_StyledBackground));
}

void SideBarTest::opensToExpandedWidth()
{
    QTest::mouseClick(m_bar->stripButton(), Qt::LeftButton);
    QVERIFY(m_bar->isOpen());
    QVERIFY(m_bar->headerButton()->isVisible());
    QVERIFY(m_bar->contentWidget()->isVisible());
    QVERIFY(!m_bar->stripButton()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(m_bar->width(), 280, 5000);
    QCOMPARE(m_bar->minimumWidth(), 280);
    QCOMPARE(m_rest->width(), 800 - 280);
}

void SideBarTest::closesToStrip()
{
    m_bar->onShowBtnClicked();
    QTRY_COMPARE_WITH_TIMEOUT(m_bar->width(), 280, 5000);
    QTest::mouseClick(m_bar->headerButton(), Qt::LeftButton);
    // The panel stays until the animation has finished.
    QVERIFY(m_bar->isOpen());
    QVERIFY(m_bar->contentWidget()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!m_bar->isOpen(), 5000);
    QTRY_COMPARE(m_bar->width(), SideBar::kStripWidth);
    QVERIFY(m_bar->stripButton()->isVisible());
    QVERIFY(!m_bar->headerButton()->isVisible());
    QVERIFY(!m_bar->contentWidget()->isVisible());
}

void SideBarTest::clickDuringOpeningIsIgnored()
{
    m_bar->onShowBtnClicked();
    QTest::qWait(100);
    m_bar->onShowBtnClicked();
    const int midway = m_bar->minimumWidth();
    QVERIFY2(midway > SideBar::kStripWidth && midway < 280, qPrintable(QString::number(midway)));
    QTRY_COMPARE_WITH_TIMEOUT(m_bar->minimumWidth(), 280, 5000);
    QVERIFY(m_bar->isOpen());
    QCOMPARE(m_bar->width(), 280);
}

void SideBarTest::clickDuringClosingIsIgnored()
{
    m_bar->onShowBtnClicked();
    QTRY_COMPARE_WITH_TIMEOUT(m_bar->width(), 280, 5000);
    m_bar->onHideBtnClicked();
    QTest::qWait(100);
    const int midway = m_bar->minimumWidth();
    QVERIFY2(midway > SideBar::kStripWidth && midway < 280, qPrintable(QString::number(midway)));
    m_bar->onHideBtnClicked();
    // A restarted close would jump back to the full width.
    QVERIFY(m_bar->minimumWidth() <= midway);
    QTRY_VERIFY_WITH_TIMEOUT(!m_bar->isOpen(), 5000);
    QTRY_COMPARE(m_bar->width(), SideBar::kStripWidth);
}

void SideBarTest::openingDuringClosingIsIgnored()
{
    m_bar->onShowBtnClicked();
    QTRY_COMPARE_WITH_TIMEOUT(m_bar->width(), 280, 5000);
    m_bar->onHideBtnClicked();
    QTest::qWait(50);
    m_bar->onShowBtnClicked();
    QTRY_VERIFY_WITH_TIMEOUT(!m_bar->isOpen(), 5000);
    QTest::qWait(2 * SideBar::kAnimationMs);
    QCOMPARE(m_bar->width(), SideBar::kStripWidth);
    QVERIFY(!m_bar->contentWidget()->isVisible());
    QVERIFY(m_bar->stripButton()->isVisible());
}

void SideBarTest::arrowSideChoosesImages()
{
    const QImage left = QPixmap(QStringLiteral(":/dark/arrow_left.png"))
                            .scaled(15, 15, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                            .toImage();
    const QImage right = QPixmap(QStringLiteral(":/dark/arrow_right.png"))
                             .scaled(15, 15, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                             .toImage();
    QVERIFY(!left.isNull());
    QVERIFY(left != right);
    const auto shown = [](CustomSideButton *b) {
        return b->iconLabel()->pixmap(Qt::ReturnByValue).toImage();
    };
    QCOMPARE(shown(m_bar->headerButton()), left);
    QCOMPARE(shown(m_bar->stripButton()), right);
    QCOMPARE(m_bar->headerButton()->iconLabel()->size(), QSize(15, 15));
    m_bar->setArrowSide(true);
    QCOMPARE(shown(m_bar->headerButton()), right);
    QCOMPARE(shown(m_bar->stripButton()), left);
    QVERIFY(m_bar->headerButton()->isHorizontal());
    QVERIFY(!m_bar->stripButton()->isHorizontal());
    QCOMPARE(m_bar->headerButton()->labelText(), QStringLiteral("设置"));
    QVERIFY(m_bar->stripButton()->textLabel()->isRotated());
    QVERIFY(!m_bar->headerButton()->textLabel()->isRotated());
}

void SideBarTest::sideButtonLayouts()
{
    CustomSideButton button;
    button.setIconPixmap(QPixmap(QStringLiteral(":/dark/arrow_right.png")));
    button.setText(QStringLiteral("设置"));
    button.setHorizontal(true);
    button.resize(200, 30);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    // In a row: icon, then the text right of it, both at the left end.
    QTRY_VERIFY(button.textLabel()->geometry().left() >= button.iconLabel()->geometry().right());
    QCOMPARE(button.iconLabel()->geometry().left(), 0);
    QVERIFY(button.textLabel()->geometry().right() < 100);

    button.setHorizontal(false);
    button.setRotated(true);
    button.setFixedSize(20, 200);
    QTRY_VERIFY(button.textLabel()->geometry().top() >= button.iconLabel()->geometry().bottom());
    QCOMPARE(button.iconLabel()->geometry().top(), 0);
    QVERIFY2(button.textLabel()->height() > button.textLabel()->width(),
             qPrintable(QStringLiteral("%1x%2 hint %3x%4")
                            .arg(button.textLabel()->width())
                            .arg(button.textLabel()->height())
                            .arg(button.textLabel()->sizeHint().width())
                            .arg(button.textLabel()->sizeHint().height())));
    // Re-laying out never piles up spacers.
    QCOMPARE(button.layout()->count(), 3);
    QVERIFY(button.isFlat());
    QVERIFY(!button.isCheckable());
}

void SideBarTest::rotatedLabelSizeHint()
{
    RotatedLabel plain;
    plain.setText(QStringLiteral("设置 settings"));
    RotatedLabel turned;
    turned.setText(plain.text());
    turned.setRotated(true);
    QVERIFY(plain.sizeHint().width() > plain.sizeHint().height());
    QCOMPARE(turned.sizeHint(), plain.sizeHint().transposed());
}

void SideBarTest::rotatedLabelDrawsTurnedText()
{
    RotatedLabel label;
    label.setStyleSheet(QStringLiteral("color: white; background: black;"));
    label.setAutoFillBackground(true);
    label.setText(QStringLiteral("设置设置"));
    label.setRotated(true);
    label.resize(label.sizeHint());
    const QImage image = label.grab().toImage();
    // The ink of a turned line is taller than wide.
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) > 128) {
                left = qMin(left, x);
                right = qMax(right, x);
                top = qMin(top, y);
                bottom = qMax(bottom, y);
            }
        }
    }
    QVERIFY(right >= left);
    QVERIFY2(bottom - top > 2 * (right - left),
             qPrintable(QStringLiteral("%1x%2").arg(right - left).arg(bottom - top)));
}

QTEST_MAIN(SideBarTest)
#include "tst_sidebar.moc"
