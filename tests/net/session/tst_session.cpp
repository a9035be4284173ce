#include "app/MessageBoxNotifier.h"
#include "config/VGlobalConfig.h"
#include "net/session/VWsComm.h"
#include "net/session/ZebServerComm.h"

#include "SessionFixture.h"
#include "WsTestPeer.h"
#include "net/http/TestHttpServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTimer>
#include <QtTest>

using Fx = SessionFixture;

// The session channel and the request router on top of it, against a loopback peer.
class TstSession : public QObject
{
    Q_OBJECT

public slots:
    // The channel's reply slots: each call is recorded as "status uuid size" ("-" for no uuid).
    void reply(int status, QByteArray message, qulonglong uuid)
    {
        record(status, QString::number(uuid), message);
    }
    void replyNoUid(int status, QByteArray message) { record(status, QStringLiteral("-"), message); }

private slots:
    // The application's boxes, as at start-up: the user sees the warning box itself.
    void initTestCase() { UserNotifier::install(&m_notifier); }
    void cleanupTestCase() { UserNotifier::install(nullptr); }

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

    void envelopeRoundTrips_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("read"); // success, uuid, protoId, state
        QTest::newRow("first request") << QByteArray("\x00\x01\x00\x02\x00\x00", 6) << "1 1 2 0";
        QTest::newRow("big-endian") << QByteArray("\x12\x34\xab\xcd\x00\x0b\x08\x2a", 8) << "1 4660 43981 11";
        QTest::newRow("extremes") << QByteArray(6, '\xff') + QByteArray(300, 'p') << "1 65535 65535 65535";
        QTest::newRow("short, left untouched") << QByteArray("\x00\x01\x00\x01\x00", 5) << "0 7 7 7";
    }
    void envelopeRoundTrips()
    {
        QFETCH(QByteArray, message);
        QFETCH(QString, read);
        WsEnvelope in{7, 7, 7};
        const bool ok = WsEnvelope::read(message, in);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(int(ok)).arg(in.uuid).arg(in.protoId).arg(in.state), read);
        if (ok)
            QCOMPARE(in.frame(WsEnvelope::payloadOf(message)), message);
    }

    void inboundBranches_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QString>("broadcast"); // protoId and content of the message broadcast
        QTest::newRow("split over frames") << Fx::frame(0, Fx::heartBeatId, 0, "\x08\x2a") << 3 << ""
                                           << "1 data: 42";
        QTest::newRow("short") << QByteArray("\x00\x01\x00\x01\x00", 5) << 0
                               << "message invalid and ignore because of size 5"
                               << "";
        QTest::newRow("unknown uuid")
            << Fx::frame(99, 1, 0) << 0 << "response unmatch and ignore because of pReceiver: 0"
            << "";
        QTest::newRow("protoId 0") << Fx::frame(0, 0, 4) << 0 << "broadcast protoId empty and ignore"
                                   << "";
        QTest::newRow("unknown protoId")
            << Fx::frame(0, 777, 0, "\x08\x01") << 0 << "找不到正确的proto映射 777"
            << "777 invalid";
        QTest::newRow("requester gone")
            << Fx::frame(5, 1, 0) << 0 << "response unmatch and ignore because of pReceiver: 0"
            << "";
        QTest::newRow("unparsable") << Fx::frame(0, Fx::heartBeatId, 0, QByteArray("\x08\xff", 2)) << 0
                                    << "反序列化失败parseSerialData Recv  uuid :  0"
                                    << "1 invalid";
    }
    void inboundBranches()
    {
        QFETCH(QByteArray, message);
        QFETCH(int, frameSize);
        QFETCH(QString, logged);
        QFETCH(QString, broadcast);
        TestHttpServer logService;
        VGlobalConfig::instance()->setValue(QStringLiteral("ApiLogServer"), logService.url());
        connectChannel();
        QSignalSpy whole(m_channel, &VWsComm::sigQueueBinaryMessageReceived);
        QSignalSpy broadcasts(m_channel, &VWsComm::sigRecvBroadCast);
        QSignalSpy parseErrors(m_channel, &VWsComm::sigParseError);
        QString seen;
        QTimer dismiss;
        connect(&dismiss, &QTimer::timeout, this, [&]() {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = box->windowTitle() + box->text();
                box->buttons().first()->click();
            }
        });
        dismiss.start(20);
        // The answer must not be delivered to a requester that went away in between.
        auto* gone = new QObject();
        QCOMPARE(m_channel->request(5, Fx::frame(5, 1, 0), gone, "reply", QString(), true, false, false), 5);
        delete gone;
        m_peer->send(message, quint64(frameSize));
        QTRY_VERIFY(Fx::logged(logged) && broadcasts.size() == (broadcast.isEmpty() ? 0 : 1));
        QCOMPARE(m_channel->isPending(5), QByteArray(QTest::currentDataTag()) != "requester gone");
        QCOMPARE(whole.at(0).at(0).toByteArray(), message);
        if (!broadcast.isEmpty()) {
            const VProtoMsgPtr msg = broadcasts.at(0).at(1).value<VProtoMsgPtr>();
            QCOMPARE(QStringLiteral("%1 %2")
                         .arg(broadcasts.at(0).at(0).toInt())
                         .arg(msg->isValid() ? msg->debugText() : QStringLiteral("invalid")),
                     broadcast);
        }
        // Nothing of a split message is left over for the next one.
        m_peer->send(Fx::frame(0, 0, 0));
        QTRY_COMPARE(whole.size(), 2);
        QCOMPARE(whole.at(1).at(0).toByteArray(), Fx::frame(0, 0, 0));
        QVERIFY(m_calls.isEmpty());
        // Only a payload that does not parse warns the user and reports it.
        const bool reported = QByteArray(QTest::currentDataTag()) == "unparsable";
        QTRY_COMPARE(parseErrors.size(), reported ? 1 : 0);
        QCOMPARE(logService.requests().size(), reported ? 1 : 0);
        if (!reported)
            return;
        QCOMPARE(seen, QStringLiteral("温馨提示系统配置文件被损坏，现在为您关闭程序，请您重新登录。"));
        const TestHttpServer::Request report = logService.requests().first();
        QCOMPARE(report.method, QByteArray("POST"));
        QVERIFY(report.target.endsWith("/burySite/appClickEvent"));
        QVERIFY(report.body.startsWith("action=1&appId=PC001&channelId=10"));
        QVERIFY(report.body.contains("label=1"));
    }

    void sweepFailsOnlyRequestsOlderThanTenSeconds()
    {
        m_fixture.useFakeClocks();
        connectChannel();
        const QDateTime start = m_fixture.wall;
        QVERIFY(request(11));
        m_fixture.wall = start.addMSecs(1);
        QVERIFY(request(12, false, "replyNoUid"));
        m_fixture.wall = start.addMSecs(10000);
        m_channel->releaseTimeout();
        QVERIFY(m_channel->isPending(11));
        m_fixture.wall = start.addMSecs(10001);
        m_channel->releaseTimeout();
        QVERIFY(!m_channel->isPending(11));
        QVERIFY(m_channel->isPending(12));
        QVERIFY(Fx::logged(QStringLiteral("timeSend timeout and ignore 11")));
        QVERIFY(Fx::logged(QStringLiteral("elapsedTime: 10001")));
        // The connecting request (uuid 100) was written at the same moment as uuid 11.
        QTRY_COMPARE(m_calls.size(), 2);
        m_calls.sort();
        QCOMPARE(m_calls, (QStringList{"-200 100 0", "-200 11 0"}));
        m_fixture.wall = start.addMSecs(10002);
        m_channel->releaseTimeout();
        QCOMPARE(m_channel->pendingCount(), 0);
        QTRY_COMPARE(m_calls.size(), 3);
        QCOMPARE(m_calls.at(2), QStringLiteral("-200 - 0"));
        // Shutting down closes normally.
        VWsComm::destroyInstance();
        QTRY_COMPARE(m_peer->lastCloseCode, 1000);
    }

    void reopenOncePerSecondAndOffLineAfterTwoMinutes()
    {
        m_fixture.useFakeClocks();
        QSignalSpy offLine(m_channel, &VWsComm::sigForceOffLine);
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:%1").arg(TestHttpServer::closedPort()));
        const qint64 start = m_fixture.monotonic;
        QVERIFY(request(1));
        QTRY_VERIFY(Fx::logged(QStringLiteral("websocket no net start")));
        QTRY_VERIFY(!m_channel->isConnecting());
        const QString open = QStringLiteral("webSocket open");
        QCOMPARE(Fx::logCount(open), 1);
        m_fixture.monotonic = start + 999;
        QTest::qWait(350);
        QCOMPARE(Fx::logCount(open), 1);
        m_fixture.monotonic = start + 1000;
        QTRY_COMPARE(Fx::logCount(open), 2);
        m_fixture.monotonic = start + 120000;
        QTest::qWait(350);
        QCOMPARE(offLine.size(), 0);
        m_fixture.monotonic = start + 120001;
        QTRY_VERIFY(offLine.size() >= 3);
        QCOMPARE(offLine.at(0).at(0).toString(), QStringLiteral("建立网络连接超时，请重新登录！"));
    }

    void reconnectRequestsCloserThanThreeSecondsAreDropped()
    {
        m_fixture.useFakeClocks();
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:%1").arg(TestHttpServer::closedPort()));
        const QDateTime start = m_fixture.wall;
        const QList<QPair<int, int>> steps = {{0, 1}, {2000, 0}, {2999, 0}, {3000, 4}, {0, 0}};
        for (int i = 0; i < steps.size(); ++i) {
            // The last step sets the clock back, which counts as frequent too.
            m_fixture.wall = start.addMSecs(steps.at(i).first);
            QCOMPARE(request(quint16(i + 1), true), steps.at(i).second);
        }
        QVERIFY(Fx::logged(QStringLiteral("VWsComm::request reconnect ignore frequent 2")));
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
            QTRY_VERIFY(Fx::logCount(report) > reports);
            QTRY_VERIFY(!m_channel->isConnecting());
            reports = Fx::logCount(report);
            QCOMPARE(m_channel->sslErrorCount(), qMin(reports, 3));
            QCOMPARE(offLine.size(), qMax(0, reports - 3));
            m_fixture.monotonic += 1000;
        }
        QVERIFY(reports >= 4);
        QCOMPARE(offLine.at(0).at(0).toString(), QStringLiteral("网络证书错误，请校正本机日期时间"));
        QVERIFY(!m_channel->isConnected());
    }

    void heartBeatStatus_data()
    {
        QTest::addColumn<int>("protoId");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<qlonglong>("data");
        QTest::newRow("first, in three frames")
            << int(Fx::heartBeatId) << 0 << QByteArray("\x08\xd2\x09") << 3 << 1234ll;
        QTest::newRow("without data") << int(Fx::heartBeatId) << 3 << QByteArray() << 0 << 0ll;
        QTest::newRow("without message type") << 0 << 8 << QByteArray() << 0 << 0ll;
    }
    void heartBeatStatus()
    {
        QFETCH(int, protoId);
        QFETCH(int, state);
        QFETCH(QByteArray, payload);
        QFETCH(int, frameSize);
        QFETCH(qlonglong, data);
        m_peer->answerFrameSize = quint64(frameSize);
        m_peer->answer = [=](const WsEnvelope& request) {
            return Fx::frame(request.uuid, quint16(protoId), quint16(state), payload);
        };
        const int uuid = m_router->nextUuid();
        if (frameSize)
            QCOMPARE(uuid, 1);
        QSignalSpy status(m_router, &ZebServerComm::sigHeartBeatStatus);
        m_router->heartBeat();
        QTRY_COMPARE(status.size(), 1);
        QCOMPARE(m_peer->received.first(), Fx::frame(quint16(uuid), Fx::heartBeatId, 0));
        QCOMPARE(status.at(0).at(0).toInt(), state);
        QCOMPARE(status.at(0).at(1).toLongLong(), data);
        QVERIFY(Fx::logged(QStringLiteral("Send( \"HeartBeatCmd.heartBeat\" ) : uuid -  %1").arg(uuid)));
    }

    void uuidsWrapToOneSkippingZero()
    {
        // Refused sends still use up their uuid, which makes the full cycle cheap to walk.
        VWsComm::instance()->setUrl(QString());
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        LogCapture::muted = true;
        bool sawZero = false;
        for (int i = 0; i < 65536 && m_router->nextUuid() != 65535; ++i) {
            m_router->Send(QStringLiteral("UserCmd.logon"), logon);
            sawZero = sawZero || m_router->nextUuid() == 0;
        }
        m_router->Send(QStringLiteral("UserCmd.logon"), logon);
        LogCapture::muted = false;
        QCOMPARE(int(m_router->nextUuid()), 1);
        QVERIFY(!sawZero);
    }

    void sendBranches_data()
    {
        QTest::addColumn<QString>("name");
        // The answer's protoId; -1: the request's own. No answer: -2 connection dropped, -3 silence, -4 no
        // address.
        QTest::addColumn<int>("protoId");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("payload");
        // Promise state, code, text, message; uuids used up; whether the session limit was raised.
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("logged");
        const QString heartBeat = QStringLiteral("HeartBeatCmd.heartBeat");
        QTest::newRow("error result") << heartBeat << int(Fx::errorResultId) << 5
                                      << QByteArray("\x12\x02ok", 4) << "fulfilled 5 ok msg 1 0"
                                      << " errorCode :  \"\"  description :  \"ok\"";
        QTest::newRow("no message type") << heartBeat << 0 << 6 << QByteArray() << "fulfilled 6   1 0"
                                         << "Recv end";
        QTest::newRow("user not logged in") << heartBeat << -1 << 11 << QByteArray() << "pending 0   1 1"
                                            << "Recv USER_NOT_LOGIN uuid : ";
        QTest::newRow("user not logged in, no message type")
            << heartBeat << 0 << 11 << QByteArray() << "pending 0   1 1"
            << "Recv USER_NOT_LOGIN uuid : ";
        QTest::newRow("unknown protoId") << heartBeat << 777 << 0 << QByteArray() << "pending 0   1 0"
                                         << "数据解析失败，proto文件丢失或损坏 777";
        QTest::newRow("broken payload")
            << heartBeat << -1 << 0 << QByteArray("\x08\xff", 2) << "pending 0   1 0"
            << "retToFunctor反序列化失败 \"HeartBeatCmd.heartBeat\"";
        QTest::newRow("dropped connection")
            << heartBeat << -2 << 0 << QByteArray() << "fulfilled -200 网络错误:-200  1 1"
            << "Recv end";
        QTest::newRow("silent server")
            << heartBeat << -3 << 0 << QByteArray() << "fulfilled -200 网络错误:-200  1 0"
            << "Recv end";
        QTest::newRow("channel refuses")
            << heartBeat << -4 << 0 << QByteArray() << "rejected -200 发起网络请求失败  1 0"
            << "";
        QTest::newRow("no protoId")
            << QStringLiteral("HeartBeatCmd.none") << -4 << 0 << QByteArray()
            << "rejected -200 逻辑服请求失败，proto文件丢失或损坏HeartBeatCmd.none  0 0"
            << "";
    }
    void sendBranches()
    {
        QFETCH(QString, name);
        QFETCH(int, protoId);
        QFETCH(int, state);
        QFETCH(QByteArray, payload);
        QFETCH(QString, outcome);
        QFETCH(QString, logged);
        m_fixture.useFakeClocks();
        m_peer->answer = [=](const WsEnvelope& request) {
            return protoId < -1 ? QByteArray()
                                : Fx::frame(request.uuid, protoId < 0 ? request.protoId : quint16(protoId),
                                            quint16(state), payload);
        };
        if (protoId == -4)
            VWsComm::instance()->setUrl(QString());
        QSignalSpy sessionLimit(m_router, &ZebServerComm::sigSessionTimeLimit);
        const int uuid = m_router->nextUuid();
        VProtoMsg heartBeat;
        heartBeat.createByNameOrExit(QStringLiteral("HeartBeatCmd.heartBeat"));
        // Shared: a continuation may still run after the test.
        const auto seen = std::make_shared<QString>(QStringLiteral("pending 0  "));
        m_router->Send(name, heartBeat)
            .then([seen](const ZebServerResponse& response) {
                *seen = QStringLiteral("fulfilled %1 %2 %3")
                            .arg(response.code)
                            .arg(response.text, response.msg ? "msg" : "");
            })
            .fail([seen](const ZebPromiseError& error) {
                *seen = QStringLiteral("rejected %1 %2 ").arg(error.code).arg(error.text);
            });
        if (protoId > -4)
            QTRY_COMPARE(m_peer->received.size(), 1);
        if (protoId == -2)
            m_peer->dropAll();
        if (protoId == -3) {
            QTRY_VERIFY(!VWsComm::instance()->isConnecting());
            m_fixture.wall = m_fixture.wall.addMSecs(10001);
            m_fixture.monotonic += 1001;
        }
        QTRY_VERIFY(Fx::logged(logged));
        QTest::qWait(50);
        QCOMPARE(
            *seen +
                QStringLiteral(" %1 %2").arg(m_router->nextUuid() - uuid).arg(int(!sessionLimit.isEmpty())),
            outcome);
        QCOMPARE(m_router->inFlightCount(), 0);
    }

    void recvWithoutAChannel()
    {
        QStringList seen;
        const ZebServerComm::Resolver resolver = [&](const ZebServerResponse& response) {
            seen << QStringLiteral("%1 %2 %3")
                        .arg(response.code)
                        .arg(response.text, response.msg ? response.msg->debugText() : "");
        };
        m_router->Recv(200, QByteArray("\x00\x01\x00\x01\x00", 5), resolver);
        m_router->Recv(200, Fx::frame(1, 1, 0), ZebServerComm::Resolver());
        QVERIFY(Fx::logged(QStringLiteral("数据长度少于6字节")) && Fx::logged(QStringLiteral("functor为空")));
        m_router->Recv(500, "body", resolver);
        m_router->Recv(200, Fx::frame(3, 1, 7, "\x08\x63"), resolver);
        QCOMPARE(seen, (QStringList{QStringLiteral("-200 网络错误:500 "), QStringLiteral("7  data: 99")}));
    }

private:
    void record(int status, const QString& uuid, const QByteArray& message)
    {
        m_calls.append(QStringLiteral("%1 %2 %3").arg(status).arg(uuid).arg(message.size()));
    }

    int request(quint16 uuid, bool reconnect = false, const char* slot = "reply")
    {
        return m_channel->request(uuid, Fx::frame(uuid, 1, 0), this, QLatin1String(slot), QString(),
                                  qstrcmp(slot, "reply") == 0, reconnect, false);
    }

    // Opens the channel to the peer with one request (uuid 100) that the peer receives.
    void connectChannel()
    {
        QCOMPARE(request(100), 100);
        QTRY_COMPARE(m_peer->received.size(), 1);
        QTRY_VERIFY(!m_channel->isConnecting());
    }

    SessionFixture m_fixture;
    std::unique_ptr<WsTestPeer> m_peer;
    VWsComm* m_channel = nullptr;
    ZebServerComm* m_router = nullptr;
    QStringList m_calls;
    MessageBoxNotifier m_notifier;
};

QTEST_MAIN(TstSession)
#include "tst_session.moc"
