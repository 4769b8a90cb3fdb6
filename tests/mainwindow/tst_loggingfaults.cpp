// The faults a long unattended run meets, through the window against the simulated
// instruments. Each case runs in a process of its own, started from a copy of this program in
// a temporary folder: the store, the sessions and the scan thread are made once per process,
// and the folder beside the program is where the data set lives, so every case starts clean
// and a restart is a real new process on the data set the previous one left.
#include <QAccessible>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <sys/resource.h>

#include "cdevicevisa.h"
#include "csvexportfromdbthread.h"
#include "curvedatadb.h"
#include "curveseriesdata.h"
#include "exportdialog.h"
#include "loggingcontroller.h"
#include "mainwidget.h"
#include "readdata.h"
#include "readingstable.h"
#include "resources/dataloggerresources.h"
#include "rig.h"
#include "settingspanel.h"
#include "simulatedinstruments.h"
#include "widgets/customdialog.h"
#include "widgets/custommessagedialog.h"
#include "widgets/imagebutton.h"
#include "widgets/messagehistory.h"
#include "xvfbserver.h"

namespace {
const char childVariable[] = "LOGGING_FAULTS_CASE";

bool inChild()
{
    return qEnvironmentVariableIsSet(childVariable);
}

// Samples per curve name over every batch table of every day file in dir.
QMap<QString, int> storedRows(const QString &dir)
{
    QMap<QString, int> rows;
    const QString connection = QStringLiteral("stored_rows_check");
    for (const QFileInfo &day : QDir(dir).entryInfoList({QStringLiteral("*.db")}, QDir::Files)) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(day.filePath());
            if (db.open()) {
                QMap<int, QString> names;
                QSqlQuery query(db);
                query.exec(QStringLiteral("SELECT curve_id, name FROM curve_info"));
                while (query.next())
                    names.insert(query.value(0).toInt(), query.value(1).toString());
                QStringList tables;
                query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' "
                                          "AND name LIKE 'curve\\_%\\_batch\\_%' ESCAPE '\\'"));
                while (query.next())
                    tables << query.value(0).toString();
                for (const QString &table : tables) {
                    query.exec(QStringLiteral("SELECT curve_id, count(*) FROM \"%1\" GROUP BY "
                                              "curve_id")
                                   .arg(table));
                    while (query.next())
                        rows[names.value(query.value(0).toInt())] += query.value(1).toInt();
                }
            }
        }
        QSqlDatabase::removeDatabase(connection);
    }
    return rows;
}

int total(const QMap<QString, int> &rows)
{
    int sum = 0;
    for (int n : rows)
        sum += n;
    return sum;
}

// Readings the simulated measuring instrument sent in answer to "FETC?".
int readingsSent(const QStringList &transcript)
{
    int sent = 0;
    for (int i = 1; i < transcript.size(); ++i)
        if (transcript.at(i).startsWith(QLatin1String("measure -> ")) &&
            transcript.at(i - 1) == QLatin1String("measure <- FETC?"))
            ++sent;
    return sent;
}
} // namespace

class TestMainWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void startWithoutAUsableStoreIsRefused();
    void fullDiskEndsTheRunAndKeepsWhatWasStored();
    void lostMeasuringInstrumentEndsTheRunAndSaysSo();
    void noStartWhileAnExportRuns();
    void everyFetchedReadingIsStoredBeforeTheEnd();
    void accessibilityClientWalksWhileTicking();
    void lastRecordingSurvivesARestart_data();
    void lastRecordingSurvivesARestart();

    // Steps that run only in a child process started by lastRecordingSurvivesARestart.
    void recordAndEnd();
    void exportAfterRestart();

private:
    // In the parent: runs testCase in a fresh copy of this program; true when it passed.
    bool runChild(const QString &testCase, const QStringList &environment = {},
                  const QByteArray &killAtLine = QByteArray(), const QStringList &wrapper = {});
    void startSimulator();
    MainWidget *makeWindow();
    void closeLogger();
    void connectSwitch();
    void tick(int channel);
    bool waitIdle(int timeoutMs = 60000);
    void startCountedRun(int scans);
    QString messageText() const;
    // Simulator, window, frame connected and the channels ticked.
    void openWindowWithChannels(std::initializer_list<int> channels);
    QString dataSetDir() const;
    bool exportTo(const QString &folder, QStringList *lines);

    // Parent side
    QTemporaryDir caseDir;
    QString programCopy;
    // Child side
    SimulatedInstruments sim;
    QTemporaryDir visaRoots;
    std::unique_ptr<Rig> rig;
    std::unique_ptr<LoggingController> controller;
    MainWidget *window = nullptr;
};

void TestMainWidget::initTestCase()
{
    if (!inChild()) {
        // Every case runs in its own copy of this program, in a folder of its own.
        QVERIFY(caseDir.isValid());
        return;
    }
    initDataloggerResources();
}

void TestMainWidget::cleanup()
{
    if (window) {
        if (controller->isLogging()) {
            window->recvStartButtonSlot();
            waitIdle();
        }
    }
    closeLogger();
}

// What main does at the end: the window goes, then the controller, which stores what the
// scan thread fetched.
void TestMainWidget::closeLogger()
{
    delete window;
    window = nullptr;
    controller.reset();
}

bool TestMainWidget::runChild(const QString &testCase, const QStringList &environment,
                              const QByteArray &killAtLine, const QStringList &wrapper)
{
    if (programCopy.isEmpty()) {
        programCopy =
            caseDir.filePath(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
        if (!QFile::copy(QCoreApplication::applicationFilePath(), programCopy))
            return false;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(childVariable), testCase);
    // The copy is elsewhere: the simulator is found where this program's build put it.
    if (!env.contains(QStringLiteral("DATALOGGER_BIN_DIR")))
        env.insert(QStringLiteral("DATALOGGER_BIN_DIR"),
                   QCoreApplication::applicationDirPath() + QStringLiteral("/../bin"));
    for (const QString &setting : environment)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    if (wrapper.isEmpty())
        child.start(programCopy, {testCase});
    else
        child.start(wrapper.first(), wrapper.mid(1) + QStringList{programCopy, testCase});
    if (!child.waitForStarted(10000))
        return false;
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    bool killed = false;
    while (child.state() != QProcess::NotRunning && timer.elapsed() < 240000) {
        child.waitForReadyRead(100);
        output += child.readAll();
        if (!killAtLine.isEmpty() && output.contains(killAtLine)) {
            // A power cut or a crash: nothing of the logger runs after this.
            ::kill(pid_t(child.processId()), SIGKILL);
            child.waitForFinished(10000);
            killed = true;
            break;
        }
    }
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished();
    }
    output += child.readAll();
    const bool passed =
        killed || (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0);
    if (!passed)
        qWarning().noquote() << "case" << testCase << "failed:\n" << output.right(8000);
    return passed;
}

void TestMainWidget::startSimulator()
{
    QVERIFY(sim.start({QStringLiteral("--slots"), QStringLiteral("1,3"), QStringLiteral("--serial"),
                       QStringLiteral("LF7")}));
    QVERIFY(sim.makeOnlySearchResult(visaRoots.path()));
    rig = std::make_unique<Rig>(sim.measureResource());
}

void TestMainWidget::openWindowWithChannels(std::initializer_list<int> channels)
{
    startSimulator();
    makeWindow();
    connectSwitch();
    for (int channel : channels)
        tick(channel);
}

MainWidget *TestMainWidget::makeWindow()
{
    if (!rig)
        rig = std::make_unique<Rig>();
    controller = std::make_unique<LoggingController>(*rig);
    controller->scanThread()->setSleeper([](int ms) { QThread::msleep(ms / 10); });
    window = new MainWidget(*controller);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(1000, 600);
    window->show();
    return window;
}

void TestMainWidget::connectSwitch()
{
    QTest::mouseClick(window->setupButton, Qt::LeftButton);
    QVERIFY(controller->switchConnected());
}

void TestMainWidget::tick(int channel)
{
    for (int m = 0; m < window->channelTree->topLevelItemCount(); ++m) {
        QTreeWidgetItem *module = window->channelTree->topLevelItem(m);
        for (int c = 0; c < module->childCount(); ++c) {
            auto *label =
                qobject_cast<QLabel *>(window->channelTree->itemWidget(module->child(c), 1));
            if (label && label->text().toInt() == channel) {
                module->child(c)->setCheckState(0, Qt::Checked);
                return;
            }
        }
    }
    QFAIL("no such channel");
}

bool TestMainWidget::waitIdle(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while ((controller->isLogging() || controller->scanThread()->isRunning()) &&
           timer.elapsed() < timeoutMs)
        QTest::qWait(20);
    QTest::qWait(50);
    return !controller->isLogging() && !controller->scanThread()->isRunning();
}

void TestMainWidget::startCountedRun(int scans)
{
    window->settings->scanCountRadio->setChecked(true);
    window->settings->scanCountSpin->setValue(scans);
    QTest::mouseClick(window->startButton, Qt::LeftButton);
}

QString TestMainWidget::messageText() const
{
    QStringList texts;
    for (QLabel *label : CustomMessageDialog::sharedMessageDialog()->findChildren<QLabel *>())
        texts << label->text();
    return texts.join(QLatin1Char('|'));
}

QString TestMainWidget::dataSetDir() const
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("LF7_Data"));
}

// Exports through the dialog into folder; the lines of the one CSV file written.
bool TestMainWidget::exportTo(const QString &folder, QStringList *lines)
{
    QTimer::singleShot(200, this, [this, folder] {
        window->exportDialog->exportPathLabel->setText(folder);
        for (QPushButton *button : window->exportDialog->findChildren<QPushButton *>())
            if (button->text() == QStringLiteral("  导出到文件  "))
                QTest::mouseClick(button, Qt::LeftButton);
    });
    QSignalSpy finished(controller.get(), &LoggingController::exportFinished);
    QTest::mouseClick(window->exportButton, Qt::LeftButton);
    if (finished.isEmpty())
        finished.wait(30000);
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files);
    if (finished.isEmpty() || files.size() != 1)
        return false;
    QFile csv(QDir(folder).filePath(files.first()));
    if (!csv.open(QIODevice::ReadOnly))
        return false;
    *lines = QString::fromUtf8(csv.readAll().mid(3)).split(QLatin1Char('\n'));
    return true;
}

// A plain file where the data set should be (a read-only folder, a full disk or a name too
// long fail the same way): the start is refused, naming the folder and the reason, and
// nothing pretends to log. Once the obstacle is gone, a start works.
void TestMainWidget::startWithoutAUsableStoreIsRefused()
{
    if (!inChild()) {
        QVERIFY(runChild(QString::fromLatin1(QTest::currentTestFunction())));
        return;
    }
    startSimulator();
    QFile blocker(dataSetDir());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    makeWindow();
    connectSwitch();
    tick(101);
    startCountedRun(2);
    QVERIFY(waitIdle());
    QTRY_VERIFY(messageText().contains(QStringLiteral("无法创建数据存储")));
    QVERIFY2(messageText().contains(QDir::toNativeSeparators(dataSetDir())) &&
                 messageText().contains(QStringLiteral("不是文件夹")),
             qPrintable(messageText()));
    QCOMPARE(window->startButton->text(), QStringLiteral("开始"));
    QVERIFY(window->exportButton->isEnabled());
    QCOMPARE(window->readingsTable->item(0, 1)->text(), QString());
    QCOMPARE(readingsSent(sim.transcript()), 0);

    QVERIFY(QFile::remove(dataSetDir()));
    startCountedRun(2);
    QVERIFY(waitIdle());
    QCOMPARE(storedRows(dataSetDir()).value(QStringLiteral("101")), 2);
}

// The disk fills up in the middle of a run (a file-size limit stands in for it): the run ends
// with a message, what was stored stays, and the table never shows what was not stored.
void TestMainWidget::fullDiskEndsTheRunAndKeepsWhatWasStored()
{
    if (!inChild()) {
        QVERIFY(runChild(QString::fromLatin1(QTest::currentTestFunction())));
        return;
    }
    openWindowWithChannels({101, 102});
    QTest::mouseClick(window->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        controller->curves().value(102) && controller->curves().value(102)->count() >= 2, 20000);

    qint64 largest = 0;
    for (const QFileInfo &file : QDir(dataSetDir()).entryInfoList(QDir::Files))
        largest = qMax(largest, file.size());
    struct rlimit before;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = before;
    limit.rlim_cur = rlim_t(largest + 8192);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool ended = waitIdle(60000);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &before), 0);
    QVERIFY(ended);

    QTRY_VERIFY(messageText().contains(QStringLiteral("数据存储失败")));
    QVERIFY(window->runningLabel->isVisible());
    QVERIFY2(window->runningLabel->text().contains(QStringLiteral("记录已停止")),
             qPrintable(window->runningLabel->text()));
    const QMap<QString, int> rows = storedRows(dataSetDir());
    for (int channel : {101, 102}) {
        const auto curve = controller->curves().value(channel);
        QCOMPARE(rows.value(QString::number(channel)), curve->count());
        QVERIFY(curve->count() >= 2);
    }
    for (int row = 0; row < 2; ++row)
        for (int column : {1, 3, 4, 5})
            QVERIFY2(
                !window->readingsTable->item(row, column)->text().contains(QStringLiteral("e+308")),
                qPrintable(window->readingsTable->item(row, column)->text()));
}

// A measuring instrument gone for good (connection dropped, every reconnect refused): the run
// ends, the window says which instrument and since when, and the readings stay exportable.
void TestMainWidget::lostMeasuringInstrumentEndsTheRunAndSaysSo()
{
    if (!inChild()) {
        QVERIFY(runChild(QString::fromLatin1(QTest::currentTestFunction())));
        return;
    }
    openWindowWithChannels({101});
    QTest::mouseClick(window->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        controller->curves().value(101) && controller->curves().value(101)->count() >= 2, 20000);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(sim.control(QStringLiteral("fault measure refuse 120")));
    QVERIFY(sim.control(QStringLiteral("fault measure drop")));
    QVERIFY(waitIdle(60000));
    const QString notice = window->runningLabel->text();
    QVERIFY(window->runningLabel->isVisible());
    QVERIFY2(notice.startsWith(QStringLiteral("测量仪器自 ")) &&
                 notice.endsWith(QStringLiteral(" 起无响应，记录已停止")),
             qPrintable(notice));
    const QDateTime since = QDateTime::fromString(notice.mid(6, 19), "yyyy-MM-dd hh:mm:ss");
    QVERIFY2(since.isValid() && since >= before.addSecs(-1), qPrintable(notice));
    QVERIFY(messageText().contains(notice));
    QCOMPARE(window->startButton->text(), QStringLiteral("开始"));
    // The error stays on screen until dismissed, and in the history with its time; the
    // channel page names the instrument until it answers again.
    QVERIFY(CustomMessageDialog::sharedMessageDialog()->isVisible());
    QVERIFY(!CustomMessageDialog::sharedMessageDialog()->autoClosePending());
    QCOMPARE(window->historyButton->text(), QStringLiteral("消息记录 (1)"));
    QCOMPARE(window->messageHistory->entries().last().text, notice);
    QCOMPARE(window->messageHistory->entries().last().kind, int(CustomMessageDialog::Error));
    QVERIFY(window->instrumentStateLabel->isVisibleTo(window));
    const QString lostLine = window->instrumentStateLabel->text();
    QVERIFY2(lostLine.startsWith(QStringLiteral("测量仪器 %1 自 ").arg(sim.measureResource())) &&
                 lostLine.endsWith(QStringLiteral(" 起无响应")),
             qPrintable(lostLine));

    QTemporaryDir out;
    QStringList lines;
    QVERIFY(exportTo(out.path(), &lines));
    QCOMPARE(lines.size() - 7, controller->curves().value(101)->count());

    QTest::mouseClick(CustomMessageDialog::sharedMessageDialog()->closeButton(), Qt::LeftButton);
    QVERIFY(!CustomMessageDialog::sharedMessageDialog()->isVisible());
    QVERIFY(sim.control(QStringLiteral("clear all")));
    QTest::mouseClick(window->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        controller->curves().value(101) && controller->curves().value(101)->count() >= 1, 30000);
    QTRY_VERIFY(!window->instrumentStateLabel->isVisibleTo(window));
}

// A start reached while an export runs (through the keyboard or an accessibility client; the
// dialog covers the button) would clear the store under the export: it is refused.
void TestMainWidget::noStartWhileAnExportRuns()
{
    if (!inChild()) {
        QVERIFY(runChild(QString::fromLatin1(QTest::currentTestFunction())));
        return;
    }
    openWindowWithChannels({101, 102});
    startCountedRun(3);
    QVERIFY(waitIdle());
    QTemporaryDir out;
    QString refusal;
    QTimer::singleShot(200, this, [this, &out, &refusal] {
        window->exportDialog->exportPathLabel->setText(out.path());
        for (QPushButton *button : window->exportDialog->findChildren<QPushButton *>())
            if (button->text() == QStringLiteral("  导出到文件  ")) {
                QTest::mouseClick(button, Qt::LeftButton);
                window->recvStartButtonSlot();
                refusal = messageText();
            }
    });
    QSignalSpy finished(controller.get(), &LoggingController::exportFinished);
    QTest::mouseClick(window->exportButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 30000);
    QVERIFY2(refusal.contains(QStringLiteral("正在导出数据，请在导出结束后再开始记录")),
             qPrintable(refusal));
    QVERIFY(!controller->isLogging());
    QVERIFY(!controller->scanThread()->isRunning());
    QTRY_VERIFY(messageText().contains(QStringLiteral("导出成功")));
    const QStringList files = QDir(out.path()).entryList({QStringLiteral("*.csv")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QFile csv(out.filePath(files.first()));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll().mid(3)).split('\n');
    QCOMPARE(lines.at(5), QStringLiteral("编号,时间,101,102,"));
    QCOMPARE(lines.size(), 6 + 3 + 1);
    QCOMPARE(storedRows(dataSetDir()).value(QStringLiteral("102")), 3);
}

// Whatever ends a run, every reading the instrument sent was stored before the end: the stop
// button in the middle of a scan, and the window going away in the middle of one ("exit" from
// the host, closing the window).
void TestMainWidget::everyFetchedReadingIsStoredBeforeTheEnd()
{
    if (!inChild()) {
        QVERIFY(runChild(QString::fromLatin1(QTest::currentTestFunction())));
        return;
    }
    openWindowWithChannels({101, 102, 103, 104, 105, 106});
    auto midScan = [this] {
        // Some whole scans, then part of the next one. Any point of the first two thirds of a
        // scan will do: polling for one exact count misses it on a slow machine.
        QTRY_VERIFY_WITH_TIMEOUT(readingsSent(sim.transcript()) >= 15, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(readingsSent(sim.transcript()) % 6 >= 1 &&
                                     readingsSent(sim.transcript()) % 6 <= 4,
                                 60000);
    };

    QTest::mouseClick(window->startButton, Qt::LeftButton);
    midScan();
    QTest::mouseClick(window->startButton, Qt::LeftButton);
    QVERIFY(waitIdle());
    QCOMPARE(total(storedRows(dataSetDir())), readingsSent(sim.transcript()));

    const int before = readingsSent(sim.transcript());
    QTest::mouseClick(window->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(readingsSent(sim.transcript()) > before, 30000);
    midScan();
    closeLogger();
    const int sent = readingsSent(sim.transcript());
    QCOMPARE(total(storedRows(dataSetDir())), sent - before);
}

namespace {
// What a screen reader does: every node's name, role, state and place, to a bounded depth.
int walk(QAccessibleInterface *node, int depth)
{
    if (!node || !node->isValid() || depth > 12)
        return 0;
    int visited = 1;
    (void)node->text(QAccessible::Name);
    (void)node->role();
    (void)node->state();
    (void)node->rect();
    const int children = node->childCount();
    for (int i = 0; i < children; ++i) {
        QAccessibleInterface *child = node->child(i);
        if (child && child->parent() == nullptr)
            qWarning("accessible child without a parent");
        visited += walk(child, depth + 1);
    }
    return visited;
}
} // namespace

// Ticking, unticking, expanding and collapsing with the mouse while an accessibility client
// walks the window, logging and not (a crash was once seen right after such ticks).
void TestMainWidget::accessibilityClientWalksWhileTicking()
{
    if (!inChild()) {
        // As a screen reader runs it: X11, a session bus with the accessibility bus started,
        // and Qt's bridge to it always on.
        XvfbServer xvfb;
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-run-session")).isEmpty() ||
            !xvfb.start())
            QSKIP("needs Xvfb and dbus-run-session (scripts/setup.sh installs them)");
        QVERIFY(runChild(QString::fromLatin1(QTest::currentTestFunction()),
                         {QStringLiteral("DISPLAY=") + QString::fromLatin1(xvfb.display()),
                          QStringLiteral("QT_QPA_PLATFORM=xcb"),
                          QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1")},
                         QByteArray(),
                         {QStringLiteral("dbus-run-session"), QStringLiteral("--"),
                          QStringLiteral("sh"), QStringLiteral("-c"),
                          QStringLiteral("dbus-send --session --print-reply --dest=org.a11y.Bus "
                                         "/org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1; "
                                         "exec \"$0\" \"$@\"")}));
        return;
    }
    QAccessible::setActive(true);
    startSimulator();
    makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QAccessibleInterface *root = QAccessible::queryAccessibleInterface(window);
    QVERIFY(root);
    QVERIFY(walk(root, 0) > 10);
    // A screen reader's bridge comes up once the event loop runs.
    QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 5000);
    connectSwitch();
    QTreeWidget *tree = window->channelTree;
    quint32 seed = 12345;
    auto next = [&seed](int bound) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) % quint32(bound));
    };
    auto clickCheck = [tree](QTreeWidgetItem *item) {
        tree->scrollToItem(item);
        const QRect rect = tree->visualItemRect(item);
        // The check box sits at the start of the first column, after the indentation.
        const int x = rect.x() + (item->parent() ? tree->indentation() : 0) + 8;
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(x, rect.center().y()));
    };
    int visited = 0;
    const int steps = qEnvironmentVariableIntValue("A11Y_WALK_STEPS") > 0
                          ? qEnvironmentVariableIntValue("A11Y_WALK_STEPS")
                          : 400;
    for (int step = 0; step < steps; ++step) {
        QTreeWidgetItem *module = tree->topLevelItem(next(tree->topLevelItemCount()));
        switch (next(5)) {
        case 0:
            clickCheck(module);
            break;
        case 1:
            module->setExpanded(!module->isExpanded());
            break;
        case 2:
            if (module->isExpanded())
                clickCheck(module->child(next(module->childCount())));
            else
                module->child(next(10))->setCheckState(0, Qt::Checked);
            break;
        case 3:
            module->child(next(10))->setCheckState(0, Qt::Unchecked);
            break;
        case 4:
            if (step % 40 == 4)
                QTest::mouseClick(window->startButton, Qt::LeftButton);
            break;
        }
        QCoreApplication::processEvents();
        visited += walk(root, 0);
    }
    QVERIFY(visited > 4000);
    if (controller->isLogging()) {
        window->recvStartButtonSlot();
        QVERIFY(waitIdle());
    }
}

void TestMainWidget::lastRecordingSurvivesARestart_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("exit during a run") << false;
    QTest::newRow("killed during a run") << true;
}

// Whatever ended the previous process, the data set on disk is the last recording until the
// next start: a new process exports it, with the start and end of its stored samples.
void TestMainWidget::lastRecordingSurvivesARestart()
{
    if (inChild())
        QSKIP("runs its steps in child processes");
    QFETCH(bool, killed);
    QDir(caseDir.path()).removeRecursively();
    QDir().mkpath(caseDir.path());
    programCopy.clear();
    QVERIFY(
        runChild(QStringLiteral("recordAndEnd"), {}, killed ? QByteArray("STORED") : QByteArray()));
    QVERIFY(runChild(QStringLiteral("exportAfterRestart")));
}

void TestMainWidget::recordAndEnd()
{
    if (!inChild() || qgetenv(childVariable) != "recordAndEnd")
        QSKIP("a step of lastRecordingSurvivesARestart");
    openWindowWithChannels({101, 102});
    QTest::mouseClick(window->startButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        controller->curves().value(102) && controller->curves().value(102)->count() >= 3, 30000);
    // The parent may kill this process from here on.
    printf("STORED\n");
    fflush(stdout);
    QTest::qWait(300);
    closeLogger();
}

void TestMainWidget::exportAfterRestart()
{
    if (!inChild() || qgetenv(childVariable) != "exportAfterRestart")
        QSKIP("a step of lastRecordingSurvivesARestart");
    const QMap<QString, int> rows = storedRows(dataSetDir());
    QVERIFY(rows.value(QStringLiteral("101")) >= 3);
    const StoredRecording recording = CurveDataDB::storedRecording(dataSetDir());
    startSimulator();
    makeWindow();
    // No frame connected: the window has no recording of its own.
    QTemporaryDir out;
    QStringList lines;
    QVERIFY(exportTo(out.path(), &lines));
    QVERIFY(messageText().contains(QStringLiteral("导出成功")));
    const QString format = QStringLiteral("yyyy MM dd hh mm ss zzz");
    QCOMPARE(lines.at(2), QStringLiteral("序列号：,LF7"));
    QCOMPARE(lines.at(3),
             QStringLiteral("开始时间,%1")
                 .arg(QDateTime::fromMSecsSinceEpoch(recording.firstMs).toString(format)));
    QCOMPARE(lines.at(4),
             QStringLiteral("结束时间,%1")
                 .arg(QDateTime::fromMSecsSinceEpoch(recording.lastMs + 1000).toString(format)));
    QCOMPARE(lines.at(5), QStringLiteral("编号,时间,101,102,"));
    QCOMPARE(lines.size() - 7, qMax(rows.value(QStringLiteral("101")), rows.value("102")));
}

QTEST_MAIN(TestMainWidget)
#include "tst_loggingfaults.moc"
