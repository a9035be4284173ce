// The RTMP server killed under a real push and started again on the same port: the recording goes on.
#include "support/ManualClock.h"
#include "support/PushServiceDouble.h"
#include "support/SessionDriver.h"
#include "support/ScriptedRtcBackend.h"
#include "support/TestEnv.h"

#include "rtc/AgoraRtcEngine.h"
#include "workflow/MuPushWorkflow.h"

#include <QtNetwork>
#include <QtTest>

#include <csignal>

using agora::rtc::ScriptedRtcBackend;
using namespace PushServiceDouble;

namespace {

const QString kPushing = QStringLiteral("已推流"), kInterrupted = QStringLiteral("推流中断");

bool portAccepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

class tst_PushFaults : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ScriptedRtcBackend::setEnabled(false);
        if (TestEnv::peer("PULSE_SERVER").isEmpty() || TestEnv::peer("TAVIO_PEERS_DIR").isEmpty()) {
            QVERIFY2(!TestEnv::peersRequired(),
                     "PulseAudio and the RTMP server are required but not running");
            QSKIP("no PulseAudio / RTMP peers (run through scripts/test.sh)");
        }
        m_dir.reset(new TestEnv::ScopedWorkDir);
    }

    void cleanup()
    {
        MuSettings::destroyInstance();
        m_dir.reset();
        // Whatever happened, the shared server is up again for the tests after this one.
        if (!portAccepts(rtmpPort()))
            startNginx();
    }

    // The RTMP server dies while pushing and comes back 4 s later on the same port (after two
    // failed attempts, so the third finds it).
    void serverKilledAndRestarted_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGKILL") << int(SIGKILL);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void serverKilledAndRestarted()
    {
        QFETCH(int, signal);
        const QString name = QString("fault_%1_%2").arg(signal).arg(QDateTime::currentMSecsSinceEpoch());
        Service service((TestEnv::peer("TAVIO_RTMP_URL_BASE") + '/' + name).toUtf8());
        service.setUp(true);
        MuPushWorkflow workflow; // pushed as the panel would, from state 1 to 3
        QSignalSpy lines(&workflow, &MuPushWorkflow::sigStatusLine),
            messages(&workflow, &MuPushWorkflow::sigMessage);
        saveLogin();
        workflow.startSession();
        workflow.pushButton();
        workflow.pushButton();
        QCOMPARE(workflow.pushState(), int(PanelStatePushing));
        QTRY_VERIFY_WITH_TIMEOUT(workflow.statusLine().contains(kPushing), 10000);
        QTest::qWait(2000);

        QElapsedTimer sinceKill;
        sinceKill.start();
        QVERIFY(::kill(static_cast<pid_t>(nginxPid()), signal) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(workflow.statusLine().contains(kInterrupted), 10000);
        const qint64 noticedMs = sinceKill.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(!portAccepts(rtmpPort()), 5000);
        // The recording before the stop is complete; set it aside so the new one is seen.
        const QString recording = QDir(TestEnv::peer("TAVIO_RTMP_RECORD_DIR")).filePath(name + ".flv");
        QFile::remove(recording + ".before");
        QFile::rename(recording, recording + ".before");

        QTest::qWait(static_cast<int>(qMax<qint64>(0, 4000 - sinceKill.elapsed())));
        QVERIFY(startNginx());
        QElapsedTimer sinceBack;
        sinceBack.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(recording).size() > 0, 20000); // the audio itself: ffprobe below
        const qint64 recordingMs = sinceBack.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(workflow.statusLine().contains(kPushing), 5000);
        QStringList seen;
        for (const QList<QVariant>& emitted : lines)
            seen << emitted.at(0).toString();
        qInfo("kill %d: interruption shown after %lld ms; server back -> recording after %lld ms; lines: %s",
              signal, noticedMs, recordingMs, qPrintable(seen.join(" | ")));
        QVERIFY(seen.filter(QStringLiteral("（第 1 次）")).size() >= 1);
        QVERIFY(messages.isEmpty()); // no box
        QCOMPARE(workflow.pushState(), int(PanelStatePushing));
        QCOMPARE(service.count("changeLiveStatus"), 1); // the room still has the host live

        QTest::qWait(2000);
        workflow.pushButton(); // end the push
        QCOMPARE(workflow.pushState(), int(PanelStateStartPush));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(recording).size() > 20000, 5000);
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name,channels,sample_rate",
                                "-of", "default=nw=1", recording});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(probe.readAllStandardOutput()),
                 QStringLiteral("codec_name=aac\nsample_rate=48000\nchannels=2\n"));
    }

    // A source that hears nothing (a second null sink's monitor) while live: the host is told after
    // ten seconds of the one clock; sound clears it at once; muted, nothing is said.
    void silentSourceWarns()
    {
        const QString sink = QStringLiteral("tavio_silent_%1").arg(QCoreApplication::applicationPid());
        QString module;
        QVERIFY(TestEnv::pactl({"load-module", "module-null-sink", "sink_name=" + sink}, &module));
        const auto unload = qScopeGuard([module] { TestEnv::pactl({"unload-module", module}); });
        ManualClock clock;
        Service service((TestEnv::peer("TAVIO_RTMP_URL_BASE") + "/silent" + QUuid::createUuid().toString(QUuid::Id128)).toUtf8());
        service.setUp(true);
        MuPushWorkflow workflow;
        saveLogin();
        workflow.startSession();
        AgoraRtcEngine* engine = workflow.rtcEngine();
        QCOMPARE(engine->setRecordingDevice(sink + ".monitor"), 0);
        QCOMPARE(engine->startRecordingDeviceTest(50), 0); // the panel's meter: levels every 50 ms
        workflow.pushButton();
        workflow.pushButton();
        QTRY_VERIFY_WITH_TIMEOUT(workflow.statusLine().contains(kPushing), 10000);
        const QString silent = QStringLiteral("没有检测到声音，请检查录音设备和音量");
        const auto after = [&](qint64 ms) { // the one clock moves while real levels keep coming
            for (qint64 done = 0; done < ms; done += 500) {
                clock.advance(500);
                QTest::qWait(60);
            }
            SessionDriver::fireTimers(&workflow, 1000);
            return workflow.statusLine();
        };
        QVERIFY(after(9000).contains(kPushing));
        QCOMPARE(after(1500), silent);
        QElapsedTimer sound;
        sound.start();
        QCOMPARE(engine->setRecordingDevice(TestEnv::peer("TAVIO_PULSE_SOURCE")), 0); // the tone
        QTRY_VERIFY_WITH_TIMEOUT(workflow.statusLine().contains(kPushing), 5000);
        qInfo("silence warning cleared %lld ms after the tone", sound.elapsed());
        workflow.muteButton();
        QCOMPARE(engine->setRecordingDevice(sink + ".monitor"), 0);
        QVERIFY(after(12000).contains(kPushing));
        QVERIFY(workflow.isMuted());
        workflow.pushButton();
    }

private:
    quint16 rtmpPort() const { return quint16(QUrl(TestEnv::peer("TAVIO_RTMP_URL_BASE")).port()); }
    QString peersDir() const { return TestEnv::peer("TAVIO_PEERS_DIR"); }
    qint64 nginxPid() const { return TestEnv::readBytes(peersDir() + "/nginx.pid").trimmed().toLongLong(); }
    // The peers' nginx again, same configuration and port; its pid where the peers' script stops it.
    bool startNginx()
    {
        const QString prefix = peersDir() + QStringLiteral("/nginx");
        QProcess nginx;
        nginx.setProgram(QStringLiteral("/usr/sbin/nginx"));
        nginx.setArguments({"-p", prefix, "-c", prefix + "/nginx.conf", "-e", prefix + "/logs/error.log"});
        nginx.setWorkingDirectory(prefix);
        nginx.setStandardInputFile(QProcess::nullDevice()); // not ours: the runner waits for its holders
        nginx.setStandardOutputFile(QProcess::nullDevice());
        nginx.setStandardErrorFile(QProcess::nullDevice());
        qint64 pid = 0;
        if (!nginx.startDetached(&pid) ||
            !TestEnv::writeFile(peersDir() + "/nginx.pid", QByteArray::number(pid) + "\n"))
            return false;
        return QTest::qWaitFor([this] { return portAccepts(rtmpPort()); }, 10000);
    }

    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
};

QTEST_MAIN(tst_PushFaults)
#include "tst_PushFaults.moc"
