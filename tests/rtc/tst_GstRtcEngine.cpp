// The real backend against PulseAudio (a 1 kHz tone) and nginx recording every RTMP stream.
#include "config/VGlobalConfig.h"
#include "rtc/AgoraRtcEngine.h"
#include "rtc/sdk/GstPipeline.h"
#include "rtc/sdk/IRtcEngine.h"
#include "support/RtcEventRecorder.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUuid>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <csignal>

using namespace agora::rtc;

namespace {

// The engine with its handler and sub-interfaces, released as the wrapper does.
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
    bool waitFor(const char* name, const QString& text, int a, int b, int timeoutMs)
    {
        return handler.waitFor(QStringLiteral("%1 %2 %3").arg(name).arg(a).arg(b), text, timeoutMs);
    }
    bool waitForRtmp(const QString& url, int state, int timeoutMs, int code = kRtmpErrorOk)
    {
        return waitFor("onRtmpStreamingStateChanged", url, state, code, timeoutMs);
    }
    int lastLocalAudioError() const { return handler.events("onLocalAudioStateChanged").last().b; }
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

// A proxy to the RTMP server whose connections can be cut, or frozen (open but no longer read).
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
                        [=] { client->write(upstream->readAll()); });
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
        if (TestEnv::peer("PULSE_SERVER").isEmpty() || TestEnv::peer("TAVIO_RTMP_URL_BASE").isEmpty()) {
            if (TestEnv::peersRequired())
                QFAIL("PulseAudio and the RTMP server are required but not running");
            QSKIP("no PulseAudio / RTMP peers (run through scripts/test.sh)");
        }
    }

    // The server records AAC-LC 48 kHz stereo following volume and mute; statistics of what it acknowledged.
    void relayCarriesAacStereo48kWithLiveVolumeAndMute()
    {
        EngineFixture f;
        QCOMPARE(f.parameters->setParameters("{\"che.audio.specify.codec\":\"HEAAC_2ch\"}"), 0);
        QCOMPARE(f.engine->joinChannel("", "room", nullptr, 1234), 0);
        QVERIFY(f.handler.waitFor("onJoinChannelSuccess", 1234, 3000));
        QVERIFY(f.handler.events("onJoinChannelSuccess").first().thread != QThread::currentThreadId());
        const QString name = Stream::name("levels"), url = Stream::url(name);
        QCOMPARE(f.publish(url), 0);
        QVERIFY(f.waitForRtmp(url, kRtmpStateRunning, 5000));
        QCOMPARE(f.publish(url), int(kErrRefused));

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
        const double full = levelDb(pcm, 0.8, 2.6), half = levelDb(pcm, 3.8, 5.6);
        const double muted = levelDb(pcm, 6.8, 8.6), again = levelDb(pcm, 9.8, 11.0);
        const QString levels =
            QStringLiteral("full %1 half %2 muted %3 again %4").arg(full).arg(half).arg(muted).arg(again);
        QVERIFY2(full > -30 && std::fabs((full - half) - 6.0) < 1.5, qPrintable(levels));
        QVERIFY2(muted < -80 && std::fabs(again - full) < 1.5, qPrintable(levels));
    }

    // A dropped connection and a server that stops reading both come back; release ends the callbacks.
    void droppedAndStalledConnectionsReconnect()
    {
        EngineFixture f;
        CuttableProxy proxy(static_cast<quint16>(QUrl(TestEnv::peer("TAVIO_RTMP_URL_BASE")).port()));
        QCOMPARE(f.join(), 0);
        const QString url =
            QString("rtmp://127.0.0.1:%1/live/%2").arg(proxy.port()).arg(Stream::name("dropped"));
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

    // A server as Debian configures it (RTMP acknowledgements only every 5 MB): the rate still shows,
    // and a server that stops reading is noticed from its TCP, and reached again once it reads.
    void stockServerRateAndStoppedServer()
    {
        const QString base = TestEnv::peer("TAVIO_RTMP_STOCK_URL_BASE");
        const pid_t pid = static_cast<pid_t>(TestEnv::peer("TAVIO_RTMP_STOCK_PID").toLongLong());
        if (base.isEmpty() || pid <= 0)
            QFAIL("the stock RTMP server is not running");
        EngineFixture f;
        QCOMPARE(f.join(), 0);
        const QString name = Stream::name("stock"), url = base + '/' + name;
        const QString flv = TestEnv::peer("TAVIO_RTMP_STOCK_RECORD_DIR") + '/' + name + ".flv";
        QCOMPARE(f.publish(url), 0);
        QVERIFY(f.waitForRtmp(url, kRtmpStateRunning, 8000));
        QElapsedTimer clock;
        clock.start();
        const auto rate = [&f] {
            const auto stats = f.handler.events("onRtcStats");
            return stats.isEmpty() ? 0 : int(stats.last().stats.txKBitRate);
        };
        QTRY_VERIFY_WITH_TIMEOUT(rate() > 100 && rate() < 200, 8000);
        qInfo("rate %d kbit/s shown %lld ms after running", rate(), clock.elapsed());

        ::kill(pid, SIGSTOP);
        auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });
        clock.restart();
        QVERIFY(f.waitForRtmp(url, kRtmpStateRecovering, 20000, kRtmpErrorNoAcknowledgement));
        qInfo("stopped server noticed after %lld ms", clock.elapsed());
        // The new publication starts the recording over: audio is recorded again once it grows.
        // The audio queued while connecting may arrive with the publication, so the new file can
        // be past any small size at its first look; it is told by being much shorter than the old.
        const qint64 stoppedSize = QFileInfo(flv).size();
        qint64 smallest = stoppedSize, recordedMs = -1;
        QTimer sample;
        connect(&sample, &QTimer::timeout, this, [&] {
            const qint64 size = QFileInfo(flv).size();
            smallest = qMin(smallest, size);
            if (recordedMs < 0 && smallest < stoppedSize / 2 && size > smallest + 8192)
                recordedMs = clock.elapsed();
        });
        sample.start(5);
        ::kill(pid, SIGCONT);
        resume.dismiss();
        clock.restart();
        QTRY_COMPARE_WITH_TIMEOUT(f.handler.count("onRtmpStreamingStateChanged", kRtmpStateRunning), 2, 20000);
        const qint64 runningMs = clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(recordedMs >= 0, 20000);
        qInfo("server went on: running again after %lld ms, audio recorded again after %lld ms", runningMs,
              recordedMs);
    }

    // A device that vanishes while live, returns, or is switched: the relay goes on.
    void vanishingAndSwitchedDevicesKeepTheRelay()
    {
        const QString sink = QStringLiteral("tavio_vanish_%1").arg(QCoreApplication::applicationPid()),
                      monitor = sink + ".monitor";
        QString module; // a second capture source: the monitor of a new null sink
        const auto loadSink = [&] {
            TestEnv::pactl({"load-module", "module-null-sink", "sink_name=" + sink}, &module);
        };
        loadSink();
        const QString name = Stream::name("vanish");
        QElapsedTimer live;
        qint64 liveMs = 0; // how long the stream was live, all of it to be recorded
        {
            EngineFixture f;
            QTRY_VERIFY_WITH_TIMEOUT(f.selectDevice(monitor) == 0, 5000);
            QCOMPARE(f.join(), 0);
            QCOMPARE(f.publish(Stream::url(name)), 0);
            QVERIFY(f.waitForRtmp(Stream::url(name), kRtmpStateRunning, 8000));
            live.start();
            QVERIFY(TestEnv::pactl({"unload-module", module}));
            QVERIFY(f.handler.waitFor("onLocalAudioStateChanged", kLocalAudioFailed, 8000));
            QCOMPARE(f.lastLocalAudioError(), int(kLocalAudioErrorRecordingFailure));
            QVERIFY(f.waitFor("onAudioDeviceStateChanged", monitor, kAudioRecordingDevice,
                              kDeviceStateUnplugged, 5000));
            QCOMPARE(f.handler.events("onError").size(), 1);
            QTest::qWait(3000);
            const int recording = f.handler.count("onLocalAudioStateChanged", kLocalAudioRecording);
            loadSink();
            QTRY_VERIFY_WITH_TIMEOUT(
                f.handler.count("onLocalAudioStateChanged", kLocalAudioRecording) > recording, 8000);
            QVERIFY(f.waitFor("onAudioDeviceStateChanged", monitor, kAudioRecordingDevice, kDeviceStateActive,
                              1000));
            // Muted, the switch to the tone's source opens it muted too.
            QCOMPARE(f.engine->muteLocalAudioStream(true), 0);
            QCOMPARE(f.selectDevice(TestEnv::peer("TAVIO_PULSE_SOURCE")), 0);
            QTest::qWait(1500);
            QCOMPARE(f.handler.count("onRtmpStreamingStateChanged", kRtmpStateRecovering), 0);
            QCOMPARE(f.engine->leaveChannel(), 0);
            liveMs = live.elapsed();
        }
        TestEnv::pactl({"unload-module", module});
        // The stream went on through the loss and the switch (at most the captures' starts missing).
        QTRY_VERIFY_WITH_TIMEOUT(decodeToPcm(Stream::flv(name)).size() / 192.0 > liveMs - 2000, 5000);
        const QByteArray pcm = decodeToPcm(Stream::flv(name));
        const double endS = pcm.size() / 192000.0;
        QVERIFY2(levelDb(pcm, endS - 1.1, endS - 0.1) < -80,
                 qPrintable(QString::number(levelDb(pcm, endS - 1.1, endS - 0.1))));
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
            QCOMPARE(f.join(), int(kErrNoDevice));
            QVERIFY(f.handler.waitFor("onLocalAudioStateChanged", kLocalAudioFailed, 3000));
            QCOMPARE(f.lastLocalAudioError(), int(kLocalAudioErrorNoDevice));
            const QString valid = Stream::url(QStringLiteral("never"));
            QCOMPARE(f.publish(valid), int(kErrNotReady)); // not in a channel
            const QByteArray tooLong = "rtmp://127.0.0.1/live/" + QByteArray(1003, 'x'); // 1025 bytes
            for (const QByteArray& bad : {QByteArray("http://x"), QByteArray("rtmp://"), QByteArray("rtmp://127.0.0.1/live"),
                                          QByteArray("rtmp://127.0.0.1/live/x\" ! fakesink"), tooLong})
                QVERIFY2(f.engine->addPublishStreamUrl(bad, false) == kErrInvalidArgument, bad.left(40));
            // The longest address passes the check (and is refused for the channel only).
            QCOMPARE(f.engine->addPublishStreamUrl(tooLong.chopped(1), false), int(kErrNotReady));
            QCOMPARE(f.engine->addPublishStreamUrl(valid.toUtf8().constData(), true), int(kErrNotSupported));
            QCOMPARE(f.unpublish(valid), int(kErrRefused));
            QCOMPARE(f.engine->adjustRecordingSignalVolume(401), int(kErrInvalidArgument));
        }
        qputenv("PULSE_SERVER", saved);
    }

    // The wrapper: default device first, the device test's level, a negative account id, the dump.
    void wrapperDrivesTheRealBackend()
    {
        TestEnv::ScopedWorkDir work;
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QStringLiteral("true"));
        {
            AgoraRtcEngine engine;
            QCOMPARE(engine.recordingDevices().value("guid").toStringList().value(0),
                     TestEnv::peer("TAVIO_PULSE_SOURCE"));
            QCOMPARE(engine.setRecordingDevice(TestEnv::peer("TAVIO_PULSE_SOURCE")), 0);
            QSignalSpy levels(&engine, &AgoraRtcEngine::sigCaptureLevel);
            QCOMPARE(engine.startRecordingDeviceTest(50), 0);
            QTRY_VERIFY_WITH_TIMEOUT(!levels.isEmpty() && levels.last().first().toInt() > 0, 6000);
            // Joining takes the test's capture over (only the dump opens); leaving hands it back unmuted.
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
        const QString logPath = AgoraRtcEngine::sdkLogFilePath(QDate::currentDate()),
                      log = TestEnv::readText(logPath);
        QVERIFY(log.contains(QLatin1String("joined channel 8001 as 4294957295")));
        // Written before the log file was named, and GStreamer without the desktop's other plugins.
        QVERIFY(log.contains(QLatin1String("GStreamer with only the plugins the SDK uses\n")));
        QCOMPARE(log.count("refused"), log.count("startRecordingDeviceTest refused"));
        // The capture's dump beside the SDK log, its header completed on stop.
        const QFileInfoList wavs = QFileInfo(logPath).dir().entryInfoList({QStringLiteral("NoName-*.wav")});
        QCOMPARE(wavs.size(), 1);
        QFile wav(wavs.first().filePath());
        QVERIFY(wav.open(QIODevice::ReadOnly) && wav.size() > 48000 * 4);
        QCOMPARE(qFromLittleEndian<quint32>(wav.read(8).constData() + 4), quint32(wav.size() - 8));
    }
};

QTEST_MAIN(tst_GstRtcEngine)
#include "tst_GstRtcEngine.moc"
