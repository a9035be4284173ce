#include "workflow/PushMonitor.h"

#include "base/VClock.h"
#include "rtc/AgoraRtcEngine.h"
#include "rtc/sdk/RtcTypes.h"

#include <QTimer>
#include <QtDebug>

namespace {
constexpr int statusTickMs = 1000;
}

PushMonitor::PushMonitor(QObject* parent) : QObject(parent)
{
    m_tick = new QTimer(this);
    m_tick->setInterval(statusTickMs);
    connect(m_tick, &QTimer::timeout, this, [this] {
        refresh();
        if (neverConnected())
            emit sigNeverConnected();
    });
}

void PushMonitor::follow(AgoraRtcEngine* engine)
{
    connect(engine, &AgoraRtcEngine::sigRelayStateChanged, this, &PushMonitor::onRelayStateChanged);
    connect(engine, &AgoraRtcEngine::sigRelayReconnecting, this, &PushMonitor::onRelayReconnecting);
    connect(engine, &AgoraRtcEngine::sigCaptureStateChanged, this, &PushMonitor::onCaptureStateChanged);
    connect(engine, &AgoraRtcEngine::sigCaptureLevel, this, &PushMonitor::onCaptureLevel);
    connect(engine, &AgoraRtcEngine::sigAcknowledgedTraffic, this, [this](quint64, int kbps) {
        m_health.setRateKbps(kbps);
        refresh();
    });
}

void PushMonitor::start(const QString& url)
{
    m_pushing = true;
    m_url = url;
    m_health.start(VClock::monotonicMs());
    m_tick->start();
    emit sigPushConnected(false);
    refresh();
}

void PushMonitor::stop()
{
    m_pushing = false;
    m_url.clear();
    m_tick->stop();
    refresh();
}

void PushMonitor::setHeard(bool heard)
{
    m_health.setHeard(heard, VClock::monotonicMs());
    refresh();
}

bool PushMonitor::neverConnected() const
{
    return m_pushing && m_health.neverConnected(VClock::monotonicMs());
}

bool PushMonitor::isSilent() const
{
    return m_pushing && m_health.isSilent(VClock::monotonicMs());
}

QString PushMonitor::statusLine() const
{
    return m_pushing ? m_health.statusLine(VClock::monotonicMs()) : QString();
}

void PushMonitor::onRelayStateChanged(const QString& url, int state, int errorCode)
{
    if (!m_pushing || url != m_url)
        return;
    switch (state) {
    case agora::rtc::kRtmpStateRunning: {
        const bool first = !m_health.hasConnected();
        qInfo() << "MuPushWorkflow::relay running" << (first ? "first" : "again");
        m_health.relayRunning(VClock::monotonicMs());
        if (first)
            emit sigPushConnected(true);
        break;
    }
    case agora::rtc::kRtmpStateRecovering:
        // The reconnect announcement follows at once; the line changes with it.
        qInfo() << "MuPushWorkflow::relay interrupted" << errorCode;
        m_health.relayInterrupted();
        return;
    case agora::rtc::kRtmpStateFailure:
        qInfo() << "MuPushWorkflow::relay failed" << errorCode;
        m_health.relayFailed();
        // Told outside the engine's event: the workflow asks the service next.
        if (neverConnected())
            QTimer::singleShot(0, this, [this] {
                if (neverConnected())
                    emit sigNeverConnected();
            });
        break;
    default:
        break;
    }
    refresh();
}

void PushMonitor::onRelayReconnecting(const QString& url, int attempt, int delayMs)
{
    if (!m_pushing || url != m_url)
        return;
    m_health.reconnecting(attempt, VClock::monotonicMs() + delayMs);
    refresh();
}

void PushMonitor::onCaptureStateChanged(int state, int error)
{
    if (state == agora::rtc::kLocalAudioFailed) {
        qInfo() << "MuPushWorkflow::recording device lost" << error;
        m_health.setCaptureLost(true, VClock::monotonicMs());
    } else if (state == agora::rtc::kLocalAudioRecording) {
        if (m_health.isCaptureLost())
            qInfo() << "MuPushWorkflow::recording device back";
        m_health.setCaptureLost(false, VClock::monotonicMs());
    }
    refresh();
}

void PushMonitor::onCaptureLevel(int level)
{
    // Twenty levels a second while the meter runs: the line changes only when sound ends a
    // warning; the one-second tick brings a warning on.
    if (m_pushing && m_health.level(level, VClock::monotonicMs()))
        refresh();
}

void PushMonitor::refresh()
{
    const QString text = statusLine();
    if (text == m_statusLine)
        return;
    m_statusLine = text;
    emit sigStatusLine(text);
}
