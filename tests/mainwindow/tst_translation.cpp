// The window in both of its languages, against the simulated instruments: the Chinese source
// texts by default and for the C locale, English for an English locale with no Chinese text
// left anywhere in the window, its dialogs or its messages, and the CSV files unchanged.
#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>
#include <QTreeWidget>

#include "exportdialog.h"
#include "loggingcontroller.h"
#include "mainwidget.h"
#include "readdata.h"
#include "resources/dataloggerresources.h"
#include "resources/uitranslation.h"
#include "rig.h"
#include "simulatedinstruments.h"
#include "widgets/custommessagedialog.h"

namespace {
const QString serial = QStringLiteral("TRL42");

bool hasChinese(const QString &text)
{
    static const QRegularExpression han(QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}"
                                                       "\\x{ff00}-\\x{ffef}]"));
    return han.match(text).hasMatch();
}

void addText(QStringList &texts, const QString &where, const QString &text)
{
    if (!text.trimmed().isEmpty())
        texts << where + QStringLiteral(": ") + text;
}

void addHeader(QStringList &texts, const QString &where, QAbstractItemModel *model,
               Qt::Orientation orientation, int count)
{
    for (int i = 0; i < count; ++i)
        addText(texts, where, model->headerData(i, orientation).toString());
}

// Every text a person can read in widget and its children, shown or not: labels, buttons, group
// boxes, tabs, headers, pickers' entries, tool tips, titles and accessible names.
QStringList textsOf(QWidget *root)
{
    QStringList texts;
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *w : widgets) {
        const QString where = QString::fromLatin1(w->metaObject()->className());
        addText(texts, where + QStringLiteral(" title"), w->windowTitle());
        addText(texts, where + QStringLiteral(" tip"), w->toolTip());
        addText(texts, where + QStringLiteral(" name"), w->accessibleName());
        addText(texts, where + QStringLiteral(" description"), w->accessibleDescription());
        if (auto *label = qobject_cast<QLabel *>(w))
            addText(texts, where, label->text());
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            addText(texts, where, button->text());
        if (auto *box = qobject_cast<QGroupBox *>(w))
            addText(texts, where, box->title());
        if (auto *edit = qobject_cast<QLineEdit *>(w))
            addText(texts, where, edit->placeholderText());
        if (auto *combo = qobject_cast<QComboBox *>(w))
            for (int i = 0; i < combo->count(); ++i)
                addText(texts, where, combo->itemText(i));
        if (auto *tabs = qobject_cast<QTabWidget *>(w))
            for (int i = 0; i < tabs->count(); ++i)
                addText(texts, where, tabs->tabText(i));
        if (auto *table = qobject_cast<QTableWidget *>(w))
            addHeader(texts, where, table->model(), Qt::Horizontal, table->columnCount());
        if (auto *tree = qobject_cast<QTreeWidget *>(w)) {
            addHeader(texts, where, tree->model(), Qt::Horizontal, tree->columnCount());
            for (QTreeWidgetItemIterator it(tree); *it; ++it)
                for (int c = 0; c < tree->columnCount(); ++c) {
                    addText(texts, where, (*it)->text(c));
                    addText(texts, where, (*it)->data(c, Qt::AccessibleTextRole).toString());
                }
        }
    }
    return texts;
}

QStringList chineseOnly(const QStringList &texts)
{
    QStringList found;
    for (const QString &text : texts)
        if (hasChinese(text))
            found << text;
    return found;
}
} // namespace

class TestTranslation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void languageOfTheLocale_data();
    void languageOfTheLocale();
    void windowInEachLanguage_data();
    void windowInEachLanguage();

private:
    // The window on a linked switch main frame, its export dialog and a message the controller
    // gave: every text they carry.
    QStringList walkWindow();
    // Runs one counted scan of channel 101 and exports it; the first lines of the CSV part.
    QStringList exportOneScan(const QString &folder);

    SimulatedInstruments sim;
    QTemporaryDir dir;
    std::unique_ptr<Rig> rig;
    std::unique_ptr<LoggingController> controller;
    std::unique_ptr<MainWidget> window;
    std::unique_ptr<QTranslator> translator;
};

void TestTranslation::initTestCase()
{
    initDataloggerResources();
    QVERIFY(dir.isValid());
    QVERIFY(sim.start(
        {QStringLiteral("--slots"), QStringLiteral("1,3"), QStringLiteral("--serial"), serial}));
    QVERIFY(sim.makeOnlySearchResult(dir.path()));
}

void TestTranslation::cleanup()
{
    window.reset();
    controller.reset();
    rig.reset();
    if (translator)
        QCoreApplication::removeTranslator(translator.get());
    translator.reset();
}

void TestTranslation::cleanupTestCase()
{
    QDir(QCoreApplication::applicationDirPath() + QLatin1Char('/') + serial +
         QStringLiteral("_Data"))
        .removeRecursively();
    QCOMPARE(SimulatedInstruments::uncleanExits(), 0);
}

void TestTranslation::languageOfTheLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("english");
    QTest::newRow("C") << "C" << false;
    QTest::newRow("POSIX") << "POSIX" << false;
    QTest::newRow("zh_CN") << "zh_CN" << false;
    QTest::newRow("zh_TW") << "zh_TW" << false;
    QTest::newRow("en_US") << "en_US" << true;
    QTest::newRow("en_GB") << "en_GB" << true;
    QTest::newRow("de_DE keeps the source") << "de_DE" << false;
}

void TestTranslation::languageOfTheLocale()
{
    QFETCH(QString, locale);
    QFETCH(bool, english);
    QCOMPARE(wantsEnglish(QLocale(locale)), english);
    QCOMPARE(loadUiTranslation(QLocale(locale)) != nullptr, english);
}

QStringList TestTranslation::walkWindow()
{
    rig = std::make_unique<Rig>(sim.measureResource());
    controller = std::make_unique<LoggingController>(*rig);
    controller->scanThread()->setSleeper([](int ms) { QThread::msleep(ms / 10); });
    window = std::make_unique<MainWidget>(*controller);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(1000, 600);
    window->show();
    const QString connectText = QCoreApplication::translate(
        "MainWidget", "当前外接设备未连接,连接外部设备");
    QAbstractButton *connect = nullptr;
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
        if (button->text() == connectText)
            connect = button;
    if (!connect)
        return {QStringLiteral("no connect button")};
    QTest::mouseClick(connect, Qt::LeftButton);
    if (!controller->switchConnected())
        return {QStringLiteral("switch main frame not linked")};

    QStringList texts = textsOf(window.get());
    // A refusal with its reason, as the window shows it: no channel is ticked.
    controller->setChannels({});
    controller->startOrStop();
    texts << textsOf(CustomMessageDialog::sharedMessageDialog());
    CustomMessageDialog::sharedMessageDialog()->hide();
    ExportDialog exportDialog;
    texts << textsOf(&exportDialog);
    addText(texts, QStringLiteral("running text"), controller->runningText());
    return texts;
}

QStringList TestTranslation::exportOneScan(const QString &folder)
{
    controller->setChannels({101});
    controller->setStopMode(LoggingController::StopMode::Count);
    controller->setScanCount(1);
    controller->startOrStop();
    QElapsedTimer waited;
    waited.start();
    while ((controller->isLogging() || controller->scanThread()->isRunning()) &&
           waited.elapsed() < 30000)
        QTest::qWait(20);
    if (controller->isLogging())
        return {QStringLiteral("the scan did not end")};
    QSignalSpy finished(controller.get(), &LoggingController::exportFinished);
    if (controller->exportRecording(folder, QStringLiteral("scan"), QStringLiteral(",")) !=
        LoggingController::ExportStart::Started)
        return {QStringLiteral("export not started")};
    if (!finished.wait(30000))
        return {QStringLiteral("export did not finish")};
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files);
    QFile file(QDir(folder).filePath(files.value(0)));
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("no part file")};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')).mid(0, 6);
}

void TestTranslation::windowInEachLanguage_data()
{
    QTest::addColumn<QString>("locale");
    // English first: the shared message box is made once per process, in the language of
    // that moment, as in the logger (which never changes its language while it runs).
    QTest::newRow("English") << "en_US";
    QTest::newRow("C keeps Chinese") << "C";
}

void TestTranslation::windowInEachLanguage()
{
    QFETCH(QString, locale);
    translator = loadUiTranslation(QLocale(locale));
    if (translator)
        QCoreApplication::installTranslator(translator.get());

    const QStringList texts = walkWindow();
    QVERIFY2(texts.size() > 60, qPrintable(texts.join(QLatin1Char('\n'))));
    const QStringList chinese = chineseOnly(texts);
    if (translator) {
        QVERIFY2(chinese.isEmpty(), qPrintable(QStringLiteral("left untranslated:\n") +
                                               chinese.join(QLatin1Char('\n'))));
        QVERIFY(texts.contains(QStringLiteral("QLabel: No channel is selected for scanning")));
    } else {
        // The walk sees the texts a translation would have to cover.
        QVERIFY2(chinese.size() > 40, qPrintable(texts.join(QLatin1Char('\n'))));
        QVERIFY(texts.contains(QStringLiteral("QLabel: 扫描通道未选择")));
    }

    // What the files say never follows the window's language.
    QTemporaryDir out;
    const QStringList lines = exportOneScan(out.path());
    QVERIFY2(lines.size() == 6, qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY2(lines.at(0).startsWith(QStringLiteral("地址,")), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(5).startsWith(QStringLiteral("编号,时间,")), qPrintable(lines.at(5)));
}

QTEST_MAIN(TestTranslation)
#include "tst_translation.moc"
