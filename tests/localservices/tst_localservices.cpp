#include "config/VGlobalConfig.h"
#include "localservices/LocalServicesProcess.h"
#include "support/TestEnv.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

namespace {

const QByteArray kKey = "c3f19a07e28b4d5c9e6a71b0f4d2835a";

QString md5(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

// "text&sign=md5(sortedText + key)" where text is given in any order and sortedText by key.
QString signedQuery(const QString& text, const QString& sortedText)
{
    return text + QStringLiteral("&sign=") + md5(sortedText.toUtf8() + kKey);
}

QJsonObject json(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).object();
}

} // namespace

// The local services program as a user of it meets it: command line, the three services, the
// control interface, bad input and stopping.
class TestLocalServices : public QObject
{
    Q_OBJECT

private slots:
    void printsWhereItListens();
    void configurationReplyPointsAtItself();
    void pushRequestsAreCheckedBySignature();
    void badInputGetsAClearErrorAndServingGoesOn();
    void injectedFaults();
    void clickEventsAreRecordedAndListed();
    void adminRefusesWhatItCannotDo();
    void adminPageIsServed();
    void accountsComeFromTheDataFile();
    void brokenDataFileOrBusyPortEndsWithAnError();
    void stopsCleanlyOnSignals_data();
    void stopsCleanlyOnSignals();
};

void TestLocalServices::printsWhereItListens()
{
    LocalServicesProcess services;
    QVERIFY(services.start());
    QVERIFY(services.port() > 0);
    QCOMPARE(services.baseUrl(), QStringLiteral("http://127.0.0.1:%1/").arg(services.port()));
}

void TestLocalServices::configurationReplyPointsAtItself()
{
    TestEnv::ScopedWorkDir dir;
    LocalServicesProcess services;
    QVERIFY(services.start());
    int status = 0;
    const QByteArray reply =
        services.request("GET", QStringLiteral("sdkinit?appId=PC002&deviceType=4&product=pc_push&sign=x"),
                         QByteArray(), &status);
    QCOMPARE(status, 200);
    QCOMPARE(json(reply).value(QStringLiteral("code")).toInt(), 1);
    VGlobalConfig::instance()->applySdkInitReply(reply);
    QCOMPARE(VGlobalConfig::instance()->value(QStringLiteral("roomServer")), services.baseUrl());
    QCOMPARE(VGlobalConfig::instance()->value(QStringLiteral("ApiLogServer")), services.baseUrl());
}

void TestLocalServices::pushRequestsAreCheckedBySignature()
{
    LocalServicesProcess services;
    QVERIFY(services.start());
    const QString path = QStringLiteral("pushStreamHelper/checkEnterRoom?");

    // Parameters in any order are signed sorted by key.
    const QString good =
        signedQuery(QStringLiteral("userId=10001&appId=PC002"), QStringLiteral("appId=PC002&userId=10001"));
    QJsonObject answer = json(services.request("GET", path + good, QByteArray()));
    QCOMPARE(answer.value(QStringLiteral("code")).toInt(), 1);
    QCOMPARE(answer.value(QStringLiteral("data")).toObject().value(QStringLiteral("roomId")).toString(),
             QStringLiteral("8001"));

    answer = json(services.request("GET", path + QStringLiteral("appId=PC002&userId=10001"), QByteArray()));
    QCOMPARE(answer.value(QStringLiteral("code")).toInt(), 4001);
    QVERIFY(answer.value(QStringLiteral("msg")).toString().contains(QStringLiteral("sign")));

    answer = json(services.request(
        "GET", path + QStringLiteral("appId=PC002&userId=10001&sign=%1").arg(md5("appId=PC002&userId=10001")),
        QByteArray()));
    QCOMPARE(answer.value(QStringLiteral("code")).toInt(), 4002);

    // A signed request with another appId is refused after the signature.
    answer = json(services.request("GET",
                                   path + signedQuery(QStringLiteral("appId=PC001&userId=10001"),
                                                      QStringLiteral("appId=PC001&userId=10001")),
                                   QByteArray()));
    QCOMPARE(answer.value(QStringLiteral("code")).toInt(), 4003);

    // Percent-encoded values are signed as their decoded text; "+" stays "+".
    services.admin(QStringLiteral("account"), {{"userId", QString::fromUtf8("用户 a+b")}, {"password", "p"}});
    const QString raw = QString::fromUtf8("appId=PC002&userId=用户 a+b");
    answer = json(services.request(
        "GET",
        path + QStringLiteral("appId=PC002&userId=%E7%94%A8%E6%88%B7%20a+b&sign=") + md5(raw.toUtf8() + kKey),
        QByteArray()));
    QCOMPARE(answer.value(QStringLiteral("code")).toInt(), 3192); // known user, in no room

    // Every request is on record, with what the client sent.
    const QJsonArray calls =
        QJsonDocument::fromJson(services.request("GET", "admin/calls", QByteArray())).array();
    QCOMPARE(calls.size(), 5);
    QCOMPARE(calls.first().toObject().value(QStringLiteral("operation")).toString(),
             QStringLiteral("checkEnterRoom"));
}

void TestLocalServices::badInputGetsAClearErrorAndServingGoesOn()
{
    LocalServicesProcess services;
    QVERIFY(services.start());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(services.port()));
    QVERIFY(socket.waitForConnected(5000));
    socket.write("THIS IS NOT HTTP\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(3000))
        answer += socket.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 400"), answer.constData());

    int status = 0;
    QJsonObject reply = json(services.request("GET", QStringLiteral("nowhere"), QByteArray(), &status));
    QCOMPARE(status, 404);
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(), 404);
    QVERIFY(reply.value(QStringLiteral("msg")).toString().contains(QStringLiteral("/nowhere")));

    reply = json(
        services.request("GET", QStringLiteral("pushStreamHelper/login?%zz=%&sign"), QByteArray(), &status));
    QCOMPARE(status, 200);
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(), 4002);

    reply = json(
        services.request("GET", QStringLiteral("pushStreamHelper/unknownOp?a=1"), QByteArray(), &status));
    QCOMPARE(reply.value(QStringLiteral("code")).toInt(), 4001);

    // Still serving.
    QCOMPARE(
        json(services.request("GET", QStringLiteral("sdkinit"), QByteArray(), &status)).value("code").toInt(),
        1);
    QCOMPARE(services.process().state(), QProcess::Running);
}

void TestLocalServices::injectedFaults()
{
    LocalServicesProcess services;
    QVERIFY(services.start());
    const QString login =
        QStringLiteral("pushStreamHelper/login?") +
        signedQuery(QStringLiteral("appId=PC002&phoneNumber=10001&password=%1").arg(md5("123456")),
                    QStringLiteral("appId=PC002&password=%1&phoneNumber=10001").arg(md5("123456")));
    int status = 0;

    QCOMPARE(services.admin(QStringLiteral("fault"), {{"mode", "error500"}}).value("code").toInt(), 1);
    services.request("GET", login, QByteArray(), &status);
    QCOMPARE(status, 500);

    services.admin(QStringLiteral("fault"), {{"mode", "garbage"}});
    const QByteArray garbage = services.request("GET", login, QByteArray(), &status);
    QCOMPARE(status, 200);
    QVERIFY(QJsonDocument::fromJson(garbage).isNull());

    services.admin(QStringLiteral("fault"), {{"mode", "slow"}, {"delayMs", 400}});
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(json(services.request("GET", login, QByteArray(), &status)).value("code").toInt(), 1);
    QVERIFY(clock.elapsed() >= 400);

    services.admin(QStringLiteral("fault"), {{"mode", "none"}});
    QCOMPARE(json(services.request("GET", login, QByteArray(), &status)).value("code").toInt(), 1);
}

void TestLocalServices::clickEventsAreRecordedAndListed()
{
    LocalServicesProcess services;
    QVERIFY(services.start());
    services.request("POST", QStringLiteral("burySite/appClickEvent"), "b=2&a=1", nullptr,
                     "application/x-www-form-urlencoded");
    services.request("POST", QStringLiteral("/burySite/appClickEvent"), "label=x", nullptr,
                     "application/x-www-form-urlencoded");
    const QJsonArray events =
        QJsonDocument::fromJson(
            services.request("GET", QStringLiteral("burySite/appClickEvent"), QByteArray()))
            .array();
    QCOMPARE(events.size(), 2);
    const QJsonObject first = events[0].toObject();
    QCOMPARE(first.value(QStringLiteral("body")).toString(), QStringLiteral("b=2&a=1"));
    // Received order is kept.
    QCOMPARE(first.value(QStringLiteral("params")).toArray().first().toArray().first().toString(),
             QStringLiteral("b"));

    services.admin(QStringLiteral("reset"), {});
    QCOMPARE(QJsonDocument::fromJson(services.request("GET", QStringLiteral("admin/events"), QByteArray()))
                 .array()
                 .size(),
             0);
}

void TestLocalServices::adminRefusesWhatItCannotDo()
{
    LocalServicesProcess services;
    QVERIFY(services.start());
    QCOMPARE(
        services.admin(QStringLiteral("ban"), {{"userId", "nobody"}, {"banned", true}}).value("code").toInt(),
        2002);
    QCOMPARE(
        services.admin(QStringLiteral("end"), {{"userId", "10001"}, {"code", 3000}}).value("code").toInt(),
        4004);
    QCOMPARE(services.admin(QStringLiteral("fault"), {{"mode", "explode"}}).value("code").toInt(), 4004);
    services.admin(QStringLiteral("room"), {{"userId", "10001"}, {"roomId", ""}});
    QCOMPARE(services.admin(QStringLiteral("mic"), {{"userId", "10001"}, {"on", true}}).value("code").toInt(),
             4004);
    // Form parameters work as well as JSON.
    const QJsonObject viaForm =
        json(services.request("POST", QStringLiteral("admin/room"), "userId=10001&roomId=5", nullptr,
                              "application/x-www-form-urlencoded"));
    QCOMPARE(viaForm.value("data").toObject().value("roomId").toString(), QStringLiteral("5"));
    services.admin(QStringLiteral("reset"), {});
    const QJsonArray users = json(services.request("GET", QStringLiteral("admin/state"), QByteArray()))
                                 .value("data")
                                 .toObject()
                                 .value("users")
                                 .toArray();
    QCOMPARE(users.first().toObject().value("roomId").toString(), QStringLiteral("8001"));
}

void TestLocalServices::adminPageIsServed()
{
    LocalServicesProcess services;
    QVERIFY(services.start());
    int status = 0;
    const QByteArray page = services.request("GET", QString(), QByteArray(), &status);
    QCOMPARE(status, 200);
    QVERIFY(page.contains("<html"));
    QVERIFY(page.contains("/admin/"));
    QCOMPARE(services.request("GET", QStringLiteral("admin"), QByteArray()), page);
}

void TestLocalServices::accountsComeFromTheDataFile()
{
    TestEnv::ScopedWorkDir dir;
    QFile file(QStringLiteral("accounts.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"accounts":[{"userId":"20002","password":"pw","roomId":"77"}]})");
    file.close();
    LocalServicesProcess services;
    QVERIFY(services.start({QStringLiteral("--data"), dir.path() + QStringLiteral("/accounts.json"),
                            QStringLiteral("--rtmp-host"), QStringLiteral("10.0.0.1"),
                            QStringLiteral("--rtmp-port"), QStringLiteral("1999")}));
    auto login = [&](const QString& user, const QByteArray& password) {
        const QString text =
            QStringLiteral("appId=PC002&password=%1&phoneNumber=%2").arg(md5(password), user);
        return json(services.request("GET",
                                     QStringLiteral("pushStreamHelper/login?") + signedQuery(text, text),
                                     QByteArray()))
            .value(QStringLiteral("code"))
            .toInt();
    };
    QCOMPARE(login(QStringLiteral("20002"), "pw"), 1);
    QCOMPARE(login(QStringLiteral("10001"), "123456"), 2001);
    const QString live = QStringLiteral("appId=PC002&liveStatus=1&roomId=77&userId=20002");
    const QJsonObject answer = json(services.request(
        "GET", QStringLiteral("pushStreamHelper/changeLiveStatus?") + signedQuery(live, live), QByteArray()));
    QCOMPARE(answer.value("data").toObject().value("streamUrl").toString(),
             QStringLiteral("rtmp://10.0.0.1:1999/live/77"));
    services.stop();

    // A missing file is written with the demo account.
    LocalServicesProcess fresh;
    QVERIFY(fresh.start({QStringLiteral("--data"), dir.path() + QStringLiteral("/new.json")}));
    QVERIFY(TestEnv::readText(dir.path() + QStringLiteral("/new.json")).contains(QStringLiteral("10001")));
}

void TestLocalServices::brokenDataFileOrBusyPortEndsWithAnError()
{
    TestEnv::ScopedWorkDir dir;
    QFile file(QStringLiteral("broken.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{not json");
    file.close();
    QProcess broken;
    broken.start(QStringLiteral(TAVIO_LOCALSERVICES_PATH),
                 {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"),
                  QStringLiteral("broken.json")});
    QVERIFY(broken.waitForFinished(5000));
    QCOMPARE(broken.exitCode(), 1);
    QVERIFY(broken.readAllStandardError().contains("broken.json"));

    QTcpServer occupier;
    QVERIFY(occupier.listen(QHostAddress::LocalHost, 0));
    QProcess busy;
    busy.start(QStringLiteral(TAVIO_LOCALSERVICES_PATH),
               {QStringLiteral("--port"), QString::number(occupier.serverPort())});
    QVERIFY(busy.waitForFinished(5000));
    QCOMPARE(busy.exitCode(), 1);
    QVERIFY(busy.readAllStandardError().contains("cannot listen"));

    QProcess badOption;
    badOption.start(QStringLiteral(TAVIO_LOCALSERVICES_PATH),
                    {QStringLiteral("--port"), QStringLiteral("x")});
    QVERIFY(badOption.waitForFinished(5000));
    QVERIFY(badOption.exitCode() != 0);
}

void TestLocalServices::stopsCleanlyOnSignals_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestLocalServices::stopsCleanlyOnSignals()
{
    QFETCH(int, signalNumber);
    LocalServicesProcess services;
    QVERIFY(services.start());
    // A connection left open must not keep it from stopping.
    QTcpSocket idle;
    idle.connectToHost(QHostAddress::LocalHost, quint16(services.port()));
    QVERIFY(idle.waitForConnected(5000));
    QVERIFY(::kill(pid_t(services.process().processId()), signalNumber) == 0);
    QVERIFY(services.process().waitForFinished(10000));
    QCOMPARE(services.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(services.process().exitCode(), 0);
    QVERIFY(services.process().readAllStandardOutput().contains("stopped"));
}

QTEST_GUILESS_MAIN(TestLocalServices)
#include "tst_localservices.moc"
