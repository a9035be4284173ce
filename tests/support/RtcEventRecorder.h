#pragma once

#include "rtc/sdk/IRtcEngineEventHandler.h"

#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QThread>
#include <QtTest>

#include <functional>

// Records the SDK's callbacks (any thread) as the application would receive them: name, the
// text argument (address, channel, device), two numbers and the statistics.
class RtcEventRecorder : public agora::rtc::IRtcEngineEventHandler
{
public:
    struct Event
    {
        QString name;
        QString text;
        int a = 0;
        int b = 0;
        agora::rtc::RtcStats stats;
        Qt::HANDLE thread = nullptr;
        // "name a b": compact enough to compare lists of events.
        QString brief() const { return QStringLiteral("%1 %2 %3").arg(name).arg(a).arg(b); }
    };

    void onError(int err, const char* msg) override { add("onError", msg, err); }
    void onJoinChannelSuccess(const char* channel, unsigned int uid, int) override
    {
        add("onJoinChannelSuccess", channel, static_cast<int>(uid));
    }
    void onLeaveChannel(const agora::rtc::RtcStats& stats) override
    {
        add("onLeaveChannel", "", 0, 0, &stats);
    }
    void onRtcStats(const agora::rtc::RtcStats& stats) override { add("onRtcStats", "", 0, 0, &stats); }
    void onLocalAudioStats(const agora::rtc::LocalAudioStats& stats) override
    {
        add("onLocalAudioStats", "", stats.numChannels, stats.sentSampleRate);
    }
    void onAudioVolumeIndication(const agora::rtc::AudioVolumeInfo* speakers, unsigned int count,
                                 int total) override
    {
        add("onAudioVolumeIndication", "", static_cast<int>(count),
            count ? static_cast<int>(speakers[0].volume) : total);
    }
    void onNetworkQuality(unsigned int, int tx, int rx) override { add("onNetworkQuality", "", tx, rx); }
    void onLocalAudioStateChanged(int state, int error) override
    {
        add("onLocalAudioStateChanged", "", state, error);
    }
    void onFirstLocalAudioFrame(int elapsed) override { add("onFirstLocalAudioFrame", "", elapsed); }
    void onRtmpStreamingStateChanged(const char* url, int state, int code) override
    {
        add("onRtmpStreamingStateChanged", url, state, code);
    }
    void onRtmpStreamingReconnecting(const char* url, int attempt, int delayMs) override
    {
        add("onRtmpStreamingReconnecting", url, attempt, delayMs);
    }
    void onStreamPublished(const char* url, int error) override { add("onStreamPublished", url, error); }
    void onStreamUnpublished(const char* url) override { add("onStreamUnpublished", url); }
    void onAudioDeviceStateChanged(const char* id, int type, int state) override
    {
        add("onAudioDeviceStateChanged", id, type, state);
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
    QStringList briefs() const
    {
        QStringList lines;
        for (const Event& e : events())
            lines.append(e.brief());
        return lines;
    }
    int count(const QString& name, int a) const
    {
        int n = 0;
        for (const Event& e : events(name))
            n += e.a == a ? 1 : 0;
        return n;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_events.clear();
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
    bool waitFor(const QString& name, int a, int timeoutMs) const
    {
        return waitFor([&](const Event& e) { return e.name == name && e.a == a; }, timeoutMs);
    }
    // Until an event with this brief() about this address or device comes.
    bool waitFor(const QString& brief, const QString& text, int timeoutMs) const
    {
        return waitFor([&](const Event& e) { return e.brief() == brief && e.text == text; }, timeoutMs);
    }

private:
    void add(const char* name, const char* text, int a = 0, int b = 0,
             const agora::rtc::RtcStats* stats = nullptr)
    {
        Event e;
        e.name = QString::fromLatin1(name);
        e.text = QString::fromUtf8(text ? text : "");
        e.a = a;
        e.b = b;
        if (stats)
            e.stats = *stats;
        e.thread = QThread::currentThreadId();
        QMutexLocker lock(&m_mutex);
        m_events.append(e);
    }

    mutable QMutex m_mutex;
    QList<Event> m_events;
};
