#include "localservices/LocalServicesProcess.h"
#include "net/http/TestHttpServer.h"
#include "net/http/VHttpComm.h"
#include "service/MuServer.h"

#include <QTcpServer>
#include <QTest>

namespace {

const QString kKey = QStringLiteral("c3f19a07e28b4d5c9e6a71b0f4d2835a");

// The outcome of one operation, whichever it was.
struct Result
{
    bool ok = false;
    int code = 0;
    QString msg;
    bool networkFailed = false;
    QString text; // userId, roomId or streamUrl
    bool closeMic = false;
};

Result runOperation(const QString& operation)
{
    Result r;
    // Stale values that every operation must overwrite.
    r.code = 77;
    r.msg = QStringLiteral("stale");
    r.networkFailed = true;
    r.text = QStringLiteral("stale");
    r.closeMic = true;
    MuServer* server = MuServer::instance();
    if (operation == QLatin1String("login"))
        r.ok = server->login(QStringLiteral("10001"), QStringLiteral("123456"), r.text, r.code, r.msg,
                             r.networkFailed);
    else if (operation == QLatin1String("checkEnterRoom"))
        r.ok = server->checkEnterRoom(QStringLiteral("123"), r.text, r.code, r.msg, r.networkFailed);
    else if (operation == QLatin1String("changeLiveStatus"))
        r.ok = server->changeLiveStatus(QStringLiteral("123"), QStringLiteral("8001"), true, r.text, r.code,
                                        r.msg, r.networkFailed);
    else if (operation == QLatin1String("checkLiveStatus"))
        r.ok = server->checkLiveStatus(QStringLiteral("123"), QStringLiteral("8001"), r.closeMic, r.code,
                                       r.msg, r.networkFailed);
    else if (operation == QLatin1String("mute"))
        r.ok = server->mute(QStringLiteral("123"), true, r.code, r.msg, r.networkFailed);
    if (operation == QLatin1String("mute") || operation == QLatin1String("checkLiveStatus"))
        r.text.clear(); // no text out-value
    if (operation != QLatin1String("checkLiveStatus"))
        r.closeMic = false;
    return r;
}

} // namespace

// The push-stream client: signing, the requests on the wire, the envelope type rules and the
// out-values, against an in-test server and against the local push-stream service.
class TestMuServer : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void signKeyAdoptsOnlyKnownServerTypes();
    void signQueryMatchesIndependentDigests_data();
    void signQueryMatchesIndependentDigests();
    void requestsBeforeSetServerGoNowhere();
    void requestsOnTheWire_data();
    void requestsOnTheWire();
    void envelopeRules_data();
    void envelopeRules();
    void serverErrorStatusIsNoAnswer();
    void refusedConnectionIsANetworkFailure();
    void sessionAgainstTheLocalService();
};

void TestMuServer::cleanup()
{
    MuServer::destroyInstance();
    VHttpComm::release();
}

void TestMuServer::signKeyAdoptsOnlyKnownServerTypes()
{
    MuServer* server = MuServer::instance();
    QCOMPARE(server->appId(), QStringLiteral("PC002"));
    QCOMPARE(server->signKey(QStringLiteral("1001")), QString());
    QCOMPARE(server->signKey(QStringLiteral("abc")), QString());
    QCOMPARE(server->signKey(QString()), QString());
    QCOMPARE(server->signKey(QStringLiteral("1000")), kKey);
    // An unknown type keeps the key in force.
    QCOMPARE(server->signKey(QStringLiteral("1001")), kKey);
    QCOMPARE(server->signKey(QStringLiteral("0")), kKey);
    QCOMPARE(server->signKey(QStringLiteral("1002")), kKey);
    server->setServer(QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("9"));
    QCOMPARE(server->appId(), QStringLiteral("PC002"));
    QCOMPARE(server->signKey(QStringLiteral("x")), kKey);
}

void TestMuServer::signQueryMatchesIndependentDigests_data()
{
    // Digests computed outside the program: printf '%s%s' TEXT KEY | md5sum.
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("query");
    QTest::newRow("checkEnterRoom") << QStringList{"userId", "123", "appId", "PC002"} << kKey
                                    << "appId=PC002&userId=123&sign=880413ebe5c3cc80ef7db755224a7bb6";
    QTest::newRow("login") << QStringList{"phoneNumber", "10001",
                                          "password",    "e10adc3949ba59abbe56e057f20f883e",
                                          "appId",       "PC002"}
                           << kKey
                           << "appId=PC002&password=e10adc3949ba59abbe56e057f20f883e&phoneNumber=10001"
                              "&sign=4b67a56786c986df11d0c59cd6b2e6c6";
    QTest::newRow("changeLiveStatus off")
        << QStringList{"userId", "123", "roomId", "8001", "liveStatus", "2", "appId", "PC002"} << kKey
        << "appId=PC002&liveStatus=2&roomId=8001&userId=123&sign=446a424da0eae724576787e66c263a60";
    QTest::newRow("empty map") << QStringList{} << kKey << "sign=b8c24701f797bcdff3d0b35e10d17f51";
    QTest::newRow("no key") << QStringList{"appId", "", "userId", "123"} << QString()
                            << "appId=&userId=123&sign=9ee61401608b550f3ce49355fd2038b5";
    QTest::newRow("raw characters")
        << QStringList{"userId", QString::fromUtf8("用户 a+b"), "appId", "PC002"} << kKey
        << QString::fromUtf8("appId=PC002&userId=用户 a+b&sign=3b5bc1a15ca2b5f17329323459387c8c");
}

void TestMuServer::signQueryMatchesIndependentDigests()
{
    QFETCH(QStringList, pairs);
    QFETCH(QString, key);
    QFETCH(QString, query);
    QMap<QString, QString> params;
    for (int i = 0; i + 1 < pairs.size(); i += 2)
        params.insert(pairs[i], pairs[i + 1]);
    QCOMPARE(MuServer::signQuery(params, key), query);
}

void TestMuServer::requestsBeforeSetServerGoNowhere()
{
    // No base address: the address is the bare endpoint path, which no transport can reach.
    Result r = runOperation(QStringLiteral("checkEnterRoom"));
    QCOMPARE(r.ok, false);
    QCOMPARE(r.networkFailed, true);
    QCOMPARE(r.code, -1);
    QCOMPARE(r.msg, QString());
    QCOMPARE(r.text, QString());
}

void TestMuServer::requestsOnTheWire_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("login") << "login"
                           << QByteArray("/base/pushStreamHelper/login?appId=PC002&password="
                                         "e10adc3949ba59abbe56e057f20f883e&phoneNumber=10001"
                                         "&sign=4b67a56786c986df11d0c59cd6b2e6c6");
    QTest::newRow("checkEnterRoom") << "checkEnterRoom"
                                    << QByteArray(
                                           "/base/pushStreamHelper/checkEnterRoom?appId=PC002&userId=123"
                                           "&sign=880413ebe5c3cc80ef7db755224a7bb6");
    QTest::newRow("changeLiveStatus live")
        << "changeLiveStatus"
        << QByteArray(
               "/base/pushStreamHelper/changeLiveStatus?appId=PC002&liveStatus=1&roomId=8001&userId=123"
               "&sign=0661d235d71e3c2da4ec824ca0cbb60f");
    QTest::newRow("changeLiveStatus off")
        << "changeLiveStatus off"
        << QByteArray(
               "/base/pushStreamHelper/changeLiveStatus?appId=PC002&liveStatus=2&roomId=8001&userId=123"
               "&sign=446a424da0eae724576787e66c263a60");
    QTest::newRow("checkLiveStatus") << "checkLiveStatus"
                                     << QByteArray(
                                            "/base/pushStreamHelper/checkLiveStatus?appId=PC002&roomId=8001"
                                            "&userId=123&sign=4fb8fae3943c23137f8827c4f8b5dfb6");
    QTest::newRow("checkLiveStatus no room")
        << "checkLiveStatus no room"
        << QByteArray("/base/pushStreamHelper/checkLiveStatus?appId=PC002&userId=123"
                      "&sign=880413ebe5c3cc80ef7db755224a7bb6");
    QTest::newRow("mute on") << "mute"
                             << QByteArray("/base/pushStreamHelper/mute?appId=PC002&mute=1&userId=123"
                                           "&sign=c89b08d73fa9d70f945314aee7753165");
    QTest::newRow("mute off") << "mute off"
                              << QByteArray("/base/pushStreamHelper/mute?appId=PC002&mute=0&userId=123"
                                            "&sign=e1cf1479bcd34801c2ce218c0509e105");
    QTest::newRow("raw characters travel encoded")
        << "checkEnterRoom raw"
        << QByteArray("/base/pushStreamHelper/checkEnterRoom?appId=PC002&userId=%E7%94%A8%E6%88%B7%20a+b"
                      "&sign=3b5bc1a15ca2b5f17329323459387c8c");
}

void TestMuServer::requestsOnTheWire()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, target);
    TestHttpServer http;
    http.answerWith(200, "{\"code\":1}");
    MuServer* server = MuServer::instance();
    server->setServer(http.url(QStringLiteral("/base/")), QStringLiteral("1002"));
    int code = 0;
    QString msg;
    bool failed = true;
    QString text;
    bool closeMic = false;
    if (operation == QLatin1String("changeLiveStatus off"))
        server->changeLiveStatus(QStringLiteral("123"), QStringLiteral("8001"), false, text, code, msg,
                                 failed);
    else if (operation == QLatin1String("checkLiveStatus no room"))
        server->checkLiveStatus(QStringLiteral("123"), QString(), closeMic, code, msg, failed);
    else if (operation == QLatin1String("mute off"))
        server->mute(QStringLiteral("123"), false, code, msg, failed);
    else if (operation == QLatin1String("checkEnterRoom raw"))
        server->checkEnterRoom(QString::fromUtf8("用户 a+b"), text, code, msg, failed);
    else
        runOperation(operation);
    QCOMPARE(http.requests().size(), 1);
    const auto& request = http.requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, target);
    QCOMPARE(request.headers.value("user-agent"), QByteArray("ZebDesktop"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/octet-stream"));
}

void TestMuServer::envelopeRules_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("closeMic");

    QTest::newRow("empty") << "login" << QByteArray() << false << -1 << ""
                           << "" << false;
    QTest::newRow("not json") << "login" << QByteArray("<html>") << false << -1 << ""
                              << "" << false;
    QTest::newRow("array") << "mute" << QByteArray("[1]") << false << -1 << ""
                           << "" << false;
    QTest::newRow("login ok") << "login" << QByteArray(R"({"code":1,"msg":"hi","data":{"userId":"u1"}})")
                              << true << -1 << ""
                              << "u1" << false;
    QTest::newRow("code as text") << "mute" << QByteArray(R"({"code":"1","msg":"m"})") << false << -1 << "m"
                                  << "" << false;
    QTest::newRow("msg not text") << "mute" << QByteArray(R"({"code":2001,"msg":5})") << false << 2001 << ""
                                  << "" << false;
    QTest::newRow("fraction code") << "mute" << QByteArray(R"({"code":1.5})") << false << -1 << ""
                                   << "" << false;
    QTest::newRow("user id number") << "login"
                                    << QByteArray(R"({"code":1,"msg":"m","data":{"userId":12345}})") << false
                                    << 1 << "m"
                                    << "" << false;
    QTest::newRow("user id empty") << "login" << QByteArray(R"({"code":1,"data":{"userId":""}})") << false
                                   << 1 << ""
                                   << "" << false;
    QTest::newRow("data not object") << "login" << QByteArray(R"({"code":1,"data":"u1"})") << false << 1 << ""
                                     << "" << false;
    QTest::newRow("login refused") << "login"
                                   << QByteArray(R"({"code":3190,"msg":"bye","data":{"userId":"u1"}})")
                                   << false << 3190 << "bye"
                                   << "" << false;
    QTest::newRow("room ok") << "checkEnterRoom" << QByteArray(R"({"code":1,"data":{"roomId":"8001"}})")
                             << true << -1 << ""
                             << "8001" << false;
    QTest::newRow("room number") << "checkEnterRoom" << QByteArray(R"({"code":1,"data":{"roomId":8001}})")
                                 << false << 1 << ""
                                 << "" << false;
    QTest::newRow("room 3192") << "checkEnterRoom" << QByteArray(R"({"code":3192,"msg":"gone"})") << false
                               << 3192 << "gone"
                               << "" << false;
    QTest::newRow("live without url") << "changeLiveStatus" << QByteArray(R"({"code":1})") << true << -1 << ""
                                      << "" << false;
    QTest::newRow("live with url") << "changeLiveStatus"
                                   << QByteArray(R"({"code":1,"data":{"streamUrl":"rtmp://h/live/1"}})")
                                   << true << -1 << ""
                                   << "rtmp://h/live/1" << false;
    QTest::newRow("live refused") << "changeLiveStatus"
                                  << QByteArray(R"({"code":3194,"msg":"no","data":{"streamUrl":"rtmp://h"}})")
                                  << false << 3194 << "no"
                                  << "" << false;
    QTest::newRow("status ok") << "checkLiveStatus" << QByteArray(R"({"code":1,"data":{"closeMic":false}})")
                               << true << -1 << ""
                               << "" << false;
    QTest::newRow("banned reads closeMic")
        << "checkLiveStatus" << QByteArray(R"({"code":3163,"msg":"b","data":{"closeMic":true}})") << false
        << 3163 << "b"
        << "" << true;
    QTest::newRow("closeMic as text")
        << "checkLiveStatus" << QByteArray(R"({"code":1,"data":{"closeMic":"true"}})") << true << -1 << ""
        << "" << false;
    QTest::newRow("success closeMic")
        << "checkLiveStatus" << QByteArray(R"({"code":1,"data":{"closeMic":true}})") << true << -1 << ""
        << "" << true;
    QTest::newRow("mute ok") << "mute" << QByteArray(R"({"code":1,"msg":"fine"})") << true << -1 << ""
                             << "" << false;
}

void TestMuServer::envelopeRules()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(int, code);
    QFETCH(QString, msg);
    QFETCH(QString, text);
    QFETCH(bool, closeMic);
    TestHttpServer http;
    http.answerWith(200, body);
    MuServer::instance()->setServer(http.url(), QStringLiteral("1000"));
    const Result r = runOperation(operation);
    QCOMPARE(r.ok, ok);
    QCOMPARE(r.code, code);
    QCOMPARE(r.msg, msg);
    QCOMPARE(r.text, text);
    QCOMPARE(r.closeMic, closeMic);
    QCOMPARE(r.networkFailed, false);
}

void TestMuServer::serverErrorStatusIsNoAnswer()
{
    TestHttpServer http;
    http.answerWith(500, R"({"code":3190,"msg":"x","data":{"userId":"u"}})");
    MuServer::instance()->setServer(http.url(), QStringLiteral("1000"));
    for (const char* operation : {"login", "checkEnterRoom", "changeLiveStatus", "checkLiveStatus", "mute"}) {
        const Result r = runOperation(QLatin1String(operation));
        QVERIFY2(!r.ok && r.code == -1 && r.msg.isEmpty() && !r.networkFailed && r.text.isEmpty(), operation);
    }
}

void TestMuServer::refusedConnectionIsANetworkFailure()
{
    MuServer::instance()->setServer(QStringLiteral("http://127.0.0.1:%1/").arg(TestHttpServer::closedPort()),
                                    QStringLiteral("1000"));
    for (const char* operation : {"login", "checkEnterRoom", "changeLiveStatus", "checkLiveStatus", "mute"}) {
        const Result r = runOperation(QLatin1String(operation));
        QVERIFY2(!r.ok && r.code == -1 && r.msg.isEmpty() && r.networkFailed && r.text.isEmpty() &&
                     !r.closeMic,
                 operation);
    }
}

void TestMuServer::sessionAgainstTheLocalService()
{
    LocalServicesProcess services;
    QVERIFY(services.start());
    MuServer* server = MuServer::instance();
    server->setServer(services.baseUrl(), QStringLiteral("1002"));
    const QString user = QStringLiteral("10001");
    QString text;
    int code = 0;
    QString msg;
    bool failed = true;
    bool closeMic = true;

    QVERIFY(!server->login(user, QStringLiteral("wrong"), text, code, msg, failed));
    QCOMPARE(code, 2001);
    QVERIFY(!msg.isEmpty());
    QVERIFY(server->login(user, QStringLiteral("123456"), text, code, msg, failed));
    QCOMPARE(text, user);
    QVERIFY(server->checkEnterRoom(user, text, code, msg, failed));
    QCOMPARE(text, QStringLiteral("8001"));
    QVERIFY(server->changeLiveStatus(user, QStringLiteral("8001"), true, text, code, msg, failed));
    QCOMPARE(text, QStringLiteral("rtmp://127.0.0.1:1935/live/8001"));
    QVERIFY(server->checkLiveStatus(user, QStringLiteral("8001"), closeMic, code, msg, failed));
    QCOMPARE(closeMic, false);
    QVERIFY(server->mute(user, true, code, msg, failed));

    QCOMPARE(
        services.admin(QStringLiteral("ban"), {{"userId", user}, {"banned", true}}).value("code").toInt(), 1);
    QVERIFY(!server->checkLiveStatus(user, QStringLiteral("8001"), closeMic, code, msg, failed));
    QCOMPARE(code, 3163);
    QCOMPARE(closeMic, true);
    QVERIFY(!server->changeLiveStatus(user, QStringLiteral("8001"), true, text, code, msg, failed));
    QCOMPARE(code, 3194);
    services.admin(QStringLiteral("ban"), {{"userId", user}, {"banned", false}});

    services.admin(QStringLiteral("mic"), {{"userId", user}, {"on", false}});
    QVERIFY(!server->checkLiveStatus(user, QStringLiteral("8001"), closeMic, code, msg, failed));
    QCOMPARE(code, 3193);
    // Stopping is accepted in any state.
    QVERIFY(server->changeLiveStatus(user, QStringLiteral("8001"), false, text, code, msg, failed));

    services.admin(QStringLiteral("room"), {{"userId", user}, {"roomId", ""}});
    QVERIFY(!server->checkLiveStatus(user, QString(), closeMic, code, msg, failed));
    QCOMPARE(code, 3192);
    QVERIFY(!server->checkEnterRoom(user, text, code, msg, failed));
    QCOMPARE(code, 3192);

    services.admin(QStringLiteral("room"), {{"userId", user}, {"roomId", "9"}});
    services.admin(QStringLiteral("end"),
                   {{"userId", user}, {"code", 3191}, {"msg", QString::fromUtf8("结束")}});
    QVERIFY(!server->checkEnterRoom(user, text, code, msg, failed));
    QCOMPARE(code, 3191);
    QCOMPARE(msg, QString::fromUtf8("结束"));
    QCOMPARE(failed, false);

    // A key the service does not know is refused with its own code.
    server->signKey(QStringLiteral("1001"));
    MuServer::destroyInstance();
    server = MuServer::instance();
    server->setServer(services.baseUrl(), QStringLiteral("1001"));
    QVERIFY(!server->login(user, QStringLiteral("123456"), text, code, msg, failed));
    QCOMPARE(code, 4002);
}

QTEST_GUILESS_MAIN(TestMuServer)
#include "tst_muserver.moc"
