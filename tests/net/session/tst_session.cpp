#include "base/OutsideText.h"
#include "config/VGlobalConfig.h"
#include "net/session/VWsComm.h"
#include "net/session/ZebServerComm.h"

#include "SessionFixture.h"
#include "WsTestPeer.h"
#include "net/http/TestHttpServer.h"

#include <QSignalSpy>
#include <QSslSocket>
#include <QtTest>

using Fx = SessionFixture;
using Log = LogCapture;

// The session channel and the request router on top of it, against a loopback peer. Only shutdown
// touches them today; these tests pin what a peer sees once something gives the channel an address.
class TstSession : public QObject
{
    Q_OBJECT

public slots:
    // The channel's reply slot: each call is recorded as "status uuid size".
    void reply(int status, QByteArray message, qulonglong uuid)
    {
        m_calls.append(QStringLiteral("%1 %2 %3").arg(status).arg(uuid).arg(message.size()));
    }

private slots:
    void init()
    {
        QVERIFY(m_fixture.setUp());
        m_channel = VWsComm::instance();
        m_router = ZebServerComm::instance();
        m_calls.clear();
        m_peer.reset(new WsTestPeer());
        QVERIFY(m_peer->listen());
        m_channel->setUrl(m_peer->url());
    }
    void cleanup()
    {
        VWsComm::destroyInstance();
        m_peer.reset();
        // Answers still travelling to continuations must go before the schemas do.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        m_fixture.tearDown();
    }

    // Messages the peer sends unasked, over one connection: what is logged and broadcast, nothing of
    // one left over for the next. A broadcast that does not parse tells the user, reports a click
    // event and, once that is answered, tells the workflow.
    void inboundMessages()
    {
        // Message, frame size, what is logged, the broadcast (protoId and content) if any.
        const QList<std::tuple<QByteArray, int, QString, QString>> rows{
            // Spelt out byte for byte: the envelope is big-endian (uuid, protoId, state).
            {QByteArray("\x00\x00\x00\x01\x00\x00\x08\x2a", 8), 3, "", "1 data: 42"},
            {QByteArray("\x00\x01\x00\x01\x00", 5), 0, "message invalid and ignore because of size 5", ""},
            {Fx::frame(0, 0, 4), 0, "broadcast protoId empty and ignore", ""},
            {Fx::frame(0, 777, 0, "\x08\x01"), 0, "找不到正确的proto映射 777", "777 invalid"},
            {Fx::frame(0, 1, 0, QByteArray("\x08\xff", 2)), 0, "反序列化失败parseSerialData", "1 invalid"}};
        TestHttpServer logService;
        VGlobalConfig::instance()->setValue(QStringLiteral("ApiLogServer"), logService.url());
        connectChannel();
        QSignalSpy whole(m_channel, &VWsComm::sigQueueBinaryMessageReceived);
        QSignalSpy parseErrors(m_channel, &VWsComm::sigParseError);
        QSignalSpy broadcasts(m_channel, &VWsComm::sigRecvBroadCast);
        for (int i = 0; i < rows.size(); ++i) {
            const auto& [message, frameSize, logged, broadcast] = rows.at(i);
            broadcasts.clear();
            m_peer->send(message, quint64(frameSize));
            WAIT_FOR(whole.size() == i + 1 && Log::contains(logged) &&
                     broadcasts.size() == int(!broadcast.isEmpty()));
            QCOMPARE(whole.last().at(0).toByteArray(), message);
            if (!broadcast.isEmpty()) {
                const VProtoMsgPtr msg = broadcasts.at(0).at(1).value<VProtoMsgPtr>();
                QCOMPARE(QStringLiteral("%1 ").arg(broadcasts.at(0).at(0).toInt()) +
                             (msg->isValid() ? msg->debugText() : QStringLiteral("invalid")),
                         broadcast);
            }
        }
        WAIT_FOR(parseErrors.size() == 1);
        QVERIFY(Log::contains(QStringLiteral("系统配置文件被损坏，现在为您关闭程序，请您重新登录。")));
        QCOMPARE(logService.requests().size(), 1);
        QVERIFY(logService.requests().first().target.endsWith("/burySite/appClickEvent"));
    }

    // Requests older than 10 s fail, the connecting one with them; a late answer is dropped; the
    // next request is answered; shutting down closes normally.
    void sweepAfterTenSecondsAndNormalClose()
    {
        m_fixture.useFakeClocks();
        connectChannel();
        const QDateTime start = m_fixture.wall;
        QVERIFY(request(11));
        m_fixture.wall = start.addMSecs(1);
        QVERIFY(request(12));
        m_fixture.wall = start.addMSecs(10000);
        m_channel->releaseTimeout();
        QVERIFY(m_channel->isPending(11));
        m_fixture.wall = start.addMSecs(10001);
        m_channel->releaseTimeout();
        QVERIFY(!m_channel->isPending(11) && m_channel->isPending(12));
        QVERIFY(Log::contains(QStringLiteral("timeSend timeout and ignore 11")));
        m_fixture.wall = start.addMSecs(10002);
        m_channel->releaseTimeout();
        WAIT_FOR(m_calls.size() == 3);
        m_calls.sort();
        QCOMPARE(m_calls, (QStringList{"-200 100 0", "-200 11 0", "-200 12 0"}));
        m_peer->send(Fx::frame(11, 1, 0));
        m_peer->answer = [](const WsEnvelope& in) { return Fx::frame(in.uuid, 1, 0, "\x08\x01"); };
        QVERIFY(request(13));
        WAIT_FOR(m_calls.size() == 4);
        QCOMPARE(m_calls.at(3), QStringLiteral("200 13 8"));
        VWsComm::destroyInstance();
        WAIT_FOR(m_peer->lastCloseCode == 1000);
    }

    // After the connection drops: waiting requests fail (the workflow logs in again), the channel
    // reopens once a second, and only two minutes without network since the latest drop force the
    // user off line.
    void reopenOncePerSecondAndOffLineAfterTwoMinutes()
    {
        m_fixture.useFakeClocks();
        QSignalSpy offLine(m_channel, &VWsComm::sigForceOffLine);
        QSignalSpy relogin(m_router, &ZebServerComm::sigSessionTimeLimit);
        const qint64 start = m_fixture.monotonic;
        const QString open = QStringLiteral("webSocket open");
        connectChannel();
        m_peer->dropAll();
        WAIT_FOR(m_calls == QStringList{"-200 100 0"} && relogin.size() >= 1);
        m_fixture.monotonic = start + 999;
        QTest::qWait(250);
        QCOMPARE(Log::count(open), 1);
        m_fixture.monotonic = start + 1000;
        WAIT_FOR(Log::count(QStringLiteral("websocket no net end")) == 2 && Log::count(open) == 2);
        const qint64 second = m_fixture.monotonic = start + 119500;
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:%1").arg(TestHttpServer::closedPort()));
        m_peer->dropAll();
        WAIT_FOR(Log::count(QStringLiteral("websocket no net start")) == 3);
        m_fixture.monotonic = second + 120000;
        QTest::qWait(250);
        QCOMPARE(offLine.size(), 0);
        m_fixture.monotonic = second + 120001;
        WAIT_FOR(offLine.size() >= 1);
        QCOMPARE(offLine.at(0).at(0).toString(), QStringLiteral("建立网络连接超时，请重新登录！"));
    }

    void reconnectRequestsCloserThanThreeSecondsAreDropped()
    {
        m_fixture.useFakeClocks();
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:%1").arg(TestHttpServer::closedPort()));
        const QDateTime start = m_fixture.wall;
        // The last step sets the clock back, which counts as frequent too.
        const QList<QPair<int, int>> steps = {{0, 1}, {2000, 0}, {2999, 0}, {3000, 4}, {0, 0}};
        for (int i = 0; i < steps.size(); ++i) {
            m_fixture.wall = start.addMSecs(steps.at(i).first);
            QCOMPARE(request(quint16(i + 1), true), steps.at(i).second);
        }
        QVERIFY(Log::contains(QStringLiteral("VWsComm::request reconnect ignore frequent 2")));
        QCOMPARE(m_channel->queuedCount(), 2);
    }

    void fourthCertificateErrorForcesOffLine()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS support in this Qt build");
        WsTestPeer peer(QWebSocketServer::SecureMode);
        QVERIFY(peer.useFreshCertificate(m_fixture.workDir()) && peer.listen());
        m_fixture.useFakeClocks();
        QSignalSpy offLine(m_channel, &VWsComm::sigForceOffLine);
        m_channel->setUrl(peer.url());
        QVERIFY(request(1));
        // Qt may report one failed handshake more than once; what counts is each report.
        const QString report = QStringLiteral("VWsComm::onSslErrors (");
        int reports = 0;
        for (int attempt = 1; attempt <= 5 && reports < 5; ++attempt) {
            WAIT_FOR(Log::count(report) > reports && !m_channel->isConnecting());
            reports = Log::count(report);
            QCOMPARE(m_channel->sslErrorCount(), qMin(reports, 3));
            QCOMPARE(offLine.size(), qMax(0, reports - 3));
            m_fixture.monotonic += 1000;
        }
        QVERIFY(reports >= 4 && !m_channel->isConnected());
        QCOMPARE(offLine.at(0).at(0).toString(), QStringLiteral("网络证书错误，请校正本机日期时间"));
    }

    // The heartbeat on the wire and the status the workflow gets: the answer's state and time (none
    // without a type); an answered request leaves nothing in flight.
    void heartBeatStatus()
    {
        m_peer->answerFrameSize = 3;
        m_peer->answer = [](const WsEnvelope& in) {
            return in.uuid == 1 ? Fx::frame(1, in.protoId, 0, "\x08\xd2\x09") : Fx::frame(in.uuid, 0, 8);
        };
        QSignalSpy status(m_router, &ZebServerComm::sigHeartBeatStatus);
        for (int uuid = 1; uuid <= 2; ++uuid) {
            m_router->heartBeat();
            WAIT_FOR(status.size() == uuid);
            QCOMPARE(m_peer->received.last(),
                     QByteArray("\x00\x01\x00\x01\x00\x00\x00\x02\x00\x01\x00\x00", 12).mid(6 * uuid - 6, 6));
        }
        QCOMPARE(status.at(0), (QList<QVariant>{0, 1234ll}));
        QCOMPARE(status.at(1), (QList<QVariant>{8, 0ll}));
        QCOMPARE(m_router->inFlightCount(), 0);
    }

    void uuidsWrapToOneSkippingZero()
    {
        // Refused sends still use up their uuid, which makes the full cycle cheap to walk.
        VWsComm::instance()->setUrl(QString());
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        Log::muted = true;
        bool sawZero = false;
        for (int i = 0; i < 65536 && m_router->nextUuid() != 65535; ++i) {
            QVERIFY(m_router->Send(QStringLiteral("UserCmd.logon"), logon).isRejected());
            sawZero = sawZero || m_router->nextUuid() == 0;
        }
        m_router->Send(QStringLiteral("UserCmd.logon"), logon);
        Log::muted = false;
        QCOMPARE(int(m_router->nextUuid()), 1);
        QVERIFY(!sawZero && m_router->inFlightCount() == 0);
    }

    // How an answer (or a failed request) becomes the promise's outcome; each logged line is capped.
    void answerRules_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("outcome"); // code, text, message; "none": the promise stays pending
        QTest::addColumn<QString>("logged");
        auto row = [](const char* name, int status, const QByteArray& message, const char* outcome,
                      const char* logged) { QTest::newRow(name) << status << message << outcome << logged; };
        const QByteArray longText = "\x12\xb8\x17" + QByteArray(3000, 'd');
        row("answer", 200, Fx::frame(3, 1, 7, "\x08\x63"), "7  msg", "result :  \"HeartBeatCmd");
        row("error result", 200, Fx::frame(1, 3, 5, "\x12\x02ok"), "5 ok msg", "description :  \"ok\"");
        row("long error text", 200, Fx::frame(1, 3, 5, longText), "5 dddddddddddd msg", "…(3000 bytes)");
        row("state 10", 200, Fx::frame(1, 0, 10), "10  -", "state :  10");
        row("state 12", 200, Fx::frame(1, 0, 12), "12  -", "state :  12");
        row("user not logged in", 200, Fx::frame(1, 1, 11), "none limit", "Recv USER_NOT_LOGIN");
        row("unknown protoId", 200, Fx::frame(1, 777, 0), "none", "proto文件丢失或损坏 777");
        row("broken payload", 200, Fx::frame(1, 1, 0, QByteArray("\x08\xff", 2)), "none", "retToFunctor反序列化失败");
        row("short", 200, QByteArray("\x00\x01\x00\x01\x00", 5), "none", "数据长度少于6字节");
        row("failed request", -200, QByteArray(), "-200 网络错误:-200 -", "网络错误:-200\" 0");
        row("status 500, long body", 500, QByteArray(5000, 'b'), "-200 网络错误:500 -", "网络错误:500\" 5000");
    }
    void answerRules()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, message);
        QFETCH(QString, outcome);
        QFETCH(QString, logged);
        QSignalSpy limit(m_router, &ZebServerComm::sigSessionTimeLimit);
        QString seen = QStringLiteral("none");
        m_router->Recv(status, message, [&](const ZebServerResponse& r) {
            seen = QStringLiteral("%1 %2 %3").arg(r.code).arg(r.text.left(12), r.msg ? "msg" : "-");
        });
        QCOMPARE(seen + (limit.isEmpty() ? "" : " limit"), outcome);
        QVERIFY(Log::contains(logged));
        for (const QString& line : Log::lines())
            QVERIFY(line.size() < OutsideText::logCapBytes + 200);
    }

private:
    int request(quint16 uuid, bool reconnect = false)
    {
        return m_channel->request(uuid, Fx::frame(uuid, 1, 0), this, QStringLiteral("reply"), QString(), true,
                                  reconnect, false);
    }

    // Opens the channel to the peer with one request (uuid 100) that the peer receives.
    void connectChannel()
    {
        QCOMPARE(request(100), 100);
        WAIT_FOR(m_peer->received.size() == 1 && !m_channel->isConnecting());
    }

    SessionFixture m_fixture;
    std::unique_ptr<WsTestPeer> m_peer;
    VWsComm* m_channel = nullptr;
    ZebServerComm* m_router = nullptr;
    QStringList m_calls;
};

QTEST_GUILESS_MAIN(TstSession)
#include "tst_session.moc"
