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

// Sends one request in a style ("get", "post<kind>", "click" (the event above), "sync") and describes
// what came back: "ok:<body>" or "error:<text>:<code>" (promise), "<body>|answered" or "<body>|failed"
// (sync), "none" when nothing came.
QString send(const QString& style, const QUrl& url, const QByteArray& body = QByteArray(), int waitMs = 8000)
{
    VHttpComm* http = VHttpComm::instance();
    if (style == QLatin1String("sync")) {
        bool failed = false;
        const QByteArray answer = http->syncPost(url, body, failed);
        return QString::fromUtf8(answer) + (failed ? "|failed" : "|answered");
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

// The program's log file while `run` sends its requests.
QString logFileOf(const std::function<void()>& run)
{
    TestEnv::ScopedWorkDir dir;
    installLogHandler(true, false);
    run();
    qInstallMessageHandler(nullptr);
    return TestEnv::readText(LogHandler::fileNameFor(QDateTime::currentDateTime()));
}

} // namespace

class TestVHttpComm : public QObject
{
    Q_OBJECT

private slots:
    void init() { setConfig("deviceId", QStringLiteral("dev42")); }
    void cleanup() { VHttpComm::destroyInstance(); }

    // Posted form-encoded below the log server's path ("/": as the configuration reply stores it, the
    // network layer sends one slash); sorted, an extra pair repeating a fixed key first, and the
    // query's pretty form escaping only its own delimiters and "%".
    void clickEvent()
    {
        for (const QString path : {"", "/", "/log"}) {
            TestHttpServer server;
            server.answerWith(200, "{\"code\":1}");
            setConfig("ApiLogServer", server.url(path));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("content-type missing")));
            QCOMPARE(send(QStringLiteral("click"), QUrl()), QStringLiteral("ok:{\"code\":1}"));
            const TestHttpServer::Request& request = server.requests().first();
            QCOMPARE(request.method + ' ' + request.target,
                     "POST " + QByteArray(path == "/log" ? "/log" : "") + "/burySite/appClickEvent");
            QCOMPARE(request.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
            QCOMPARE(request.body, kClickBody);
        }
        setConfig("ApiLogServer", QString());
        const QString failure = send(QStringLiteral("click"), QUrl());
        QVERIFY2(failure.startsWith("error:Http_post_error:") && !failure.endsWith(":0"),
                 qPrintable(failure));
        setConfig("deviceId", QStringLiteral("a b&c=d"));
        QCOMPARE(
            QString::fromUtf8(VHttpComm::clickEventBody("10", QString::fromUtf8("标签#%"), {{"label", "x"}})),
            QString::fromUtf8("appId=PC001&channelId=10&deviceId=a b%26c%3Dd&deviceType=4&label=x&"
                              "label=标签#%25&mcId=M0&product=pc_anchor&scId=M0_S0"));
    }

    void everyStyle_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<int>("status"); // 0: nothing listens
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QByteArray>("request"); // method and content type as received
        auto row = [](const char* name, const char* style, int status, const char* body,
                      const QString& outcome, const char* request) {
            QTest::newRow(name) << style << status << QByteArray(body) << outcome << QByteArray(request);
        };
        auto error = [](const char* text, int code) {
            return QStringLiteral("error:%1:%2").arg(text).arg(code);
        };
        const char* get = "GET application/octet-stream";
        const char* json = "POST application/json";
        row("get", "get", 200, "", "ok:answer", get);
        row("get 404", "get", 404, "", error("Http_get_error", QNetworkReply::ContentNotFoundError), get);
        row("get refused", "get", 0, "", error("Http_get_error", QNetworkReply::ConnectionRefusedError), "");
        row("post octet", "post0", 200, "x=1", "ok:answer", "POST application/octet-stream");
        // Kinds other than 0 and 2 set none of ours: the network layer's form default applies.
        row("post form", "post1", 200, "x=1", "ok:answer", "POST application/x-www-form-urlencoded");
        row("post json", "post2", 200, "{}", "ok:answer", json);
        row("post 500", "post2", 500, "{}", error("Http_post_error", QNetworkReply::InternalServerError),
            json);
        row("sync get", "sync", 200, "", "answer|answered", get);
        row("sync post", "sync", 200, "{}", "answer|answered", json);
        // An answer of another status has no body but is no transport failure either: both families.
        row("sync 201", "sync", 201, "{}", "|answered", json);
        row("sync 404", "sync", 404, "", "|answered", get);
        row("sync 503", "sync", 503, "{}", "|answered", json);
        row("sync refused", "sync", 0, "", "|failed", "");
    }
    void everyStyle()
    {
        QFETCH(QString, style);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        QFETCH(QByteArray, request);
        TestHttpServer server;
        server.answerWith(status, "answer");
        QCOMPARE(send(style, QUrl(status ? server.url("/a?b=1") : TestHttpServer::closedUrl()), body),
                 outcome);
        QCOMPARE(server.requests().size(), status ? 1 : 0);
        if (!status)
            return;
        const TestHttpServer::Request& sent = server.requests().first();
        QCOMPARE(sent.method + ' ' + sent.headers.value("content-type"), request);
        QCOMPARE(sent.target + ' ' + sent.body + ' ' + sent.headers.value("user-agent"),
                 "/a?b=1 " + body + " ZebDesktop");
    }

    void refusedArgumentsAndDeadReceivers()
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

    void releaseRejectsPendingPromises()
    {
        TestHttpServer server;
        server.neverAnswer();
        auto got = VHttpComm::instance()->get(QUrl(server.url()));
        auto posted = VHttpComm::instance()->post(QUrl(server.url()), "b", 0);
        QVERIFY(server.waitForRequests(2));
        VHttpComm::destroyInstance();
        QTRY_VERIFY(got.isRejected() && posted.isRejected());
        QCOMPARE(got.error().text + '|' + posted.error().text,
                 "httpcomm already destroy|httpcomm already destroy");
    }

    // The limit holds whether the server says nothing or stalls inside the body of its answer.
    void syncPostAbortsAfterTenSeconds_data()
    {
        QTest::addColumn<int>("stallAtByte");
        QTest::newRow("silent") << 0;
        QTest::newRow("inside the body")
            << TestHttpServer::answerBytes(200, kStalledBody).indexOf("\r\n\r\n") + 7;
    }
    void syncPostAbortsAfterTenSeconds()
    {
        QFETCH(int, stallAtByte);
        TestHttpServer server;
        server.stallAt(stallAtByte, kStalledBody);
        ManualClock clock;
        const qint64 startMs = clock.monotonicMs();
        // Time moves from inside the blocking call's own event loop; the steps die with this scope. If
        // the limit does not end the call, the server gives up at 5 s instead.
        QObject scope;
        QStringList seen;
        QTimer::singleShot(0, &scope, [&]() { clock.advance(9999); });
        QTimer::singleShot(50, &scope, [&]() {
            seen << "waiting at 9999";
            clock.advance(1);
        });
        QTimer::singleShot(5000, &scope, [&]() {
            seen << "dropped";
            server.dropAll();
        });
        QCOMPARE(send(QStringLiteral("sync"), QUrl(server.url())), QStringLiteral("|failed"));
        QCOMPARE(seen, QStringList{"waiting at 9999"});
        QCOMPARE(clock.monotonicMs() - startMs, 10000);
    }

    void callbackWatchdogAbortsAfterFifteenSeconds()
    {
        TestHttpServer server;
        server.neverAnswer();
        ManualClock clock;
        CallbackReceiver receiver;
        QVERIFY(VHttpComm::instance()->getWithCallback(QUrl(server.url()), &receiver,
                                                       QStringLiteral("onReply"), false));
        QVERIFY(server.waitForRequests(1));
        clock.advance(14999);
        QTest::qWait(50);
        QVERIFY(receiver.delivered.isEmpty());
        QTest::ignoreMessage(QtWarningMsg, "response get http status failed");
        clock.advance(1);
        QTRY_COMPARE(receiver.delivered, QStringLiteral("-200:"));
    }

    void maskForLog_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("masked");
        auto row = [](const char* text, const char* masked) { QTest::newRow(text) << text << masked; };
        row("a=1&password=&b=2", "a=1&password=***&b=2");
        row("{\"password\": \"se\\\"cret\",\"sign\":\"s\"}", "{\"password\": \"***\",\"sign\":\"s\"}");
        row("{\"password\":123456,\"a\":1}", "{\"password\":\"***\",\"a\":1}");
        row("oldpassword=x&passwordHint=y", "oldpassword=x&passwordHint=y");
        row("{\"msg\":\"password=x\"}", "{\"msg\":\"password=***\"}");
    }
    void maskForLog()
    {
        QFETCH(QString, text);
        QFETCH(QString, masked);
        QCOMPARE(VHttpComm::maskForLog(text), masked);
    }

    // The password's digest never reaches the log file, by any style, in the address, the body or
    // an echo in the reply; the signature does (it proves nothing without the key).
    void logFileCarriesNoPassword()
    {
        TestHttpServer server;
        server.answerWith(200, "{\"code\":1,\"msg\":\"password=echoed\"}");
        const QString digest = QStringLiteral("e10adc3949ba59abbe56e057f20f883e");
        const QUrl url(
            server.url(QStringLiteral("/login?password=%1&phoneNumber=10001&sign=feedbeef").arg(digest)));
        const QString log = logFileOf([&]() {
            send(QStringLiteral("sync"), url);
            send(QStringLiteral("sync"), QUrl(server.url()), "{\"password\":\"" + digest.toUtf8() + "\"}");
            send(QStringLiteral("post1"), url, "phoneNumber=1&password=" + digest.toUtf8());
            send(QStringLiteral("get"), url);
        });
        for (const char* line : {"HTTP-Post Sync", "HTTP-Post ", "HTTP-Get asyn", "HTTP-Response",
                                 "password=***", "\\\"password\\\":\\\"***\\\"", "sign=feedbeef"})
            QVERIFY2(log.contains(QLatin1String(line)), line);
        QVERIFY2(!log.contains(digest) && !log.contains(QStringLiteral("echoed")), qPrintable(log));
    }

    // The blocking request logs a reply cut at 2 KB, the asynchronous post at 300 bytes, each with the
    // full length when cut; masking comes first, so a password across the cut does not leak.
    void repliesAreLoggedCut_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("keptBytes"); // -1: whole, no length note
        QTest::newRow("sync at 2048") << "sync" << QByteArray(2048, 'a') << -1;
        QTest::newRow("sync at 2049") << "sync" << QByteArray(2049, 'a') << 2048;
        QTest::newRow("post at 300") << "post1" << QByteArray(300, 'a') << -1;
        QTest::newRow("post at 301") << "post1" << QByteArray(301, 'a') << 300;
        QTest::newRow("password across the cut")
            << "post1" << QByteArray(290, 'a') + "&password=SECRETSECRET" << 300;
    }
    void repliesAreLoggedCut()
    {
        QFETCH(QString, style);
        QFETCH(QByteArray, reply);
        QFETCH(int, keptBytes);
        const QString tag = style == QLatin1String("sync") ? "HTTP-Post Sync Reply: " : "HTTP-Response ";
        TestHttpServer server;
        server.answerWith(200, reply);
        // Each entry's message stands on its own line, ended by "\r\n".
        const QStringList logged =
            logFileOf([&]() {
                send(style, QUrl(server.url()),
                     style == QLatin1String("sync") ? QByteArray() : QByteArray("a=1"));
            })
                .split(QRegularExpression("[\r\n]+"))
                .filter(QRegularExpression("^" + tag));
        QCOMPARE(logged.size(), 1);
        // The length noted is the masked reply's (the password's value is gone from it).
        const QString note =
            reply.contains("password") ? " bytes)" : QStringLiteral("…(%1 bytes)").arg(reply.size());
        QVERIFY(!logged.first().contains("SECRET") && logged.first().endsWith(note) == (keptBytes >= 0));
        QVERIFY(logged.first().size() < (keptBytes < 0 ? reply.size() : keptBytes) + tag.size() + 64);
    }

private:
    TestEnv::ScopedWorkDir m_dir; // the configuration's first use makes folders here
};

QTEST_GUILESS_MAIN(TestVHttpComm)
#include "tst_vhttpcomm.moc"
