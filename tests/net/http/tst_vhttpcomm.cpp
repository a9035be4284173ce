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

// Sends a request ("get", "post<kind>", "click" (the event above), "sync"); what came back: "ok:<body>",
// "error:<text>:<code>", "<body>|answered" or "<body>|failed" (sync), "none" when nothing came.
QString send(const QString& style, const QUrl& url, const QByteArray& body = QByteArray(), int waitMs = 8000)
{
    VHttpComm* http = VHttpComm::instance();
    if (style == "sync") {
        bool failed = false;
        const QByteArray answer = http->syncPost(url, body, failed);
        return QString::fromUtf8(answer) + (failed ? "|failed" : "|answered");
    }
    auto outcome = std::make_shared<QString>(); // outlives a late continuation
    (style == "get"     ? http->get(url)
     : style == "click" ? http->reportClickEvent("10", "1", {{"action", "1"}})
                        : http->post(url, body, style.mid(4).toInt()))
        .then([outcome](const QByteArray& answer) { *outcome = "ok:" + answer; })
        .fail([outcome](const ZebPromiseError& e) {
            *outcome = "error:" + e.text + ':' + QString::number(e.code);
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
    void init() { VGlobalConfig::instance()->setValue("deviceId", "dev42"); }
    void cleanup() { VHttpComm::destroyInstance(); }

    // Posted form-encoded below the log server's path (one slash after "/"); sorted, an extra pair
    // repeating a fixed key first, the pretty form escaping only its own delimiters and "%".
    void clickEvent()
    {
        for (const QString path : {"", "/", "/log"}) {
            TestHttpServer server;
            server.answerWith(200, "{\"code\":1}");
            VGlobalConfig::instance()->setValue("ApiLogServer", server.url(path));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("content-type missing")));
            QCOMPARE(send("click", QUrl()), QStringLiteral("ok:{\"code\":1}"));
            const TestHttpServer::Request& sent = server.requests().first();
            QCOMPARE(sent.method + ' ' + sent.target + ' ' + sent.headers.value("content-type") + ' ' +
                         sent.body,
                     "POST " + QByteArray(path == "/log" ? "/log" : "") +
                         "/burySite/appClickEvent application/x-www-form-urlencoded " + kClickBody);
        }
        VGlobalConfig::instance()->setValue("ApiLogServer", QString());
        const QString failure = send("click", QUrl());
        QVERIFY2(failure.startsWith("error:Http_post_error:") && !failure.endsWith(":0"),
                 qPrintable(failure));
        VGlobalConfig::instance()->setValue("deviceId", "a b&c=d");
        QCOMPARE(
            QString::fromUtf8(VHttpComm::clickEventBody("10", QString::fromUtf8("标签#%"), {{"label", "x"}})),
            QString::fromUtf8("appId=PC001&channelId=10&deviceId=a b%26c%3Dd&deviceType=4&label=x&"
                              "label=标签#%25&mcId=M0&product=pc_anchor&scId=M0_S0"));
    }

    void everyStyle()
    {
        const auto error = [](const char* text, int code) {
            return QStringLiteral("error:%1:%2").arg(text).arg(code);
        };
        const QByteArray get = "GET application/octet-stream", json = "POST application/json";
        // Style, status (0: nothing listens), body, outcome, method and content type received. Kinds but
        // 0 and 2 get the form default; a sync answer of another status is empty but no failure.
        const QList<std::tuple<QString, int, QByteArray, QString, QByteArray>> rows{
            {"get", 200, "", "ok:answer", get},
            {"get", 404, "", error("Http_get_error", QNetworkReply::ContentNotFoundError), get},
            {"get", 0, "", error("Http_get_error", QNetworkReply::ConnectionRefusedError), ""},
            {"post0", 200, "x=1", "ok:answer", "POST application/octet-stream"},
            {"post1", 200, "x=1", "ok:answer", "POST application/x-www-form-urlencoded"},
            {"post2", 200, "{}", "ok:answer", json},
            {"post2", 500, "{}", error("Http_post_error", QNetworkReply::InternalServerError), json},
            {"sync", 200, "", "answer|answered", get},
            {"sync", 200, "{}", "answer|answered", json},
            {"sync", 201, "{}", "|answered", json},
            {"sync", 404, "", "|answered", get},
            {"sync", 503, "{}", "|answered", json},
            {"sync", 0, "", "|failed", ""}};
        for (const auto& [style, status, body, outcome, request] : rows) {
            TestHttpServer server;
            server.answerWith(status, "answer");
            const QString row = QStringLiteral("%1 %2 ").arg(style).arg(status);
            QCOMPARE(row +
                         send(style, QUrl(status ? server.url("/a?b=1") : TestHttpServer::closedUrl()), body),
                     row + outcome);
            QCOMPARE(server.requests().size(), status ? 1 : 0);
            if (!status)
                continue;
            const TestHttpServer::Request& sent = server.requests().first();
            QCOMPARE(sent.method + ' ' + sent.headers.value("content-type") + ' ' + sent.target + ' ' +
                         sent.body + ' ' + sent.headers.value("user-agent"),
                     request + " /a?b=1 " + body + " ZebDesktop");
        }
    }

    void refusedArgumentsAndDeadReceivers()
    {
        TestHttpServer server;
        VHttpComm* http = VHttpComm::instance();
        QCOMPARE(send("get", QUrl()), QStringLiteral("error:httpcomm url empty:0"));
        QCOMPARE(send("sync", QUrl(), "body"), QStringLiteral("|answered"));
        QTest::ignoreMessage(QtWarningMsg, "post para error");
        QCOMPARE(http->getWithCallback(QUrl(server.url()), nullptr, "onReply", false), 0);
        auto* dying = new CallbackReceiver;
        QCOMPARE(http->getWithCallback(QUrl(), dying, "onReply", false), 0);
        QVERIFY(http->getWithCallback(QUrl(server.url()), dying, "onReply", false));
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
    void syncPostAbortsAfterTenSeconds()
    {
        for (const int stallAtByte :
             {0, int(TestHttpServer::answerBytes(200, kStalledBody).indexOf("\r\n\r\n") + 7)}) {
            TestHttpServer server;
            server.stallAt(stallAtByte, kStalledBody);
            ManualClock clock;
            const qint64 startMs = clock.monotonicMs();
            // Time moves inside the blocking call's own loop; if the limit fails, the server gives up at 5 s.
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
            QCOMPARE(send("sync", QUrl(server.url())), QStringLiteral("|failed"));
            QCOMPARE(seen, QStringList{"waiting at 9999"});
            QCOMPARE(clock.monotonicMs() - startMs, 10000);
        }
    }

    void callbackWatchdogAbortsAfterFifteenSeconds()
    {
        TestHttpServer server;
        server.neverAnswer();
        ManualClock clock;
        CallbackReceiver receiver;
        QVERIFY(VHttpComm::instance()->getWithCallback(QUrl(server.url()), &receiver, "onReply", false));
        QVERIFY(server.waitForRequests(1));
        clock.advance(14999);
        QTest::qWait(50);
        QVERIFY(receiver.delivered.isEmpty());
        QTest::ignoreMessage(QtWarningMsg, "response get http status failed");
        clock.advance(1);
        QTRY_COMPARE(receiver.delivered, QStringLiteral("-200:"));
    }

    void maskForLog()
    {
        const QList<QPair<QString, QString>> rows{
            {"a=1&password=&b=2", "a=1&password=***&b=2"},
            {"{\"password\": \"se\\\"cret\",\"sign\":\"s\"}", "{\"password\": \"***\",\"sign\":\"s\"}"},
            {"{\"password\":123456,\"a\":1}", "{\"password\":\"***\",\"a\":1}"},
            {"oldpassword=x&passwordHint=y", "oldpassword=x&passwordHint=y"},
            {"{\"msg\":\"password=x\"}", "{\"msg\":\"password=***\"}"}};
        for (const auto& [text, masked] : rows)
            QCOMPARE(VHttpComm::maskForLog(text), masked);
    }

    // The password's digest never reaches the log (address, body, echo); the signature does.
    void logFileCarriesNoPassword()
    {
        TestHttpServer server;
        server.answerWith(200, "{\"code\":1,\"msg\":\"password=echoed\"}");
        const QString digest = QStringLiteral("e10adc3949ba59abbe56e057f20f883e");
        const QUrl url(
            server.url(QStringLiteral("/login?password=%1&phoneNumber=10001&sign=feedbeef").arg(digest)));
        const QString log = logFileOf([&]() {
            send("sync", url);
            send("sync", QUrl(server.url()), "{\"password\":\"" + digest.toUtf8() + "\"}");
            send("post1", url, "phoneNumber=1&password=" + digest.toUtf8());
            send("get", url);
        });
        for (const char* line : {"HTTP-Post Sync", "HTTP-Post ", "HTTP-Get asyn", "HTTP-Response",
                                 "password=***", "\\\"password\\\":\\\"***\\\"", "sign=feedbeef"})
            QVERIFY2(log.contains(QLatin1String(line)), line);
        QVERIFY2(!log.contains(digest) && !log.contains("echoed"), qPrintable(log));
    }

    // The blocking request logs a reply cut at 2 KB, the asynchronous post at 300 bytes, each with the
    // full length when cut; masking comes first, so a password across the cut does not leak.
    void repliesAreLoggedCut()
    {
        // Style, reply and the bytes kept (-1: whole, no length note).
        const QList<std::tuple<QString, QByteArray, int>> rows{
            {"sync", QByteArray(2048, 'a'), -1},
            {"sync", QByteArray(2049, 'a'), 2048},
            {"post1", QByteArray(300, 'a'), -1},
            {"post1", QByteArray(301, 'a'), 300},
            {"post1", QByteArray(290, 'a') + "&password=SECRETSECRET", 300}};
        for (const auto& [style, reply, keptBytes] : rows) {
            const QString tag = style == "sync" ? "HTTP-Post Sync Reply: " : "HTTP-Response ";
            TestHttpServer server;
            server.answerWith(200, reply);
            // Each entry's message stands on its own line, ended by "\r\n".
            const QStringList logged =
                logFileOf([&, style = style]() {
                    send(style, QUrl(server.url()), style == "sync" ? QByteArray() : QByteArray("a=1"));
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
    }

private:
    TestEnv::ScopedWorkDir m_dir; // the configuration's first use makes folders here
};

QTEST_GUILESS_MAIN(TestVHttpComm)
#include "tst_vhttpcomm.moc"
