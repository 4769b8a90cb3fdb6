// Image button arrangements, and the combo box with its spaced, box-wide list.

#include "quietoffscreen.h"
#include "resources/dataloggerresources.h"
#include "widgets/customcombobox.h"
#include "widgets/customitemdelegate.h"
#include "widgets/imagebutton.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QListView>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QtTest>

namespace {

QIcon solidIcon(const QColor &colour, int side = 16)
{
    QPixmap pixmap(side, side);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

// Contents rectangle and text extent the way the button measures them.
struct Measure
{
    QRect contents;
    int tw;
    int th;
};

Measure measure(const ImageButton &button)
{
    QStyleOptionButton option;
    option.initFrom(&button);
    option.features = button.isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
    const QRect contents =
        button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
    const QFontMetrics fm(button.font());
    return {contents,
            fm.boundingRect(QRect(), Qt::AlignCenter | Qt::TextShowMnemonic, button.text()).width(),
            fm.height()};
}

// Bounding box of the pixels of one exact colour.
QRect inkOf(const QImage &image, const QColor &colour)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour)
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class ButtonsListsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void constructors();
    void arrangements_data();
    void arrangements();
    void leftWithoutIconCentresText();
    void paintsIconsWhereComputed();
    void setterChangesWhatIsPainted();

    void spacingEmitsOnlyOnChange();
    void itemsGrowWithSpacing();
    void listAsWideAsBox();
    void delegateInstalledOnList();
    void addItemsAppends();
};

void ButtonsListsTest::initTestCase()
{
    silenceOffscreenSizeHints();
    QVERIFY(initDataloggerResources());
}

void ButtonsListsTest::constructors()
{
    ImageButton plain;
    QCOMPARE(plain.iconPosition(), int(ImageButton::Left));
    QCOMPARE(plain.iconSize(), QSize(16, 16));
    QCOMPARE(plain.imageSpacing(), 0);
    ImageButton texted(QStringLiteral("导出"));
    QCOMPARE(texted.text(), QStringLiteral("导出"));
    QCOMPARE(texted.iconPosition(), int(ImageButton::Left));
    ImageButton start(QIcon(QStringLiteral(":/image/start.png")), QStringLiteral("开始"), QIcon());
    QCOMPARE(start.iconPosition(), int(ImageButton::LeftAndRight));
    QVERIFY(!start.icon().isNull());
    QVERIFY(start.rightIcon().isNull());
    QCOMPARE(QMetaEnum::fromType<ImageButton::IconPosition>().valueToKey(4), "LeftAndRight");
}

void ButtonsListsTest::arrangements_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("withIcon");
    QTest::addColumn<bool>("withRight");
    QTest::addColumn<int>("spacing");

    for (int spacing : {0, 4, 9}) {
        const QByteArray s = "s" + QByteArray::number(spacing);
        QTest::newRow("left " + s) << int(ImageButton::Left) << true << false << spacing;
        QTest::newRow("right " + s) << int(ImageButton::Right) << true << true << spacing;
        QTest::newRow("top " + s) << int(ImageButton::Top) << true << false << spacing;
        QTest::newRow("bottom " + s) << int(ImageButton::Bottom) << true << false << spacing;
        QTest::newRow("both " + s) << int(ImageButton::LeftAndRight) << true << true << spacing;
        QTest::newRow("both, no right " + s)
            << int(ImageButton::LeftAndRight) << true << false << spacing;
    }
}

void ButtonsListsTest::arrangements()
{
    QFETCH(int, position);
    QFETCH(bool, withIcon);
    QFETCH(bool, withRight);
    QFETCH(int, spacing);

    ImageButton button(QStringLiteral("开始"));
    if (withIcon)
        button.setIcon(solidIcon(Qt::red));
    if (withRight)
        button.setRightIcon(solidIcon(Qt::blue));
    button.setIconSize(20, 14);
    button.setImageSpacing(spacing);
    button.setIconPosition(position);
    button.resize(160, 80);
    const Measure m = measure(button);
    const int iw = 20, ih = 14, s = spacing;
    const ImageButton::Geometry g = button.contentGeometry();

    int bw = 0, bh = 0;
    switch (position) {
    case ImageButton::Left:
        bw = iw + m.tw + s;
        bh = qMax(ih, m.th);
        break;
    case ImageButton::Right:
        bw = iw + m.tw + s + s;
        bh = qMax(ih, m.th);
        break;
    case ImageButton::Top:
    case ImageButton::Bottom:
        bw = qMax(m.tw, iw);
        bh = ih + m.th + s;
        break;
    case ImageButton::LeftAndRight:
        bw = m.tw + iw + s + (withRight ? s + iw : 0);
        bh = qMax(m.th, ih);
        break;
    }
    const int x0 = m.contents.left() + (m.contents.width() - bw) / 2;
    const int y0 = m.contents.top() + (m.contents.height() - bh) / 2;
    QCOMPARE(g.block, QRect(x0, y0, bw, bh));

    switch (position) {
    case ImageButton::Left:
        QCOMPARE(g.icon, QRect(x0, y0 + (bh - ih) / 2, iw, ih));
        QCOMPARE(g.text, QRect(g.icon.right() + s, y0 + (bh - m.th) / 2, m.tw, m.th));
        QVERIFY(g.rightIcon.isNull());
        break;
    case ImageButton::Right:
        QCOMPARE(g.text, QRect(x0, y0 + (bh - m.th) / 2, m.tw, m.th));
        QCOMPARE(g.rightIcon, QRect(g.text.right() + s, y0 + (bh - ih) / 2, iw, ih));
        QVERIFY(g.icon.isNull());
        break;
    case ImageButton::Top:
        QCOMPARE(g.icon, QRect(x0 + (bw - iw) / 2, y0, iw, ih));
        QCOMPARE(g.text, QRect(x0 + (bw - m.tw) / 2, g.icon.bottom() + s, m.tw, m.th));
        break;
    case ImageButton::Bottom:
        QCOMPARE(g.text, QRect(x0 + (bw - m.tw) / 2, y0, m.tw, m.th));
        QCOMPARE(g.icon, QRect(x0 + (bw - iw) / 2, g.text.bottom() + s, iw, ih));
        break;
    case ImageButton::LeftAndRight:
        QCOMPARE(g.icon, QRect(x0, y0 + (bh - ih) / 2, iw, ih));
        QCOMPARE(g.text, QRect(g.icon.right() + s, y0 + (bh - m.th) / 2, m.tw, m.th));
        if (withRight)
            QCOMPARE(g.rightIcon, QRect(g.text.right() + s, y0 + (bh - ih) / 2, iw, ih));
        else
            QVERIFY(g.rightIcon.isNull());
        break;
    }
}

void ButtonsListsTest::leftWithoutIconCentresText()
{
    ImageButton button(QStringLiteral("导出"));
    button.resize(120, 40);
    const ImageButton::Geometry g = button.contentGeometry();
    QVERIFY(g.icon.isNull());
    QCOMPARE(g.text, g.block);
    const Measure m = measure(button);
    QCOMPARE(g.block.center().x(),
             QRect(m.contents.left() + (m.contents.width() - 16 - m.tw) / 2, 0, 16 + m.tw, 1)
                 .center()
                 .x());

    // With a 16 x 16 icon and spacing 4 the text starts 4 past the icon's last column.
    button.setIcon(solidIcon(Qt::red));
    button.setImageSpacing(4);
    const ImageButton::Geometry withIcon = button.contentGeometry();
    QCOMPARE(withIcon.icon.size(), QSize(16, 16));
    QCOMPARE(withIcon.text.left(), withIcon.icon.right() + 4);

    // Unknown arrangements show the text alone.
    button.setIconPosition(17);
    const ImageButton::Geometry odd = button.contentGeometry();
    QVERIFY(odd.icon.isNull());
    QCOMPARE(odd.text, odd.block);
}

void ButtonsListsTest::paintsIconsWhereComputed()
{
    ImageButton button(solidIcon(QColor(255, 0, 0)), QStringLiteral("开始"),
                       solidIcon(QColor(0, 0, 255)));
    button.setIconSize(16, 16);
    button.setImageSpacing(6);
    button.setStyleSheet(QStringLiteral("color: rgb(0, 255, 0); background: black;"));
    button.resize(160, 40);
    const ImageButton::Geometry g = button.contentGeometry();
    const QImage image = button.grab().toImage();
    QCOMPARE(inkOf(image, QColor(255, 0, 0)), g.icon);
    QCOMPARE(inkOf(image, QColor(0, 0, 255)), g.rightIcon);
    // Text ink lies inside the text rectangle, between the icons.
    QImage text = image;
    QRect ink;
    for (int y = 0; y < text.height(); ++y)
        for (int x = 0; x < text.width(); ++x) {
            const QColor c = text.pixelColor(x, y);
            if (c.green() > 100 && c.red() < 60 && c.blue() < 60)
                ink |= QRect(x, y, 1, 1);
        }
    QVERIFY(!ink.isNull());
    QVERIFY2(g.text.adjusted(-1, -1, 1, 1).contains(ink),
             qPrintable(QStringLiteral("ink %1,%2 %3x%4")
                            .arg(ink.x())
                            .arg(ink.y())
                            .arg(ink.width())
                            .arg(ink.height())));
    QVERIFY(ink.left() > g.icon.right());
    QVERIFY(ink.right() < g.rightIcon.left());
}

void ButtonsListsTest::setterChangesWhatIsPainted()
{
    // The window swaps icon and text between 开始 and 停止.
    ImageButton button(QIcon(QStringLiteral(":/image/start.png")), QStringLiteral("开始"), QIcon());
    button.setIconSize(60, 40);
    button.resize(100, 40);
    const QImage before = button.grab().toImage();
    button.setIcon(QIcon(QStringLiteral(":/image/stop.png")));
    button.setText(QStringLiteral("停止"));
    QCOMPARE(button.text(), QStringLiteral("停止"));
    QCOMPARE(button.QPushButton::text(), QString());
    const QImage after = button.grab().toImage();
    QVERIFY(before != after);
}

void ButtonsListsTest::spacingEmitsOnlyOnChange()
{
    CustomComboBox box;
    QSignalSpy changed(&box, &CustomComboBox::itemSpacingChanged);
    QCOMPARE(box.itemSpacing(), 4);
    box.setItemSpacing(4);
    QCOMPARE(changed.count(), 0);
    box.setItemSpacing(8);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 8);
    box.setItemSpacing(8);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(box.delegate()->delegateSpacing(), 8);
}

void ButtonsListsTest::itemsGrowWithSpacing()
{
    CustomComboBox box;
    box.addItems(
        {QStringLiteral("逗号(,)"), QStringLiteral("分号(;)"), QStringLiteral("制表符(\\t)")});
    box.resize(200, 28);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.showPopup();
    QAbstractItemView *list = box.view();
    QTRY_VERIFY(list->isVisible());
    const int before = list->visualRect(box.model()->index(1, 0)).height();
    QVERIFY(before > 4);
    box.setItemSpacing(8);
    QTRY_COMPARE(list->visualRect(box.model()->index(1, 0)).height(), before + 4);
    box.setItemSpacing(12);
    QTRY_COMPARE(list->visualRect(box.model()->index(1, 0)).height(), before + 8);
    box.hidePopup();
}

void ButtonsListsTest::listAsWideAsBox()
{
    CustomComboBox box;
    box.addItems(
        {QStringLiteral("一个相当长的分隔符选项文本，比框还宽"), QStringLiteral("分号(;)")});
    box.resize(150, 28);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.view()->minimumWidth(), 150);
    QCOMPARE(box.view()->maximumWidth(), 150);
    box.showPopup();
    QTRY_VERIFY(box.view()->isVisible());
    QCOMPARE(box.view()->width(), 150);
    box.hidePopup();

    box.resize(320, 28);
    QCOMPARE(box.view()->minimumWidth(), 320);
    QCOMPARE(box.view()->maximumWidth(), 320);
    box.showPopup();
    QTRY_VERIFY(box.view()->isVisible());
    QCOMPARE(box.view()->width(), 320);
    box.hidePopup();
}

void ButtonsListsTest::delegateInstalledOnList()
{
    CustomComboBox box;
    QVERIFY(qobject_cast<QListView *>(box.view()));
    QCOMPARE(box.view()->itemDelegate(), box.delegate());
    QCOMPARE(box.itemDelegate(), box.delegate());
    auto *list = static_cast<QListView *>(box.view());
    QCOMPARE(list->spacing(), 0);
    QVERIFY(list->uniformItemSizes());
}

void ButtonsListsTest::addItemsAppends()
{
    CustomComboBox box;
    box.addItem(QStringLiteral("逗号(,)"), QStringLiteral(","));
    box.addItems({QStringLiteral("分号(;)"), QStringLiteral("制表符(\\t)")});
    QCOMPARE(box.count(), 3);
    QCOMPARE(box.itemText(0), QStringLiteral("逗号(,)"));
    QCOMPARE(box.itemText(2), QStringLiteral("制表符(\\t)"));
    QCOMPARE(box.currentIndex(), 0);
}

QTEST_MAIN(ButtonsListsTest)
#include "tst_buttonslists.moc"
