#include "config/VGlobalConfig.h"

#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

const QByteArray kFullReply =
    "jsonp_cb({\"code\":1,\"msg\":\"ok\",\"data\":{"
    "\"forceUpdate\":1,\"downloadUrl\":\"http://dl/"
    "x.exe\",\"updateTitle\":\"新版本\",\"updateContent\":\"修复\","
    "\"gatewayServer\":\"ws://gw:9000\",\"baseServer\":\"http://base/\",\"logoServer\":\"http://logo\","
    "\"cdnServer\":\"http://cdn\",\"logServer\":\"http://log\",\"h5WebServer\":\"http://h5web\","
    "\"h5Server\":\"http://h5\",\"securityServer\":\"http://sec\",\"payServer\":\"http://pay\","
    "\"cmsServer\":\"http://cms\",\"roomServer\":\"http://room\"}});";

} // namespace

// The configuration is one process-wide object: tests work on distinct keys or overwrite the
// keys they look at.
class TestVGlobalConfig : public QObject
{
    Q_OBJECT

private slots:
    void constructionCreatesLogoFolder()
    {
        TestEnv::ScopedWorkDir dir;
        QVERIFY(!QFileInfo::exists(QStringLiteral("res/logo")));
        VGlobalConfig::instance(); // first use in this process
        QVERIFY(QFileInfo(QStringLiteral("res/logo")).isDir());
        QCOMPARE(VGlobalConfig::instance(), VGlobalConfig::instance());
    }

    // --- file ---

    void fileValuesAreTextsOnly()
    {
        TestEnv::ScopedWorkDir dir;
        QVERIFY(writeFile(
            QStringLiteral("Config/GlobalConfig.json"),
            "{\"ServerType\":\"test\",\"pcmDump\":true,\"vaDetailLog\":\"true\",\"dumpTest\":1,"
            "\"nested\":{\"a\":\"b\"},\"sdkinit\":\"http://127.0.0.1:1/sdkinit\",\"extra\":\"kept\"}"));
        VGlobalConfig* config = VGlobalConfig::instance();
        QVERIFY(config->load(QStringLiteral("Config/GlobalConfig.json")));
        QCOMPARE(config->value(QStringLiteral("ServerType")), QStringLiteral("test"));
        QCOMPARE(config->value(QStringLiteral("pcmDump")), QString()); // JSON literal, not the text "true"
        QCOMPARE(config->value(QStringLiteral("vaDetailLog")), QStringLiteral("true"));
        QCOMPARE(config->value(QStringLiteral("dumpTest")), QString());
        QCOMPARE(config->value(QStringLiteral("nested")), QString());
        QCOMPARE(config->value(QStringLiteral("sdkinit")), QStringLiteral("http://127.0.0.1:1/sdkinit"));
        QCOMPARE(config->value(QStringLiteral("extra")), QStringLiteral("kept"));
    }

    void fileOverridesTheComputedDeviceId()
    {
        TestEnv::ScopedWorkDir dir;
        VGlobalConfig* config = VGlobalConfig::instance();
        config->setValue(QStringLiteral("deviceId"), QStringLiteral("52:54:00:12:34:56"));
        QVERIFY(writeFile(QStringLiteral("cfg.json"), "{\"deviceId\":\"from-file\"}"));
        QVERIFY(config->load(QStringLiteral("cfg.json")));
        QCOMPARE(config->value(QStringLiteral("deviceId")), QStringLiteral("from-file"));
    }

    void unusableFileChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("create");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("not json") << QByteArray("ServerType=test") << true;
        QTest::newRow("truncated") << QByteArray("{\"ServerType\":\"x\",") << true;
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4) << true;
    }

    void unusableFileChangesNothing()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, create);
        TestEnv::ScopedWorkDir dir;
        VGlobalConfig* config = VGlobalConfig::instance();
        config->setValue(QStringLiteral("ServerType"), QStringLiteral("before"));
        if (create)
            QVERIFY(writeFile(QStringLiteral("Config/GlobalConfig.json"), content));
        QVERIFY(!config->load(QStringLiteral("Config/GlobalConfig.json")));
        QCOMPARE(config->value(QStringLiteral("ServerType")), QStringLiteral("before"));
    }

    // --- service-configuration reply ---

    void replyWrappedInOtherTextIsApplied()
    {
        VGlobalConfig* config = VGlobalConfig::instance();
        config->applySdkInitReply(kFullReply);
        QCOMPARE(config->lastCode(), 1);
        QCOMPARE(config->lastMsg(), QStringLiteral("ok"));
        QCOMPARE(config->forceUpdate(), 1);
        QCOMPARE(config->downloadUrl(), QStringLiteral("http://dl/x.exe"));
        QCOMPARE(config->updateTitle(), QStringLiteral("新版本"));
        QCOMPARE(config->updateContent(), QStringLiteral("修复"));

        const QList<QPair<const char*, const char*>> expected = {
            {"WSUrlServer", "ws://gw:9000"},  // never gets a slash
            {"ResURLServer", "http://base/"}, // already had one
            {"ImageResServer", "http://logo/"}, {"ZebResServer", "http://cdn/"},
            {"ApiLogServer", "http://log/"},    {"H5WebServer", "http://h5web/"},
            {"H5Server", "http://h5/"},         {"ChatLogServer", "http://sec/"},
            {"QRCodeServer", "http://pay/"},    {"cmsServer", "http://cms/"},
            {"roomServer", "http://room/"},
        };
        for (const auto& pair : expected)
            QCOMPARE(config->value(QLatin1String(pair.first)), QString::fromLatin1(pair.second));
    }

    void replyIsLoggedUnquoted()
    {
        QTest::ignoreMessage(QtInfoMsg, "SDKInit数据 {\"code\":5}");
        VGlobalConfig::instance()->applySdkInitReply("xx{\"code\":5}yy");
        QCOMPARE(VGlobalConfig::instance()->lastCode(), 5);
    }

    void secondReplyWithoutRoomServerKeepsTheFirst()
    {
        VGlobalConfig* config = VGlobalConfig::instance();
        config->applySdkInitReply("{\"code\":1,\"data\":{\"roomServer\":\"http://first:1\"}}");
        config->applySdkInitReply("{\"code\":1,\"data\":{\"logServer\":\"http://second:2/\"}}");
        QCOMPARE(config->value(QStringLiteral("roomServer")), QStringLiteral("http://first:1/"));
        QCOMPARE(config->value(QStringLiteral("ApiLogServer")), QStringLiteral("http://second:2/"));
    }

    void wronglyTypedMembersAreIgnored()
    {
        VGlobalConfig* config = VGlobalConfig::instance();
        config->applySdkInitReply(
            "{\"code\":7,\"msg\":\"seven\",\"data\":{\"roomServer\":\"http://kept/\",\"forceUpdate\":0}}");
        config->applySdkInitReply("{\"code\":\"8\",\"msg\":8,\"data\":{\"roomServer\":5,\"baseServer\":null,"
                                  "\"forceUpdate\":\"1\",\"downloadUrl\":[]}}");
        QCOMPARE(config->lastCode(), 7);
        QCOMPARE(config->lastMsg(), QStringLiteral("seven"));
        QCOMPARE(config->forceUpdate(), 0);
        QCOMPARE(config->value(QStringLiteral("roomServer")), QStringLiteral("http://kept/"));
    }

    void unusableRepliesChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("no braces") << QByteArray("<html>502 Bad Gateway</html>");
        QTest::newRow("braces reversed") << QByteArray("} nothing {");
        QTest::newRow("not json inside") << QByteArray("{roomServer: http://evil}");
        QTest::newRow("array") << QByteArray("[{\"code\":9}]x");
        QTest::newRow("data not an object") << QByteArray("{\"code\":1,\"data\":\"roomServer\"}");
        QTest::newRow("invalid utf-8") << QByteArray("{\"msg\":\"\xff\xfe\"}");
    }

    void unusableRepliesChangeNothing()
    {
        QFETCH(QByteArray, reply);
        VGlobalConfig* config = VGlobalConfig::instance();
        config->applySdkInitReply("{\"code\":1,\"msg\":\"base\",\"data\":{\"roomServer\":\"http://kept/\"}}");
        config->applySdkInitReply(reply);
        QCOMPARE(config->value(QStringLiteral("roomServer")), QStringLiteral("http://kept/"));
        QCOMPARE(config->lastMsg(), QStringLiteral("base"));
    }

    // --- version of the program file ---

    void versionOfOurOwnFile()
    {
        QString product = QStringLiteral("untouched"), file = QStringLiteral("untouched");
        VGlobalConfig::appVersion(product, file);
        QCOMPARE(product, QStringLiteral(TAVIO_VERSION_TEXT));
        QCOMPARE(file, QStringLiteral(TAVIO_VERSION_TEXT));
    }

    void versionOfAFileWithoutBlockLeavesOutputs()
    {
        QString product = QStringLiteral("untouched"), file = QStringLiteral("untouched");
        TestEnv::ScopedWorkDir dir;
        QVERIFY(writeFile(QStringLiteral("plain.bin"), QByteArray(100000, char(0x7f))));
        VGlobalConfig::appVersion(QStringLiteral("plain.bin"), product, file);
        QCOMPARE(product, QStringLiteral("untouched"));
        QCOMPARE(file, QStringLiteral("untouched"));
        VGlobalConfig::appVersion(QStringLiteral("/no/such/file"), product, file);
        QCOMPARE(product, QStringLiteral("untouched"));
    }
};

QTEST_GUILESS_MAIN(TestVGlobalConfig)
#include "tst_vglobalconfig.moc"
