// The resource bundle: every image the style sheet or the window names is there,
// every bundled image is used, the images are real, and the style sheet parses and
// carries the system's own rules.

#include "quietoffscreen.h"
#include "resources/dataloggerresources.h"
#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// Paths the window and the side bar load by name.
const QStringList kNamedByWindow = {
    QStringLiteral(":/qss/styles.qss"),        QStringLiteral(":/dark/arrow_left.png"),
    QStringLiteral(":/dark/arrow_right.png"),  QStringLiteral(":/image/start.png"),
    QStringLiteral(":/image/stop.png"),        QStringLiteral(":/image/derive.png"),
    QStringLiteral(":/image/confChannel.png"), QStringLiteral(":/image/DataNetwork.png"),
};

QString readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QStringList styleSheetUrls(const QString &sheet)
{
    QStringList urls;
    const QRegularExpression url(QStringLiteral(R"(url\(\s*["']?([^"')]+)["']?\s*\))"));
    auto it = url.globalMatch(sheet);
    while (it.hasNext())
        urls.append(it.next().captured(1).trimmed());
    return urls;
}

QStringList bundledImages()
{
    QStringList images;
    for (const QString &root : {QStringLiteral(":/dark"), QStringLiteral(":/image")}) {
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            images.append(it.next());
    }
    images.sort();
    return images;
}

QStringList g_warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg && !quietoffscreen::isPlatformNoise(message))
        g_warnings.append(message);
}

} // namespace

class ResourcesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void namedPathsExist();
    void styleSheetUrlsExist();
    void everyBundledImageIsUsed();
    void bundledStyleSheetIsTheSource();
    void imagesArePaintedAndDistinct();
    void variantsExistForControls();
    void styleSheetAppliesWithoutComplaint();
    void systemRules();

private:
    QString m_sheet;
};

void ResourcesTest::initTestCase()
{
    silenceOffscreenSizeHints();
    QVERIFY(initDataloggerResources());
    QVERIFY(initDataloggerResources()); // a second registration is harmless
    m_sheet = readAll(QStringLiteral(":/qss/styles.qss"));
    QVERIFY(m_sheet.size() > 1000);
}

void ResourcesTest::namedPathsExist()
{
    for (const QString &path : kNamedByWindow)
        QVERIFY2(QFile::exists(path), qPrintable(path));
}

void ResourcesTest::styleSheetUrlsExist()
{
    const QStringList urls = styleSheetUrls(m_sheet);
    QVERIFY(urls.size() > 40);
    for (const QString &url : urls) {
        QVERIFY2(url.startsWith(QLatin1String(":/")), qPrintable(url));
        QVERIFY2(QFile::exists(url), qPrintable(url));
    }
}

void ResourcesTest::everyBundledImageIsUsed()
{
    QSet<QString> used;
    for (const QString &url : styleSheetUrls(m_sheet))
        used.insert(url);
    for (const QString &path : kNamedByWindow)
        used.insert(path);
    const QStringList images = bundledImages();
    QVERIFY(images.size() >= 47);
    for (const QString &image : images)
        QVERIFY2(used.contains(image), qPrintable(image + QStringLiteral(" is never used")));
}

void ResourcesTest::bundledStyleSheetIsTheSource()
{
    const QByteArray sourceDir = qgetenv("DATALOGGER_SOURCE_DIR");
    if (sourceDir.isEmpty())
        QSKIP("DATALOGGER_SOURCE_DIR is not set");
    const QString source = readAll(QString::fromLocal8Bit(sourceDir) +
                                   QStringLiteral("/src/resources/qss/styles.qss"));
    QVERIFY(!source.isEmpty());
    QCOMPARE(m_sheet, source);
}

void ResourcesTest::imagesArePaintedAndDistinct()
{
    QHash<QByteArray, QString> seen;
    for (const QString &path : bundledImages()) {
        QVERIFY2(path.endsWith(QLatin1String(".png")), qPrintable(path));
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QVERIFY2(image.width() >= 16 && image.width() <= 32, qPrintable(path));
        QCOMPARE(image.width(), image.height());
        QVERIFY2(image.hasAlphaChannel(), qPrintable(path));
        int ink = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ink += qAlpha(image.pixel(x, y)) > 128;
        QVERIFY2(ink >= 8, qPrintable(path));
        // No two images are the same picture under different names.
        const QImage normal = image.convertToFormat(QImage::Format_ARGB32);
        const QByteArray bytes(reinterpret_cast<const char *>(normal.constBits()),
                               int(normal.sizeInBytes()));
        QVERIFY2(!seen.contains(bytes),
                 qPrintable(path + QStringLiteral(" repeats ") + seen.value(bytes)));
        seen.insert(bytes, path);
    }
}

void ResourcesTest::variantsExistForControls()
{
    const QStringList bases = {QStringLiteral("arrow_up"),
                               QStringLiteral("arrow_down"),
                               QStringLiteral("arrow_left"),
                               QStringLiteral("arrow_right"),
                               QStringLiteral("checkbox_checked"),
                               QStringLiteral("checkbox_unchecked"),
                               QStringLiteral("checkbox_indeterminate"),
                               QStringLiteral("radio_checked"),
                               QStringLiteral("radio_unchecked")};
    for (const QString &base : bases) {
        for (const QString &variant : {QString(), QStringLiteral("_disabled"),
                                       QStringLiteral("_focus"), QStringLiteral("_pressed")}) {
            const QString path = QStringLiteral(":/dark/%1%2.png").arg(base, variant);
            QVERIFY2(QFile::exists(path), qPrintable(path));
        }
    }
}

void ResourcesTest::styleSheetAppliesWithoutComplaint()
{
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    qApp->setStyleSheet(m_sheet);

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *group = new QGroupBox(QStringLiteral("仪器速度设置"));
    auto *groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(new QRadioButton(QStringLiteral("快速")));
    groupLayout->addWidget(new QSpinBox);
    layout->addWidget(group);
    layout->addWidget(new QLineEdit(QStringLiteral("Trace")));
    auto *combo = new QComboBox;
    combo->addItems({QStringLiteral("逗号(,)"), QStringLiteral("分号(;)")});
    layout->addWidget(combo);
    auto *tabs = new QTabWidget;
    auto *tree = new QTreeWidget;
    auto *module = new QTreeWidgetItem(tree, {QStringLiteral("TRM6101")});
    module->setCheckState(0, Qt::PartiallyChecked);
    (new QTreeWidgetItem(module))->setCheckState(0, Qt::Checked);
    tree->expandAll();
    tabs->addTab(tree, QIcon(QStringLiteral(":/image/confChannel.png")),
                 QStringLiteral("配置通道"));
    auto *table = new QTableWidget(90, 6);
    tabs->addTab(table, QIcon(QStringLiteral(":/image/DataNetwork.png")),
                 QStringLiteral("图形设置"));
    layout->addWidget(tabs);
    auto *scroll = new QScrollArea;
    scroll->setWidget(new QLabel(QStringLiteral("设置")));
    layout->addWidget(scroll);
    layout->addWidget(new QToolButton);
    window.resize(500, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage shot = window.grab().toImage();
    tabs->setCurrentIndex(1);
    window.grab();

    qInstallMessageHandler(previous);
    qApp->setStyleSheet(QString());
    QVERIFY(!shot.isNull());
    QVERIFY2(g_warnings.isEmpty(), qPrintable(g_warnings.join(QLatin1Char('\n'))));
}

void ResourcesTest::systemRules()
{
    qApp->setStyleSheet(m_sheet);
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *setup = new QPushButton(QStringLiteral("当前外接设备未连接,连接外部设备"));
    setup->setObjectName(QStringLiteral("setupButton"));
    setup->setFlat(true);
    auto *image = new QPushButton(QStringLiteral("开始"));
    image->setObjectName(QStringLiteral("imageButton"));
    auto *plain = new QPushButton(QStringLiteral("浏览..."));
    layout->addWidget(setup);
    layout->addWidget(image);
    layout->addWidget(plain);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QImage setupShot = setup->grab().toImage();
    QCOMPARE(setupShot.pixelColor(setup->width() / 2, 3), QColor(23, 23, 23));
    QCOMPARE(setup->palette().color(QPalette::ButtonText), QColor(Qt::white));
    const QImage imageShot = image->grab().toImage();
    QCOMPARE(imageShot.pixelColor(image->width() / 2, 2), QColor(37, 37, 37));
    QCOMPARE(image->palette().color(QPalette::ButtonText), QColor(Qt::white));
    // Ordinary buttons keep the theme's own look.
    QVERIFY(plain->grab().toImage().pixelColor(plain->width() / 2, plain->height() / 2) !=
            QColor(23, 23, 23));
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(ResourcesTest)
#include "tst_resources.moc"
