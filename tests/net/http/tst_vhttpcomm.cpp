#include "base/LogHandler.h"
#include "config/VGlobalConfig.h"
#include "net/http/TestHttpServer.h"
#include "net/http/VHttpComm.h"
#include "support/ManualClock.h"
#include "support/TestEnv.h"

#include <QNetworkReply>
#include <QRegularExpression>
#include <QTimer>

#include <memory>

class CallbackReceiver : public QObject
{
    Q_OBJECT

public:
    QString delivered;

public slots:
    void onReply(int status, QByteArray body) { delivered = QString::number(status) + ':' + body; }
    void onReplyWithId(int status, QByteArray body, unsigned long long id)
    {
        onReply(status, body);
        delivered += QStringLiteral(" id:%1").arg(id);
    }
};

namespace {

const QByteArray kStalledBody("{\"code\":1}");
// The click event {action: 1} on channel 10 with label 1, as sent.
const QByteArray kClickBody("action=1&appId=PC001&channelId=10&deviceId=dev42&deviceType=4&label=1&mcId=M0&"
                            "product=pc_anchor&scId=M0_S0");

void setConfig(const char* key, const QString& value)
{
    VGlobalConfig::instance()->setValue(QLatin1String(key), value);
}

// Sends one request in a style ("get", "post<kind>", "click" (the event above), "sync", "cbget",
// "cbpost") and describes what came back: "ok:<body>" or "error:<text>:<code>" (promise),
// "<body>|answered" or "<body>|failed" (sync), "<status>:<body>" (callback, the post one with
// " id:<its request id>"), "none" when nothing came.
QString send(const QString& style, const QUrl& url, const QByteArray& body = QByteArray(), int waitMs = 8000)
{
    VHttpComm* http = VHttpComm::instance();
    if (style == QLatin1String("sync")) {
        bool failed = false;
        const QByteArray answer = http->syncPost(url, body, failed);
        return QString::fromUtf8(answer) + (failed ? "|failed" : "|answered");
    }
    if (style.startsWith(QLatin1String("cb"))) {
        CallbackReceiver receiver;
        const qint64 id =
            style == QLatin1String("cbget")
                ? http->getWithCallback(url, &receiver, QStringLiteral("onReply"), false)
                : http->postWithCallback(url, body, &receiver, QStringLiteral("onReplyWithId"), true);
        if (id && QTest::qWaitFor([&]() { return !receiver.delivered.isEmpty(); }, waitMs))
            return receiver.delivered.replace(QStringLiteral(" id:%1").arg(id), QStringLiteral(" id:its"));
        return QStringLiteral("none");
    }
    auto outcome = std::make_shared<QString>(); // outlives a late continuation
    const QMap<QString, QString> action{{QStringLiteral("action"), QStringLiteral("1")}};
    (style == QLatin1String("get") ? http->get(url)
     : style == QLatin1String("click")
         ? http->reportClickEvent(QStringLiteral("10"), QStringLiteral("1"), action)
         : http->post(url, body, style.mid(4).toInt()))
        .then([outcome](const QByteArray& answer) { *outcome = "ok:" + answer; })
        .fail([outcome](const ZebPromiseError& e) {
            *outcome = QStringLiteral("error:%1:%2").arg(e.text).arg(e.code);
        });
    return QTest::qWaitFor([&]() { return !outcome->isEmpty(); }, waitMs) ? *outcome : QStringLiteral("none");
}

} // namespace

class TestVHttpComm : public QObject
{
    Q_OBJECT

private slots:
    void init() { setConfig("deviceId", QStringLiteral("dev42")); }
    void cleanup() { VHttpComm::destroyInstance(); }
    void clickEventBodyIsSortedMergedAndEncoded();
    void clickEventPostedFormEncodedToTheLogServerPath();
    void everyStyle_data();
    void everyStyle();
    void refusedArgumentsAndDeadReceivers();
    void releaseRejectsPendingPromises();
    void syncPostAbortsAfterTenSeconds_data();
    void syncPostAbortsAfterTenSeconds();
    void callbackWatchdogAbortsAfterFifteenSeconds();
    void maskForLog_data();
    void maskForLog();
    void logFileCarriesNoPassword();
    void repliesAreLoggedCut_data();
    void repliesAreLoggedCut();

private:
    TestEnv::ScopedWorkDir m_dir; // the configuration's first use makes folders here
};

void TestVHttpComm::everyStyle_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<int>("status"); // 0: nothing listens
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QByteArray>("request"); // method and content type as received
    auto row = [](const char* name, const char* style, int status, const char* body, const QString& outcome,
                  const char* request) {
        QTest::newRow(name) << style << status << QByteArray(body) << outcome << QByteArray(request);
    };
    auto error = [](const char* text, int code) { return QStringLiteral("error:%1:%2").arg(text).arg(code); };
    const char* get = "GET application/octet-stream";
    const char* json = "POST application/json";
    row("get", "get", 200, "", "ok:answer", get);
    row("get 404", "get", 404, "", error("Http_get_error", QNetworkReply::ContentNotFoundError), get);
    row("get refused", "get", 0, "", error("Http_get_error", QNetworkReply::ConnectionRefusedError), "");
    row("post octet", "post0", 200, "x=1", "ok:answer", "POST application/octet-stream");
    // Kinds other than 0 and 2 set none of ours: the network layer's form default applies.
    row("post form", "post1", 200, "x=1", "ok:answer", "POST application/x-www-form-urlencoded");
    row("post json", "post2", 200, "{}", "ok:answer", json);
    row("post 500", "post2", 500, "{}", error("Http_post_error", QNetworkReply::InternalServerError), json);
    row("sync get", "sync", 200, "", "answer|answered", get);
    row("sync post", "sync", 200, "{}", "answer|answered", json);
    // An answer of another status has no body but is no transport failure either: both families.
    row("sync 201", "sync", 201, "{}", "|answered", json);
    row("sync 404", "sync", 404, "", "|answered", get);
    row("sync 503", "sync", 503, "{}", "|answered", json);
    row("sync refused", "sync", 0, "", "|failed", "");
    row("callback post", "cbpost", 200, "{}", "200:answer id:its", "POST application/octet-stream");
    row("callback 404", "cbget", 404, "", "404:answer", get);
    row("callback refused", "cbget", 0, "", "-200:", "");
}

void TestVHttpComm::everyStyle()
{
    QFETCH(QString, style);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, request);
    TestHttpServer server;
    server.answerWith(status, "answer");
    if (outcome == QLatin1String("-200:"))
        QTest::ignoreMessage(QtWarningMsg, "response get http status failed");
    QCOMPARE(send(style, QUrl(status ? server.url("/a?b=1") : TestHttpServer::closedUrl()), body), outcome);
    QCOMPARE(server.requests().size(), status ? 1 : 0);
    if (!status)
        return;
    const TestHttpServer::Request& sent = server.requests().first();
    QCOMPARE(sent.method + ' ' + sent.headers.value("content-type"), request);
    QCOMPARE(sent.target, QByteArray("/a?b=1"));
    QCOMPARE(sent.body, body);
    QCOMPARE(sent.headers.value("user-agent"), QByteArray("ZebDesktop"));
}

void TestVHttpComm::refusedArgumentsAndDeadReceivers()
{
    TestHttpServer server;
    VHttpComm* http = VHttpComm::instance();
    QCOMPARE(send(QStringLiteral("get"), QUrl()), QStringLiteral("error:httpcomm url empty:0"));
    QCOMPARE(send(QStringLiteral("sync"), QUrl(), "body"), QStringLiteral("|answered"));
    QTest::ignoreMessage(QtWarningMsg, "post para error");
    QCOMPARE(http->getWithCallback(QUrl(server.url()), nullptr, QStringLiteral("onReply"), false), 0);
    auto* dying = new CallbackReceiver;
    QCOMPARE(http->getWithCallback(QUrl(), dying, QStringLiteral("onReply"), false), 0);
    QVERIFY(http->getWithCallback(QUrl(server.url()), dying, QStringLiteral("onReply"), false));
    delete dying;
    QVERIFY(server.waitForRequests(1));
    QTest::qWait(100); // the completion runs and must not touch the dead receiver
    QCOMPARE(server.connectionCount(), 1);
}

void TestVHttpComm::releaseRejectsPendingPromises()
{
    TestHttpServer server;
    server.neverAnswer();
    auto got = VHttpComm::instance()->get(QUrl(server.url()));
    auto posted = VHttpComm::instance()->post(QUrl(server.url()), "b", 0);
    QVERIFY(server.waitForRequests(2));
    VHttpComm::destroyInstance();
    QTRY_VERIFY(got.isRejected() && posted.isRejected());
    QCOMPARE(got.error().text, QStringLiteral("httpcomm already destroy"));
    QCOMPARE(posted.error().text, QStringLiteral("httpcomm already destroy"));
}

// The limit holds whether the server says nothing or stalls after sending part of its answer.
void TestVHttpComm::syncPostAbortsAfterTenSeconds_data()
{
    QTest::addColumn<int>("stallAtByte");
    QTest::newRow("silent") << 0;
    QTest::newRow("inside the body") << TestHttpServer::answerBytes(200, kStalledBody).indexOf("\r\n\r\n") +
                                            7;
}

void TestVHttpComm::syncPostAbortsAfterTenSeconds()
{
    QFETCH(int, stallAtByte);
    TestHttpServer server;
    server.stallAt(stallAtByte, kStalledBody);
    ManualClock clock;
    const qint64 startMs = clock.monotonicMs();
    // Time moves from inside the blocking call's own event loop; the steps die with this scope.
    QObject scope;
    bool waitingAt9999 = false;
    QTimer::singleShot(0, &scope, [&]() { clock.advance(9999); });
    QTimer::singleShot(50, &scope, [&]() {
        waitingAt9999 = true; // still inside the call: nothing was aborted before the limit
        clock.advance(1);
    });
    // Only reached when the limit did not end the call: the server gives up instead.
    bool dropped = false;
    QTimer::singleShot(5000, &scope, [&]() {
        dropped = true;
        server.dropAll();
    });
    QCOMPARE(send(QStringLiteral("sync"), QUrl(server.url())), QStringLiteral("|failed"));
    QVERIFY(waitingAt9999);
    QVERIFY(!dropped);
    QCOMPARE(clock.monotonicMs() - startMs, 10000);
}

void TestVHttpComm::callbackWatchdogAbortsAfterFifteenSeconds()
{
    TestHttpServer server;
    server.neverAnswer();
    ManualClock clock;
    CallbackReceiver receiver;
    QVERIFY(VHttpComm::instance()->getWithCallback(QUrl(server.url()), &receiver, QStringLiteral("onReply"),
                                                   false));
    QVERIFY(server.waitForRequests(1));
    clock.advance(14999);
    QTest::qWait(50);
    QVERIFY(receiver.delivered.isEmpty());
    QTest::ignoreMessage(QtWarningMsg, "response get http status failed");
    clock.advance(1);
    QTRY_COMPARE(receiver.delivered, QStringLiteral("-200:"));
}

void TestVHttpComm::maskForLog_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("masked");
    auto row = [](const char* text, const char* masked) { QTest::newRow(text) << text << masked; };
    row("http://h/p?appId=PC002&password=e10adc39&sign=abc", "http://h/p?appId=PC002&password=***&sign=abc");
    row("password=x&b=1", "password=***&b=1");
    row("a=1&password=&b=2", "a=1&password=***&b=2");
    row(R"({"user":"1","password": "se\"cret","sign":"s"})", R"({"user":"1","password": "***","sign":"s"})");
    row(R"({"password":123456,"a":1})", R"({"password":"***","a":1})");
    row("oldpassword=x&passwordHint=y", "oldpassword=x&passwordHint=y");
    row(R"({"msg":"password=x"})", R"({"msg":"password=***"})");
}

void TestVHttpComm::maskForLog()
{
    QFETCH(QString, text);
    QFETCH(QString, masked);
    QCOMPARE(VHttpComm::maskForLog(text), masked);
}

void TestVHttpComm::logFileCarriesNoPassword()
{
    TestEnv::ScopedWorkDir dir;
    installLogHandler(true, false);
    TestHttpServer server;
    server.answerWith(200, "{\"code\":1,\"msg\":\"password=echoed\"}");
    const QString digest = QStringLiteral("e10adc3949ba59abbe56e057f20f883e");
    const QUrl url(
        server.url(QStringLiteral("/login?password=%1&phoneNumber=10001&sign=feedbeef").arg(digest)));
    send(QStringLiteral("sync"), url);
    send(QStringLiteral("sync"), QUrl(server.url()), "{\"password\":\"" + digest.toUtf8() + "\"}");
    send(QStringLiteral("post1"), url, "phoneNumber=1&password=" + digest.toUtf8());
    send(QStringLiteral("get"), url);
    qInstallMessageHandler(nullptr);
    const QString log = TestEnv::readText(LogHandler::fileNameFor(QDateTime::currentDateTime()));
    for (const char* line : {"HTTP-Post Sync", "HTTP-Post ", "HTTP-Get asyn", "HTTP-Response", "password=***",
                             R"(\"password\":\"***\")", "sign=feedbeef"})
        QVERIFY2(log.contains(QLatin1String(line)), line);
    QVERIFY2(!log.contains(digest), qPrintable(log));
    QVERIFY(!log.contains(QStringLiteral("echoed")));
}

// The blocking request logs a reply cut at 2 KB, the asynchronous post at 300 bytes, each with the
// full length when cut; masking comes first, so a password across the cut does not leak.
void TestVHttpComm::repliesAreLoggedCut_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("tag");   // what starts the logged line
    QTest::addColumn<int>("keptBytes"); // -1: whole, no length note
    QTest::newRow("sync below the cap") << "sync" << QByteArray(2048, 'a') << "HTTP-Post Sync Reply:" << -1;
    QTest::newRow("sync above the cap") << "sync" << QByteArray(2049, 'a') << "HTTP-Post Sync Reply:" << 2048;
    QTest::newRow("post at 300") << "post1" << QByteArray(300, 'a') << "HTTP-Response" << -1;
    QTest::newRow("post at 301") << "post1" << QByteArray(301, 'a') << "HTTP-Response" << 300;
    QTest::newRow("password across the cut") << "post1" << QByteArray(290, 'a') + "&password=SECRETSECRET"
                                             << "HTTP-Response" << 300;
}

void TestVHttpComm::repliesAreLoggedCut()
{
    QFETCH(QString, style);
    QFETCH(QByteArray, reply);
    QFETCH(QString, tag);
    QFETCH(int, keptBytes);
    TestEnv::ScopedWorkDir dir;
    installLogHandler(true, false);
    TestHttpServer server;
    server.answerWith(200, reply);
    send(style, QUrl(server.url()), style == QLatin1String("sync") ? QByteArray() : QByteArray("a=1"));
    qInstallMessageHandler(nullptr);
    QStringList logged; // each entry's message stands on its own line, ended by "\r\n"
    for (const QString& line :
         TestEnv::readText(LogHandler::fileNameFor(QDateTime::currentDateTime())).split('\n'))
        if (line.startsWith(tag + ' '))
            logged.append(line.trimmed());
    QCOMPARE(logged.size(), 1);
    QVERIFY(!logged.first().contains("SECRET"));
    // The length noted is the masked reply's (the password's value is gone from it).
    QCOMPARE(logged.first().endsWith(" bytes)"), keptBytes >= 0);
    if (!reply.contains("password"))
        QCOMPARE(logged.first().endsWith(QStringLiteral("…(%1 bytes)").arg(reply.size())), keptBytes >= 0);
    QVERIFY(logged.first().size() < (keptBytes < 0 ? reply.size() : keptBytes) + tag.size() + 64);
}

void TestVHttpComm::clickEventBodyIsSortedMergedAndEncoded()
{
    QCOMPARE(VHttpComm::clickEventBody("10", "1", {{"action", "1"}}), kClickBody);
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

void TestVHttpComm::clickEventPostedFormEncodedToTheLogServerPath()
{
    // "/": as the configuration reply stores it; the address keeps both slashes, the network layer sends one.
    for (const QString path : {"", "/", "/log"}) {
        TestHttpServer server;
        server.answerWith(200, "{\"code\":1}");
        setConfig("ApiLogServer", server.url(path));
        QCOMPARE(VHttpComm::clickEventUrl().toString(), server.url(path) + "/burySite/appClickEvent");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("content-type missing")));
        QCOMPARE(send(QStringLiteral("click"), QUrl()), QStringLiteral("ok:{\"code\":1}"));
        const TestHttpServer::Request& request = server.requests().first();
        QCOMPARE(request.method + ' ' + request.target,
                 "POST " + QByteArray(path == "/log" ? "/log" : "") + "/burySite/appClickEvent");
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(request.headers.value("user-agent"), QByteArray("ZebDesktop"));
        QCOMPARE(request.body, kClickBody);
    }
    setConfig("ApiLogServer", QString());
    const QString failure = send(QStringLiteral("click"), QUrl());
    QVERIFY2(failure.startsWith("error:Http_post_error:") && !failure.endsWith(":0"), qPrintable(failure));
}

QTEST_GUILESS_MAIN(TestVHttpComm)
#include "tst_vhttpcomm.moc"
