#include "config/VGlobalConfig.h"
#include "net/http/TestHttpServer.h"
#include "net/http/VHttpComm.h"
#include "support/TestEnv.h"

#include <QRegularExpression>

namespace {

const QByteArray kBody("action=1&appId=PC001&channelId=10&deviceId=dev42&deviceType=4&label=1&mcId=M0&"
                       "product=pc_anchor&scId=M0_S0");

void setConfig(const char* key, const QString& value)
{
    VGlobalConfig::instance()->setValue(QLatin1String(key), value);
}

// Reports {action: 1} on channel 10 with label 1: "body:<answer>" or "error:<text>:<code>".
QByteArray report()
{
    auto outcome = std::make_shared<QByteArray>();
    VHttpComm::instance()
        ->reportClickEvent(QStringLiteral("10"), QStringLiteral("1"), {{QStringLiteral("action"), "1"}})
        .then([outcome](const QByteArray& body) { *outcome = "body:" + body; })
        .fail([outcome](const ZebPromiseError& e) {
            *outcome = "error:" + e.text.toUtf8() + ':' + QByteArray::number(e.code);
        });
    (void)QTest::qWaitFor([&]() { return !outcome->isEmpty(); }, 8000);
    return *outcome;
}

} // namespace

class TestClickEvent : public QObject
{
    Q_OBJECT

private slots:
    void init() { setConfig("deviceId", QStringLiteral("dev42")); }
    void cleanup() { VHttpComm::destroyInstance(); }
    void bodyIsSortedMergedAndEncoded();
    void postedFormEncodedToTheLogServerPath();

private:
    TestEnv::ScopedWorkDir m_dir;
};

void TestClickEvent::bodyIsSortedMergedAndEncoded()
{
    QCOMPARE(VHttpComm::clickEventBody("10", "1", {{"action", "1"}}), kBody);
    // An extra pair repeating a fixed key comes first.
    QCOMPARE(VHttpComm::clickEventBody("10", "1", {{"label", "extra"}, {"zz", "9"}}),
             QByteArray("appId=PC001&channelId=10&deviceId=dev42&deviceType=4&label=extra&label=1&mcId=M0&"
                        "product=pc_anchor&scId=M0_S0&zz=9"));
    // The query's pretty form escapes only its own delimiters and "%"; the rest stays UTF-8.
    setConfig("deviceId", QStringLiteral("a b&c=d"));
    QCOMPARE(QString::fromUtf8(VHttpComm::clickEventBody("10", QString::fromUtf8("标签#%"), {})),
             QString::fromUtf8("appId=PC001&channelId=10&deviceId=a b%26c%3Dd&deviceType=4&label=标签#%25&"
                               "mcId=M0&product=pc_anchor&scId=M0_S0"));
}

void TestClickEvent::postedFormEncodedToTheLogServerPath()
{
    // "/": as the configuration reply stores it; the address keeps both slashes, the network layer sends one.
    for (const QString path : {"", "/", "/log"}) {
        TestHttpServer server;
        server.answerWith(200, "{\"code\":1}");
        setConfig("ApiLogServer", server.url(path));
        QCOMPARE(VHttpComm::clickEventUrl().toString(), server.url(path) + "/burySite/appClickEvent");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("content-type missing")));
        QCOMPARE(report(), QByteArray("body:{\"code\":1}"));
        const TestHttpServer::Request& request = server.requests().first();
        QCOMPARE(request.method + ' ' + request.target,
                 "POST " + QByteArray(path == "/log" ? "/log" : "") + "/burySite/appClickEvent");
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(request.headers.value("user-agent"), QByteArray("ZebDesktop"));
        QCOMPARE(request.body, kBody);
    }
    setConfig("ApiLogServer", QString());
    const QByteArray failure = report();
    QVERIFY2(failure.startsWith("error:Http_post_error:") && !failure.endsWith(":0"), failure.constData());
}

QTEST_GUILESS_MAIN(TestClickEvent)
#include "tst_clickevent.moc"
