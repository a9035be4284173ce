#include "net/session/VWsComm.h"
#include "net/session/ZebServerComm.h"

#include "SessionFixture.h"
#include "WsTestPeer.h"

#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

using Fx = SessionFixture;

namespace {

// What a test sees of one request promise.
struct Outcome
{
    bool fulfilled = false;
    bool rejected = false;
    ZebServerResponse response;
    ZebPromiseError error;
};

std::shared_ptr<Outcome> watch(QPromise<ZebServerResponse> promise)
{
    auto outcome = std::make_shared<Outcome>();
    promise.then([outcome](const ZebServerResponse& response) {
               *outcome = {true, false, response, {}};
           })
        .fail([outcome](const ZebPromiseError& error) {
            *outcome = {false, true, {}, error};
        });
    return outcome;
}

} // namespace

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
        m_logon.reset(new VProtoMsg());
        m_logon->createByNameOrExit(QStringLiteral("UserCmd.logon"));
    }

    void cleanup()
    {
        VWsComm::instance()->destroyInstance();
        m_peer.reset();
        m_logon.reset();
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
        Fx::muted = true;
        bool sawZero = false;
        for (int i = 0; i < 65536 && m_router->nextUuid() != 65535; ++i) {
            m_router->Send(QStringLiteral("UserCmd.logon"), *m_logon);
            sawZero = sawZero || m_router->nextUuid() == 0;
        }
        m_router->Send(QStringLiteral("UserCmd.logon"), *m_logon);
        Fx::muted = false;
        QCOMPARE(int(m_router->nextUuid()), 1);
        QVERIFY(!sawZero);
    }

    void sendRefusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("text");
        QTest::newRow("no protoId") << QStringLiteral("UserCmd.nothing") << QStringLiteral("peer")
                                    << QStringLiteral("逻辑服请求失败，proto文件丢失或损坏UserCmd.nothing");
        QTest::newRow("channel refuses")
            << QStringLiteral("UserCmd.logon") << QString() << QStringLiteral("发起网络请求失败");
    }
    void sendRefusals()
    {
        QFETCH(QString, name);
        QFETCH(QString, url);
        QFETCH(QString, text);
        if (url.isEmpty())
            VWsComm::instance()->setUrl(url);
        const int uuid = m_router->nextUuid();
        const auto outcome = watch(m_router->Send(name, *m_logon));
        QTRY_VERIFY(outcome->rejected);
        QCOMPARE(outcome->error.text, text);
        QCOMPARE(outcome->error.code, -200);
        QCOMPARE(m_router->inFlightCount(), 0);
        // Only a name without protoId keeps its uuid and never opens the channel.
        QCOMPARE(m_router->nextUuid() == uuid, !url.isEmpty());
        QTest::qWait(150);
        QCOMPARE(m_peer->connections(), 0);
    }

    void answerBranches_data()
    {
        QTest::addColumn<int>("protoId"); // -1: the request's own
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("code"); // 1: stays pending
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged");
        QTest::newRow("error result")
            << int(Fx::errorResultId) << 5 << QByteArray("\x12\x02ok", 4) << 5 << "ok"
            << " errorCode :  \"\"  description :  \"ok\"";
        QTest::newRow("no message type") << 0 << 6 << QByteArray() << 6 << ""
                                         << "Recv end";
        QTest::newRow("user not logged in") << -1 << 11 << QByteArray() << 1 << ""
                                            << "Recv USER_NOT_LOGIN uuid : ";
        QTest::newRow("unknown protoId") << 777 << 0 << QByteArray() << 1 << ""
                                         << "数据解析失败，proto文件丢失或损坏 777";
        QTest::newRow("broken payload") << -1 << 0 << QByteArray("\x08\xff", 2) << 1 << ""
                                        << "retToFunctor反序列化失败 \"HeartBeatCmd.heartBeat\"";
        QTest::newRow("dropped connection") << -2 << 0 << QByteArray() << -200 << "网络错误:-200"
                                            << "";
        QTest::newRow("silent server") << -3 << 0 << QByteArray() << -200 << "网络错误:-200"
                                       << "";
    }
    void answerBranches()
    {
        QFETCH(int, protoId);
        QFETCH(int, state);
        QFETCH(QByteArray, payload);
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(QString, logged);
        if (protoId == -3)
            m_fixture.useFakeClocks();
        if (protoId > -2) {
            m_peer->answer = [=](const WsEnvelope& request) {
                return Fx::frame(request.uuid, protoId < 0 ? request.protoId : quint16(protoId),
                                 quint16(state), payload);
            };
        }
        QSignalSpy sessionLimit(m_router, &ZebServerComm::sigSessionTimeLimit);
        VProtoMsg heartBeat;
        heartBeat.createByNameOrExit(QStringLiteral("HeartBeatCmd.heartBeat"));
        auto promise = m_router->Send(QStringLiteral("HeartBeatCmd.heartBeat"), heartBeat);
        const auto outcome = watch(promise);
        QCOMPARE(m_router->inFlightCount(), 1);
        QTRY_COMPARE(m_peer->received.size(), 1);
        if (protoId == -2)
            m_peer->dropAll();
        if (protoId == -3) {
            QTRY_VERIFY(!VWsComm::instance()->isConnecting());
            m_fixture.wall = m_fixture.wall.addMSecs(10001);
            m_fixture.monotonic += 1001;
        }
        if (code == 1) {
            QTRY_VERIFY(Fx::logged(logged));
            QTRY_COMPARE(m_router->inFlightCount(), 0);
            QTest::qWait(50);
            QVERIFY(promise.isPending());
            QCOMPARE(sessionLimit.size(), state == WsEnvelope::stateUserNotLogin ? 1 : 0);
            return;
        }
        QTRY_VERIFY(outcome->fulfilled);
        QCOMPARE(outcome->response.code, code);
        QCOMPARE(outcome->response.text, text);
        QCOMPARE(bool(outcome->response.msg), protoId == Fx::errorResultId);
        QVERIFY(Fx::logged(logged));
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
    std::unique_ptr<VProtoMsg> m_logon;
};

QTEST_MAIN(TstZebServerComm)
#include "tst_ZebServerComm.moc"
