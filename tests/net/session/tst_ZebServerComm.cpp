#include "net/session/VWsComm.h"
#include "net/session/ZebServerComm.h"

#include "FatalChild.h"
#include "SessionFixture.h"
#include "SessionLogCapture.h"
#include "WsTestPeer.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

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
    promise
        .then([outcome](const ZebServerResponse& response) {
            outcome->fulfilled = true;
            outcome->response = response;
        })
        .fail([outcome](const ZebPromiseError& error) {
            outcome->rejected = true;
            outcome->error = error;
        });
    return outcome;
}

int runFatalCase(const QByteArray& name)
{
    loadProtoSchemas();
    if (name == "answerWithoutSchema") {
        ProtoIdRegistry::add(QStringLiteral("Ghost.thing"), 900);
        ZebServerComm::instance()->Recv(200, SessionFixture::frame(1, 900, 0),
                                        [](const ZebServerResponse&) {});
    }
    return 0;
}

} // namespace

class TstZebServerComm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_logCapture.reset(new SessionLogCapture()); }
    void cleanupTestCase() { m_logCapture.reset(); }

    void init()
    {
        QVERIFY(m_fixture.setUp());
        SessionLogCapture::clear();
        m_router = ZebServerComm::instance();
        m_answer = nullptr;
        m_answerFrameSize = 0;
        m_peer.reset(new WsTestPeer());
        m_peer->onMessage = [this](QWebSocket* socket, const QByteArray& message) {
            WsEnvelope request;
            if (!m_answer || !WsEnvelope::read(message, request))
                return;
            const QByteArray answer = m_answer(request);
            if (answer.isEmpty())
                return;
            socket->setOutgoingFrameSize(m_answerFrameSize ? m_answerFrameSize : 512 * 1024);
            socket->sendBinaryMessage(answer);
        };
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

    // --- uuids and the heartbeat

    void firstRequestOfTheProcessIsUuidOne()
    {
        QCOMPARE(int(m_router->nextUuid()), 1);
        // The 9-byte answer travels in three frames.
        m_answerFrameSize = 3;
        m_answer = [](const WsEnvelope& request) {
            return SessionFixture::frame(request.uuid, request.protoId, 0,
                                         SessionFixture::heartBeatPayload(1234));
        };
        QSignalSpy status(m_router, &ZebServerComm::sigHeartBeatStatus);
        m_router->heartBeat();
        QTRY_COMPARE(status.size(), 1);
        QCOMPARE(m_peer->received.first(), QByteArray("\x00\x01\x00\x01\x00\x00", 6));
        QCOMPARE(status.at(0).at(0).toInt(), 0);
        QCOMPARE(status.at(0).at(1).toLongLong(), 1234);
        QCOMPARE(int(m_router->nextUuid()), 2);
        QVERIFY(SessionLogCapture::has(QStringLiteral("Send( \"HeartBeatCmd.heartBeat\" ) : uuid -  1")));
    }

    void heartbeatWithoutDataReportsTimeZero()
    {
        m_answer = [](const WsEnvelope& request) {
            return SessionFixture::frame(request.uuid, request.protoId, 3);
        };
        QSignalSpy status(m_router, &ZebServerComm::sigHeartBeatStatus);
        m_router->heartBeat();
        QTRY_COMPARE(status.size(), 1);
        QCOMPARE(status.at(0).at(0).toInt(), 3);
        QCOMPARE(status.at(0).at(1).toLongLong(), 0);

        // An answer without a message type reports its state the same way.
        m_answer = [](const WsEnvelope& request) { return SessionFixture::frame(request.uuid, 0, 8); };
        m_router->heartBeat();
        QTRY_COMPARE(status.size(), 2);
        QCOMPARE(status.at(1).at(0).toInt(), 8);
        QCOMPARE(status.at(1).at(1).toLongLong(), 0);
    }

    void uuidsWrapToOneSkippingZero()
    {
        // Refused sends still use up their uuid, which makes the full cycle cheap to walk.
        VWsComm::instance()->setUrl(QString());
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        SessionLogCapture::setMuted(true);
        bool sawZero = false;
        bool wrapped = false;
        for (int i = 0; i < 65536 && !wrapped; ++i) {
            const quint16 before = m_router->nextUuid();
            m_router->Send(QStringLiteral("UserCmd.logon"), logon);
            sawZero = sawZero || m_router->nextUuid() == 0;
            wrapped = before == 65535;
            if (wrapped)
                QCOMPARE(int(m_router->nextUuid()), 1);
        }
        SessionLogCapture::setMuted(false);
        QVERIFY(wrapped);
        QVERIFY(!sawZero);
    }

    // --- Send's refusals

    void nameWithoutProtoIdIsRejectedUnsent()
    {
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        const quint16 uuid = m_router->nextUuid();
        auto promise = m_router->Send(QStringLiteral("UserCmd.nothing"), logon);
        QVERIFY(promise.isRejected());
        const auto outcome = watch(promise);
        QTRY_VERIFY(outcome->rejected);
        QCOMPARE(outcome->error.text, QStringLiteral("逻辑服请求失败，proto文件丢失或损坏UserCmd.nothing"));
        QCOMPARE(outcome->error.code, -200);
        QCOMPARE(m_router->nextUuid(), uuid);
        QTest::qWait(150);
        QCOMPARE(m_peer->connections, 0);
    }

    void refusedByTheChannelIsRejected()
    {
        VWsComm::instance()->setUrl(QString());
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        const int inFlight = m_router->inFlightCount();
        const auto outcome = watch(m_router->Send(QStringLiteral("UserCmd.logon"), logon));
        QTRY_VERIFY(outcome->rejected);
        QCOMPARE(outcome->error.text, QStringLiteral("发起网络请求失败"));
        QCOMPARE(outcome->error.code, -200);
        QCOMPARE(m_router->inFlightCount(), inFlight);
    }

    // --- answers

    void errorResultCarriesItsDescription()
    {
        QString errorCode = QStringLiteral("E42");
        m_answer = [&errorCode](const WsEnvelope& request) {
            return SessionFixture::frame(request.uuid, SessionFixture::errorResultId, 5,
                                         SessionFixture::errorPayload(errorCode, QStringLiteral("余额不足")));
        };
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        logon.setString(QStringLiteral("userId"), QStringLiteral("10001"));
        const auto first = watch(m_router->Send(QStringLiteral("UserCmd.logon"), logon));
        QTRY_VERIFY(first->fulfilled);
        QCOMPARE(first->response.code, 5);
        QCOMPARE(first->response.text, QStringLiteral("余额不足"));
        QVERIFY(first->response.msg && first->response.msg->isValid());
        QVERIFY(SessionLogCapture::has(QStringLiteral(" errorCode :  \"E42\"")));
        // The request went out with its payload.
        QCOMPARE(WsEnvelope::payloadOf(m_peer->received.last()), logon.serialize());

        errorCode = QString();
        const auto second = watch(m_router->Send(QStringLiteral("UserCmd.logon"), logon));
        QTRY_VERIFY(second->fulfilled);
        QCOMPARE(second->response.text, QStringLiteral("余额不足"));
        QVERIFY(SessionLogCapture::has(QStringLiteral(" errorCode :  \"\"  description :  \"余额不足\"")));
    }

    void userNotLoggedInRaisesSessionLimit()
    {
        m_answer = [](const WsEnvelope& request) {
            return SessionFixture::frame(request.uuid, request.protoId, 11);
        };
        QSignalSpy limit(m_router, &ZebServerComm::sigSessionTimeLimit);
        VProtoMsg heartBeat;
        heartBeat.createByNameOrExit(QStringLiteral("HeartBeatCmd.heartBeat"));
        const int inFlight = m_router->inFlightCount();
        auto promise = m_router->Send(QStringLiteral("HeartBeatCmd.heartBeat"), heartBeat);
        QTRY_COMPARE(limit.size(), 1);
        QVERIFY(promise.isPending());
        QCOMPARE(m_router->inFlightCount(), inFlight);
        QVERIFY(SessionLogCapture::has(QStringLiteral("Recv USER_NOT_LOGIN uuid : ")));
    }

    void undecodableAnswersStayPending_data()
    {
        QTest::addColumn<int>("protoId");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("logged");
        QTest::newRow("unknown protoId")
            << 777 << QByteArray() << QStringLiteral("数据解析失败，proto文件丢失或损坏 777");
        QTest::newRow("broken payload")
            << int(SessionFixture::heartBeatId) << QByteArray("\x08\xff", 2)
            << QStringLiteral("retToFunctor反序列化失败 \"HeartBeatCmd.heartBeat\"");
    }
    void undecodableAnswersStayPending()
    {
        QFETCH(int, protoId);
        QFETCH(QByteArray, payload);
        QFETCH(QString, logged);
        m_answer = [protoId, payload](const WsEnvelope& request) {
            return SessionFixture::frame(request.uuid, quint16(protoId), 0, payload);
        };
        VProtoMsg heartBeat;
        heartBeat.createByNameOrExit(QStringLiteral("HeartBeatCmd.heartBeat"));
        const int inFlight = m_router->inFlightCount();
        auto promise = m_router->Send(QStringLiteral("HeartBeatCmd.heartBeat"), heartBeat);
        QCOMPARE(m_router->inFlightCount(), inFlight + 1);
        QTRY_VERIFY(SessionLogCapture::has(logged));
        QCOMPARE(m_router->inFlightCount(), inFlight);
        QTest::qWait(50);
        QVERIFY(promise.isPending());
    }

    void answerWithoutMessageTypeFulfilsWithState()
    {
        m_answer = [](const WsEnvelope& request) { return SessionFixture::frame(request.uuid, 0, 6); };
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        const auto outcome = watch(m_router->Send(QStringLiteral("UserCmd.logon"), logon));
        QTRY_VERIFY(outcome->fulfilled);
        QCOMPARE(outcome->response.code, 6);
        QVERIFY(!outcome->response.msg);
        QVERIFY(outcome->response.text.isEmpty());
    }

    // --- transport failures fulfil with -200

    void droppedConnectionFulfilsWithNetworkError()
    {
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        const auto outcome = watch(m_router->Send(QStringLiteral("UserCmd.logon"), logon));
        QTRY_COMPARE(m_peer->received.size(), 1);
        m_peer->dropAll();
        QTRY_VERIFY(outcome->fulfilled);
        QCOMPARE(outcome->response.code, -200);
        QCOMPARE(outcome->response.text, QStringLiteral("网络错误:-200"));
        QVERIFY(!outcome->response.msg);
    }

    void silentServerTimesOut()
    {
        m_fixture.useFakeClocks();
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        const auto outcome = watch(m_router->Send(QStringLiteral("UserCmd.logon"), logon));
        QTRY_COMPARE(m_peer->received.size(), 1);
        QTRY_VERIFY(!VWsComm::instance()->isConnecting());
        m_fixture.wall = m_fixture.wall.addMSecs(10001);
        m_fixture.monotonic += 1001;
        QTRY_VERIFY(outcome->fulfilled);
        QCOMPARE(outcome->response.code, -200);
    }

    // --- the reply slot and Recv without a channel

    void replyForAnUnknownUuidOnlyLogsTiming()
    {
        QVERIFY(QMetaObject::invokeMethod(m_router, "sltRetZebServer", Qt::DirectConnection, Q_ARG(int, 200),
                                          Q_ARG(QByteArray, SessionFixture::frame(4242, 1, 0)),
                                          Q_ARG(qulonglong, 4242)));
        const QStringList lines = SessionLogCapture::lines();
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).startsWith(QStringLiteral("[D] Recv start [ 4242 ]")));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("[D] Recv end [ 4242 ]")));
    }

    void recvBranchesWithoutAChannel()
    {
        int calls = 0;
        ZebServerResponse last;
        const ZebServerComm::Resolver resolver = [&](const ZebServerResponse& response) {
            ++calls;
            last = response;
        };
        m_router->Recv(200, QByteArray("\x00\x01\x00\x01\x00", 5), resolver);
        QCOMPARE(calls, 0);
        QVERIFY(SessionLogCapture::has(QStringLiteral("数据长度少于6字节")));
        m_router->Recv(200, SessionFixture::frame(1, 1, 0), ZebServerComm::Resolver());
        QVERIFY(SessionLogCapture::has(QStringLiteral("functor为空")));
        m_router->Recv(500, QByteArray("body"), resolver);
        QCOMPARE(calls, 1);
        QCOMPARE(last.code, -200);
        QCOMPARE(last.text, QStringLiteral("网络错误:500"));
        m_router->Recv(200, SessionFixture::frame(3, 1, 7, SessionFixture::heartBeatPayload(99)), resolver);
        QCOMPARE(calls, 2);
        QCOMPARE(last.code, 7);
        qint64 data = 0;
        QVERIFY(last.msg->getInt64(QStringLiteral("data"), data));
        QCOMPARE(data, 99);
        last = ZebServerResponse();
    }

    void answerWithoutSchemaEndsTheProcess()
    {
        const FatalChildResult result =
            runFatalChild(QStringLiteral("answerWithoutSchema"), m_fixture.workDir());
        QVERIFY(result.finished);
        QCOMPARE(result.exitCode, 255);
        QVERIFY2(result.errorOutput.contains(QStringLiteral("proto解析错误，Ghost.thing")),
                 qPrintable(result.errorOutput));
    }

    // Last: once armed, the heartbeat timer stays armed for the rest of the process.
    void startHeartBeatSendsAtOnceAndArmsTheTimer()
    {
        QVERIFY(!m_router->isHeartBeatActive());
        m_router->startHeartBeat();
        QVERIFY(m_router->isHeartBeatActive());
        QTRY_COMPARE(m_peer->received.size(), 1);
        WsEnvelope sent;
        QVERIFY(WsEnvelope::read(m_peer->received.first(), sent));
        QCOMPARE(sent.protoId, SessionFixture::heartBeatId);
        m_router->startHeartBeat();
        QTest::qWait(300);
        QCOMPARE(m_peer->received.size(), 1);
    }

private:
    SessionFixture m_fixture;
    std::unique_ptr<SessionLogCapture> m_logCapture;
    std::unique_ptr<WsTestPeer> m_peer;
    std::function<QByteArray(const WsEnvelope&)> m_answer;
    quint64 m_answerFrameSize = 0;
    ZebServerComm* m_router = nullptr;
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QByteArray fatalCase = qgetenv(fatalCaseVariable());
    if (!fatalCase.isEmpty())
        return runFatalCase(fatalCase);
    TstZebServerComm test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ZebServerComm.moc"
