#include "config/VGlobalConfig.h"
#include "net/session/VWsComm.h"
#include "net/session/ZebServerComm.h"

#include "SessionFixture.h"
#include "SessionLogCapture.h"
#include "WsTestPeer.h"
#include "net/http/TestHttpServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTimer>
#include <QtTest>

namespace {

const QString slotWithUid = QStringLiteral("reply");
const QString slotWithoutUid = QStringLiteral("replyNoUid");

} // namespace

// Stands in for a requester: records every reply slot call.
class ReplyRecorder : public QObject
{
    Q_OBJECT

public:
    struct Call
    {
        int status = 0;
        QByteArray message;
        qulonglong uuid = 0;
        bool withUid = false;
    };
    QList<Call> calls;

public slots:
    void reply(int status, QByteArray message, qulonglong uuid)
    {
        calls.append({status, message, uuid, true});
    }
    void replyNoUid(int status, QByteArray message) { calls.append({status, message, 0, false}); }
};

class TstVWsComm : public QObject
{
    Q_OBJECT

private slots:
    // Qt Test installs its own message handler when it starts; ours goes on top of it.
    void initTestCase() { m_logCapture.reset(new SessionLogCapture()); }
    void cleanupTestCase() { m_logCapture.reset(); }

    void init()
    {
        QVERIFY(m_fixture.setUp());
        SessionLogCapture::clear();
        m_channel = VWsComm::instance();
        QVERIFY(m_channel);
    }

    void cleanup()
    {
        VWsComm::instance()->destroyInstance();
        m_channel = nullptr;
        m_fixture.tearDown();
    }

    // --- requests and the queue

    void requestsWithoutAddressOrReceiverAreRefused()
    {
        ReplyRecorder recorder;
        const QByteArray frame = SessionFixture::frame(1, 1, 0);
        QCOMPARE(m_channel->request(1, frame, &recorder, slotWithUid, QString(), true, false, false), 0);
        QVERIFY(SessionLogCapture::has(QStringLiteral("VWsComm::request para error")));
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:1"));
        QCOMPARE(m_channel->request(1, frame, nullptr, slotWithUid, QString(), true, false, false), 0);
        QCOMPARE(m_channel->request(1, frame, &recorder, QString(), QString(), true, false, false), 0);
        QCOMPARE(m_channel->queuedCount(), 0);
        QCOMPARE(m_channel->request(1, frame, &recorder, slotWithUid, QString(), true, false, false), 1);
        QCOMPARE(m_channel->queuedCount(), 1);
    }

    void queueDrainsFrontFirstAfterConnecting()
    {
        WsTestPeer peer;
        QVERIFY(peer.listen());
        ReplyRecorder recorder;
        m_channel->setUrl(peer.url());
        const QByteArray first = SessionFixture::frame(1, 1, 0);
        const QByteArray urgent = SessionFixture::frame(2, 2, 0);
        QCOMPARE(m_channel->request(1, first, &recorder, slotWithUid, QString(), true, false, false), 1);
        QCOMPARE(m_channel->request(2, urgent, &recorder, slotWithUid, QString(), true, false, true), 2);
        QTRY_COMPARE(peer.received.size(), 2);
        QCOMPARE(peer.received.at(0), urgent);
        QCOMPARE(peer.received.at(1), first);
        QVERIFY(m_channel->isPending(1));
        QVERIFY(m_channel->isPending(2));
        QCOMPARE(m_channel->queuedCount(), 0);
    }

    // --- replies, broadcasts and their assembly from frames

    void repliesReachTheirSlotOnce()
    {
        WsTestPeer peer;
        peer.onMessage = [](QWebSocket* socket, const QByteArray& message) {
            WsEnvelope header;
            if (WsEnvelope::read(message, header))
                socket->sendBinaryMessage(SessionFixture::frame(header.uuid, header.protoId, 4, "\x08\x07"));
        };
        ReplyRecorder recorder;
        connectChannel(peer, recorder);

        // Connected: the request is written at once and pending without waiting for a tick.
        QCOMPARE(m_channel->request(7, SessionFixture::frame(7, 1, 0), &recorder, slotWithUid, QString(),
                                    true, false, false),
                 7);
        QVERIFY(m_channel->isPending(7));
        QCOMPARE(m_channel->request(8, SessionFixture::frame(8, 1, 0), &recorder, slotWithoutUid, QString(),
                                    false, false, false),
                 8);
        QTRY_COMPARE(recorder.calls.size(), 3);
        const ReplyRecorder::Call withUid = recorder.calls.at(1);
        QCOMPARE(withUid.status, 200);
        QCOMPARE(withUid.message, SessionFixture::frame(7, 1, 4, "\x08\x07"));
        QCOMPARE(withUid.uuid, 7ull);
        QVERIFY(withUid.withUid);
        const ReplyRecorder::Call withoutUid = recorder.calls.at(2);
        QCOMPARE(withoutUid.status, 200);
        QVERIFY(!withoutUid.withUid);
        QVERIFY(!m_channel->isPending(7));
        QVERIFY(!m_channel->isPending(8));
        QCOMPARE(m_channel->pendingCount(), 0);
    }

    void messageSplitOverFramesArrivesWhole()
    {
        WsTestPeer peer;
        ReplyRecorder recorder;
        connectChannel(peer, recorder);
        QSignalSpy whole(m_channel, &VWsComm::sigQueueBinaryMessageReceived);
        QSignalSpy broadcasts(m_channel, &VWsComm::sigRecvBroadCast);

        const QByteArray split =
            SessionFixture::frame(0, SessionFixture::heartBeatId, 0, SessionFixture::heartBeatPayload(42));
        QCOMPARE(split.size(), 8);
        QVERIFY(peer.send(split, 3));
        QTRY_COMPARE(broadcasts.size(), 1);
        QCOMPARE(whole.size(), 1);
        QCOMPARE(whole.at(0).at(0).toByteArray(), split);
        QCOMPARE(broadcasts.at(0).at(0).toInt(), int(SessionFixture::heartBeatId));
        const VProtoMsgPtr msg = broadcasts.at(0).at(1).value<VProtoMsgPtr>();
        QVERIFY(msg && msg->isValid());
        qint64 data = 0;
        QVERIFY(msg->getInt64(QStringLiteral("data"), data));
        QCOMPARE(data, 42);

        // Nothing of the split message is left over for the next one.
        const QByteArray next = SessionFixture::frame(0, SessionFixture::errorResultId, 0,
                                                      SessionFixture::errorPayload("E9", "坏了"));
        QVERIFY(peer.send(next));
        QTRY_COMPARE(broadcasts.size(), 2);
        QCOMPARE(whole.at(1).at(0).toByteArray(), next);
        QString description;
        QVERIFY(broadcasts.at(1).at(1).value<VProtoMsgPtr>()->getString(QStringLiteral("description"),
                                                                        description, QString()));
        QCOMPARE(description, QStringLiteral("坏了"));
    }

    void strayAndMalformedMessagesAreDropped()
    {
        WsTestPeer peer;
        ReplyRecorder recorder;
        connectChannel(peer, recorder);
        QSignalSpy broadcasts(m_channel, &VWsComm::sigRecvBroadCast);

        QVERIFY(peer.send(QByteArray("\x00\x01\x00\x01\x00", 5)));
        QTRY_VERIFY(SessionLogCapture::has(QStringLiteral("message invalid and ignore because of size 5")));
        QVERIFY(peer.send(SessionFixture::frame(99, 1, 0)));
        QTRY_VERIFY(
            SessionLogCapture::has(QStringLiteral("response unmatch and ignore because of pReceiver: 0")));
        QVERIFY(peer.send(SessionFixture::frame(0, 0, 4)));
        QTRY_VERIFY(SessionLogCapture::has(QStringLiteral("broadcast protoId empty and ignore")));
        QVERIFY(SessionLogCapture::has(QStringLiteral(" state :  4  size :  6")));
        QVERIFY(peer.send(SessionFixture::frame(0, 777, 0, "\x08\x01")));
        QTRY_COMPARE(broadcasts.size(), 1);
        QCOMPARE(broadcasts.at(0).at(0).toInt(), 777);
        QVERIFY(!broadcasts.at(0).at(1).value<VProtoMsgPtr>()->isValid());
        QVERIFY(SessionLogCapture::has(QStringLiteral("找不到正确的proto映射 777")));
        QVERIFY(recorder.calls.isEmpty());

        // The requester went away before its answer: the answer is dropped, not delivered to
        // a dead object.
        auto* gone = new ReplyRecorder();
        QCOMPARE(m_channel->request(5, SessionFixture::frame(5, 1, 0), gone, slotWithUid, QString(), true,
                                    false, false),
                 5);
        delete gone;
        SessionLogCapture::clear();
        QVERIFY(peer.send(SessionFixture::frame(5, 1, 0)));
        QTRY_VERIFY(
            SessionLogCapture::has(QStringLiteral("response unmatch and ignore because of pReceiver: 0")));
        QVERIFY(!m_channel->isPending(5));
    }

    void unparsableBroadcastWarnsAndReports()
    {
        TestHttpServer logService;
        VGlobalConfig::instance()->setValue(QStringLiteral("ApiLogServer"), logService.url());
        WsTestPeer peer;
        ReplyRecorder recorder;
        connectChannel(peer, recorder);
        QSignalSpy broadcasts(m_channel, &VWsComm::sigRecvBroadCast);
        QSignalSpy parseErrors(m_channel, &VWsComm::sigParseError);

        QString seenTitle;
        QString seenText;
        QTimer dismiss;
        connect(&dismiss, &QTimer::timeout, this, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seenTitle = box->windowTitle();
            seenText = box->text();
            if (!box->buttons().isEmpty())
                box->buttons().first()->click();
        });
        dismiss.start(20);

        QVERIFY(
            peer.send(SessionFixture::frame(0, SessionFixture::heartBeatId, 0, QByteArray("\x08\xff", 2))));
        QTRY_COMPARE(broadcasts.size(), 1);
        QCOMPARE(seenTitle, QStringLiteral("温馨提示"));
        QCOMPARE(seenText, QStringLiteral("系统配置文件被损坏，现在为您关闭程序，请您重新登录。"));
        QVERIFY(!broadcasts.at(0).at(1).value<VProtoMsgPtr>()->isValid());
        QVERIFY(SessionLogCapture::has(QStringLiteral("反序列化失败parseSerialData Recv  uuid :  0")));
        QTRY_COMPARE(parseErrors.size(), 1);
        QCOMPARE(logService.requests().size(), 1);
        const TestHttpServer::Request report = logService.requests().first();
        QCOMPARE(report.method, QByteArray("POST"));
        QVERIFY(report.target.endsWith("/burySite/appClickEvent"));
        QVERIFY(report.body.startsWith("action=1&appId=PC001&channelId=10"));
        QVERIFY(report.body.contains("label=1"));
    }

    // --- pending table: time-outs and release

    void sweepFailsOnlyRequestsOlderThanTenSeconds()
    {
        m_fixture.useFakeClocks();
        WsTestPeer peer;
        ReplyRecorder recorder;
        connectChannel(peer, recorder);
        const QDateTime start = m_fixture.wall;
        QVERIFY(m_channel->request(11, SessionFixture::frame(11, 1, 0), &recorder, slotWithUid, QString(),
                                   true, false, false));
        m_fixture.wall = start.addMSecs(1);
        QVERIFY(m_channel->request(12, SessionFixture::frame(12, 1, 0), &recorder, slotWithoutUid, QString(),
                                   false, false, false));

        m_fixture.wall = start.addMSecs(10000);
        m_channel->releaseTimeout();
        QVERIFY(m_channel->isPending(11));
        m_fixture.wall = start.addMSecs(10001);
        m_channel->releaseTimeout();
        QVERIFY(!m_channel->isPending(11));
        QVERIFY(m_channel->isPending(12));
        QVERIFY(SessionLogCapture::has(QStringLiteral("timeSend timeout and ignore 11")));
        QVERIFY(SessionLogCapture::has(QStringLiteral("elapsedTime: 10001")));
        // The connecting request (uuid 100) was written at the same moment as uuid 11.
        QTRY_COMPARE(recorder.calls.size(), 2);
        QCOMPARE(sortedUuids(recorder, -200), (QList<qulonglong>{11, 100}));
        QVERIFY(recorder.calls.at(0).message.isEmpty());

        m_fixture.wall = start.addMSecs(10002);
        m_channel->releaseTimeout();
        QCOMPARE(m_channel->pendingCount(), 0);
        QTRY_COMPARE(recorder.calls.size(), 3);
        QCOMPARE(recorder.calls.at(2).status, -200);
        QVERIFY(!recorder.calls.at(2).withUid);
    }

    void sweepRunsAtMostOncePerSecond()
    {
        m_fixture.useFakeClocks();
        WsTestPeer peer;
        ReplyRecorder recorder;
        connectChannel(peer, recorder);
        const qint64 connectedAt = m_fixture.monotonic;
        QVERIFY(m_channel->request(21, SessionFixture::frame(21, 1, 0), &recorder, slotWithUid, QString(),
                                   true, false, false));
        m_fixture.wall = m_fixture.wall.addSecs(60);
        m_fixture.monotonic = connectedAt + 1000;
        QTest::qWait(350);
        QVERIFY(m_channel->isPending(21));
        m_fixture.monotonic = connectedAt + 1001;
        QTRY_VERIFY(!m_channel->isPending(21));
    }

    void lostConnectionFailsEverythingInFlight()
    {
        WsTestPeer peer;
        ReplyRecorder recorder;
        connectChannel(peer, recorder);
        QSignalSpy sessionLimit(ZebServerComm::instance(), &ZebServerComm::sigSessionTimeLimit);
        QVERIFY(m_channel->request(31, SessionFixture::frame(31, 1, 0), &recorder, slotWithUid, QString(),
                                   true, false, false));
        QVERIFY(m_channel->request(32, SessionFixture::frame(32, 1, 0), &recorder, slotWithUid, QString(),
                                   true, false, false));
        QTRY_COMPARE(peer.received.size(), 3);
        peer.dropAll();
        QTRY_COMPARE(recorder.calls.size(), 3);
        QCOMPARE(sortedUuids(recorder, -200), (QList<qulonglong>{31, 32, 100}));
        QCOMPARE(m_channel->pendingCount(), 0);
        QVERIFY(SessionLogCapture::has(QStringLiteral("VWsComm::releaseResponse begin")));
        QVERIFY(SessionLogCapture::has(QStringLiteral("网络出现异常，正在重连")));
        QVERIFY(sessionLimit.size() >= 1);
        // The channel comes back by itself.
        QTRY_COMPARE(peer.connections, 2);
    }

    void queuedLogonHoldsBackTheSessionLimit()
    {
        WsTestPeer peer;
        ReplyRecorder recorder;
        connectChannel(peer, recorder);
        const quint16 port = peer.port();
        QSignalSpy sessionLimit(ZebServerComm::instance(), &ZebServerComm::sigSessionTimeLimit);
        peer.close();
        peer.dropAll();
        QTRY_VERIFY(sessionLimit.size() >= 2);

        QVERIFY(m_channel->request(41, SessionFixture::frame(41, SessionFixture::heartBeatId, 0), &recorder,
                                   slotWithUid, QStringLiteral("HeartBeatCmd.heartBeat"), true, false,
                                   false));
        QVERIFY(m_channel->request(42, SessionFixture::frame(42, SessionFixture::logonId, 0), &recorder,
                                   slotWithUid, QStringLiteral("UserCmd.logon"), true, false, true));
        QTest::qWait(50);
        sessionLimit.clear();
        SessionLogCapture::clear();
        QTest::qWait(400);
        QCOMPARE(sessionLimit.size(), 0);
        QVERIFY(SessionLogCapture::has(QStringLiteral("网络出现异常，正在重连")));
        QVERIFY(!SessionLogCapture::has(QStringLiteral("reconnect add logon after login")));

        // The queue survives the outage and drains logon first.
        QVERIFY(peer.listen(port));
        QTRY_COMPARE(peer.received.size(), 3);
        QCOMPARE(peer.received.at(1), SessionFixture::frame(42, SessionFixture::logonId, 0));
        QCOMPARE(peer.received.at(2), SessionFixture::frame(41, SessionFixture::heartBeatId, 0));
    }

    // --- reconnect supervision

    void reopenIsThrottledToOncePerSecond()
    {
        m_fixture.useFakeClocks();
        ReplyRecorder recorder;
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:%1").arg(TestHttpServer::closedPort()));
        QVERIFY(m_channel->request(1, SessionFixture::frame(1, 1, 0), &recorder, slotWithUid, QString(), true,
                                   false, false));
        QTRY_COMPARE(SessionLogCapture::count(QStringLiteral("webSocket open")), 1);
        QTRY_VERIFY(!m_channel->isConnecting());
        m_fixture.monotonic += 999;
        QTest::qWait(350);
        QCOMPARE(SessionLogCapture::count(QStringLiteral("webSocket open")), 1);
        m_fixture.monotonic += 1;
        QTRY_COMPARE(SessionLogCapture::count(QStringLiteral("webSocket open")), 2);
        QVERIFY(SessionLogCapture::has(QStringLiteral("websocket no net start")));
    }

    void reconnectRequestsCloserThanThreeSecondsAreDropped()
    {
        m_fixture.useFakeClocks();
        ReplyRecorder recorder;
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:%1").arg(TestHttpServer::closedPort()));
        const QDateTime start = m_fixture.wall;
        const QByteArray frame = SessionFixture::frame(1, 1, 0);
        QCOMPARE(m_channel->request(1, frame, &recorder, slotWithUid, QString(), true, true, false), 1);
        m_fixture.wall = start.addMSecs(2000);
        QCOMPARE(m_channel->request(2, frame, &recorder, slotWithUid, QString(), true, true, false), 0);
        QVERIFY(SessionLogCapture::has(QStringLiteral("VWsComm::request reconnect ignore frequent 2")));
        m_fixture.wall = start.addMSecs(2999);
        QCOMPARE(m_channel->request(3, frame, &recorder, slotWithUid, QString(), true, true, false), 0);
        m_fixture.wall = start.addMSecs(3000);
        QCOMPARE(m_channel->request(4, frame, &recorder, slotWithUid, QString(), true, true, false), 4);
        // A clock set back counts as frequent too.
        m_fixture.wall = start;
        QCOMPARE(m_channel->request(5, frame, &recorder, slotWithUid, QString(), true, true, false), 0);
        QCOMPARE(m_channel->queuedCount(), 2);
    }

    void twoMinutesWithoutNetworkForceOffLineOnEveryTick()
    {
        m_fixture.useFakeClocks();
        ReplyRecorder recorder;
        QSignalSpy offLine(m_channel, &VWsComm::sigForceOffLine);
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:%1").arg(TestHttpServer::closedPort()));
        const qint64 start = m_fixture.monotonic;
        QVERIFY(m_channel->request(1, SessionFixture::frame(1, 1, 0), &recorder, slotWithUid, QString(), true,
                                   false, false));
        QTRY_VERIFY(SessionLogCapture::has(QStringLiteral("websocket no net start")));
        m_fixture.monotonic = start + 120000;
        QTest::qWait(350);
        QCOMPARE(offLine.size(), 0);
        m_fixture.monotonic = start + 120001;
        QTRY_VERIFY(offLine.size() >= 3);
        QCOMPARE(offLine.at(0).at(0).toString(), QStringLiteral("建立网络连接超时，请重新登录！"));
        QVERIFY(SessionLogCapture::has(QStringLiteral("websocket no net timeout")));
    }

    void fourthCertificateErrorForcesOffLine()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS support in this Qt build");
        WsTestPeer peer(QWebSocketServer::SecureMode);
        QVERIFY(peer.useFreshCertificate(m_fixture.workDir()));
        QVERIFY(peer.listen());
        m_fixture.useFakeClocks();
        ReplyRecorder recorder;
        QSignalSpy offLine(m_channel, &VWsComm::sigForceOffLine);
        m_channel->setUrl(peer.url());
        QVERIFY(m_channel->request(1, SessionFixture::frame(1, 1, 0), &recorder, slotWithUid, QString(), true,
                                   false, false));
        // Qt may report one failed handshake more than once; what counts is each report.
        int reports = 0;
        for (int attempt = 1; attempt <= 5 && reports < 5; ++attempt) {
            QTRY_VERIFY(SessionLogCapture::count(QStringLiteral("VWsComm::onSslErrors (")) > reports);
            QTRY_VERIFY(!m_channel->isConnecting());
            reports = SessionLogCapture::count(QStringLiteral("VWsComm::onSslErrors ("));
            QCOMPARE(m_channel->sslErrorCount(), qMin(reports, 3));
            QCOMPARE(offLine.size(), qMax(0, reports - 3));
            m_fixture.monotonic += 1000;
        }
        QVERIFY(reports >= 4);
        QCOMPARE(offLine.at(0).at(0).toString(), QStringLiteral("网络证书错误，请校正本机日期时间"));
        QVERIFY(!m_channel->isConnected());
        QVERIFY(SessionLogCapture::has(QStringLiteral("websocket onSslErrors exit")));
    }

    // --- shutdown

    void destroyClosesNormally()
    {
        WsTestPeer peer;
        ReplyRecorder recorder;
        connectChannel(peer, recorder);
        m_channel->destroyInstance();
        m_channel = VWsComm::instance();
        QTRY_COMPARE(peer.disconnections, 1);
        QCOMPARE(peer.lastCloseCode, 1000);
        QVERIFY(!m_channel->isConnected());
        QCOMPARE(m_channel->queuedCount(), 0);
    }

private:
    // The uuids of the calls with that status, ascending (hash order is not fixed).
    static QList<qulonglong> sortedUuids(const ReplyRecorder& recorder, int status)
    {
        QList<qulonglong> uuids;
        for (const ReplyRecorder::Call& call : recorder.calls) {
            if (call.status == status)
                uuids.append(call.uuid);
        }
        std::sort(uuids.begin(), uuids.end());
        return uuids;
    }

    // Opens the channel to the peer with one request (uuid 100) that the peer receives.
    void connectChannel(WsTestPeer& peer, ReplyRecorder& recorder)
    {
        if (!peer.server().isListening())
            QVERIFY(peer.listen());
        m_channel->setUrl(peer.url());
        const int before = peer.received.size();
        QCOMPARE(m_channel->request(100, SessionFixture::frame(100, 1, 0), &recorder, slotWithUid, QString(),
                                    true, false, false),
                 100);
        QTRY_VERIFY(m_channel->isConnected());
        QTRY_COMPARE(peer.received.size(), before + 1);
        QTRY_VERIFY(!m_channel->isConnecting());
    }

    SessionFixture m_fixture;
    std::unique_ptr<SessionLogCapture> m_logCapture;
    VWsComm* m_channel = nullptr;
};

QTEST_MAIN(TstVWsComm)
#include "tst_VWsComm.moc"
