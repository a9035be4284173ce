#pragma once

#include "rtc/sdk/IRtcEngineEventHandler.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QtTest>

#include <functional>

// Records the SDK's callbacks (any thread): name, text (address, channel, device), two numbers, stats.
class RtcEventRecorder : public agora::rtc::IRtcEngineEventHandler
{
    using Stats = agora::rtc::RtcStats;

public:
    struct Event
    {
        QString name, text;
        int a = 0, b = 0;
        Stats stats;
        Qt::HANDLE thread = QThread::currentThreadId();
        QString brief() const { return QStringLiteral("%1 %2 %3").arg(name).arg(a).arg(b); }
    };

    void onError(int err, const char* msg) override { add(__func__, msg, err); }
    void onJoinChannelSuccess(const char* c, unsigned int uid, int) override { add(__func__, c, int(uid)); }
    void onLeaveChannel(const Stats& stats) override { add(__func__, "", 0, 0, &stats); }
    void onRtcStats(const Stats& stats) override { add(__func__, "", 0, 0, &stats); }
    void onLocalAudioStateChanged(int state, int error) override { add(__func__, "", state, error); }
    void onRtmpStreamingStateChanged(const char* url, int state, int code) override
    {
        add(__func__, url, state, code);
    }
    void onRtmpStreamingReconnecting(const char* url, int attempt, int ms) override
    {
        add(__func__, url, attempt, ms);
    }
    void onStreamPublished(const char* url, int error) override { add(__func__, url, error); }
    void onStreamUnpublished(const char* url) override { add(__func__, url); }
    void onAudioDeviceStateChanged(const char* id, int type, int state) override
    {
        add(__func__, id, type, state);
    }

    QList<Event> events(const QString& name = QString()) const
    {
        QMutexLocker lock(&m_mutex);
        QList<Event> found;
        for (const Event& e : m_events)
            if (name.isEmpty() || e.name == name)
                found.append(e);
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
        const QList<Event> named = events(name);
        return int(std::count_if(named.begin(), named.end(), [a](const Event& e) { return e.a == a; }));
    }
    // Waits (processing Qt events) for an event with this name and number, or this brief() and text.
    bool waitFor(const QString& name, int a, int timeoutMs) const
    {
        return waitFor([&](const Event& e) { return e.name == name && e.a == a; }, timeoutMs);
    }
    bool waitFor(const QString& brief, const QString& text, int timeoutMs) const
    {
        return waitFor([&](const Event& e) { return e.brief() == brief && e.text == text; }, timeoutMs);
    }

private:
    bool waitFor(const std::function<bool(const Event&)>& match, int timeoutMs) const
    {
        QElapsedTimer clock;
        clock.start();
        for (; clock.elapsed() < timeoutMs; QTest::qWait(50)) {
            const QList<Event> all = events();
            if (std::any_of(all.begin(), all.end(), match))
                return true;
        }
        return false;
    }
    void add(const char* name, const char* text, int a = 0, int b = 0, const Stats* stats = nullptr)
    {
        Event e{QString::fromLatin1(name), QString::fromUtf8(text ? text : ""), a, b,
                stats ? *stats : Stats()};
        QMutexLocker lock(&m_mutex);
        m_events.append(e);
    }

    mutable QMutex m_mutex;
    QList<Event> m_events;
};
