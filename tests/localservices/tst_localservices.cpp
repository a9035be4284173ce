#include "localservices/LocalServicesProcess.h"
#include "support/TestEnv.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

namespace {

QString md5(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

// "text&sign=md5(sortedText + key)": the signature is over the parameters sorted by key.
QString signedQuery(const QString& text, const QString& sortedText = QString())
{
    const QString key = QStringLiteral("c3f19a07e28b4d5c9e6a71b0f4d2835a");
    return text + "&sign=" + md5((sortedText.isEmpty() ? text : sortedText) + key);
}

int code(const QJsonObject& answer)
{
    return answer.value(QStringLiteral("code")).toInt();
}

} // namespace

class TestLocalServices : public QObject
{
    Q_OBJECT

private slots:
    // The signature is checked as the real service does; unknown paths and operations are refused.
    void requestsAreCheckedBySignatureAndBadInputRefused()
    {
        LocalServicesProcess services;
        QVERIFY(services.start());
        services.admin("account", {{"userId", QString::fromUtf8("用户 a+b")}, {"password", "p"}});
        const QString sorted("appId=PC002&userId=10001");
        const QList<QPair<QString, int>> cases{
            {signedQuery("userId=10001&appId=PC002", sorted), 1}, // signed over the keys in order
            {sorted, 4001},
            {sorted + "&sign=" + md5(sorted), 4002}, // signed without the key
            {signedQuery("appId=PC001&userId=10001"), 4003},
            // Percent-encoded values are signed as their decoded text, "+" as "+": a known user in no room.
            {signedQuery("appId=PC002&userId=%E7%94%A8%E6%88%B7%20a+b",
                         QString::fromUtf8("appId=PC002&userId=用户 a+b")),
             3192},
            {QStringLiteral("%zz=%&sign"), 4002}};
        for (const auto& c : cases)
            QCOMPARE(code(services.getJson("pushStreamHelper/checkEnterRoom?" + c.first)), c.second);
        int status = 0;
        QCOMPARE(code(services.getJson("nowhere", &status)) + status, 404 + 404);
        QCOMPARE(code(services.getJson("pushStreamHelper/unknownOp?a=1")), 4001);
    }

    void dataFileOptionsConfigurationAndFaults()
    {
        TestEnv::ScopedWorkDir dir;
        QVERIFY(TestEnv::writeFile(
            "accounts.json",
            "{\"accounts\":[{\"userId\":\"20002\",\"password\":\"pw\",\"roomId\":\"77\"}]}"));
        LocalServicesProcess services;
        QVERIFY(
            services.start({"--data", "accounts.json", "--rtmp-host", "10.0.0.1", "--rtmp-port", "1999"}));
        const QString login = "pushStreamHelper/login?" +
                              signedQuery("appId=PC002&password=" + md5("pw") + "&phoneNumber=20002");
        QCOMPARE(code(services.getJson(login)), 1);
        const QJsonObject live =
            services.getJson("pushStreamHelper/changeLiveStatus?" +
                             signedQuery("appId=PC002&liveStatus=1&roomId=77&userId=20002"));
        QCOMPARE(live.value("data").toObject().value("streamUrl").toString(),
                 QStringLiteral("rtmp://10.0.0.1:1999/live/77"));
        int status = 0;
        services.admin("fault", {{"mode", "error500"}});
        services.request("GET", login, {}, &status);
        QCOMPARE(status, 500);
        services.admin("fault", {{"mode", "none"}});
        QCOMPARE(code(services.getJson(login)), 1);
        // Its log names the requests but not their parameters: the password's digest and signature stay out.
        services.stop();
        const QByteArray printed = services.process().readAllStandardOutput();
        QVERIFY2(printed.contains("GET /pushStreamHelper/login -> 500"), printed.constData());
        QVERIFY(!printed.contains(md5("pw").toUtf8()) && !printed.contains("sign="));
    }

    // A connection left open does not keep it from stopping (SIGINT takes the same handler).
    void stopsCleanlyOnSignals()
    {
        LocalServicesProcess services;
        QVERIFY(services.start());
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, quint16(services.port()));
        QVERIFY(idle.waitForConnected(5000));
        QVERIFY(::kill(pid_t(services.process().processId()), SIGTERM) == 0);
        QVERIFY(services.process().waitForFinished(10000) &&
                services.process().exitStatus() == QProcess::NormalExit);
        QCOMPARE(services.process().exitCode(), 0);
        QVERIFY(services.process().readAllStandardOutput().contains("stopped"));
    }
};

QTEST_GUILESS_MAIN(TestLocalServices)
#include "tst_localservices.moc"
