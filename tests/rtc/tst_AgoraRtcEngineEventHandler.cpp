// The SDK callbacks as log lines: outside texts bounded and capped, and the minute throttle of
// the statistics callbacks under an injected clock.
#include "base/VClock.h"
#include "config/VGlobalConfig.h"
#include "rtc/AgoraRtcEngineEventHandler.h"
#include "support/LogCapture.h"

#include <QtTest>

#include <cstring>
#include <memory>

using namespace agora::rtc;

class tst_AgoraRtcEngineEventHandler : public QObject
{
    Q_OBJECT

    QDateTime m_now;
    std::unique_ptr<LogCapture> m_log; // installed once the test runner has its own handler

    void setTime(int hour, int minute, int second)
    {
        m_now = QDateTime(QDate(2026, 12, 6), QTime(hour, minute, second));
    }

private Q_SLOTS:
    void initTestCase() { m_log = std::make_unique<LogCapture>(); }
    void cleanupTestCase() { m_log.reset(); }

    void init()
    {
        VGlobalConfig::instance()->setValue(QStringLiteral("vaDetailLog"), QString());
        setTime(10, 15, 30);
        VClock::setWallClock([this] { return m_now; });
        LogCapture::clear();
    }

    void cleanup() { VClock::setWallClock({}); }

    void statisticsAreThrottledPerCallbackAndMinute()
    {
        AgoraRtcEngineEventHandler handler(nullptr);
        RtcStats stats;
        handler.onRtcStats(stats);
        setTime(10, 15, 59);
        handler.onRtcStats(stats);
        QCOMPARE(LogCapture::linesStartingWith("onRtcStats").size(), 1);
        // Its own stamp: the other two still log once in this minute.
        handler.onNetworkQuality(1, 2, 3);
        handler.onNetworkQuality(1, 2, 3);
        handler.onLocalAudioStats(LocalAudioStats());
        handler.onLocalAudioStats(LocalAudioStats());
        handler.onAudioVolumeIndication(nullptr, 0, 1);
        handler.onAudioVolumeIndication(nullptr, 0, 2);
        QCOMPARE(LogCapture::linesStartingWith("onNetworkQuality").size(), 1);
        QVERIFY(LogCapture::contains("onAudioVolumeIndication \"\" 0 1")); // no speakers: an empty list
        QCOMPARE(LogCapture::linesStartingWith("onLocalAudioStats").size(), 1);
        QCOMPARE(LogCapture::linesStartingWith("onAudioVolumeIndication").size(), 1);

        setTime(10, 16, 0);
        handler.onRtcStats(stats);
        QCOMPARE(LogCapture::linesStartingWith("onRtcStats").size(), 2);
        // Same minute of another hour or day is a different stamp.
        setTime(11, 16, 0);
        handler.onRtcStats(stats);
        QCOMPARE(LogCapture::linesStartingWith("onRtcStats").size(), 3);
        // Leaving is never throttled.
        handler.onLeaveChannel(stats);
        handler.onLeaveChannel(stats);
        QCOMPARE(LogCapture::linesStartingWith("onLeaveChannel").size(), 2);
    }

    // The detail switch is the exact text "true", read once at construction.
    void detailLogSwitchIsExact()
    {
        for (const QString& value :
             {QStringLiteral("true"), QStringLiteral("TRUE"), QStringLiteral("1"), QString()}) {
            VGlobalConfig::instance()->setValue(QStringLiteral("vaDetailLog"), value);
            AgoraRtcEngineEventHandler handler(nullptr);
            VGlobalConfig::instance()->setValue(QStringLiteral("vaDetailLog"), QStringLiteral("true"));
            LogCapture::clear();
            for (int i = 0; i < 3; ++i)
                handler.onNetworkQuality(7, 1, 1);
            QCOMPARE(LogCapture::linesStartingWith("onNetworkQuality").size(), value == "true" ? 3 : 1);
        }
    }

    void textsAreLatin1AndNeverReadPastTheirBuffers()
    {
        AgoraRtcEngineEventHandler handler(nullptr);
        handler.onWarning(5, nullptr);
        handler.onError(-3, "caf\xe9");
        handler.onJoinChannelSuccess("room", 4294967295u, 12);
        handler.onApiCallExecuted(0, "api", nullptr);
        handler.onUserMuteAudio(3, true);
        handler.onRtmpStreamingStateChanged("rtmp://h/a/b", 4, 2);
        // A stream message is a byte buffer: stop at its length or at its first zero.
        const char message[] = {'a', 'b', 'c', 'd', 'e', 'f'};
        handler.onStreamMessage(1, 2, message, 3);
        handler.onStreamMessage(1, 2, "ab\0cd", 5);
        handler.onStreamMessage(1, 2, nullptr, 0);
        // An account that fills its whole array without a terminating zero.
        UserInfo info;
        info.uid = 42;
        std::memset(info.userAccount, 'x', sizeof(info.userAccount));
        handler.onUserInfoUpdated(41, info);
        handler.onConnectionLost();
        AudioVolumeInfo speakers[2] = {{1, 20, 0}, {2, 30, 1}};
        handler.onAudioVolumeIndication(speakers, 2, 50);

        QCOMPARE(
            LogCapture::lines(),
            QStringList(
                {"onWarning 5 \"\"", QStringLiteral("onError -3 \"caf\u00e9\""),
                 "onJoinChannelSuccess \"room\" 4294967295 12", "onApiCallExecuted 0 \"api\" \"\"",
                 "onUserMuteAudio 3 true", "onRtmpStreamingStateChanged \"rtmp://h/a/b\" 4 2",
                 "onStreamMessage 1 2 \"abc\" 3", "onStreamMessage 1 2 \"ab\" 5",
                 "onStreamMessage 1 2 \"\" 0",
                 QStringLiteral("onUserInfoUpdated 41 42 \"%1\"").arg(QString(kMaxUserAccountLength, 'x')),
                 "onConnectionLost", "onAudioVolumeIndication \"1,20,0|2,30,1\" 2 50"}));
    }

    // Texts handed in by the SDK are cut for the log at 2 KB, with their length; a buffer one byte
    // shorter than the cap stays whole.
    void longTextsAreCapped_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("cut");
        QTest::newRow("below the cap") << 2047 << false;
        QTest::newRow("at the cap") << 2048 << false;
        QTest::newRow("above the cap") << 2049 << true;
        QTest::newRow("a megabyte") << (1 << 20) << true;
    }

    void longTextsAreCapped()
    {
        QFETCH(int, length);
        QFETCH(bool, cut);
        const std::string text(size_t(length), 'e');
        AgoraRtcEngineEventHandler handler(nullptr);
        handler.onError(-1, text.c_str());
        handler.onStreamMessage(1, 2, text.data(), size_t(length));
        const QStringList lines = LogCapture::lines();
        QCOMPARE(lines.size(), 2);
        for (const QString& line : lines) {
            QCOMPARE(line.contains(QStringLiteral("…(%1 bytes)").arg(length)), cut);
            QVERIFY(line.size() < 2048 + 64);
        }
    }
};

QTEST_GUILESS_MAIN(tst_AgoraRtcEngineEventHandler)
#include "tst_AgoraRtcEngineEventHandler.moc"
