#include "config/VGlobalConfig.h"
#include "localservices/LocalServicesProcess.h"
#include "net/http/TestHttpServer.h"
#include "net/http/VHttpComm.h"
#include "support/TestEnv.h"

#include <QJsonArray>
#include <QTest>

#include <memory>

// The click-event report: its body (order, merging, encoding), its address and its delivery to
// the log-collection service.
class TestClickEvent : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void bodyIsSortedWithExtraPairsInPlace();
    void extraPairRepeatingAFixedKeyComesFirst();
    void bodyEncodesLikeTheUrlQueryDefault();
    void addressAppendsThePathWithoutNormalising();
    void postedFormEncodedToTheLogServerPath_data();
    void postedFormEncodedToTheLogServerPath();
    void recordedByTheLocalLogService();
    void missingLogServerRejects();

private:
    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
};

void TestClickEvent::init()
{
    m_dir = std::make_unique<TestEnv::ScopedWorkDir>();
    VGlobalConfig::instance()->setValue(QStringLiteral("deviceId"), QStringLiteral("dev42"));
}

void TestClickEvent::cleanup()
{
    VHttpComm::release();
    m_dir.reset();
}

void TestClickEvent::bodyIsSortedWithExtraPairsInPlace()
{
    const QByteArray body = VHttpComm::clickEventBody(QStringLiteral("10"), QStringLiteral("1"),
                                                      {{QStringLiteral("action"), "1"}});
    QCOMPARE(body, QByteArray("action=1&appId=PC001&channelId=10&deviceId=dev42&deviceType=4&label=1&mcId=M0&"
                              "product=pc_anchor&scId=M0_S0"));
    const QByteArray noExtra = VHttpComm::clickEventBody(QStringLiteral("3"), QStringLiteral("x"), {});
    QCOMPARE(noExtra, QByteArray("appId=PC001&channelId=3&deviceId=dev42&deviceType=4&label=x&mcId=M0&"
                                 "product=pc_anchor&scId=M0_S0"));
}

void TestClickEvent::extraPairRepeatingAFixedKeyComesFirst()
{
    const QByteArray body = VHttpComm::clickEventBody(
        QStringLiteral("10"), QStringLiteral("1"),
        {{QStringLiteral("label"), QStringLiteral("extra")}, {QStringLiteral("zz"), QStringLiteral("9")}});
    QCOMPARE(body,
             QByteArray("appId=PC001&channelId=10&deviceId=dev42&deviceType=4&label=extra&label=1&mcId=M0&"
                        "product=pc_anchor&scId=M0_S0&zz=9"));
}

void TestClickEvent::bodyEncodesLikeTheUrlQueryDefault()
{
    VGlobalConfig::instance()->setValue(QStringLiteral("deviceId"), QStringLiteral("a b&c=d"));
    const QByteArray body = VHttpComm::clickEventBody(QStringLiteral("1"), QString::fromUtf8("标签#%"), {});
    // The query's pretty form escapes only its own delimiters and "%"; the rest stays as it is (UTF-8).
    QVERIFY2(body.contains("&deviceId=a b%26c%3Dd&"), body.constData());
    QVERIFY2(body.contains(QString::fromUtf8("&label=标签#%25&").toUtf8()), body.constData());
}

void TestClickEvent::addressAppendsThePathWithoutNormalising()
{
    auto* config = VGlobalConfig::instance();
    config->setValue(QStringLiteral("ApiLogServer"), QStringLiteral("http://log.example:81"));
    QCOMPARE(VHttpComm::clickEventUrl().toString(),
             QStringLiteral("http://log.example:81/burySite/appClickEvent"));
    config->setValue(QStringLiteral("ApiLogServer"), QStringLiteral("http://log.example:81/"));
    QCOMPARE(VHttpComm::clickEventUrl().toString(),
             QStringLiteral("http://log.example:81//burySite/appClickEvent"));
    config->setValue(QStringLiteral("ApiLogServer"), QStringLiteral("http://log.example/a%20b/"));
    QCOMPARE(VHttpComm::clickEventUrl().path(), QStringLiteral("/a b//burySite/appClickEvent"));
}

void TestClickEvent::postedFormEncodedToTheLogServerPath_data()
{
    QTest::addColumn<QString>("logServerPath");
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("no path") << QString() << QByteArray("/burySite/appClickEvent");
    // The configuration reply stores the address with a trailing slash; the address then has two
    // slashes before "burySite", which Qt's network layer sends as one.
    QTest::newRow("trailing slash") << QStringLiteral("/") << QByteArray("/burySite/appClickEvent");
    QTest::newRow("with path") << QStringLiteral("/log") << QByteArray("/log/burySite/appClickEvent");
}

void TestClickEvent::postedFormEncodedToTheLogServerPath()
{
    QFETCH(QString, logServerPath);
    QFETCH(QByteArray, target);
    TestHttpServer server;
    server.answerWith(200, "{\"code\":1}");
    VGlobalConfig::instance()->setValue(
        QStringLiteral("ApiLogServer"),
        QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(logServerPath));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("content-type missing")));
    bool done = false;
    VHttpComm::instance()
        ->reportClickEvent(QStringLiteral("10"), QStringLiteral("1"), {{QStringLiteral("action"), "1"}})
        .then([&](const QByteArray&) { done = true; });
    QTRY_VERIFY(done);
    const auto& request = server.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, target);
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(request.headers.value("user-agent"), QByteArray("ZebDesktop"));
    QVERIFY(request.body.startsWith("action=1&appId=PC001&"));
}

void TestClickEvent::recordedByTheLocalLogService()
{
    LocalServicesProcess services;
    QVERIFY(services.start());
    // As the configuration reply stores it: with a trailing slash.
    VGlobalConfig::instance()->setValue(QStringLiteral("ApiLogServer"), services.baseUrl());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("content-type missing")));
    QByteArray answer;
    VHttpComm::instance()
        ->reportClickEvent(QStringLiteral("10"), QStringLiteral("1"), {{QStringLiteral("action"), "1"}})
        .then([&](const QByteArray& body) { answer = body; });
    QTRY_VERIFY(!answer.isEmpty());
    QCOMPARE(QJsonDocument::fromJson(answer).object().value(QStringLiteral("code")).toInt(), 1);

    const QJsonArray events =
        QJsonDocument::fromJson(
            services.request("GET", QStringLiteral("burySite/appClickEvent"), QByteArray()))
            .array();
    QCOMPARE(events.size(), 1);
    const QJsonObject event = events.first().toObject();
    QCOMPARE(event.value(QStringLiteral("userAgent")).toString(), QStringLiteral("ZebDesktop"));
    QCOMPARE(event.value(QStringLiteral("body")).toString(),
             QStringLiteral("action=1&appId=PC001&channelId=10&deviceId=dev42&deviceType=4&label=1&mcId=M0&"
                            "product=pc_anchor&scId=M0_S0"));
    QCOMPARE(event.value(QStringLiteral("params")).toArray().first().toArray().first().toString(),
             QStringLiteral("action"));
}

void TestClickEvent::missingLogServerRejects()
{
    VGlobalConfig::instance()->setValue(QStringLiteral("ApiLogServer"), QString());
    ZebPromiseError error;
    bool failed = false;
    VHttpComm::instance()
        ->reportClickEvent(QStringLiteral("10"), QStringLiteral("1"), {})
        .fail([&](const ZebPromiseError& e) {
            error = e;
            failed = true;
        });
    QTRY_VERIFY(failed);
    QCOMPARE(error.text, QStringLiteral("Http_post_error"));
    QVERIFY(error.code != 0);
}

QTEST_GUILESS_MAIN(TestClickEvent)
#include "tst_clickevent.moc"
