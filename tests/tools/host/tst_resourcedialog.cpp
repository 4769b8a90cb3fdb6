// The launcher: the resources the VISA search reports are offered, a typed resource is taken,
// a blank one is refused, and the choice is what the logger is started with.
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "hostlook.h"
#include "hostwindow.h"
#include "resourcedialog.h"

class TestResourceDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void searchedResourcesAreOfferedAndStartTheLogger();
    void typedResourceIsTaken();
    void blankResourceIsRefused();
};

void TestResourceDialog::initTestCase()
{
    applyHostLook(*qApp);
}

void TestResourceDialog::searchedResourcesAreOfferedAndStartTheLogger()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString listPath = temp.filePath(QStringLiteral("resources"));
    QFile listFile(listPath);
    QVERIFY(listFile.open(QIODevice::WriteOnly));
    listFile.write("# bench\nTCPIP0::127.0.0.1::5025::SOCKET\ntcpip::localhost::5026::socket\n");
    listFile.close();
    qputenv("VISA_RESOURCE_LIST", listPath.toUtf8());
    qputenv("VISA_NO_VENDOR", "1");

    // The machine's own USB and serial nodes, if any, are offered too; the listed sockets come
    // in file order, in canonical form.
    ResourceDialog dialog(findVisaResources());
    QListWidget *list = dialog.resourceList();
    QStringList offered;
    for (int row = 0; row < list->count(); ++row)
        offered.append(list->item(row)->text());
    const int first = offered.indexOf(QStringLiteral("TCPIP0::127.0.0.1::5025::SOCKET"));
    const int second = offered.indexOf(QStringLiteral("TCPIP0::localhost::5026::SOCKET"));
    QVERIFY2(first >= 0 && second == first + 1, qPrintable(offered.join(QLatin1Char(' '))));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // None of them was asked who it is: none is chosen, and nothing can be started yet.
    QCOMPARE(list->currentRow(), -1);
    QCOMPARE(dialog.resourceEdit()->text(), QString());
    QVERIFY(!dialog.startButton()->isEnabled());

    // Typing, then clicking the current item again, takes the item.
    list->setCurrentRow(second);
    dialog.resourceEdit()->setText(QStringLiteral("something else"));
    QListWidgetItem *item = list->item(second);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    QCOMPARE(dialog.resourceEdit()->text(), QStringLiteral("TCPIP0::localhost::5026::SOCKET"));
    QTest::mouseClick(dialog.startButton(), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    // The logger is started with exactly that one argument (echo plays the logger here).
    HostWindow window;
    window.logger()->setProgram(QStringLiteral("/bin/echo"));
    QSignalSpy ended(&window, &HostWindow::loggerEnded);
    window.startLogger(dialog.resource());
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
    QVERIFY2(
        window.logText().contains(QStringLiteral("\nchild: TCPIP0::localhost::5026::SOCKET\n")),
        qPrintable(window.logText()));
}

void TestResourceDialog::typedResourceIsTaken()
{
    // The system's list, named as a user sees it: also the README's picture of the launcher.
    qunsetenv("VISA_RESOURCE_LIST");
    qunsetenv("XDG_CONFIG_HOME");
    ResourceDialog dialog({QStringLiteral("USB0::0x1234::0x5678::MY001::INSTR"),
                           QStringLiteral("TCPIP0::192.168.1.20::5025::SOCKET"),
                           QStringLiteral("ASRL/dev/ttyUSB0::INSTR")});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QString picture = qEnvironmentVariable("DATALOGGER_LAUNCHER_PNG");
    if (!picture.isEmpty())
        QVERIFY(dialog.grab().save(picture));
    dialog.resourceEdit()->clear();
    QTest::keyClicks(dialog.resourceEdit(), QStringLiteral("  TCPIP0::10.0.0.5::5025::SOCKET "));
    QTest::keyClick(dialog.resourceEdit(), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.resource(), QStringLiteral("TCPIP0::10.0.0.5::5025::SOCKET"));
}

void TestResourceDialog::blankResourceIsRefused()
{
    ResourceDialog dialog({});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!dialog.resourceList()->isVisible());
    QVERIFY(!dialog.startButton()->isEnabled());
    QTest::keyClicks(dialog.resourceEdit(), QStringLiteral("   "));
    QVERIFY(!dialog.startButton()->isEnabled());
    QTest::keyClick(dialog.resourceEdit(), Qt::Key_Return);
    dialog.accept();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

QTEST_MAIN(TestResourceDialog)
#include "tst_resourcedialog.moc"
