// The frame's identity as each of its users reads it: the fields the window, the data set and
// the CSV header take, and what the publisher announces and names its topics after. The rows
// hold what the logger has always made of each reply form; a reply with a space or an empty
// field is read word by word, and the publisher counts the words without the empty ones.
#include "frameidentity.h"

#include <QtTest>

class TestFrameIdentity : public QObject
{
    Q_OBJECT
private slots:
    void fieldsOfAReply_data();
    void fieldsOfAReply();
    void aStoredDataSetsSerialIsAnnouncedAsBefore_data();
    void aStoredDataSetsSerialIsAnnouncedAsBefore();
};

void TestFrameIdentity::fieldsOfAReply_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("known");
    QTest::addColumn<QStringList>("fields"); // maker, model, serial, version
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("topicSerial");

    QTest::newRow("four fields") << "MAKER,VSK3307,SN123,1.0" << true
                                 << QStringList{"MAKER", "VSK3307", "SN123", "1.0"}
                                 << "MAKER VSK3307 SN123 1.0"
                                 << "MAKER VSK3307 SN123 1.0"
                                 << "SN123";
    QTest::newRow("more fields") << "MAKER,VSK3307,SN123,1.0,B2" << true
                                 << QStringList{"MAKER", "VSK3307", "SN123", "1.0"}
                                 << "MAKER VSK3307 SN123 1.0 B2"
                                 << "MAKER VSK3307 SN123 1.0 B2"
                                 << "SN123";
    QTest::newRow("space in the maker's name")
        << "Maker Inc,VSK3307,SN123,1.0" << true << QStringList{"Maker", "Inc", "VSK3307", "SN123"}
        << "Maker Inc VSK3307 SN123 1.0"
        << "Maker Inc VSK3307 SN123 1.0"
        << "VSK3307";
    QTest::newRow("two fields") << "MAKER,VSK3307" << true
                                << QStringList{"MAKER", "VSK3307", "", ""} << "MAKER VSK3307"
                                << "MAKER VSK3307"
                                << "unknown";
    QTest::newRow("one field") << "MAKER" << true << QStringList{"MAKER", "", "", ""} << "MAKER"
                               << "MAKER"
                               << "unknown";
    // The data set takes the third field, the publisher the third word.
    QTest::newRow("empty model") << "MAKER,,SN123,1.0" << true
                                 << QStringList{"MAKER", "", "SN123", "1.0"} << "MAKER  SN123 1.0"
                                 << "MAKER SN123 1.0"
                                 << "1.0";
    QTest::newRow("tab in the maker's name")
        << "MAKER\tX,VSK3307,SN123,1.0" << true
        << QStringList{"MAKER\tX", "VSK3307", "SN123", "1.0"} << "MAKER\tX VSK3307 SN123 1.0"
        << "MAKER X VSK3307 SN123 1.0"
        << "VSK3307";
    QTest::newRow("commas only") << ",,," << true << QStringList{"", "", "", ""} << "   "
                                 << ""
                                 << "unknown";
    QTest::newRow("no reply") << "" << false << QStringList{"", "", "", ""} << ""
                              << ""
                              << "unknown";
}

void TestFrameIdentity::fieldsOfAReply()
{
    QFETCH(QString, reply);
    QFETCH(bool, known);
    QFETCH(QStringList, fields);
    QFETCH(QString, text);
    QFETCH(QString, statusText);
    QFETCH(QString, topicSerial);

    const FrameIdentity identity = FrameIdentity::parse(reply);
    QCOMPARE(identity.isKnown(), known);
    QCOMPARE(identity.maker(), fields.at(0));
    QCOMPARE(identity.model(), fields.at(1));
    QCOMPARE(identity.serial(), fields.at(2));
    QCOMPARE(identity.version(), fields.at(3));
    QCOMPARE(identity.text(), text);
    QCOMPARE(identity.statusText(), statusText);
    QCOMPARE(identity.topicSerial(), topicSerial);
}

// A recording left by an earlier process is published before any frame is connected: its
// status names the data set's serial and marks the fields the data set does not keep.
void TestFrameIdentity::aStoredDataSetsSerialIsAnnouncedAsBefore_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("topicSerial");

    QTest::newRow("serial") << "SIM0002"
                            << "- - SIM0002 -"
                            << "SIM0002";
    QTest::newRow("made-safe serial") << "a_b__"
                                      << "- - a_b__ -"
                                      << "a_b__";
    // "_Data": the frame that wrote it had no serial.
    QTest::newRow("no serial") << ""
                               << "- - -"
                               << "-";
}

void TestFrameIdentity::aStoredDataSetsSerialIsAnnouncedAsBefore()
{
    QFETCH(QString, serial);
    QFETCH(QString, statusText);
    QFETCH(QString, topicSerial);

    const FrameIdentity identity = FrameIdentity::ofSerial(serial);
    QVERIFY(identity.isKnown());
    QCOMPARE(identity.serial(), serial);
    QCOMPARE(identity.statusText(), statusText);
    QCOMPARE(identity.topicSerial(), topicSerial);
    QVERIFY(identity != FrameIdentity());
}

QTEST_APPLESS_MAIN(TestFrameIdentity)
#include "tst_frameidentity.moc"
