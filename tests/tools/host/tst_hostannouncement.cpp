// The host's reading of the logger's window announcement: exact lines are taken, anything
// that only resembles one is refused without touching the previous value.
#include <QTest>

#include "announcement.h"

class TestHostAnnouncement : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestHostAnnouncement::parse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint64>("windowId");
    QTest::addColumn<QString>("colour");

    QTest::newRow("logger's own") << "WID:462;COLOR:#2b2b2b" << true << quint64(462) << "#2b2b2b";
    QTest::newRow("x11 sized id") << "WID:4194371;COLOR:#2b2b2b" << true << quint64(4194371)
                                  << "#2b2b2b";
    QTest::newRow("upper-case hex") << "WID:7;COLOR:#A0B1C2" << true << quint64(7) << "#a0b1c2";
    QTest::newRow("largest 32-bit id")
        << "WID:4294967295;COLOR:#000000" << true << quint64(4294967295u) << "#000000";
    QTest::newRow("leading zeros") << "WID:0042;COLOR:#2b2b2b" << true << quint64(42) << "#2b2b2b";

    QTest::newRow("zero id") << "WID:0;COLOR:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("beyond 32 bits") << "WID:4294967296;COLOR:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("beyond 64 bits")
        << "WID:99999999999999999999;COLOR:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("negative") << "WID:-5;COLOR:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("hex id") << "WID:0x400043;COLOR:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("no digits") << "WID:;COLOR:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("letters") << "WID:xyz;COLOR:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("no colour") << "WID:462" << false << quint64(0) << "";
    QTest::newRow("empty colour") << "WID:462;COLOR:" << false << quint64(0) << "";
    QTest::newRow("colour name") << "WID:462;COLOR:red" << false << quint64(0) << "";
    QTest::newRow("short colour") << "WID:462;COLOR:#2b2" << false << quint64(0) << "";
    QTest::newRow("alpha colour") << "WID:462;COLOR:#ff2b2b2b" << false << quint64(0) << "";
    QTest::newRow("space inside") << "WID: 462;COLOR:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("trailing space") << "WID:462;COLOR:#2b2b2b " << false << quint64(0) << "";
    QTest::newRow("leading space") << " WID:462;COLOR:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("extra field") << "WID:462;COLOR:#2b2b2b;X:1" << false << quint64(0) << "";
    QTest::newRow("lower-case keys") << "wid:462;color:#2b2b2b" << false << quint64(0) << "";
    QTest::newRow("echo of one") << "receive msg: WID:462;COLOR:#2b2b2b" << false << quint64(0)
                                 << "";
    QTest::newRow("empty") << "" << false << quint64(0) << "";
}

void TestHostAnnouncement::parse()
{
    QFETCH(QString, line);
    QFETCH(bool, valid);
    QFETCH(quint64, windowId);
    QFETCH(QString, colour);

    WindowAnnouncement previous;
    previous.windowId = 99;
    previous.background = QColor(1, 2, 3);
    WindowAnnouncement parsed = previous;
    QCOMPARE(parseAnnouncement(line, &parsed), valid);
    if (valid) {
        QCOMPARE(parsed.windowId, windowId);
        QCOMPARE(parsed.background.name(), colour);
    } else {
        QCOMPARE(parsed.windowId, previous.windowId);
        QCOMPARE(parsed.background, previous.background);
    }
}

QTEST_GUILESS_MAIN(TestHostAnnouncement)
#include "tst_hostannouncement.moc"
