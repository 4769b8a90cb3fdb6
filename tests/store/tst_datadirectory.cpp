// Where the data sets go: beside a program whose directory can be written, otherwise in the
// user's XDG data directory. "Cannot be written" is made without permission bits (a path under
// a regular file), so it holds when the suite runs as root too.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include "datadirectory.h"

class TestDataDirectory : public QObject
{
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
    void readOnlyDirectoryForAUser();
};

void TestDataDirectory::choice_data()
{
    QTest::addColumn<QString>("programDir"); // relative to the temporary directory, or absolute
    QTest::addColumn<QString>("xdgDataHome"); // "-": unset; "ROOT/" the temporary directory
    QTest::addColumn<QString>("expected");

    QTest::newRow("writable program directory") << "bin" << "ROOT/xdg" << "bin";
    QTest::newRow("under a regular file, XDG_DATA_HOME set")
        << "file/bin" << "ROOT/xdg" << "xdg/datalogger";
    QTest::newRow("missing program directory, XDG_DATA_HOME unset")
        << "gone/bin" << "-" << "home/.local/share/datalogger";
    // An installed program run as root could write there; data still does not go there.
    QTest::newRow("system program directory") << "/usr/bin" << "ROOT/xdg" << "xdg/datalogger";
    QTest::newRow("relative XDG_DATA_HOME is ignored")
        << "file/bin" << "relative/share" << "home/.local/share/datalogger";
}

void TestDataDirectory::choice()
{
    QFETCH(QString, programDir);
    QFETCH(QString, xdgDataHome);
    QFETCH(QString, expected);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QDir root(temp.path());
    QVERIFY(root.mkpath(QStringLiteral("bin")));
    QVERIFY(root.mkpath(QStringLiteral("home")));
    QFile file(root.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("HOME", root.filePath(QStringLiteral("home")).toUtf8());
    if (xdgDataHome == QLatin1String("-"))
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME",
                xdgDataHome.replace(QLatin1String("ROOT/"), temp.path() + '/').toUtf8());

    const QString chosen = dataDirectoryBeside(root.filePath(programDir));
    QCOMPARE(chosen, root.filePath(expected));
    QVERIFY2(QFileInfo(chosen).isDir(), qPrintable(chosen));
    // Beside the program nothing is made elsewhere.
    if (expected == programDir)
        QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("xdg/datalogger"))));
}

// The installed case as a user sees it: /usr/bin exists but is not theirs.
void TestDataDirectory::readOnlyDirectoryForAUser()
{
    if (::geteuid() == 0)
        QSKIP("root may write into a read-only directory; the rows above cover it by path");
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QDir root(temp.path());
    QVERIFY(root.mkpath(QStringLiteral("bin")));
    QVERIFY(QFile::setPermissions(root.filePath(QStringLiteral("bin")),
                                  QFile::ReadOwner | QFile::ExeOwner));
    qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("share")).toUtf8());
    QCOMPARE(dataDirectoryBeside(root.filePath(QStringLiteral("bin"))),
             root.filePath(QStringLiteral("share/datalogger")));
    QFile::setPermissions(root.filePath(QStringLiteral("bin")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QTEST_GUILESS_MAIN(TestDataDirectory)
#include "tst_datadirectory.moc"
