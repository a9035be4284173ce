#pragma once

#include "workflow/PushHealth.h"

#include <QObject>
#include <QString>

class AgoraRtcEngine;
class QTimer;

// Follows the engine's events while one push lasts (state 3) and says what is true of it: the
// status line, whether the push has reached its server, and when it never will. Time comes from
// VClock; the line's one-second tick is a real timer.
class PushMonitor : public QObject
{
    Q_OBJECT

public:
    explicit PushMonitor(QObject* parent = nullptr);

    // The engine of a new session; its events are followed while a push is on.
    void follow(AgoraRtcEngine* engine);
    // A push to url starts (state 3 entered), or ends.
    void start(const QString& url);
    void stop();
    // Whether the room should hear the host (not muted, not banned).
    void setHeard(bool heard);

    bool isPushing() const { return m_pushing; }
    bool neverConnected() const;
    // Live once, and now reconnecting or given up.
    bool isInterrupted() const { return m_pushing && m_health.isInterrupted(); }
    // Nothing heard for long enough while the room should hear the host.
    bool isSilent() const;
    // Empty while no push is on.
    QString statusLine() const;

signals:
    void sigStatusLine(const QString& text);
    void sigPushConnected(bool connected);
    // The push has not reached its server and will not: its relay gave up, or the time ran out.
    // Repeated every second while it stays so.
    void sigNeverConnected();

private:
    void onRelayStateChanged(const QString& url, int state, int errorCode);
    void onRelayReconnecting(const QString& url, int attempt, int delayMs);
    void onCaptureStateChanged(int state, int error);
    void onCaptureLevel(int level);
    void refresh();

    bool m_pushing = false;
    QString m_url;
    PushHealth m_health;
    QString m_statusLine;
    QTimer* m_tick = nullptr;
};
