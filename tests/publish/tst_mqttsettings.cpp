// The [mqtt] section and the environment override: what enables publishing, how a URL is
// read, and the message a bad setting gives the user.
#include "mqttsettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestMqttSettings : public QObject
{
    Q_OBJECT

private slots:
    void load_data();
    void load();
    void topicPrefix();
};

void TestMqttSettings::load_data()
{
    QTest::addColumn<QString>("file");        // empty: no configuration file
    QTest::addColumn<QString>("environment"); // empty: DATALOGGER_MQTT_URL unset
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("qos");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("error"); // a part the message must hold; empty: no error

    QTest::newRow("nothing configured") << ""
                                        << "" << false << false << "" << 1883 << 1 << ""
                                        << "";
    QTest::newRow("section without url") << "[mqtt]\ntopic_prefix=x\n"
                                         << "" << false << false << "" << 1883 << 1 << ""
                                         << "";
    QTest::newRow("environment alone")
        << ""
        << "mqtt://broker.local" << true << false << "broker.local" << 1883 << 1 << ""
        << "";
    QTest::newRow("environment overrides file")
        << "[mqtt]\nurl=mqtt://a:1\nqos=2\n"
        << "mqtt://b:2" << true << false << "b" << 2 << 2 << ""
        << "";
    QTest::newRow("mqtts default port, relative ca_file")
        << "[mqtt]\nurl=mqtts://h\nca_file=ca.pem\n"
        << "" << true << true << "h" << 8883 << 1 << ""
        << "";
    QTest::newRow("ipv6 host") << "[mqtt]\nurl=mqtt://[::1]:1884/\n"
                               << "" << true << false << "::1" << 1884 << 1 << ""
                               << "";
    QTest::newRow("password first line without CRLF")
        << "[mqtt]\nurl=mqtt://h:1\nuser=u\npassword_file=pw.txt\nqos=0\n"
        << "" << true << false << "h" << 1 << 0 << "s3cret, with comma"
        << "";
    QTest::newRow("url not parsable")
        << "[mqtt]\nurl=foo\n"
        << "" << false << false << "" << 1883 << 1 << ""
        << "MQTT 配置错误：url \"foo\" 无法解析（应为 mqtt://主机:端口 或 mqtts://主机:端口）";
    QTest::newRow("bad url from the environment")
        << "[mqtt]\nurl=mqtt://good\n"
        << "mqtt://host:port" << false << false << "" << 1883 << 1 << ""
        << "url \"mqtt://host:port\" 无法解析";
    QTest::newRow("wrong scheme") << "[mqtt]\nurl=http://h:80\n"
                                  << "" << false << false << "" << 1883 << 1 << ""
                                  << "url \"http://h:80\" 的协议";
    QTest::newRow("port out of range") << "[mqtt]\nurl=mqtt://h:70000\n"
                                       << "" << false << false << "" << 1883 << 1 << ""
                                       << "端口 70000 无效";
    QTest::newRow("port zero") << "[mqtt]\nurl=mqtt://h:0\n"
                               << "" << false << false << "" << 1883 << 1 << ""
                               << "端口 0 无效";
    QTest::newRow("mqtts without ca_file") << "[mqtt]\nurl=mqtts://h\n"
                                           << "" << false << false << "" << 1883 << 1 << ""
                                           << "ca_file 未设置";
    QTest::newRow("named ca_file missing")
        << "[mqtt]\nurl=mqtt://h\nca_file=/nonexistent/ca.pem\n"
        << "" << false << false << "" << 1883 << 1 << ""
        << "ca_file \"/nonexistent/ca.pem\" 无法读取（文件不存在）";
    QTest::newRow("ca_file is a directory") << "[mqtt]\nurl=mqtts://h\nca_file=$DIR\n"
                                            << "" << false << false << "" << 1883 << 1 << ""
                                            << "ca_file \"$DIR\" 无法读取";
    QTest::newRow("password_file missing") << "[mqtt]\nurl=mqtt://h\npassword_file=missing.txt\n"
                                           << "" << false << false << "" << 1883 << 1 << ""
                                           << "password_file \"$DIR/missing.txt\" 无法读取";
    QTest::newRow("qos 3") << "[mqtt]\nurl=mqtt://h\nqos=3\n"
                           << "" << false << false << "" << 1883 << 1 << ""
                           << "qos \"3\" 无效";
    QTest::newRow("qos not a number") << "[mqtt]\nurl=mqtt://h\nqos=one\n"
                                      << "" << false << false << "" << 1883 << 1 << ""
                                      << "qos \"one\" 无效";
}

void TestMqttSettings::load()
{
    QFETCH(QString, file);
    QFETCH(QString, environment);
    QFETCH(bool, enabled);
    QFETCH(bool, tls);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(int, qos);
    QFETCH(QString, password);
    QFETCH(QString, error);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile ca(dir.filePath("ca.pem"));
    QVERIFY(ca.open(QIODevice::WriteOnly));
    ca.write("not checked here\n");
    ca.close();
    QFile pw(dir.filePath("pw.txt"));
    QVERIFY(pw.open(QIODevice::WriteOnly));
    pw.write("s3cret, with comma\r\nsecond line\n");
    pw.close();

    const QString configPath = dir.filePath("datalogger.conf");
    if (!file.isEmpty()) {
        QFile config(configPath);
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QString(file).replace("$DIR", dir.path()).toUtf8());
    }
    if (environment.isEmpty())
        qunsetenv("DATALOGGER_MQTT_URL");
    else
        qputenv("DATALOGGER_MQTT_URL", environment.toUtf8());

    QString message = "untouched";
    const MqttSettings settings = MqttSettings::load(configPath, &message);
    qunsetenv("DATALOGGER_MQTT_URL");

    QCOMPARE(settings.enabled, enabled);
    if (error.isEmpty()) {
        QVERIFY2(message.isEmpty(), qPrintable(message));
    } else {
        QVERIFY2(message.contains(QString(error).replace("$DIR", dir.path())), qPrintable(message));
    }
    if (!enabled)
        return;
    QCOMPARE(settings.tls, tls);
    QCOMPARE(settings.host, host);
    QCOMPARE(settings.port, port);
    QCOMPARE(settings.qos, qos);
    QCOMPARE(settings.password, password);
    if (tls)
        QCOMPARE(settings.caFile, dir.filePath("ca.pem"));
}

void TestMqttSettings::topicPrefix()
{
    MqttSettings settings;
    QCOMPARE(settings.topicPrefixFor("SIM0001"), QString("datalogger/SIM0001"));
    settings.topicPrefix = "plant/line2/";
    QCOMPARE(settings.topicPrefixFor("SIM0001"), QString("plant/line2"));
}

QTEST_GUILESS_MAIN(TestMqttSettings)
#include "tst_mqttsettings.moc"
