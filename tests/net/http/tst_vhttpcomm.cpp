#include "app/LogHandler.h"
#include "net/http/ReplyTimeout.h"
#include "net/http/TestHttpServer.h"
#include "net/http/VHttpComm.h"
#include "support/TestEnv.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

// Receiver of callback-style requests.
class CallbackReceiver : public QObject
{
    Q_OBJECT

public:
    struct Delivery
    {
        int status = 0;
        QByteArray body;
        unsigned long long requestId = 0;
        bool withId = false;
    };
    QList<Delivery> deliveries;

public slots:
    void onReply(int status, QByteArray body) { deliveries.append(Delivery{status, body, 0, false}); }
    void onReplyWithId(int status, QByteArray body, unsigned long long requestId)
    {
        deliveries.append(Delivery{status, body, requestId, true});
    }
};

namespace {

// Waits for a promise of the transport and reports how it settled.
struct Outcome
{
    bool settled = false;
    bool fulfilled = false;
    QByteArray body;
    ZebPromiseError error;
};

Outcome waitFor(QPromise<QByteArray> promise, int timeoutMs = 8000)
{
    auto outcome = std::make_shared<Outcome>();
    promise
        .then([outcome](const QByteArray& body) {
            outcome->settled = true;
            outcome->fulfilled = true;
            outcome->body = body;
        })
        .fail([outcome](const ZebPromiseError& error) {
            outcome->settled = true;
            outcome->error = error;
        });
    (void)QTest::qWaitFor([&]() { return outcome->settled; }, timeoutMs);
    return *outcome;
}

} // namespace

class TestVHttpComm : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    // Promise style.
    void getSendsHeadersAndResolvesWithBody();
    void getWithEmptyUrlRejectsAtOnceWithoutRequest();
    void getOnErrorStatusRejectsWithTheQtError();
    void getRefusedRejectsWithConnectionRefused();
    void postSetsContentTypeByKind_data();
    void postSetsContentTypeByKind();
    void postOnServerErrorRejects();
    void pendingPromiseIsRejectedWhenTheTransportIsReleased();

    // Blocking style.
    void syncPostWithEmptyUrlDoesNothing();
    void syncPostWithoutBodyIsAGet();
    void syncPostWithBodyIsAJsonPost();
    void syncPostTreatsOtherStatusesAsNoAnswer_data();
    void syncPostTreatsOtherStatusesAsNoAnswer();
    void syncPostRefusedIsANetworkFailure();
    void syncPostNestedCallCompletesFirst();
    void syncPostAbortsAfterTenSeconds();

    // Callback style.
    void callbackDeliversStatusAndBody();
    void callbackWithIdPassesTheRequestId();
    void callbackPassesErrorStatusWithBody();
    void callbackRefusedArgumentsReturnZero();
    void callbackPostHeaders();
    void callbackRefusedConnectionDeliversMinus200();
    void callbackSkipsAReceiverThatDied();
    void replyTimeoutIgnoresAFinishedReply();
    void callbackWatchdogAbortsAfterFifteenSeconds();

    // Logs.
    void maskForLogHidesPasswordValues_data();
    void maskForLogHidesPasswordValues();
    void logFileCarriesNoPassword();
};

void TestVHttpComm::cleanup()
{
    VHttpComm::release();
}

void TestVHttpComm::getSendsHeadersAndResolvesWithBody()
{
    TestHttpServer server;
    server.answerWith(200, "hello");
    const Outcome outcome = waitFor(VHttpComm::instance()->get(QUrl(server.url("/a?b=1"))));
    QVERIFY(outcome.fulfilled);
    QCOMPARE(outcome.body, QByteArray("hello"));
    QCOMPARE(server.requests().size(), 1);
    const auto& request = server.requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/a?b=1"));
    QCOMPARE(request.headers.value("user-agent"), QByteArray("ZebDesktop"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/octet-stream"));
}

void TestVHttpComm::getWithEmptyUrlRejectsAtOnceWithoutRequest()
{
    TestHttpServer server;
    auto promise = VHttpComm::instance()->get(QUrl());
    QVERIFY(promise.isRejected());
    const Outcome outcome = waitFor(promise);
    QCOMPARE(outcome.error.text, QStringLiteral("httpcomm url empty"));
    QCOMPARE(outcome.error.code, 0);
    QCOMPARE(server.connectionCount(), 0);
}

void TestVHttpComm::getOnErrorStatusRejectsWithTheQtError()
{
    TestHttpServer server;
    server.answerWith(404, "missing");
    const Outcome outcome = waitFor(VHttpComm::instance()->get(QUrl(server.url())));
    QVERIFY(outcome.settled);
    QVERIFY(!outcome.fulfilled);
    QCOMPARE(outcome.error.text, QStringLiteral("Http_get_error"));
    QCOMPARE(outcome.error.code, int(QNetworkReply::ContentNotFoundError));
}

void TestVHttpComm::getRefusedRejectsWithConnectionRefused()
{
    const Outcome outcome = waitFor(VHttpComm::instance()->get(
        QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(TestHttpServer::closedPort()))));
    QCOMPARE(outcome.error.text, QStringLiteral("Http_get_error"));
    QCOMPARE(outcome.error.code, int(QNetworkReply::ConnectionRefusedError));
}

void TestVHttpComm::postSetsContentTypeByKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("contentType");
    QTest::newRow("octet-stream") << 0 << QByteArray("application/octet-stream");
    // Kind 1 sets none of ours: the network layer's form default applies.
    QTest::newRow("form default") << 1 << QByteArray("application/x-www-form-urlencoded");
    QTest::newRow("json") << 2 << QByteArray("application/json");
    QTest::newRow("other") << 7 << QByteArray("application/x-www-form-urlencoded");
}

void TestVHttpComm::postSetsContentTypeByKind()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, contentType);
    TestHttpServer server;
    server.answerWith(200, "done");
    const Outcome outcome = waitFor(VHttpComm::instance()->post(QUrl(server.url("/p")), "x=1", kind));
    QVERIFY(outcome.fulfilled);
    QCOMPARE(outcome.body, QByteArray("done"));
    const auto& request = server.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.body, QByteArray("x=1"));
    QCOMPARE(request.headers.value("content-type"), contentType);
    QCOMPARE(request.headers.value("user-agent"), QByteArray("ZebDesktop"));
}

void TestVHttpComm::postOnServerErrorRejects()
{
    TestHttpServer server;
    server.answerWith(500, "{\"code\":500}");
    const Outcome outcome = waitFor(VHttpComm::instance()->post(QUrl(server.url()), "{}", 2));
    QCOMPARE(outcome.error.text, QStringLiteral("Http_post_error"));
    QCOMPARE(outcome.error.code, int(QNetworkReply::InternalServerError));
}

void TestVHttpComm::pendingPromiseIsRejectedWhenTheTransportIsReleased()
{
    TestHttpServer server;
    server.neverAnswer();
    auto getPromise = VHttpComm::instance()->get(QUrl(server.url()));
    auto postPromise = VHttpComm::instance()->post(QUrl(server.url()), "b", 0);
    QVERIFY(server.waitForRequests(2));
    VHttpComm::release();
    const Outcome got = waitFor(getPromise, 2000);
    const Outcome posted = waitFor(postPromise, 2000);
    QCOMPARE(got.error.text, QStringLiteral("httpcomm already destroy"));
    QCOMPARE(posted.error.text, QStringLiteral("httpcomm already destroy"));
}

void TestVHttpComm::syncPostWithEmptyUrlDoesNothing()
{
    bool failed = true;
    QCOMPARE(VHttpComm::instance()->syncPost(QUrl(), "body", failed), QByteArray());
    QCOMPARE(failed, false);
}

void TestVHttpComm::syncPostWithoutBodyIsAGet()
{
    TestHttpServer server;
    server.answerWith(200, "{\"code\":1}");
    bool failed = true;
    const QByteArray body = VHttpComm::instance()->syncPost(QUrl(server.url("/q?x=1")), QByteArray(), failed);
    QCOMPARE(body, QByteArray("{\"code\":1}"));
    QCOMPARE(failed, false);
    const auto& request = server.requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/octet-stream"));
    QCOMPARE(request.headers.value("user-agent"), QByteArray("ZebDesktop"));
}

void TestVHttpComm::syncPostWithBodyIsAJsonPost()
{
    TestHttpServer server;
    server.answerWith(200, "ok");
    bool failed = true;
    QCOMPARE(VHttpComm::instance()->syncPost(QUrl(server.url()), "{\"a\":1}", failed), QByteArray("ok"));
    QCOMPARE(failed, false);
    const auto& request = server.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.body, QByteArray("{\"a\":1}"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
}

void TestVHttpComm::syncPostTreatsOtherStatusesAsNoAnswer_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("201") << 201;
    QTest::newRow("404") << 404;
    QTest::newRow("500") << 500;
    QTest::newRow("503") << 503;
}

void TestVHttpComm::syncPostTreatsOtherStatusesAsNoAnswer()
{
    QFETCH(int, status);
    TestHttpServer server;
    server.answerWith(status, "{\"code\":1}");
    bool failed = true;
    QCOMPARE(VHttpComm::instance()->syncPost(QUrl(server.url()), QByteArray(), failed), QByteArray());
    // The server answered: not a transport failure.
    QCOMPARE(failed, false);
}

void TestVHttpComm::syncPostRefusedIsANetworkFailure()
{
    bool failed = false;
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/").arg(TestHttpServer::closedPort()));
    QCOMPARE(VHttpComm::instance()->syncPost(url, QByteArray(), failed), QByteArray());
    QCOMPARE(failed, true);
}

void TestVHttpComm::syncPostNestedCallCompletesFirst()
{
    TestHttpServer outerServer;
    outerServer.setResponder([](const TestHttpServer::Request&) {
        return TestHttpServer::Answer{200, "outer", false, 600};
    });
    TestHttpServer innerServer;
    innerServer.answerWith(200, "inner");
    QStringList order;
    // Fires inside the outer call's nested event loop.
    QTimer::singleShot(50, [&]() {
        bool innerFailed = true;
        order << QString::fromUtf8(
            VHttpComm::instance()->syncPost(QUrl(innerServer.url()), QByteArray(), innerFailed));
        QCOMPARE(innerFailed, false);
    });
    bool failed = true;
    order << QString::fromUtf8(
        VHttpComm::instance()->syncPost(QUrl(outerServer.url()), QByteArray(), failed));
    QCOMPARE(failed, false);
    QCOMPARE(order, (QStringList{QStringLiteral("inner"), QStringLiteral("outer")}));
}

void TestVHttpComm::syncPostAbortsAfterTenSeconds()
{
    TestHttpServer server;
    server.neverAnswer();
    QElapsedTimer clock;
    clock.start();
    bool failed = false;
    const QByteArray body = VHttpComm::instance()->syncPost(QUrl(server.url()), QByteArray(), failed);
    const qint64 elapsedMs = clock.elapsed();
    QCOMPARE(body, QByteArray());
    QCOMPARE(failed, true);
    QVERIFY2(elapsedMs >= 9990, qPrintable(QString::number(elapsedMs)));
    QVERIFY2(elapsedMs < 14000, qPrintable(QString::number(elapsedMs)));
}

void TestVHttpComm::callbackDeliversStatusAndBody()
{
    TestHttpServer server;
    server.answerWith(200, "payload");
    CallbackReceiver receiver;
    const qint64 id = VHttpComm::instance()->getWithCallback(QUrl(server.url("/cb")), &receiver,
                                                             QStringLiteral("onReply"), false);
    QVERIFY(id != 0);
    QTRY_COMPARE(receiver.deliveries.size(), 1);
    QCOMPARE(receiver.deliveries[0].status, 200);
    QCOMPARE(receiver.deliveries[0].body, QByteArray("payload"));
    QCOMPARE(receiver.deliveries[0].withId, false);
    const auto& request = server.requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/octet-stream"));
    QCOMPARE(request.headers.value("user-agent"), QByteArray("ZebDesktop"));
}

void TestVHttpComm::callbackWithIdPassesTheRequestId()
{
    TestHttpServer server;
    server.answerWith(200, "x");
    CallbackReceiver receiver;
    const qint64 first = VHttpComm::instance()->getWithCallback(QUrl(server.url("/1")), &receiver,
                                                                QStringLiteral("onReplyWithId"), true);
    const qint64 second = VHttpComm::instance()->postWithCallback(QUrl(server.url("/2")), "b", &receiver,
                                                                  QStringLiteral("onReplyWithId"), true);
    QVERIFY(first != 0 && second != 0 && first != second);
    QTRY_COMPARE(receiver.deliveries.size(), 2);
    QList<unsigned long long> ids{receiver.deliveries[0].requestId, receiver.deliveries[1].requestId};
    std::sort(ids.begin(), ids.end());
    QList<unsigned long long> expected{static_cast<unsigned long long>(first),
                                       static_cast<unsigned long long>(second)};
    std::sort(expected.begin(), expected.end());
    QCOMPARE(ids, expected);
}

void TestVHttpComm::callbackPassesErrorStatusWithBody()
{
    TestHttpServer server;
    server.answerWith(404, "not here");
    CallbackReceiver receiver;
    QVERIFY(VHttpComm::instance()->getWithCallback(QUrl(server.url()), &receiver, QStringLiteral("onReply"),
                                                   false));
    QTRY_COMPARE(receiver.deliveries.size(), 1);
    QCOMPARE(receiver.deliveries[0].status, 404);
    QCOMPARE(receiver.deliveries[0].body, QByteArray("not here"));
}

void TestVHttpComm::callbackRefusedArgumentsReturnZero()
{
    TestHttpServer server;
    CallbackReceiver receiver;
    const QUrl url(server.url());
    QTest::ignoreMessage(QtWarningMsg, "post para error");
    QCOMPARE(VHttpComm::instance()->getWithCallback(url, nullptr, QStringLiteral("onReply"), false), 0);
    QTest::ignoreMessage(QtWarningMsg, "post para error");
    QCOMPARE(VHttpComm::instance()->postWithCallback(url, "b", &receiver, QString(), false), 0);
    QCOMPARE(VHttpComm::instance()->getWithCallback(QUrl(), &receiver, QStringLiteral("onReply"), false), 0);
    QCOMPARE(
        VHttpComm::instance()->postWithCallback(QUrl(), "b", &receiver, QStringLiteral("onReply"), false), 0);
    QTest::qWait(100);
    QCOMPARE(server.connectionCount(), 0);
}

void TestVHttpComm::callbackPostHeaders()
{
    TestHttpServer server;
    server.answerWith(200, "ok");
    CallbackReceiver receiver;
    QVERIFY(VHttpComm::instance()->postWithCallback(QUrl(server.url("/post")), "{\"k\":2}", &receiver,
                                                    QStringLiteral("onReply"), false));
    QTRY_COMPARE(receiver.deliveries.size(), 1);
    const auto& request = server.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.body, QByteArray("{\"k\":2}"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/octet-stream"));
    QCOMPARE(request.headers.value("user-agent"), QByteArray("ZebDesktop"));
}

void TestVHttpComm::callbackRefusedConnectionDeliversMinus200()
{
    CallbackReceiver receiver;
    QTest::ignoreMessage(QtWarningMsg, "response get http status failed");
    QVERIFY(VHttpComm::instance()->getWithCallback(
        QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(TestHttpServer::closedPort())), &receiver,
        QStringLiteral("onReply"), false));
    QTRY_COMPARE(receiver.deliveries.size(), 1);
    QCOMPARE(receiver.deliveries[0].status, -200);
    QCOMPARE(receiver.deliveries[0].body, QByteArray());
}

void TestVHttpComm::callbackSkipsAReceiverThatDied()
{
    TestHttpServer server;
    server.answerWith(200, "late");
    auto* receiver = new CallbackReceiver;
    QVERIFY(VHttpComm::instance()->getWithCallback(QUrl(server.url()), receiver, QStringLiteral("onReply"),
                                                   false));
    delete receiver;
    QVERIFY(server.waitForRequests(1));
    QTest::qWait(200); // the completion runs and must not touch the dead receiver
}

void TestVHttpComm::replyTimeoutIgnoresAFinishedReply()
{
    TestHttpServer server;
    server.answerWith(200, "x");
    QNetworkReply* reply = VHttpComm::instance()->networkManager()->get(QNetworkRequest(QUrl(server.url())));
    QTRY_VERIFY(reply->isFinished());
    auto* watchdog = new ReplyTimeout(reply);
    watchdog->onTimeout();
    QVERIFY(!reply->property("isAborted").isValid());
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    delete reply; // takes the watchdog with it
}

void TestVHttpComm::callbackWatchdogAbortsAfterFifteenSeconds()
{
    TestHttpServer server;
    server.neverAnswer();
    CallbackReceiver receiver;
    QElapsedTimer clock;
    clock.start();
    QTest::ignoreMessage(QtWarningMsg, "response get http status failed");
    QVERIFY(VHttpComm::instance()->getWithCallback(QUrl(server.url()), &receiver, QStringLiteral("onReply"),
                                                   false));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.deliveries.size(), 1, 20000);
    const qint64 elapsedMs = clock.elapsed();
    QCOMPARE(receiver.deliveries[0].status, -200);
    QCOMPARE(receiver.deliveries[0].body, QByteArray());
    QVERIFY2(elapsedMs >= 14990, qPrintable(QString::number(elapsedMs)));
}

void TestVHttpComm::maskForLogHidesPasswordValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("masked");
    QTest::newRow("query") << "http://h/p?appId=PC002&password=e10adc39&phoneNumber=1&sign=abc"
                           << "http://h/p?appId=PC002&password=***&phoneNumber=1&sign=abc";
    QTest::newRow("first") << "password=x&b=1"
                           << "password=***&b=1";
    QTest::newRow("last") << "a=1&password=x"
                          << "a=1&password=***";
    QTest::newRow("empty value") << "a=1&password=&b=2"
                                 << "a=1&password=***&b=2";
    QTest::newRow("json") << "{\"user\":\"1\",\"password\": \"se\\\"cret\",\"sign\":\"s\"}"
                          << "{\"user\":\"1\",\"password\": \"***\",\"sign\":\"s\"}";
    QTest::newRow("json number") << "{\"password\":123456,\"a\":1}"
                                 << "{\"password\":\"***\",\"a\":1}";
    QTest::newRow("similar key kept") << "oldpassword=x&passwordHint=y"
                                      << "oldpassword=x&passwordHint=y";
    QTest::newRow("inside text") << "{\"msg\":\"password=x\"}"
                                 << "{\"msg\":\"password=***\"}";
    QTest::newRow("nothing") << "appId=PC002&sign=abc"
                             << "appId=PC002&sign=abc";
}

void TestVHttpComm::maskForLogHidesPasswordValues()
{
    QFETCH(QString, text);
    QFETCH(QString, masked);
    QCOMPARE(VHttpComm::maskForLog(text), masked);
}

void TestVHttpComm::logFileCarriesNoPassword()
{
    TestEnv::ScopedWorkDir dir;
    QVERIFY(dir.isValid());
    installLogHandler(true, false);
    TestHttpServer server;
    server.answerWith(200, "{\"code\":1,\"msg\":\"password=echoed\"}");
    const QString digest = QStringLiteral("e10adc3949ba59abbe56e057f20f883e");
    bool failed = true;
    VHttpComm::instance()->syncPost(
        QUrl(server.url(
            QStringLiteral("/login?appId=PC002&password=%1&phoneNumber=10001&sign=feedbeef").arg(digest))),
        QByteArray(), failed);
    VHttpComm::instance()->syncPost(QUrl(server.url()), "{\"password\":\"" + digest.toUtf8() + "\"}", failed);
    waitFor(VHttpComm::instance()->post(QUrl(server.url(QStringLiteral("/p?password=%1").arg(digest))),
                                        "phoneNumber=1&password=" + digest.toUtf8(), 1));
    waitFor(VHttpComm::instance()->get(QUrl(server.url(QStringLiteral("/g?password=%1").arg(digest)))));
    qInstallMessageHandler(nullptr);

    const QString log = TestEnv::readText(LogHandler::fileNameFor(QDateTime::currentDateTime()));
    QVERIFY(log.contains(QStringLiteral("HTTP-Post Sync")));
    QVERIFY(log.contains(QStringLiteral("HTTP-Post ")));
    QVERIFY(log.contains(QStringLiteral("HTTP-Get asyn")));
    QVERIFY(log.contains(QStringLiteral("HTTP-Response")));
    QVERIFY(log.contains(QStringLiteral("password=***")));
    // The request body appears in debug-stream form, its quotes escaped.
    QVERIFY(log.contains(QStringLiteral(R"(\"password\":\"***\")")));
    QVERIFY(log.contains(QStringLiteral("sign=feedbeef")));
    QVERIFY2(!log.contains(digest), qPrintable(log));
    QVERIFY(!log.contains(QStringLiteral("echoed")));
}

QTEST_GUILESS_MAIN(TestVHttpComm)
#include "tst_vhttpcomm.moc"
