#include "net/session/VWsComm.h"
#include "net/session/ZebServerComm.h"

#include "SessionFixture.h"
#include "WsTestPeer.h"

#include <QSignalSpy>
#include <QtTest>

using Fx = SessionFixture;

class TstZebServerComm : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_fixture.setUp());
        m_router = ZebServerComm::instance();
        m_peer.reset(new WsTestPeer());
        QVERIFY(m_peer->listen());
        VWsComm::instance()->setUrl(m_peer->url());
    }

    void cleanup()
    {
        VWsComm::instance()->destroyInstance();
        m_peer.reset();
        // Answers still travelling to continuations must go before the schemas do.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        m_fixture.tearDown();
    }

    void heartBeatStatus_data()
    {
        QTest::addColumn<int>("protoId");
        QTest::addColumn<int>("state");
        QTest::addColumn<qlonglong>("data");
        QTest::addColumn<int>("frameSize");
        QTest::newRow("first, in three frames") << int(Fx::heartBeatId) << 0 << 1234ll << 3;
        QTest::newRow("without data") << int(Fx::heartBeatId) << 3 << 0ll << 0;
        QTest::newRow("without message type") << 0 << 8 << 0ll << 0;
    }
    void heartBeatStatus()
    {
        QFETCH(int, protoId);
        QFETCH(int, state);
        QFETCH(qlonglong, data);
        QFETCH(int, frameSize);
        m_peer->answerFrameSize = quint64(frameSize);
        m_peer->answer = [=](const WsEnvelope& request) {
            return Fx::frame(request.uuid, quint16(protoId), quint16(state), data ? Fx::heartBeat(data) : "");
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
        Fx::muted = true;
        bool sawZero = false;
        for (int i = 0; i < 65536 && m_router->nextUuid() != 65535; ++i) {
            m_router->Send(QStringLiteral("UserCmd.logon"), logon);
            sawZero = sawZero || m_router->nextUuid() == 0;
        }
        m_router->Send(QStringLiteral("UserCmd.logon"), logon);
        Fx::muted = false;
        QCOMPARE(int(m_router->nextUuid()), 1);
        QVERIFY(!sawZero);
    }

    void sendBranches_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("protoId"); // of the answer; -1: the request's own, none below
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("outcome"); // promise, code, text, message, uuids used, session limits
        QTest::addColumn<QString>("logged");
        const QString heartBeat = QStringLiteral("HeartBeatCmd.heartBeat");
        QTest::newRow("error result") << heartBeat << int(Fx::errorResultId) << 5
                                      << QByteArray("\x12\x02ok", 4) << "fulfilled 5 ok msg 1 0"
                                      << " errorCode :  \"\"  description :  \"ok\"";
        QTest::newRow("no message type") << heartBeat << 0 << 6 << QByteArray() << "fulfilled 6   1 0"
                                         << "Recv end";
        QTest::newRow("user not logged in") << heartBeat << -1 << 11 << QByteArray() << "pending 0   1 1"
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
        QCOMPARE(*seen + QStringLiteral(" %1 %2").arg(m_router->nextUuid() - uuid).arg(sessionLimit.size()),
                 outcome);
        QCOMPARE(m_router->inFlightCount(), 0);
    }

    void recvWithoutAChannel()
    {
        QVERIFY(QMetaObject::invokeMethod(m_router, "sltRetZebServer", Q_ARG(int, 200),
                                          Q_ARG(QByteArray, Fx::frame(4242, 1, 0)), Q_ARG(qulonglong, 4242)));
        QCOMPARE(Fx::logLines().size(), 2);
        QVERIFY(Fx::logLines().at(0).startsWith(QStringLiteral("[D] Recv start [ 4242 ]")));
        QVERIFY(Fx::logLines().at(1).startsWith(QStringLiteral("[D] Recv end [ 4242 ]")));
        QList<ZebServerResponse> calls;
        const auto resolver = [&](const ZebServerResponse& response) { calls.append(response); };
        m_router->Recv(200, QByteArray("\x00\x01\x00\x01\x00", 5), resolver);
        m_router->Recv(200, Fx::frame(1, 1, 0), ZebServerComm::Resolver());
        QVERIFY(Fx::logged(QStringLiteral("数据长度少于6字节")) && Fx::logged(QStringLiteral("functor为空")));
        m_router->Recv(500, QByteArray("body"), resolver);
        m_router->Recv(200, Fx::frame(3, 1, 7, Fx::heartBeat(99)), resolver);
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls.at(0).code, -200);
        QCOMPARE(calls.at(0).text, QStringLiteral("网络错误:500"));
        QCOMPARE(calls.at(1).code, 7);
        qint64 data = 0;
        QVERIFY(calls.at(1).msg->getInt64(QStringLiteral("data"), data));
        QCOMPARE(data, 99);
        calls.clear();
    }

private:
    SessionFixture m_fixture;
    std::unique_ptr<WsTestPeer> m_peer;
    ZebServerComm* m_router = nullptr;
};

QTEST_MAIN(TstZebServerComm)
#include "tst_ZebServerComm.moc"
