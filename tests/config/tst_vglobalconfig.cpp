#include "config/VGlobalConfig.h"

#include "support/LogCapture.h"
#include "support/TestEnv.h"

#include <QtTest>

// The configuration is one process-wide object: tests work on distinct keys or overwrite the
// keys they look at.
class TestVGlobalConfig : public QObject
{
    Q_OBJECT

    VGlobalConfig* config = nullptr;

    // What the program reads of a reply: the room and log servers.
    QString servers() const { return config->value("roomServer") + ' ' + config->value("ApiLogServer"); }

private slots:
    void initTestCase()
    {
        TestEnv::ScopedWorkDir dir;
        config = VGlobalConfig::instance(); // first use in this process
        QVERIFY(QFileInfo("res/logo").isDir());
    }

    // Only texts are taken from the file; any other member is warned (its name capped) and replaces
    // what was there with an empty value. A file that is not a JSON object changes nothing.
    void fileValuesAreTextsOnly()
    {
        // The file, what is stored (null: the file is refused) and the warning (empty: none).
        QList<std::tuple<QByteArray, QString, QString>> rows{
            {"{\"vaDetailLog\":\"true\",\"deviceId\":\"from-file\"}", "true", ""},
            {"{\"vaDetailLog\":\"\"}", "", ""},
            {"{\"" + QByteArray(300, 'k') + "\":1}", "before", "…(300 bytes)"},
            {QByteArray(), QString(), ""},
            {"vaDetailLog=true", QString(), ""},
            {QByteArray("\x00\xff\xfe{", 4), QString(), ""}};
        for (const char* type : {"bool true", "number 1", "null null", "object {}", "array [\"1\"]"})
            rows.append({QByteArray("{\"vaDetailLog\":") + strchr(type, ' ') + "}", "",
                         "vaDetailLog " + QString(type).section(' ', 0, 0)});
        for (const auto& [content, stored, warning] : rows) {
            TestEnv::ScopedWorkDir dir;
            config->setValue("vaDetailLog", "before");
            config->setValue("deviceId", "52:54:00:12:34:56"); // computed before the file is read
            QVERIFY(content.isEmpty() || TestEnv::writeFile("cfg.json", content));
            LogCapture log;
            QCOMPARE(config->load("cfg.json"), !stored.isNull());
            QCOMPARE(config->value("vaDetailLog"), stored.isNull() ? QStringLiteral("before") : stored);
            QCOMPARE(config->value("deviceId"),
                     content.contains("from-file") ? "from-file" : "52:54:00:12:34:56");
            const QStringList warnings = log.lines().filter("is not a string");
            QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
            if (!warning.isEmpty())
                QVERIFY2(warnings.first().contains(warning) && warnings.first().size() < 300,
                         qPrintable(warnings.first()));
        }
    }

    void replyWrappedInOtherTextIsApplied()
    {
        const QByteArray json =
            "{\"code\":1,\"data\":{\"roomServer\":\"http://room\",\"logServer\":\"http://log/\","
            "\"gatewayServer\":\"ws://gw:9000\"}}";
        QTest::ignoreMessage(QtInfoMsg, ("SDKInit数据 " + json).constData()); // without the wrapping
        config->applySdkInitReply("jsonp_cb(" + json + ");");
        // Addresses get a trailing slash unless they have one; the gateway never does.
        QCOMPARE(servers(), QStringLiteral("http://room/ http://log/"));
        QCOMPARE(config->value("WSUrlServer"), QStringLiteral("ws://gw:9000"));
    }

    // A reply changes only what it carries with the right type; its texts reach the log capped.
    void repliesChangeOnlyWhatTheyCarry()
    {
        for (const QByteArray& reply :
             {QByteArray("<html>502 Bad Gateway</html>"), QByteArray("{roomServer: http://evil}"),
              QByteArray("{\"code\":7,\"data\":{\"cdnServer\":\"http://cdn/\"}}"),
              QByteArray("{\"code\":7,\"data\":\"roomServer\"}"), QByteArray("{\"msg\":\"\xff\xfe\"}"),
              QByteArray("{\"data\":{\"roomServer\":5,\"logServer\":[\"http://x\"]}}"),
              "{\"data\":{\"h5Server\":\"" + QByteArray(5000, 'h') + "\"}}"}) {
            config->applySdkInitReply(
                "{\"data\":{\"roomServer\":\"http://kept/\",\"logServer\":\"http://log/\"}}");
            LogCapture log;
            config->applySdkInitReply(reply);
            QCOMPARE(servers(), QStringLiteral("http://kept/ http://log/"));
            for (const QString& line : log.lines())
                QVERIFY(line.size() < 2200);
        }
    }

    // Read from our own file; a file without a version block leaves the outputs as they were.
    void versionReadFromOurOwnFile()
    {
        QString product, file;
        VGlobalConfig::appVersion(product, file);
        VGlobalConfig::appVersion("/bin/sh", product, file);
        QCOMPARE(product + ' ' + file, QStringLiteral(TAVIO_VERSION_TEXT " " TAVIO_VERSION_TEXT));
    }
};

QTEST_GUILESS_MAIN(TestVGlobalConfig)
#include "tst_vglobalconfig.moc"
