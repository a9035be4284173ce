#include "base/OutsideText.h"
#include "base/VClock.h"
#include "config/VGlobalConfig.h"
#include "net/session/ProtoIdRegistry.h"
#include "net/session/ProtoSchemas.h"
#include "net/session/VProtoMsg.h"
#include "net/session/VWsComm.h"
#include "net/session/WsEnvelope.h"
#include "net/session/ZebServerComm.h"

#include "net/http/TestHttpServer.h"
#include "support/LogCapture.h"
#include "support/TestEnv.h"

#include <QSignalSpy>
#include <QSslKey>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <functional>
#include <memory>

using Log = LogCapture;

// Waits for a condition, looking every 10 ms (the QTRY_ macros look every 50 ms).
#define WAIT_FOR(...) QVERIFY2(QTest::qWaitFor([&]() { return bool(__VA_ARGS__); }, 5000), #__VA_ARGS__)

namespace {

QByteArray frame(quint16 uuid, quint16 protoId, quint16 state, const QByteArray& payload = {})
{
    return WsEnvelope{uuid, protoId, state}.frame(payload);
}

// The shipped schemas and protoId table, copied into the current directory, loaded.
bool loadShippedSchemas()
{
    const QString shipped = QStringLiteral(TAVIO_SOURCE_DIR "/protoFiles/");
    for (const QString& name : QDir(shipped).entryList(QDir::Files))
        TestEnv::writeFile(QStringLiteral("protoFiles/") + name, TestEnv::readBytes(shipped + name));
    return loadProtoSchemas() && ProtoIdRegistry::loadFile(ProtoIdRegistry::defaultFile());
}

const QString kProbe = QStringLiteral("Probe.proto");
const QByteArray kProbeSchema = "syntax = \"proto2\"; package Probe; message All { optional int32 i32 = 1;"
                                " optional int64 i64 = 2; optional string s = 7; repeated int64 ri64 = 11; }";

// Started as a child by the test: an answer whose protoId names a message no schema defines.
int runAnswerWithoutSchema()
{
    loadShippedSchemas();
    ProtoIdRegistry::add(QStringLiteral("Ghost.thing"), 900);
    ZebServerComm::instance()->Recv(200, WsEnvelope{1, 900, 0}.frame({}), [](const ZebServerResponse&) {});
    return 0;
}

} // namespace

// A scripted session server on 127.0.0.1: records what it gets, answers through `answer` (if any).
class WsTestPeer
{
public:
    explicit WsTestPeer(QWebSocketServer::SslMode mode = QWebSocketServer::NonSecureMode)
        : m_server(QStringLiteral("session-test-peer"), mode)
    {
        QObject::connect(&m_server, &QWebSocketServer::newConnection, &m_server, [this]() {
            while (QWebSocket* socket = m_server.nextPendingConnection()) {
                m_clients.append(socket);
                QObject::connect(
                    socket, &QWebSocket::binaryMessageReceived, socket, [=](const QByteArray& in) {
                        received.append(in);
                        WsEnvelope request;
                        if (answer && WsEnvelope::read(in, request) && !answer(request).isEmpty())
                            send(answer(request), answerFrameSize, socket);
                    });
                QObject::connect(socket, &QWebSocket::disconnected, socket,
                                 [=]() { lastCloseCode = int(socket->closeCode()); });
            }
        });
    }
    ~WsTestPeer() { qDeleteAll(m_clients); }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url() const { return m_server.serverUrl().toString(); }
    // Sends one whole message (to the latest connection by default) in frames of frameSize bytes.
    void send(const QByteArray& message, quint64 frameSize = 0, QWebSocket* socket = nullptr)
    {
        socket = socket ? socket : m_clients.last().data();
        socket->setOutgoingFrameSize(frameSize ? frameSize : 512 * 1024);
        socket->sendBinaryMessage(message);
    }
    // Cuts every connection without a closing handshake.
    void dropAll()
    {
        for (const QPointer<QWebSocket>& socket : m_clients)
            if (socket)
                socket->abort();
    }
    // A self-signed certificate for 127.0.0.1 made by the openssl tool into dir (an EC key: quick).
    bool useFreshCertificate(const QString& dir)
    {
        const QString request = "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                                "-subj /CN=127.0.0.1 -keyout %1/peer.key -out %1/peer.crt";
        QFile key(dir + "/peer.key");
        if (QProcess::execute("openssl", request.arg(dir).split(' ')) != 0 || !key.open(QIODevice::ReadOnly))
            return false;
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(QSslCertificate::fromPath(dir + "/peer.crt").value(0));
        configuration.setPrivateKey(QSslKey(&key, QSsl::Ec));
        m_server.setSslConfiguration(configuration);
        return !configuration.privateKey().isNull() && !configuration.localCertificate().isNull();
    }

    std::function<QByteArray(const WsEnvelope&)> answer;
    quint64 answerFrameSize = 0;
    QList<QByteArray> received;
    int lastCloseCode = -1;

private:
    QWebSocketServer m_server;
    QList<QPointer<QWebSocket>> m_clients;
};

// The session channel, its request router and the dynamic messages they carry, against a loopback
// peer, with clocks the test moves by hand.
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
    void initTestCase()
    {
        static LogCapture capture; // on top of Qt Test's own handler, installed when it starts
    }
    void init()
    {
        Log::clear();
        m_dir.reset(new TestEnv::ScopedWorkDir());
        QVERIFY(loadShippedSchemas());
        QVERIFY(TestEnv::writeFile(QStringLiteral("protoFiles/") + kProbe, kProbeSchema));
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
        VClock::setWallClock({});
        VClock::setMonotonicClock({});
        releaseProtoSchemas();
        m_dir.reset();
    }

    // Messages the peer sends unasked: what is logged and broadcast. A broadcast that does not parse
    // tells the user, reports a click event and, once that is answered, tells the workflow.
    void inboundMessages()
    {
        // Message, frame size, what is logged, the broadcast (protoId and content) if any.
        const QList<std::tuple<QByteArray, int, QString, QString>> rows{
            // Spelt out byte for byte: the envelope is big-endian (uuid, protoId, state).
            {QByteArray("\x00\x00\x00\x01\x00\x00\x08\x2a", 8), 3, "", "1 data: 42"},
            {QByteArray("\x00\x01\x00\x01\x00", 5), 0, "message invalid and ignore because of size 5", ""},
            {frame(0, 0, 4), 0, "broadcast protoId empty and ignore", ""},
            {frame(0, 777, 0, "\x08\x01"), 0, "找不到正确的proto映射 777", "777 invalid"},
            {frame(0, 1, 0, QByteArray("\x08\xff", 2)), 0, "反序列化失败parseSerialData", "1 invalid"}};
        TestHttpServer logService;
        VGlobalConfig::instance()->setValue("ApiLogServer", logService.url());
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
        QVERIFY(Log::contains("系统配置文件被损坏，现在为您关闭程序，请您重新登录。"));
        QVERIFY(logService.requests().size() == 1 &&
                logService.requests().first().target.endsWith("/burySite/appClickEvent"));
    }

    // Requests older than 10 s fail, a late answer is dropped, the next is answered; closing is normal.
    void sweepAfterTenSecondsAndNormalClose()
    {
        useFakeClocks();
        connectChannel();
        const QDateTime start = m_wall;
        const auto sweepAt = [&](int ms) {
            m_wall = start.addMSecs(ms);
            m_channel->releaseTimeout();
        };
        QVERIFY(request(11));
        m_wall = start.addMSecs(1);
        QVERIFY(request(12));
        sweepAt(10000);
        QVERIFY(m_channel->isPending(11));
        sweepAt(10001);
        QVERIFY(!m_channel->isPending(11) && m_channel->isPending(12));
        QVERIFY(Log::contains("timeSend timeout and ignore 11"));
        sweepAt(10002);
        WAIT_FOR(m_calls.size() == 3);
        m_calls.sort();
        QCOMPARE(m_calls, (QStringList{"-200 100 0", "-200 11 0", "-200 12 0"}));
        m_peer->send(frame(11, 1, 0));
        m_peer->answer = [](const WsEnvelope& in) { return frame(in.uuid, 1, 0, "\x08\x01"); };
        QVERIFY(request(13));
        WAIT_FOR(m_calls.size() == 4);
        QCOMPARE(m_calls.at(3), QStringLiteral("200 13 8"));
        VWsComm::destroyInstance();
        WAIT_FOR(m_peer->lastCloseCode == 1000);
    }

    // After a drop waiting requests fail (the workflow logs in again), the channel reopens once a
    // second, and only two minutes without network since the latest drop force the user off line.
    void reopenOncePerSecondAndOffLineAfterTwoMinutes()
    {
        useFakeClocks();
        QSignalSpy offLine(m_channel, &VWsComm::sigForceOffLine);
        QSignalSpy relogin(m_router, &ZebServerComm::sigSessionTimeLimit);
        const qint64 start = m_monotonic;
        const QString open = QStringLiteral("webSocket open");
        connectChannel();
        m_peer->dropAll();
        WAIT_FOR(m_calls == QStringList{"-200 100 0"} && relogin.size() >= 1);
        m_monotonic = start + 999;
        QTest::qWait(250);
        QCOMPARE(Log::count(open), 1);
        m_monotonic = start + 1000;
        WAIT_FOR(Log::count("websocket no net end") == 2 && Log::count(open) == 2);
        const qint64 second = m_monotonic = start + 119500;
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:%1").arg(TestHttpServer::closedPort()));
        m_peer->dropAll();
        WAIT_FOR(Log::count("websocket no net start") == 3);
        m_monotonic = second + 120000;
        QTest::qWait(250);
        QCOMPARE(offLine.size(), 0);
        m_monotonic = second + 120001;
        WAIT_FOR(offLine.size() >= 1);
        QCOMPARE(offLine.at(0).at(0).toString(), QStringLiteral("建立网络连接超时，请重新登录！"));
    }

    void reconnectRequestsCloserThanThreeSecondsAreDropped()
    {
        useFakeClocks();
        m_channel->setUrl(QStringLiteral("ws://127.0.0.1:%1").arg(TestHttpServer::closedPort()));
        const QDateTime start = m_wall;
        // The last step sets the clock back, which counts as frequent too.
        const QList<QPair<int, int>> steps = {{0, 1}, {2000, 0}, {2999, 0}, {3000, 4}, {0, 0}};
        for (int i = 0; i < steps.size(); ++i) {
            m_wall = start.addMSecs(steps.at(i).first);
            QCOMPARE(request(quint16(i + 1), true), steps.at(i).second);
        }
        QVERIFY(Log::contains("VWsComm::request reconnect ignore frequent 2"));
        QCOMPARE(m_channel->queuedCount(), 2);
    }

    void fourthCertificateErrorForcesOffLine()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS support in this Qt build");
        WsTestPeer peer(QWebSocketServer::SecureMode);
        QVERIFY(peer.useFreshCertificate(m_dir->path()) && peer.listen());
        useFakeClocks();
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
            m_monotonic += 1000;
        }
        QVERIFY(reports >= 4 && !m_channel->isConnected());
        QCOMPARE(offLine.at(0).at(0).toString(), QStringLiteral("网络证书错误，请校正本机日期时间"));
    }

    // The heartbeat on the wire and the answer's state and time (none without a type) the workflow gets.
    void heartBeatStatus()
    {
        m_peer->answerFrameSize = 3;
        m_peer->answer = [](const WsEnvelope& in) {
            return in.uuid == 1 ? frame(1, in.protoId, 0, "\x08\xd2\x09") : frame(in.uuid, 0, 8);
        };
        QSignalSpy status(m_router, &ZebServerComm::sigHeartBeatStatus);
        for (int uuid = 1; uuid <= 2; ++uuid) {
            m_router->heartBeat();
            WAIT_FOR(status.size() == uuid);
            QCOMPARE(m_peer->received.last(),
                     QByteArray("\x00\x01\x00\x01\x00\x00\x00\x02\x00\x01\x00\x00", 12).mid(6 * uuid - 6, 6));
        }
        QCOMPARE(status.at(0) + status.at(1), (QList<QVariant>{0, 1234ll, 8, 0ll}));
        QCOMPARE(m_router->inFlightCount(), 0);
    }

    void uuidsWrapToOneSkippingZero()
    {
        // Refused sends still use up their uuid, which makes the full cycle cheap to walk.
        VWsComm::instance()->setUrl(QString());
        VProtoMsg logon;
        logon.createByNameOrExit("UserCmd.logon");
        Log::muted = true;
        bool sawZero = false;
        for (int i = 0; i < 65536 && m_router->nextUuid() != 65535; ++i) {
            QVERIFY(m_router->Send("UserCmd.logon", logon).isRejected());
            sawZero = sawZero || m_router->nextUuid() == 0;
        }
        m_router->Send("UserCmd.logon", logon);
        Log::muted = false;
        QCOMPARE(int(m_router->nextUuid()), 1);
        QVERIFY(!sawZero && m_router->inFlightCount() == 0);
    }

    // How an answer (or a failed request) becomes the promise's outcome; each logged line is capped.
    void answerRules()
    {
        // Status, message, outcome (code, text, message; "none": the promise stays pending), logged.
        const QByteArray longText = "\x12\xb8\x17" + QByteArray(3000, 'd');
        const QList<std::tuple<int, QByteArray, QString, QString>> rows{
            {200, frame(3, 1, 7, "\x08\x63"), "7  msg", "result :  \"HeartBeatCmd"},
            {200, frame(1, 3, 5, longText), "5 dddddddddddd msg", "…(3000 bytes)"},
            {200, frame(1, 0, 10), "10  -", "state :  10"},
            {200, frame(1, 0, 12), "12  -", "state :  12"},
            {200, frame(1, 1, 11), "none limit", "Recv USER_NOT_LOGIN"},
            {200, frame(1, 777, 0), "none", "proto文件丢失或损坏 777"},
            {200, frame(1, 1, 0, QByteArray("\x08\xff", 2)), "none", "retToFunctor反序列化失败"},
            {-200, QByteArray(), "-200 网络错误:-200 -", "网络错误:-200\" 0"},
            {500, QByteArray(5000, 'b'), "-200 网络错误:500 -", "网络错误:500\" 5000"}};
        for (const auto& [status, message, outcome, logged] : rows) {
            Log::clear();
            QSignalSpy limit(m_router, &ZebServerComm::sigSessionTimeLimit);
            QString seen = QStringLiteral("none");
            m_router->Recv(status, message, [&seen](const ZebServerResponse& r) {
                seen = QStringLiteral("%1 %2 %3").arg(r.code).arg(r.text.left(12), r.msg ? "msg" : "-");
            });
            QCOMPARE(logged + ": " + seen + (limit.isEmpty() ? "" : " limit"), logged + ": " + outcome);
            QVERIFY2(Log::contains(logged), qPrintable(logged));
            for (const QString& line : Log::lines())
                QVERIFY(line.size() < OutsideText::logCapBytes + 200);
        }
    }

    // Schemas: request, response, then common folder; missing or broken ones give invalid messages.
    void schemaLoading()
    {
        // A is in all three folders, B in the last two; the field names the folder it came from.
        for (const QString folder : {"request", "response", "common"})
            for (const QString name : {"A", "B"})
                if (name == "A" || folder != "request")
                    TestEnv::writeFile(
                        QStringLiteral("protoFiles/%1/%2.proto").arg(folder == "common" ? "." : folder, name),
                        QStringLiteral("package %1; message M { optional int32 %2 = 1; }")
                            .arg(name, folder)
                            .toUtf8());
        TestEnv::writeFile("protoFiles/Broken.proto", "syntax = \"proto2\"; package Broken; message X {");
        VProtoMsg msg;
        for (const QString name : {"A", "B"}) {
            QVERIFY(msg.create(name + ".proto", name + ".M"));
            QCOMPARE(msg.message()->GetDescriptor()->field(0)->name(),
                     std::string(name == "A" ? "request" : "response"));
        }
        QVERIFY(!msg.create("Absent.proto", "Absent.X"));
        QVERIFY(!msg.create("Broken.proto", "Broken.X") && !msg.isValid());
        QVERIFY(!msg.create(kProbe, "Probe.Nothing"));
        QVERIFY(Log::contains("Broken.proto"));
        QVERIFY(msg.create(kProbe, "Probe.All"));
        releaseProtoSchemas();
        QVERIFY(!VProtoMsg().create(kProbe, "Probe.All"));
    }

    // What the program reads of an answer survives the wire; a field read as another kind, by a name
    // the type lacks, or from an object without a message, is refused instead of aborting in protobuf.
    void roundTripAndBadInput()
    {
        VProtoMsg out, in, empty;
        out.createOrExit(kProbe, "Probe.All");
        in.createOrExit(kProbe, "Probe.All");
        QVERIFY(out.setInt64("i64", -(1LL << 40)) && out.setString("s", "温馨提示"));
        QVERIFY(!in.parse(QByteArray("\x08\xff", 2)) && in.parse(out.serialize()));
        qint64 i64 = 0;
        qint32 i32 = 42;
        QString s;
        QVERIFY(in.getInt64("i64", i64) && in.getString("s", s, QString()));
        QCOMPARE(QStringLiteral("%1 %2").arg(i64).arg(s), QStringLiteral("-1099511627776 温馨提示"));
        QVERIFY(in.hasField("s") && !in.hasField("i32"));
        QVERIFY(!in.getInt32("i64", i32) && i32 == 42);
        QVERIFY(!in.getInt64("ri64", i64) && !in.getString("i32", s, QString()));
        QVERIFY(!in.getInt64("nothing", i64, 1) && i64 == 1);
        QVERIFY(in.getInt32("i32", i32) && i32 == 0); // unset: the schema default
        QVERIFY(empty.serialize().isEmpty() && !empty.parse("\x08\x01") && !empty.setInt32("x", 1));
    }

    // Ends the program with the schema's name on standard error.
    void answerWithoutSchemaEndsTheProgram()
    {
        QProcess child;
        qputenv("TAVIO_FATAL_CASE", "1"); // the child inherits it
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        qunsetenv("TAVIO_FATAL_CASE");
        QVERIFY(child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 255);
        const QString errors = QString::fromUtf8(child.readAllStandardError());
        QVERIFY2(errors.contains("proto解析错误，Ghost.thing"), qPrintable(errors));
    }

private:
    int request(quint16 uuid, bool reconnect = false)
    {
        return m_channel->request(uuid, frame(uuid, 1, 0), this, QStringLiteral("reply"), QString(), true,
                                  reconnect, false);
    }

    // Opens the channel to the peer with one request (uuid 100) that the peer receives.
    void connectChannel()
    {
        QCOMPARE(request(100), 100);
        WAIT_FOR(m_peer->received.size() == 1 && !m_channel->isConnecting());
    }

    void useFakeClocks()
    {
        m_wall = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 8));
        m_monotonic = 5000000;
        VClock::setWallClock([this]() { return m_wall; });
        VClock::setMonotonicClock([this]() { return m_monotonic; });
    }

    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
    std::unique_ptr<WsTestPeer> m_peer;
    VWsComm* m_channel = nullptr;
    ZebServerComm* m_router = nullptr;
    QStringList m_calls;
    QDateTime m_wall;
    qint64 m_monotonic = 0;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("TAVIO_FATAL_CASE"))
        return runAnswerWithoutSchema();
    TstSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_session.moc"
