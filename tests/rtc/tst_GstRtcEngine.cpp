// The real media backend against real peers: PulseAudio (a null sink playing a 1 kHz tone)
// and nginx with the RTMP module recording every stream. Only what needs them is here: real
// AAC reaching the server, real connections cut, real devices vanishing. The relay's schedule
// and bookkeeping and the capture's decisions are tested through their units (tests/rtc/sdk).
#include "config/VGlobalConfig.h"
#include "rtc/AgoraRtcEngine.h"
#include "rtc/sdk/GstPipeline.h"
#include "rtc/sdk/IRtcEngine.h"
#include "support/RtcEventRecorder.h"
#include "support/ScriptedRtcBackend.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUuid>
#include <QtEndian>
#include <QtTest>

#include <cmath>

using namespace agora::rtc;
using Event = RtcEventRecorder::Event;

namespace {

// The engine with its handler and sub-interfaces, released through the static release like
// the wrapper does.
struct EngineFixture
{
    RtcEventRecorder handler;
    IRtcEngine* engine = createAgoraRtcEngine();
    IRtcEngineParameter* parameters = nullptr;
    IAudioDeviceManager* devices = nullptr;

    EngineFixture()
    {
        RtcEngineContext context;
        context.eventHandler = &handler;
        context.appId = "5e0c7b21d94a4f6e8a13c2b7f0d96e48";
        QCOMPARE(engine->initialize(context), 0);
        engine->queryInterface(kInterfaceEngineParameter, reinterpret_cast<void**>(&parameters));
        engine->queryInterface(kInterfaceAudioDeviceManager, reinterpret_cast<void**>(&devices));
    }
    ~EngineFixture() { release(); }
    void release()
    {
        if (engine)
            parameters->release(), devices->release(), IRtcEngine::release(false);
        engine = nullptr;
    }
    int selectDevice(const QString& id) { return devices->setRecordingDevice(id.toUtf8().constData()); }
    int join() { return engine->joinChannel("", "room", nullptr, 7); }
    int publish(const QString& url) { return engine->addPublishStreamUrl(url.toUtf8().constData(), false); }
    int unpublish(const QString& url) { return engine->removePublishStreamUrl(url.toUtf8().constData()); }
    bool waitForRtmp(const QString& url, int state, int timeoutMs, int code = kRtmpErrorOk)
    {
        return handler.waitFor(QStringLiteral("onRtmpStreamingStateChanged %1 %2").arg(state).arg(code), url,
                               timeoutMs);
    }
};

// What a program prints; for a recording, its decoded PCM (48 kHz stereo S16LE) or its format.
QByteArray run(const char* program, const QStringList& arguments)
{
    QProcess process;
    process.start(QString::fromLatin1(program), arguments);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}
QByteArray decodeToPcm(const QString& path)
{
    return run("ffmpeg", {"-v", "error", "-i", path, "-f", "s16le", "-ac", "2", "-ar", "48000", "-"});
}

// RMS level in dBFS of [fromS, toS) of the PCM; -200 for digital silence.
double levelDb(const QByteArray& pcm, double fromS, double toS)
{
    const int from = qBound(0, static_cast<int>(fromS * 192000) & ~3, pcm.size());
    const int to = qBound(0, static_cast<int>(toS * 192000) & ~3, pcm.size());
    double sum = 0;
    for (int i = from; i + 1 < to; i += 2)
        sum += std::pow(qFromLittleEndian<qint16>(pcm.constData() + i) / 32768.0, 2);
    return sum == 0 ? -200 : 10 * std::log10(sum / ((to - from) / 2));
}

// A second capture source (the monitor of a new null sink); the module's id, empty on failure.
QString loadNullSink(const QString& sink)
{
    QString module;
    TestEnv::pactl({"load-module", "module-null-sink", "sink_name=" + sink}, &module);
    return module;
}

// A TCP proxy in front of the RTMP server whose connections the test can cut or freeze (the
// connection stays open but what is sent is no longer read: a server that stopped reading).
class CuttableProxy : public QObject
{
public:
    explicit CuttableProxy(quint16 targetPort)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this, targetPort] {
            while (QTcpSocket* client = m_server.nextPendingConnection()) {
                auto* upstream = new QTcpSocket(client);
                upstream->connectToHost(QHostAddress::LocalHost, targetPort);
                connect(client, &QTcpSocket::readyRead, upstream,
                        [=] { upstream->write(client->readAll()); });
                connect(upstream, &QTcpSocket::readyRead, client,
                        [client, upstream] { client->write(upstream->readAll()); });
                connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
                m_clients.append(client);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    void cutOrFreeze(bool freeze)
    {
        for (QTcpSocket* client : qAsConst(m_clients))
            if (client)
                freeze ? void(disconnect(client, &QTcpSocket::readyRead, nullptr, nullptr)) : client->abort();
    }

private:
    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_clients;
};

// Stream names no other run uses, where they are published and where the server records them.
struct Stream
{
    static QString name(const char* what) { return what + QUuid::createUuid().toString(QUuid::Id128); }
    static QString url(const QString& n) { return TestEnv::peer("TAVIO_RTMP_URL_BASE") + '/' + n; }
    static QString flv(const QString& n) { return TestEnv::peer("TAVIO_RTMP_RECORD_DIR") + '/' + n + ".flv"; }
};

} // namespace

class tst_GstRtcEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        ScriptedRtcBackend::setEnabled(false);
        if (TestEnv::peer("PULSE_SERVER").isEmpty() || TestEnv::peer("TAVIO_RTMP_URL_BASE").isEmpty()) {
            if (TestEnv::peersRequired())
                QFAIL("PulseAudio and the RTMP server are required but not running");
            QSKIP("no PulseAudio / RTMP peers (run through scripts/test.sh)");
        }
    }

    // What the server records: AAC-LC 48 kHz stereo following volume and mute; statistics of
    // what it acknowledged.
    void relayCarriesAacStereo48kWithLiveVolumeAndMute()
    {
        EngineFixture f;
        QCOMPARE(f.parameters->setParameters("{\"che.audio.specify.codec\":\"HEAAC_2ch\"}"), 0);
        QCOMPARE(f.engine->joinChannel("", "room", nullptr, 1234), 0);
        QVERIFY(f.handler.waitFor(QStringLiteral("onJoinChannelSuccess"), 1234, 3000));
        QVERIFY(f.handler.events("onJoinChannelSuccess").first().thread != QThread::currentThreadId());
        const QString name = Stream::name("levels");
        const QString url = Stream::url(name);
        QCOMPARE(f.publish(url), 0);
        QVERIFY(f.waitForRtmp(url, kRtmpStateRunning, 5000));
        QCOMPARE(f.publish(url), static_cast<int>(kErrRefused));

        // Stream time: 0-3 s at 100, 3-6 s at 50, 6-9 s muted, then 100 again.
        for (const auto& step :
             {std::make_pair(50, false), std::make_pair(50, true), std::make_pair(100, false)}) {
            QTest::qWait(3000);
            QCOMPARE(f.engine->adjustRecordingSignalVolume(step.first), 0);
            QCOMPARE(f.engine->muteLocalAudioStream(step.second), 0);
        }
        QTest::qWait(3000);
        const RtcStats stats = f.handler.events("onRtcStats").last().stats;
        QVERIFY(stats.txBytes > 100000 && stats.txAudioBytes > 100000 && stats.txAudioKBitRate > 60);
        QCOMPARE(f.unpublish(url), 0);
        QVERIFY(f.waitForRtmp(url, kRtmpStateIdle, 2000));
        QCOMPARE(f.engine->leaveChannel(), 0);
        QTRY_VERIFY(f.handler.events("onLeaveChannel").value(0).stats.txBytes >= stats.txBytes);
        f.release();

        const QString recording = Stream::flv(name);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(recording).size() > 100000, 5000);
        QCOMPARE(run("ffprobe", {"-v", "error", "-show_entries",
                                 "stream=codec_type,codec_name,profile,sample_rate,channels", "-of",
                                 "default=nw=1", recording}),
                 QByteArray("codec_name=aac\nprofile=LC\ncodec_type=audio\nsample_rate=48000\nchannels=2\n"));
        const QByteArray pcm = decodeToPcm(recording);
        QVERIFY2(pcm.size() / 192000.0 > 11.0, qPrintable(QString::number(pcm.size())));
        // Windows inside each phase, clear of the switching moments.
        const double full = levelDb(pcm, 0.8, 2.6);
        const double half = levelDb(pcm, 3.8, 5.6);
        const double muted = levelDb(pcm, 6.8, 8.6);
        const double again = levelDb(pcm, 9.8, 11.0);
        const QString levels =
            QStringLiteral("full %1 half %2 muted %3 again %4").arg(full).arg(half).arg(muted).arg(again);
        qInfo("%s", qPrintable(levels));
        QVERIFY2(full > -30 && std::fabs((full - half) - 6.0) < 1.5, qPrintable(levels));
        QVERIFY2(muted < -80 && std::fabs(again - full) < 1.5, qPrintable(levels));
    }

    // A dropped connection and a server that stops reading (no error: its silence is noticed
    // from rtmp2sink's counts) both come back on the same address, the capture untouched.
    // Releasing the engine then ends every callback.
    void droppedAndStalledConnectionsReconnect()
    {
        EngineFixture f;
        CuttableProxy proxy(static_cast<quint16>(QUrl(TestEnv::peer("TAVIO_RTMP_URL_BASE")).port()));
        QCOMPARE(f.join(), 0);
        const QString url =
            QStringLiteral("rtmp://127.0.0.1:%1/live/%2").arg(proxy.port()).arg(Stream::name("dropped"));
        QCOMPARE(f.publish(url), 0);
        QVERIFY(f.waitForRtmp(url, kRtmpStateRunning, 8000));
        proxy.cutOrFreeze(false);
        QVERIFY(f.waitForRtmp(url, kRtmpStateRecovering, 8000, kRtmpErrorConnectionLost));
        QTRY_COMPARE_WITH_TIMEOUT(f.handler.count("onRtmpStreamingStateChanged", kRtmpStateRunning), 2, 6000);
        QTest::qWait(1500);
        proxy.cutOrFreeze(true);
        QVERIFY(f.waitForRtmp(url, kRtmpStateRecovering, 15000, kRtmpErrorNoAcknowledgement));
        QTRY_COMPARE_WITH_TIMEOUT(f.handler.count("onRtmpStreamingStateChanged", kRtmpStateRunning), 3, 6000);
        QCOMPARE(f.handler.count("onLocalAudioStateChanged", kLocalAudioFailed), 0);
        // Released while streaming: complete on return, no callback after it.
        f.release();
        const int events = f.handler.events().size();
        QTest::qWait(1000);
        QCOMPARE(f.handler.events().size(), events);
    }

    // The chosen device vanishes while live: silence goes out, the relay goes on, and the
    // device is taken back when it returns; switching devices keeps the relay too.
    void vanishingAndSwitchedDevicesKeepTheRelay()
    {
        const QString sink = QStringLiteral("tavio_vanish_%1").arg(QCoreApplication::applicationPid());
        const QString monitor = sink + QStringLiteral(".monitor");
        QString module = loadNullSink(sink);
        const QString name = Stream::name("vanish");
        QElapsedTimer live;
        qint64 liveMs = 0;
        {
            EngineFixture f;
            QTRY_VERIFY_WITH_TIMEOUT(f.selectDevice(monitor) == 0, 5000);
            QCOMPARE(f.join(), 0);
            QCOMPARE(f.publish(Stream::url(name)), 0);
            QVERIFY(f.waitForRtmp(Stream::url(name), kRtmpStateRunning, 8000));
            live.start();
            QVERIFY(TestEnv::pactl({"unload-module", module}));
            QVERIFY(f.handler.waitFor(QStringLiteral("onLocalAudioStateChanged"), kLocalAudioFailed, 8000));
            QCOMPARE(f.handler.events("onLocalAudioStateChanged").last().b,
                     static_cast<int>(kLocalAudioErrorRecordingFailure));
            QVERIFY(f.handler.waitFor(QStringLiteral("onAudioDeviceStateChanged %1 %2")
                                          .arg(kAudioRecordingDevice)
                                          .arg(kDeviceStateUnplugged),
                                      monitor, 5000));
            QCOMPARE(f.handler.events("onError").size(), 1);
            QTest::qWait(3000);
            const int recording = f.handler.count("onLocalAudioStateChanged", kLocalAudioRecording);
            module = loadNullSink(sink);
            QTRY_VERIFY_WITH_TIMEOUT(
                f.handler.count("onLocalAudioStateChanged", kLocalAudioRecording) > recording, 8000);
            QVERIFY(f.handler.waitFor(QStringLiteral("onAudioDeviceStateChanged %1 %2")
                                          .arg(kAudioRecordingDevice)
                                          .arg(kDeviceStateActive),
                                      monitor, 1000));
            QCOMPARE(f.selectDevice(TestEnv::peer("TAVIO_PULSE_SOURCE")), 0);
            QTest::qWait(1500);
            QCOMPARE(f.handler.count("onRtmpStreamingStateChanged", kRtmpStateRecovering), 0);
            QCOMPARE(f.engine->leaveChannel(), 0);
            liveMs = live.elapsed();
        }
        TestEnv::pactl({"unload-module", module});
        // The stream went on through the loss (3 s of silence) and the switch: at most the
        // starts of the captures are missing.
        QTRY_VERIFY_WITH_TIMEOUT(decodeToPcm(Stream::flv(name)).size() / 192.0 > liveMs - 2000, 5000);
    }

    // Calls refused before anything starts, and no device at all.
    void refusalsWithoutADevice()
    {
        const QByteArray saved = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/tavio/native");
        {
            EngineFixture f;
            const int pipelines = GstPipeline::openCount();
            QVERIFY(f.devices->startRecordingDeviceTest(50) < 0); // stays on without a device; nothing opens
            QCOMPARE(GstPipeline::openCount(), pipelines);
            QCOMPARE(f.devices->stopRecordingDeviceTest(), 0);
            QCOMPARE(f.join(), static_cast<int>(kErrNoDevice));
            QVERIFY(f.handler.waitFor(QStringLiteral("onLocalAudioStateChanged"), kLocalAudioFailed, 3000));
            QCOMPARE(f.handler.events("onLocalAudioStateChanged").last().b,
                     static_cast<int>(kLocalAudioErrorNoDevice));
            const QString valid = Stream::url(QStringLiteral("never"));
            QCOMPARE(f.publish(valid), static_cast<int>(kErrNotReady)); // not in a channel
            for (const char* bad :
                 {"http://127.0.0.1/live/x", "rtmp://127.0.0.1/live", "rtmp://127.0.0.1/live/x\" ! fakesink"})
                QVERIFY2(f.engine->addPublishStreamUrl(bad, false) == kErrInvalidArgument, bad);
            QCOMPARE(f.engine->addPublishStreamUrl(valid.toUtf8().constData(), true),
                     static_cast<int>(kErrNotSupported));
            QCOMPARE(f.unpublish(valid), static_cast<int>(kErrRefused));
            QCOMPARE(f.engine->adjustRecordingSignalVolume(401), static_cast<int>(kErrInvalidArgument));
        }
        qputenv("PULSE_SERVER", saved);
    }

    // The wrapper on the real backend: the default device first, the level of the device test
    // as a signal, the panel's negative account id, the dump of the capture.
    void wrapperDrivesTheRealBackend()
    {
        TestEnv::ScopedWorkDir work;
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QStringLiteral("true"));
        {
            AgoraRtcEngine engine;
            const QVariantMap devices = engine.recordingDevices();
            QCOMPARE(devices.value(QStringLiteral("guid")).toStringList().first(),
                     TestEnv::peer("TAVIO_PULSE_SOURCE"));
            QCOMPARE(engine.setRecordingDevice(TestEnv::peer("TAVIO_PULSE_SOURCE")), 0);
            QSignalSpy levels(&engine, &AgoraRtcEngine::sigCaptureLevel);
            QCOMPARE(engine.startRecordingDeviceTest(50), 0);
            QTRY_VERIFY_WITH_TIMEOUT(!levels.isEmpty() && levels.last().first().toInt() > 0, 6000);
            // Joining takes the test's capture over (only the dump opens); leaving hands it back
            // unmuted.
            const int pipelines = GstPipeline::openCount();
            QCOMPARE(engine.joinChannel(QString(), QStringLiteral("8001"), QStringLiteral("-10001")), 0);
            QCOMPARE(GstPipeline::openCount(), pipelines + 1);
            QCOMPARE(engine.muteLocalAudioStream(true), 0);
            QTest::qWait(1500);
            QCOMPARE(engine.leaveChannel(), 0);
            levels.clear();
            QTRY_VERIFY_WITH_TIMEOUT(!levels.isEmpty() && levels.last().first().toInt() > 0, 2000);
            QCOMPARE(engine.stopRecordingDeviceTest(), 0);
            QVERIFY(engine.startRecordingDeviceTest(5) < 0); // faster than the SDK offers
        }
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QString());
        const QString logPath = AgoraRtcEngine::sdkLogFilePath(QDate::currentDate());
        const QString log = TestEnv::readText(logPath);
        QVERIFY(log.contains(QLatin1String("joined channel 8001 as 4294957295")));
        QCOMPARE(log.count(QLatin1String("refused")),
                 log.count(QLatin1String("startRecordingDeviceTest refused")));
        // The capture's dump beside the SDK log, its header completed on stop.
        const QStringList wavs = QDir(QFileInfo(logPath).path()).entryList({QStringLiteral("NoName-*.wav")});
        QCOMPARE(wavs.size(), 1);
        QFile wav(QFileInfo(logPath).path() + QLatin1Char('/') + wavs.first());
        QVERIFY(wav.open(QIODevice::ReadOnly) && wav.size() > 48000 * 4);
        QCOMPARE(qFromLittleEndian<quint32>(wav.read(8).constData() + 4),
                 static_cast<quint32>(wav.size() - 8));
    }
};

QTEST_MAIN(tst_GstRtcEngine)
#include "tst_GstRtcEngine.moc"
