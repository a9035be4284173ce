#include "config/VGlobalConfig.h"

#include "support/LogCapture.h"
#include "support/TestEnv.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

// The configuration is one process-wide object: tests work on distinct keys or overwrite the
// keys they look at.
class TestVGlobalConfig : public QObject
{
    Q_OBJECT

    VGlobalConfig* config = nullptr;

    // What a reply sets: code, message, forced update, download address and the room server.
    QStringList state() const
    {
        return {QString::number(config->lastCode()), config->lastMsg(),
                QString::number(config->forceUpdate()), config->downloadUrl(), config->value("roomServer")};
    }

private slots:
    void initTestCase()
    {
        TestEnv::ScopedWorkDir dir;
        config = VGlobalConfig::instance(); // first use in this process
        QVERIFY(QFileInfo("res/logo").isDir());
    }

    void fileValuesAreTextsOnly_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("serverType"); // null: the file is refused and changes nothing
        const QByteArray full =
            "{\"ServerType\":\"test\",\"pcmDump\":true,\"vaDetailLog\":\"true\",\"dumpTest\":1,"
            "\"nested\":{\"a\":\"b\"},\"deviceId\":\"from-file\"}";
        QTest::newRow("usable") << full << "test";
        QTest::newRow("missing") << QByteArray() << QString();
        QTest::newRow("not json") << QByteArray("ServerType=test") << QString();
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4) << QString();
    }

    void fileValuesAreTextsOnly()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, serverType);
        TestEnv::ScopedWorkDir dir;
        config->setValue("ServerType", "before");
        config->setValue("deviceId", "52:54:00:12:34:56"); // computed before the file is read
        QFile file("cfg.json");
        QVERIFY(content.isEmpty() ||
                (file.open(QIODevice::WriteOnly) && file.write(content) == content.size()));
        file.close();
        QCOMPARE(config->load("cfg.json"), !serverType.isNull());
        if (serverType.isNull()) {
            QCOMPARE(config->value("ServerType"), QStringLiteral("before"));
            return;
        }
        QCOMPARE(config->value("ServerType"), serverType);
        QCOMPARE(config->value("deviceId"), QStringLiteral("from-file"));
        QCOMPARE(config->value("vaDetailLog"), QStringLiteral("true"));
        for (const char* notText : {"pcmDump", "dumpTest", "nested"}) // a JSON literal is not the text "true"
            QVERIFY2(config->value(notText).isNull(), notText);
    }

    // Every member that is not a text is named in a warning with the type found, and replaces
    // what was there with an empty value; texts are not warned.
    void nonTextMemberIsWarned_data()
    {
        QTest::addColumn<QByteArray>("member");
        QTest::addColumn<QString>("warning"); // empty: no warning
        QTest::addColumn<QString>("stored");
        // clang-format off
        QTest::newRow("number") << QByteArray("\"ServerType\":1000") << "ServerType number" << "";
        QTest::newRow("bool") << QByteArray("\"pcmDump\":true") << "pcmDump bool" << "";
        QTest::newRow("null") << QByteArray("\"sdkinit\":null") << "sdkinit null" << "";
        QTest::newRow("object") << QByteArray("\"ServerType\":{}") << "ServerType object" << "";
        QTest::newRow("array") << QByteArray("\"ServerType\":[\"1000\"]") << "ServerType array" << "";
        QTest::newRow("text") << QByteArray("\"ServerType\":\"1000\"") << QString() << "1000";
        QTest::newRow("empty text") << QByteArray("\"ServerType\":\"\"") << QString() << "";
        // clang-format on
    }

    void nonTextMemberIsWarned()
    {
        QFETCH(QByteArray, member);
        QFETCH(QString, warning);
        QFETCH(QString, stored);
        TestEnv::ScopedWorkDir dir;
        const QString key = QString::fromLatin1(member.split('"').at(1));
        config->setValue(key, "before");
        QFile file("cfg.json");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"other\":\"x\"," + member + "}");
        file.close();
        LogCapture log;
        QVERIFY(config->load("cfg.json"));
        QCOMPARE(config->value(key), stored);
        const QStringList warnings = log.lines().filter("is not a string");
        QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty())
            QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
    }

    void replyWrappedInOtherTextIsApplied()
    {
        // Reply name=stored name; addresses get a trailing slash unless they have one.
        const QStringList servers =
            QString("baseServer=ResURLServer logoServer=ImageResServer "
                    "cdnServer=ZebResServer logServer=ApiLogServer h5WebServer=H5WebServer "
                    "h5Server=H5Server securityServer=ChatLogServer payServer=QRCodeServer "
                    "cmsServer=cmsServer roomServer=roomServer")
                .split(' ');
        QJsonObject data{{"forceUpdate", 1},
                         {"downloadUrl", "http://dl/x.exe"},
                         {"updateTitle", "新版本"},
                         {"updateContent", "修复"},
                         {"gatewayServer", "ws://gw:9000"}};
        for (const QString& server : servers)
            data.insert(server.section('=', 0, 0),
                        "http://" + server.section('=', 0, 0) + (server.startsWith("base") ? "/" : ""));
        const QByteArray json =
            QJsonDocument({{"code", 1}, {"msg", "ok"}, {"data", data}}).toJson(QJsonDocument::Compact);
        QTest::ignoreMessage(QtInfoMsg,
                             ("SDKInit数据 " + json).constData()); // unquoted, without the wrapping
        config->applySdkInitReply("jsonp_cb(" + json + ");");
        QCOMPARE(state(), QStringList({"1", "ok", "1", "http://dl/x.exe", "http://roomServer/"}));
        QCOMPARE(config->updateTitle() + config->updateContent(), QStringLiteral("新版本修复"));
        QCOMPARE(config->value("WSUrlServer"), QStringLiteral("ws://gw:9000")); // never gets a slash
        for (const QString& server : servers)
            QCOMPARE(config->value(server.section('=', 1)), "http://" + server.section('=', 0, 0) + "/");
    }

    void repliesChangeOnlyWhatTheyCarry_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("no braces") << QByteArray("<html>502 Bad Gateway</html>");
        QTest::newRow("not json inside") << QByteArray("{roomServer: http://evil}");
        QTest::newRow("members left out")
            << QByteArray("{\"code\":7,\"data\":{\"logServer\":\"http://log:2/\"}}");
        QTest::newRow("data not an object") << QByteArray("{\"code\":7,\"data\":\"roomServer\"}");
        QTest::newRow("invalid utf-8") << QByteArray("{\"msg\":\"\xff\xfe\"}");
        QTest::newRow("wrongly typed members")
            << QByteArray("{\"code\":\"8\",\"msg\":8,\"data\":{\"roomServer\":5,"
                          "\"forceUpdate\":\"1\",\"downloadUrl\":[]}}");
    }

    void repliesChangeOnlyWhatTheyCarry()
    {
        QFETCH(QByteArray, reply);
        config->applySdkInitReply("{\"code\":7,\"msg\":\"base\",\"data\":{\"roomServer\":\"http://kept/\","
                                  "\"forceUpdate\":0,\"downloadUrl\":\"http://dl/\"}}");
        config->applySdkInitReply(reply);
        QCOMPARE(state(), QStringList({"7", "base", "0", "http://dl/", "http://kept/"}));
    }

    void versionReadFromOurOwnFile()
    {
        QString product, file;
        VGlobalConfig::appVersion(product, file);
        QCOMPARE(QStringList({product, file}), QStringList({TAVIO_VERSION_TEXT, TAVIO_VERSION_TEXT}));
        VGlobalConfig::appVersion("/bin/sh", product, file); // no block: the outputs stay as they were
        QCOMPARE(QStringList({product, file}), QStringList({TAVIO_VERSION_TEXT, TAVIO_VERSION_TEXT}));
    }
};

QTEST_GUILESS_MAIN(TestVGlobalConfig)
#include "tst_vglobalconfig.moc"
