// The real media backend against real peers: PulseAudio (null sink playing a 1 kHz tone) and
// nginx with the RTMP module recording every stream.
#include "base/VClock.h"
#include "config/VGlobalConfig.h"
#include "rtc/AgoraRtcEngine.h"
#include "rtc/sdk/GstPipeline.h"
#include "rtc/sdk/IRtcEngine.h"
#include "support/ScriptedRtcBackend.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>

using namespace agora::rtc;

namespace {

struct Event
{
    QString name;
    QString text;
    int a = 0;
    int b = 0;
    RtcStats stats;
    Qt::HANDLE thread = nullptr;
};

// Records every callback of interest with the thread it came from.
class RecordingHandler : public IRtcEngineEventHandler
{
public:
    void onError(int err, const char* msg) override
    {
        add("onError", QString::fromLatin1(msg ? msg : ""), err);
    }
    void onJoinChannelSuccess(const char* channel, unsigned int uid, int) override
    {
        add("onJoinChannelSuccess", QString::fromLatin1(channel), static_cast<int>(uid));
    }
    void onLeaveChannel(const RtcStats& stats) override
    {
        Event e = make("onLeaveChannel");
        e.stats = stats;
        push(e);
    }
    void onRtcStats(const RtcStats& stats) override
    {
        Event e = make("onRtcStats");
        e.stats = stats;
        push(e);
    }
    void onLocalAudioStats(const LocalAudioStats& stats) override
    {
        add("onLocalAudioStats", QString(), stats.numChannels, stats.sentSampleRate);
    }
    void onAudioVolumeIndication(const AudioVolumeInfo* speakers, unsigned int count, int total) override
    {
        add("onAudioVolumeIndication", QString(), static_cast<int>(count),
            count ? static_cast<int>(speakers[0].volume) : total);
    }
    void onNetworkQuality(unsigned int, int tx, int rx) override
    {
        add("onNetworkQuality", QString(), tx, rx);
    }
    void onLocalAudioStateChanged(int state, int error) override
    {
        add("onLocalAudioStateChanged", QString(), state, error);
    }
    void onFirstLocalAudioFrame(int elapsed) override { add("onFirstLocalAudioFrame", QString(), elapsed); }
    void onRtmpStreamingStateChanged(const char* url, int state, int code) override
    {
        add("onRtmpStreamingStateChanged", QString::fromLatin1(url), state, code);
    }
    void onRtmpStreamingReconnecting(const char* url, int attempt, int delayMs) override
    {
        add("onRtmpStreamingReconnecting", QString::fromLatin1(url), attempt, delayMs);
    }
    void onAudioDeviceStateChanged(const char* id, int type, int state) override
    {
        add("onAudioDeviceStateChanged", QString::fromUtf8(id), type, state);
    }

    QList<Event> events(const QString& name = QString()) const
    {
        QMutexLocker lock(&m_mutex);
        QList<Event> found;
        for (const Event& e : m_events) {
            if (name.isEmpty() || e.name == name)
                found.append(e);
        }
        return found;
    }
    int count() const
    {
        QMutexLocker lock(&m_mutex);
        return m_events.size();
    }
    // Waits (processing Qt events) until an event matches.
    bool waitFor(const std::function<bool(const Event&)>& match, int timeoutMs) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            for (const Event& e : events()) {
                if (match(e))
                    return true;
            }
            QTest::qWait(50);
        }
        return false;
    }
    bool waitForRtmpState(const QString& url, int state, int timeoutMs, int* code = nullptr) const
    {
        const bool found = waitFor(
            [&](const Event& e) {
                return e.name == "onRtmpStreamingStateChanged" && e.text == url && e.a == state;
            },
            timeoutMs);
        if (found && code) {
            for (const Event& e : events("onRtmpStreamingStateChanged")) {
                if (e.text == url && e.a == state)
                    *code = e.b;
            }
        }
        return found;
    }

private:
    Event make(const char* name)
    {
        Event e;
        e.name = QString::fromLatin1(name);
        e.thread = QThread::currentThreadId();
        return e;
    }
    void add(const char* name, const QString& text, int a = 0, int b = 0)
    {
        Event e = make(name);
        e.text = text;
        e.a = a;
        e.b = b;
        push(e);
    }
    void push(const Event& e)
    {
        QMutexLocker lock(&m_mutex);
        m_events.append(e);
    }

    mutable QMutex m_mutex;
    QList<Event> m_events;
};

// The engine with its handler, released through the static release like the wrapper does.
struct EngineFixture
{
    RecordingHandler handler;
    IRtcEngine* engine = nullptr;

    EngineFixture()
    {
        engine = createAgoraRtcEngine();
        RtcEngineContext context;
        context.eventHandler = &handler;
        context.appId = "5e0c7b21d94a4f6e8a13c2b7f0d96e48";
        initResult = engine->initialize(context);
    }
    ~EngineFixture() { release(); }
    void release()
    {
        if (engine) {
            IRtcEngine::release(false);
            engine = nullptr;
        }
    }
    int setLogFile() { return engine->setLogFile("sdk.log"); }
    int setParameters(const char* text)
    {
        void* inter = nullptr;
        if (engine->queryInterface(kInterfaceEngineParameter, &inter) != 0)
            return -100;
        auto* parameters = static_cast<IRtcEngineParameter*>(inter);
        const int result = parameters->setParameters(text);
        parameters->release();
        return result;
    }
    QList<QPair<QString, QString>> devices()
    {
        QList<QPair<QString, QString>> list;
        void* inter = nullptr;
        if (engine->queryInterface(kInterfaceAudioDeviceManager, &inter) != 0)
            return list;
        auto* manager = static_cast<IAudioDeviceManager*>(inter);
        IAudioDeviceCollection* collection = manager->enumerateRecordingDevices();
        for (int i = 0; collection && i < collection->getCount(); ++i) {
            char name[kMaxDeviceIdLength] = {};
            char id[kMaxDeviceIdLength] = {};
            if (collection->getDevice(i, name, id) == 0)
                list.append(qMakePair(QString::fromUtf8(name), QString::fromUtf8(id)));
        }
        if (collection)
            collection->release();
        manager->release();
        return list;
    }
    int selectDevice(const QString& id)
    {
        void* inter = nullptr;
        if (engine->queryInterface(kInterfaceAudioDeviceManager, &inter) != 0)
            return -100;
        auto* manager = static_cast<IAudioDeviceManager*>(inter);
        const int result = manager->setRecordingDevice(id.toUtf8().constData());
        manager->release();
        return result;
    }
    int deviceTest(bool on, int intervalMs = 50)
    {
        void* inter = nullptr;
        if (engine->queryInterface(kInterfaceAudioDeviceManager, &inter) != 0)
            return -100;
        auto* manager = static_cast<IAudioDeviceManager*>(inter);
        const int result =
            on ? manager->startRecordingDeviceTest(intervalMs) : manager->stopRecordingDeviceTest();
        manager->release();
        return result;
    }
    int levelCount() const { return handler.events(QStringLiteral("onAudioVolumeIndication")).size(); }
    // The levels reported during the next ms.
    QList<int> levelsOver(int ms) const
    {
        const int mark = levelCount();
        QTest::qWait(ms);
        QList<int> levels;
        for (const Event& e : handler.events(QStringLiteral("onAudioVolumeIndication")).mid(mark))
            levels.append(e.b);
        return levels;
    }
    bool waitForLevel(int timeoutMs) const
    {
        return handler.waitFor([](const Event& e) { return e.name == "onAudioVolumeIndication" && e.b > 0; },
                               timeoutMs);
    }
    int localAudioStates(int state) const
    {
        int n = 0;
        for (const Event& e : handler.events(QStringLiteral("onLocalAudioStateChanged")))
            n += e.a == state ? 1 : 0;
        return n;
    }

    int initResult = -100;
};

int median(QList<int> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

int maximum(const QList<int>& values)
{
    return values.isEmpty() ? -1 : *std::max_element(values.begin(), values.end());
}


// Decoded PCM of a recording: 48 kHz stereo S16LE.
QByteArray decodeToPcm(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                  QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-ac"), QStringLiteral("2"),
                  QStringLiteral("-ar"), QStringLiteral("48000"), QStringLiteral("-")});
    if (!ffmpeg.waitForFinished(60000))
        return QByteArray();
    return ffmpeg.readAllStandardOutput();
}

// RMS level in dBFS of [fromS, toS) of the PCM; -200 for digital silence.
double levelDb(const QByteArray& pcm, double fromS, double toS)
{
    const int bytesPerSecond = 48000 * 4;
    const int from = qBound(0, static_cast<int>(fromS * bytesPerSecond) & ~3, pcm.size());
    const int to = qBound(0, static_cast<int>(toS * bytesPerSecond) & ~3, pcm.size());
    double sum = 0;
    qint64 n = 0;
    for (int i = from; i + 1 < to; i += 2) {
        const double v = qFromLittleEndian<qint16>(pcm.constData() + i) / 32768.0;
        sum += v * v;
        ++n;
    }
    if (n == 0 || sum == 0)
        return -200;
    return 10 * std::log10(sum / n);
}

QString probe(const QString& path, const QString& entries)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"), entries,
                   QStringLiteral("-of"), QStringLiteral("default=nw=1"), path});
    ffprobe.waitForFinished(30000);
    return QString::fromUtf8(ffprobe.readAllStandardOutput());
}

// A second capture source (the monitor of a new null sink); the module's id, empty on failure.
QString loadNullSink(const QString& sink)
{
    QString module;
    TestEnv::pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
           QStringLiteral("sink_name=") + sink},
          &module);
    return module;
}

// This process's capture streams on the sound server (their indices): a second open of the
// device shows as a second stream or a new index.
QStringList ourSourceOutputs()
{
    QString text;
    if (!TestEnv::pactl({QStringLiteral("list"), QStringLiteral("source-outputs")}, &text))
        return {QStringLiteral("pactl failed")};
    QStringList found;
    QString current;
    const QString pidLine =
        QStringLiteral("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid());
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("Source Output #")))
            current = line.mid(15);
        else if (line == pidLine)
            found.append(current);
    }
    return found;
}

// A TCP proxy in front of the RTMP server whose connections the test can cut.
class CuttableProxy : public QObject
{
public:
    explicit CuttableProxy(quint16 targetPort) : m_targetPort(targetPort)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = m_server.nextPendingConnection()) {
                auto* upstream = new QTcpSocket(client);
                upstream->connectToHost(QHostAddress::LocalHost, m_targetPort);
                connect(client, &QTcpSocket::readyRead, upstream, [this, client, upstream] {
                    const QByteArray data = client->readAll();
                    if (!client->property("frozen").toBool())
                        upstream->write(data);
                });
                connect(upstream, &QTcpSocket::readyRead, client,
                        [client, upstream] { client->write(upstream->readAll()); });
                connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
                m_clients.append(client);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    // Drops every connection; with stopListening, new ones are refused too.
    void cut(bool stopListening = true)
    {
        for (QTcpSocket* client : qAsConst(m_clients)) {
            if (client)
                client->abort();
        }
        m_clients.clear();
        if (stopListening)
            m_server.close();
    }
    // The connections stay open but what the publisher sends goes nowhere: a server that
    // stopped reading. Later connections pass again.
    void freeze()
    {
        for (QTcpSocket* client : qAsConst(m_clients)) {
            if (client)
                client->setProperty("frozen", true);
        }
    }

private:
    quint16 m_targetPort = 0;
    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_clients;
};

} // namespace

class tst_GstRtcEngine : public QObject
{
    Q_OBJECT

    static constexpr int kStatsWaitMs = 2500;

private:
    bool havePeers()
    {
        return !TestEnv::peer("PULSE_SERVER").isEmpty() && !TestEnv::peer("TAVIO_RTMP_URL_BASE").isEmpty();
    }
    QString streamUrl(const QString& name) const
    {
        return TestEnv::peer("TAVIO_RTMP_URL_BASE") + QLatin1Char('/') + name;
    }
    QString recordingOf(const QString& name) const
    {
        return QDir(TestEnv::peer("TAVIO_RTMP_RECORD_DIR")).filePath(name + QStringLiteral(".flv"));
    }
    QString uniqueName(const char* what) const
    {
        return QStringLiteral("%1_%2_%3")
            .arg(QLatin1String(what))
            .arg(QCoreApplication::applicationPid())
            .arg(QDateTime::currentMSecsSinceEpoch());
    }

private Q_SLOTS:
    void init()
    {
        ScriptedRtcBackend::setEnabled(false);
        if (!havePeers()) {
            if (TestEnv::peersRequired())
                QFAIL("PulseAudio and the RTMP server are required but not running");
            QSKIP("no PulseAudio / RTMP peers (run through scripts/test.sh)");
        }
    }

    void devicesListStableIdsWithTheDefaultFirstAndMarked()
    {
        EngineFixture f;
        QCOMPARE(f.initResult, 0);
        const auto devices = f.devices();
        QVERIFY(!devices.isEmpty());
        QCOMPARE(devices.first().second, TestEnv::peer("TAVIO_PULSE_SOURCE"));
        QVERIFY(devices.first().first.contains(QLatin1String("default"), Qt::CaseInsensitive));
        QCOMPARE(f.selectDevice(devices.first().second), 0);
        QVERIFY(f.selectDevice(QStringLiteral("no.such.source")) < 0);
        QVERIFY(f.selectDevice(QString()) < 0);
    }

    void relayCarriesAacStereo48kWithLiveVolumeAndMute()
    {
        ScopedWorkDirHolder work;
        EngineFixture f;
        QCOMPARE(f.setLogFile(), 0);
        QCOMPARE(f.setParameters("{\"che.audio.specify.codec\":\"HEAAC_2ch\"}"), 0);
        QCOMPARE(f.engine->joinChannel("", "room", nullptr, 1234), 0);
        QVERIFY(f.handler.waitFor(
            [](const Event& e) { return e.name == "onJoinChannelSuccess" && e.a == 1234; }, 3000));
        QVERIFY(f.handler.events("onJoinChannelSuccess").first().thread != QThread::currentThreadId());

        const QString name = uniqueName("levels");
        const QString url = streamUrl(name);
        QCOMPARE(f.engine->addPublishStreamUrl(url.toUtf8().constData(), false), 0);
        QVERIFY(f.handler.waitForRtmpState(url, kRtmpStateConnecting, 2000));
        QVERIFY(f.handler.waitForRtmpState(url, kRtmpStateRunning, 5000));
        // Same address twice while it runs: refused.
        QVERIFY(f.engine->addPublishStreamUrl(url.toUtf8().constData(), false) < 0);

        // Stream time: 0-3 s at 100, 3-6 s at 50, 6-9 s muted, then 100 again.
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(3000);
        QCOMPARE(f.engine->adjustRecordingSignalVolume(50), 0);
        QTest::qWait(3000);
        QCOMPARE(f.engine->muteLocalAudioStream(true), 0);
        QTest::qWait(3000);
        QCOMPARE(f.engine->muteLocalAudioStream(false), 0);
        QCOMPARE(f.engine->adjustRecordingSignalVolume(100), 0);
        QTest::qWait(3000);
        QVERIFY(f.engine->adjustRecordingSignalVolume(401) < 0);
        QVERIFY(f.engine->adjustRecordingSignalVolume(-1) < 0);

        // Periodic statistics with real counts, from the SDK's thread.
        const QList<Event> stats = f.handler.events("onRtcStats");
        QVERIFY(stats.size() >= 3);
        QVERIFY(stats.last().stats.txBytes > 100000);
        QVERIFY(stats.last().stats.txAudioBytes > 100000);
        QVERIFY(stats.last().stats.txAudioKBitRate > 60);
        QVERIFY(stats.last().thread != QThread::currentThreadId());
        QVERIFY(!f.handler.events("onLocalAudioStats").isEmpty());
        QCOMPARE(f.handler.events("onLocalAudioStats").last().a, 2);
        QCOMPARE(f.handler.events("onLocalAudioStats").last().b, 48000);
        int loudest = 0;
        for (const Event& e : f.handler.events("onAudioVolumeIndication"))
            loudest = qMax(loudest, e.b);
        QVERIFY2(loudest > 50, qPrintable(QString::number(loudest)));

        QCOMPARE(f.engine->removePublishStreamUrl(url.toUtf8().constData()), 0);
        QVERIFY(f.handler.waitForRtmpState(url, kRtmpStateIdle, 2000));
        QVERIFY(f.engine->removePublishStreamUrl(url.toUtf8().constData()) < 0);
        QCOMPARE(f.engine->leaveChannel(), 0);
        QVERIFY(f.handler.waitFor([](const Event& e) { return e.name == "onLeaveChannel"; }, 3000));
        QVERIFY(f.handler.events("onLeaveChannel").first().stats.txBytes > 100000);
        f.release();

        // The SDK's own log.
        const QString log = TestEnv::readText(work.logPath());
        QVERIFY2(log.contains(QLatin1String("HE-AAC is not available")), qPrintable(log));
        QCOMPARE(log.count(QLatin1String("HE-AAC")), 1);
        QVERIFY(log.contains(QLatin1String("joined channel room")));

        // What the server recorded.
        const QString recording = recordingOf(name);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(recording).size() > 100000, 5000);
        QCOMPARE(
            probe(recording, QStringLiteral("stream=codec_type,codec_name,profile,sample_rate,channels")),
            QStringLiteral("codec_name=aac\nprofile=LC\ncodec_type=audio\nsample_rate=48000\nchannels=2\n"));
        const QByteArray pcm = decodeToPcm(recording);
        const double seconds = pcm.size() / (48000.0 * 4);
        QVERIFY2(seconds > 11.0, qPrintable(QString::number(seconds)));
        // Windows inside each phase, clear of the switching moments.
        const double full = levelDb(pcm, 0.8, 2.6);
        const double half = levelDb(pcm, 3.8, 5.6);
        const double muted = levelDb(pcm, 6.8, 8.6);
        const double again = levelDb(pcm, 9.8, 11.0);
        const QString levels =
            QStringLiteral("full %1 half %2 muted %3 again %4").arg(full).arg(half).arg(muted).arg(again);
        qInfo("%s", qPrintable(levels));
        QVERIFY2(full > -30, qPrintable(levels));
        QVERIFY2(std::fabs((full - half) - 6.0) < 1.5, qPrintable(levels));
        QVERIFY2(muted < -80, qPrintable(levels));
        QVERIFY2(std::fabs(again - full) < 1.5, qPrintable(levels));
    }

    void refusedConnectionIsRetriedOnTheBackoffSchedule()
    {
        // The schedule runs on the monotonic clock, which the test moves (read on the SDK thread).
        std::atomic<qint64> nowMs{1000000};
        VClock::setMonotonicClock([&nowMs] { return nowMs.load(); });
        EngineFixture f;
        QCOMPARE(f.engine->joinChannel("", "room", nullptr, 7), 0);
        quint16 freePort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            freePort = probe.serverPort();
        }
        const QString url = QStringLiteral("rtmp://127.0.0.1:%1/live/refused").arg(freePort);
        QCOMPARE(f.engine->addPublishStreamUrl(url.toUtf8().constData(), false), 0);
        auto reconnects = [&f] { return f.handler.events("onRtmpStreamingReconnecting"); };
        const QList<int> delaysMs = {1000, 2000, 4000, 8000, 10000, 10000};
        for (int attempt = 1; attempt <= delaysMs.size(); ++attempt) {
            QVERIFY2(f.handler.waitFor([&](const Event&) { return reconnects().size() == attempt; }, 8000),
                     qPrintable(QString::number(attempt)));
            QCOMPARE(reconnects().last().a, attempt);
            QCOMPARE(reconnects().last().b, delaysMs.at(attempt - 1));
            // Nothing happens before the time is up, however long we wait for real.
            nowMs += delaysMs.at(attempt - 1) - 1;
            QTest::qWait(500);
            QCOMPARE(reconnects().size(), attempt);
            nowMs += 1;
        }
        // Each failure says why first; the first one also answers the publish.
        const QList<Event> states = f.handler.events("onRtmpStreamingStateChanged");
        QCOMPARE(states.first().a, static_cast<int>(kRtmpStateConnecting));
        QVERIFY(states.size() >= delaysMs.size() + 1);
        for (int i = 1; i <= delaysMs.size(); ++i) {
            QCOMPARE(states.at(i).a, static_cast<int>(kRtmpStateRecovering));
            QCOMPARE(states.at(i).b, static_cast<int>(kRtmpErrorConnectionFailed));
        }
        // A waiting address may be added again (it starts over at once), and removed.
        QCOMPARE(f.engine->addPublishStreamUrl(url.toUtf8().constData(), false), 0);
        QElapsedTimer stopping;
        stopping.start();
        QCOMPARE(f.engine->removePublishStreamUrl(url.toUtf8().constData()), 0);
        QCOMPARE(f.engine->leaveChannel(), 0);
        qInfo("stopping a relay while it connects took %lld ms", stopping.elapsed());
        const int seen = reconnects().size();
        nowMs += 60000;
        QTest::qWait(500);
        QCOMPARE(reconnects().size(), seen); // nothing after the end
        f.release();
        VClock::setMonotonicClock({});
    }

    void droppedConnectionReconnectsToTheSameAddress()
    {
        TestEnv::ScopedWorkDir work;
        EngineFixture f;
        QCOMPARE(f.setLogFile(), 0);
        CuttableProxy proxy(static_cast<quint16>(QUrl(TestEnv::peer("TAVIO_RTMP_URL_BASE")).port()));
        QVERIFY(proxy.port() != 0);
        QCOMPARE(f.engine->joinChannel("", "room", nullptr, 7), 0);
        const QString url =
            QStringLiteral("rtmp://127.0.0.1:%1/live/%2").arg(proxy.port()).arg(uniqueName("dropped"));
        QCOMPARE(f.engine->addPublishStreamUrl(url.toUtf8().constData(), false), 0);
        QVERIFY(f.handler.waitForRtmpState(url, kRtmpStateRunning, 8000));
        proxy.cut(false);
        int code = -1;
        QVERIFY(f.handler.waitForRtmpState(url, kRtmpStateRecovering, 8000, &code));
        QCOMPARE(code, static_cast<int>(kRtmpErrorConnectionLost));
        // Back after the first step of the backoff, same address, capture untouched.
        QVERIFY(f.handler.waitFor(
            [&](const Event&) {
                return f.handler.events("onRtmpStreamingStateChanged").last().a == kRtmpStateRunning;
            },
            6000));
        QCOMPARE(f.handler.events("onRtmpStreamingReconnecting").size(), 1);
        QCOMPARE(f.handler.events("onJoinChannelSuccess").size(), 1);
        QVERIFY(f.handler.events("onLocalAudioStateChanged").last().a == kLocalAudioRecording);

        // A server that stops reading sends no error: its silence is noticed.
        QTest::qWait(1500);
        proxy.freeze();
        QVERIFY(f.handler.waitFor(
            [&](const Event& e) {
                return e.name == "onRtmpStreamingStateChanged" && e.a == kRtmpStateRecovering &&
                       e.b == kRtmpErrorNoAcknowledgement;
            },
            15000));
        QVERIFY(f.handler.waitFor(
            [&](const Event&) {
                return f.handler.events("onRtmpStreamingStateChanged").last().a == kRtmpStateRunning;
            },
            6000));
        QCOMPARE(f.engine->leaveChannel(), 0);
        f.release();
        const QString log = TestEnv::readText(work.path() + QStringLiteral("/sdk.log"));
        QVERIFY2(log.contains(QLatin1String("running again after 1 attempts")), qPrintable(log));
        QCOMPARE(log.count(QLatin1String("to reach the server again")), 2);
        QVERIFY(log.contains(QLatin1String("has acknowledged nothing")));
    }

    void badAddressesAndParameterTextsAreRefused()
    {
        TestEnv::ScopedWorkDir work;
        EngineFixture f;
        QCOMPARE(f.setLogFile(), 0);
        const QByteArray valid = streamUrl(QStringLiteral("never")).toUtf8();
        // Not in a channel yet.
        QCOMPARE(f.engine->addPublishStreamUrl(valid.constData(), false), static_cast<int>(kErrNotReady));
        QCOMPARE(f.engine->joinChannel("", "room", nullptr, 7), 0);
        QVERIFY(f.engine->joinChannel("", "room", nullptr, 7) < 0); // already in
        for (const char* bad : {"", "http://127.0.0.1/live/x", "rtmp://127.0.0.1/live", "rtmp:///live/x",
                                "rtmp://127.0.0.1/live/a b", "rtmp://127.0.0.1/live/x\" ! fakesink"}) {
            QVERIFY2(f.engine->addPublishStreamUrl(bad, false) < 0, bad);
        }
        QVERIFY(f.engine->addPublishStreamUrl(nullptr, false) < 0);
        QVERIFY(f.engine->addPublishStreamUrl(valid.constData(), true) < 0); // no transcoding here
        QVERIFY(f.engine->removePublishStreamUrl(valid.constData()) < 0);    // never published

        QVERIFY(f.setParameters("che.audio.enable.ns=false") < 0);
        QVERIFY(f.setParameters("[1,2]") < 0);
        QVERIFY(f.setParameters("") < 0);
        QVERIFY(f.setParameters("{\"che.audio.enable.ns\":\"no\"}") < 0);
        QVERIFY(f.setParameters("{\"che.unknown\":1}") < 0);
        QCOMPARE(f.setParameters("{\"che.audio.enable.ns\":false}"), 0);
        QCOMPARE(f.engine->leaveChannel(), 0);
        f.release();
        const QString log = TestEnv::readText(work.path() + QStringLiteral("/sdk.log"));
        QVERIFY(log.contains(QLatin1String("not a JSON object: che.audio.enable.ns=false")));
        QVERIFY(log.contains(QLatin1String("not an RTMP address")));
    }

    void noCaptureDeviceAtAll()
    {
        const QByteArray saved = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/tavio/native");
        {
            EngineFixture f;
            QCOMPARE(f.initResult, 0);
            QVERIFY(f.devices().isEmpty());
            const int pipelines = GstPipeline::openCount();
            // The test stays on without a device; nothing is opened.
            QVERIFY(f.deviceTest(true) < 0);
            QCOMPARE(GstPipeline::openCount(), pipelines);
            QCOMPARE(f.deviceTest(false), 0);
            QCOMPARE(f.engine->joinChannel("", "room", nullptr, 7), static_cast<int>(kErrNoDevice));
            QVERIFY(f.handler.waitFor(
                [](const Event& e) {
                    return e.name == "onLocalAudioStateChanged" && e.a == kLocalAudioFailed &&
                           e.b == kLocalAudioErrorNoDevice;
                },
                3000));
            QVERIFY(f.handler.events("onJoinChannelSuccess").isEmpty());
        }
        qputenv("PULSE_SERVER", saved);
    }

    void vanishingDeviceIsReplacedBySilenceUntilItIsBack()
    {
        const QString sink = QStringLiteral("tavio_vanish_%1").arg(QCoreApplication::applicationPid());
        const QString module = loadNullSink(sink);
        QVERIFY(!module.isEmpty());
        EngineFixture f;
        QTRY_VERIFY_WITH_TIMEOUT(f.selectDevice(sink + QStringLiteral(".monitor")) == 0, 5000);
        QCOMPARE(f.engine->joinChannel("", "room", nullptr, 7), 0);
        const QString url = streamUrl(uniqueName("vanish"));
        QCOMPARE(f.engine->addPublishStreamUrl(url.toUtf8().constData(), false), 0);
        QTest::qWait(500);
        QVERIFY(TestEnv::pactl({QStringLiteral("unload-module"), module}));
        QVERIFY(f.handler.waitFor(
            [](const Event& e) {
                return e.name == "onLocalAudioStateChanged" && e.a == kLocalAudioFailed &&
                       e.b == kLocalAudioErrorRecordingFailure;
            },
            8000));
        QVERIFY(!f.handler.events("onError").isEmpty());
        QVERIFY(f.handler.waitFor(
            [&](const Event& e) {
                return e.name == "onAudioDeviceStateChanged" && e.text == sink + QStringLiteral(".monitor") &&
                       e.a == kAudioRecordingDevice && e.b == kDeviceStateUnplugged;
            },
            5000));
        // The relay goes on (with silence) and nothing else is captured meanwhile.
        QTest::qWait(1500);
        for (const Event& e : f.handler.events("onRtmpStreamingStateChanged"))
            QVERIFY(e.a != kRtmpStateRecovering);
        const int recordingStates = [&f] {
            int n = 0;
            for (const Event& e : f.handler.events("onLocalAudioStateChanged"))
                n += e.a == kLocalAudioRecording ? 1 : 0;
            return n;
        }();
        // The device comes back under the same name: the capture resumes by itself.
        const QString again = loadNullSink(sink);
        QVERIFY(!again.isEmpty());
        QVERIFY(f.handler.waitFor(
            [&](const Event&) {
                int n = 0;
                for (const Event& e : f.handler.events("onLocalAudioStateChanged"))
                    n += e.a == kLocalAudioRecording ? 1 : 0;
                return n > recordingStates;
            },
            8000));
        QVERIFY(!f.handler.events("onAudioDeviceStateChanged").isEmpty());
        QVERIFY(f.handler.events("onAudioDeviceStateChanged").last().b == kDeviceStateActive);
        QCOMPARE(f.engine->removePublishStreamUrl(url.toUtf8().constData()), 0);
        QCOMPARE(f.engine->leaveChannel(), 0);
        TestEnv::pactl({QStringLiteral("unload-module"), again});
    }

    void switchingDeviceWhileLiveKeepsTheRelay()
    {
        const QString sink = QStringLiteral("tavio_switch_%1").arg(QCoreApplication::applicationPid());
        const QString module = loadNullSink(sink);
        QVERIFY(!module.isEmpty());
        const QString name = uniqueName("switch");
        {
            EngineFixture f;
            QCOMPARE(f.engine->joinChannel("", "room", nullptr, 7), 0);
            const QString url = streamUrl(name);
            QCOMPARE(f.engine->addPublishStreamUrl(url.toUtf8().constData(), false), 0);
            QVERIFY(f.handler.waitForRtmpState(url, kRtmpStateRunning, 8000));
            QTRY_VERIFY_WITH_TIMEOUT(f.selectDevice(sink + QStringLiteral(".monitor")) == 0, 5000);
            QTest::qWait(2500);
            QCOMPARE(f.selectDevice(TestEnv::peer("TAVIO_PULSE_SOURCE")), 0);
            QTest::qWait(2500);
            QCOMPARE(f.handler.events("onJoinChannelSuccess").size(), 1);
            QVERIFY(f.handler.events("onLeaveChannel").isEmpty());
            for (const Event& e : f.handler.events("onRtmpStreamingStateChanged"))
                QVERIFY(e.a != kRtmpStateFailure);
            QCOMPARE(f.engine->removePublishStreamUrl(url.toUtf8().constData()), 0);
            QCOMPARE(f.engine->leaveChannel(), 0);
        }
        TestEnv::pactl({QStringLiteral("unload-module"), module});
        // The stream went on through both switches.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(recordingOf(name)).size() > 50000, 5000);
        const QByteArray pcm = decodeToPcm(recordingOf(name));
        QVERIFY2(pcm.size() / (48000.0 * 4) > 4.5, qPrintable(QString::number(pcm.size())));
    }

    void debugRecordingWritesWavBesideTheSdkLog()
    {
        TestEnv::ScopedWorkDir work;
        QVERIFY(QDir().mkpath(QStringLiteral("logs")));
        {
            EngineFixture f;
            QCOMPARE(f.engine->setLogFile("logs/sdk.log"), 0);
            // A name with path characters must not leave the folder.
            QCOMPARE(f.setParameters("{\"che.audio.start_debug_recording\":\"../NoName\"}"), 0);
            QCOMPARE(f.engine->joinChannel("", "room", nullptr, 7), 0);
            QVERIFY(
                f.handler.waitFor([](const Event& e) { return e.name == "onFirstLocalAudioFrame"; }, 8000));
            QTest::qWait(1500);
            QCOMPARE(f.engine->leaveChannel(), 0);
            QCOMPARE(f.setParameters("{\"che.audio.stop_debug_recording\":true}"), 0);
        }
        QCOMPARE(QDir(work.path()).entryList({QStringLiteral("*.wav")}, QDir::Files).size(), 0);
        const QStringList wavs =
            QDir(work.path() + QStringLiteral("/logs")).entryList({QStringLiteral("*.wav")}, QDir::Files);
        QCOMPARE(wavs.size(), 1);
        QVERIFY2(wavs.first().startsWith(QLatin1String("___NoName-")), qPrintable(wavs.first()));
        QFile wav(work.path() + QStringLiteral("/logs/") + wavs.first());
        QVERIFY(wav.open(QIODevice::ReadOnly));
        const QByteArray bytes = wav.readAll();
        QVERIFY(bytes.size() > 44 + 48000 * 4);
        QCOMPARE(bytes.left(4), QByteArray("RIFF"));
        QCOMPARE(bytes.mid(8, 4), QByteArray("WAVE"));
        // Header completed on stop: the RIFF size covers the whole file.
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 4), static_cast<quint32>(bytes.size() - 8));
        QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 22), static_cast<quint16>(2));
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 24), static_cast<quint32>(48000));
    }

    void releaseWhileStreamingStopsEveryCallback()
    {
        auto* handler = new RecordingHandler;
        IRtcEngine* engine = createAgoraRtcEngine();
        RtcEngineContext context;
        context.eventHandler = handler;
        context.appId = "5e0c7b21d94a4f6e8a13c2b7f0d96e48";
        QCOMPARE(engine->initialize(context), 0);
        QCOMPARE(engine->joinChannel("", "room", nullptr, 7), 0);
        const QString url = streamUrl(uniqueName("release"));
        QCOMPARE(engine->addPublishStreamUrl(url.toUtf8().constData(), false), 0);
        QVERIFY(handler->waitForRtmpState(url, kRtmpStateRunning, 8000));
        // An asynchronous release is asked for: it must still be complete on return.
        IRtcEngine::release(false);
        QVERIFY(handler->count() > 0);
        delete handler; // a late callback would now touch freed memory (caught under ASan)
        QTest::qWait(2500);
    }

    void wrapperDrivesTheRealBackend()
    {
        TestEnv::ScopedWorkDir work;
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QStringLiteral("true"));
        const QString name = uniqueName("wrapper");
        {
            AgoraRtcEngine engine;
            const QVariantMap devices = engine.recordingDevices();
            QVERIFY(devices.value(QStringLiteral("length")).toInt() >= 1);
            const QStringList ids = devices.value(QStringLiteral("guid")).toStringList();
            QCOMPARE(ids.first(), TestEnv::peer("TAVIO_PULSE_SOURCE"));
            QCOMPARE(engine.setRecordingDevice(ids.first()), 0);
            QCOMPARE(engine.adjustRecordingSignalVolume(100), 0);
            // The panel's negative account id and an empty token.
            QCOMPARE(engine.joinChannel(QString(), QStringLiteral("8001"), QStringLiteral("-10001")), 0);
            QCOMPARE(engine.addPublishStreamUrl(streamUrl(name)), 0);
            QTest::qWait(2500);
            QCOMPARE(engine.muteLocalAudioStream(true), 0);
            QCOMPARE(engine.removePublishStreamUrl(streamUrl(name)), 0);
            QCOMPARE(engine.leaveChannel(), 0);
        }
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QString());

        const QString logPath = AgoraRtcEngine::sdkLogFilePath(QDate::currentDate());
        const QString log = TestEnv::readText(logPath);
        QVERIFY2(log.contains(QLatin1String("setParameters {\"che.audio.enable.agc\":false}")),
                 qPrintable(log));
        QVERIFY(log.contains(QLatin1String("HE-AAC is not available")));
        QVERIFY(log.contains(QLatin1String("joined channel 8001 as 4294957295")));
        QVERIFY(!log.contains(QLatin1String("refused")));
        const QStringList wavs = QDir(QFileInfo(logPath).path()).entryList({QStringLiteral("NoName-*.wav")});
        QCOMPARE(wavs.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(recordingOf(name)).size() > 20000, 5000);
    }

    // The device test hears the known tone after volume and mute, about twenty times a second,
    // and opens nothing but the capture: no audio leaves, nothing is recorded.
    void deviceTestLevelFollowsVolumeAndMute()
    {
        const int pipelines = GstPipeline::openCount();
        EngineFixture f;
        QCOMPARE(f.selectDevice(TestEnv::peer("TAVIO_PULSE_SOURCE")), 0);
        QCOMPARE(f.deviceTest(true), 0);
        QVERIFY(f.waitForLevel(6000));
        QCOMPARE(GstPipeline::openCount(), pipelines + 1);

        const QList<int> full = f.levelsOver(1000);
        QCOMPARE(f.engine->adjustRecordingSignalVolume(50), 0);
        QTest::qWait(200);
        const QList<int> half = f.levelsOver(1000);
        QCOMPARE(f.engine->muteLocalAudioStream(true), 0);
        QTest::qWait(200);
        const QList<int> muted = f.levelsOver(600);
        QCOMPARE(f.engine->muteLocalAudioStream(false), 0);
        QCOMPARE(f.engine->adjustRecordingSignalVolume(0), 0);
        QTest::qWait(200);
        const QList<int> zero = f.levelsOver(600);
        QCOMPARE(f.engine->adjustRecordingSignalVolume(100), 0);
        QTest::qWait(200);
        const QList<int> again = f.levelsOver(600);

        const double apartDb = 20.0 * std::log10(double(median(full)) / qMax(1, median(half)));
        const QString figures = QStringLiteral("100: %1 (%2 reports/s), 50: %3, %4 dB apart; muted max %5, "
                                               "volume 0 max %6, 100 again %7")
                                    .arg(median(full))
                                    .arg(full.size())
                                    .arg(median(half))
                                    .arg(apartDb, 0, 'f', 1)
                                    .arg(maximum(muted))
                                    .arg(maximum(zero))
                                    .arg(median(again));
        qInfo("%s", qPrintable(figures));
        QVERIFY2(median(full) > 60, qPrintable(figures));
        QVERIFY2(std::fabs(apartDb - 6.0) < 1.5, qPrintable(figures));
        QVERIFY2(maximum(muted) == 0 && maximum(zero) == 0, qPrintable(figures));
        QVERIFY2(std::abs(median(again) - median(full)) <= median(full) / 8, qPrintable(figures));
        QVERIFY2(full.size() >= 10 && full.size() <= 30, qPrintable(figures));
        // The tone does not read as silence between two captured buffers, not even when asked
        // for more often than buffers come. (The tone's player restarts every 30 s, and a loaded
        // machine may stall the capture: a few true zeros are allowed.)
        const auto fewZeros = [](const QList<int>& levels) { return levels.count(0) * 4 <= levels.size(); };
        QVERIFY2(fewZeros(full), qPrintable(figures));
        QCOMPARE(f.deviceTest(true, 10), 0);
        QTest::qWait(100);
        const QList<int> often = f.levelsOver(500);
        QVERIFY2(
            often.size() >= 25 && fewZeros(often),
            qPrintable(QStringLiteral("%1 reports, %2 of them 0").arg(often.size()).arg(often.count(0))));

        QCOMPARE(f.deviceTest(false), 0);
        QCOMPARE(GstPipeline::openCount(), pipelines);
        QVERIFY(f.levelsOver(300).size() <= 1); // one may have been on its way
        QVERIFY(f.handler.events("onRtmpStreamingStateChanged").isEmpty());
        QVERIFY(f.handler.events("onJoinChannelSuccess").isEmpty());
    }

    // Joining while the test runs takes its capture over: the same stream on the sound server,
    // no wait for the device. Leaving hands it back to the test with the mute lifted.
    void joiningTakesTheTestCaptureOver()
    {
        const int pipelines = GstPipeline::openCount();
        EngineFixture f;
        QCOMPARE(f.selectDevice(TestEnv::peer("TAVIO_PULSE_SOURCE")), 0);
        QCOMPARE(f.deviceTest(true), 0);
        QVERIFY(f.waitForLevel(6000));
        const QStringList streams = ourSourceOutputs();
        QCOMPARE(streams.size(), 1);

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(f.engine->joinChannel("", "room", nullptr, 9), 0);
        const qint64 joinMs = clock.restart();
        const QString url = streamUrl(uniqueName("takeover"));
        QCOMPARE(f.engine->addPublishStreamUrl(url.toUtf8().constData(), false), 0);
        QVERIFY(f.handler.waitForRtmpState(url, kRtmpStateRunning, 5000));
        qInfo("join %lld ms, publish to running %lld ms", joinMs, clock.elapsed());
        QCOMPARE(ourSourceOutputs(), streams);
        QCOMPARE(GstPipeline::openCount(), pipelines + 2); // capture and relay
        QVERIFY(f.handler.waitFor([](const Event& e) { return e.name == "onFirstLocalAudioFrame"; }, 2000));
        QVERIFY(median(f.levelsOver(500)) > 0);

        QCOMPARE(f.engine->muteLocalAudioStream(true), 0);
        QTest::qWait(200);
        QCOMPARE(maximum(f.levelsOver(400)), 0);
        QCOMPARE(f.engine->removePublishStreamUrl(url.toUtf8().constData()), 0);
        QCOMPARE(f.engine->leaveChannel(), 0);
        QCOMPARE(ourSourceOutputs(), streams);
        QCOMPARE(GstPipeline::openCount(), pipelines + 1);
        QTest::qWait(200);
        QVERIFY(median(f.levelsOver(500)) > 0);

        QCOMPARE(f.deviceTest(false), 0);
        QCOMPARE(GstPipeline::openCount(), pipelines);
        QTRY_VERIFY_WITH_TIMEOUT(ourSourceOutputs().isEmpty(), 3000);
    }

    // Twenty quick switches, then the tested device vanishes and comes back: one capture at a
    // time, none left behind.
    void deviceSwitchesAndLossDuringTheTestLeakNothing()
    {
        const QString sink = QStringLiteral("tavio_test_%1").arg(QCoreApplication::applicationPid());
        const QString monitor = sink + QStringLiteral(".monitor");
        QString module = loadNullSink(sink);
        QVERIFY(!module.isEmpty());
        const int pipelines = GstPipeline::openCount();
        {
            EngineFixture f;
            QTRY_VERIFY_WITH_TIMEOUT(f.selectDevice(monitor) == 0, 5000);
            QCOMPARE(f.deviceTest(true), 0);
            const QString tone = TestEnv::peer("TAVIO_PULSE_SOURCE");
            for (int i = 0; i < 20; ++i) {
                QCOMPARE(f.selectDevice(i % 2 ? tone : monitor), 0);
                QCOMPARE(GstPipeline::openCount(), pipelines + 1);
            }
            QVERIFY(f.waitForLevel(6000)); // the last one chosen plays the tone
            QTRY_COMPARE_WITH_TIMEOUT(ourSourceOutputs().size(), 1, 3000);

            const int switched = f.localAudioStates(kLocalAudioRecording);
            QCOMPARE(f.selectDevice(monitor), 0);
            QTRY_VERIFY_WITH_TIMEOUT(f.localAudioStates(kLocalAudioRecording) > switched, 3000);
            const int recording = f.localAudioStates(kLocalAudioRecording);
            QVERIFY(TestEnv::pactl({QStringLiteral("unload-module"), module}));
            QVERIFY(f.handler.waitFor(
                [](const Event& e) {
                    return e.name == "onLocalAudioStateChanged" && e.a == kLocalAudioFailed;
                },
                8000));
            QCOMPARE(GstPipeline::openCount(), pipelines);
            module = loadNullSink(sink);
            QVERIFY(!module.isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(f.localAudioStates(kLocalAudioRecording) > recording, 8000);
            QCOMPARE(GstPipeline::openCount(), pipelines + 1);
            QCOMPARE(f.deviceTest(false), 0);
            QCOMPARE(GstPipeline::openCount(), pipelines);
        }
        QCOMPARE(GstPipeline::openCount(), pipelines);
        TestEnv::pactl({QStringLiteral("unload-module"), module});
    }

    // The wrapper hands the test's level on as a queued signal.
    void wrapperForwardsTheTestLevel()
    {
        TestEnv::ScopedWorkDir work;
        AgoraRtcEngine engine;
        QCOMPARE(engine.setRecordingDevice(TestEnv::peer("TAVIO_PULSE_SOURCE")), 0);
        QSignalSpy levels(&engine, &AgoraRtcEngine::sigCaptureLevel);
        QCOMPARE(engine.startRecordingDeviceTest(50), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!levels.isEmpty() && levels.last().first().toInt() > 0, 6000);
        QCOMPARE(engine.stopRecordingDeviceTest(), 0);
        QVERIFY(engine.startRecordingDeviceTest(5) < 0); // faster than the SDK offers
    }

private:
    struct ScopedWorkDirHolder
    {
        TestEnv::ScopedWorkDir dir;
        QString logPath() const { return dir.path() + QStringLiteral("/sdk.log"); }
    };
};

QTEST_MAIN(tst_GstRtcEngine)
#include "tst_GstRtcEngine.moc"
