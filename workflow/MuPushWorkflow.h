#pragma once

#include "workflow/PanelState.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVariantMap>

class AgoraRtcEngine;
class PushMonitor;

// The room and push workflow of one login, without any widget: entering the room, starting
// and stopping the push, mute and the microphone ban, the heartbeat and the service's codes,
// sixty seconds of network failure, and leaving. It owns the RTC engine of the session and
// makes every push-stream service call; it tells its window what to show through signals.
// It also follows the engine's events while pushing, so what it reports is what really
// happens (the relay reconnecting, the recording device gone). Time comes from VClock: the
// wall clock's second limits the heartbeat to one check per second; the monotonic clock
// measures the network failure run, the push time and the reconnect countdown.
class MuPushWorkflow : public QObject
{
    Q_OBJECT

public:
    explicit MuPushWorkflow(QObject* parent = nullptr);
    ~MuPushWorkflow() override;

    // A fresh session after a successful login: state 1, a new RTC engine.
    void startSession();
    // The push button: enter the room, start or stop the push by state; in state 0 the session
    // is over ("登录失效，请重新登录").
    void pushButton();
    // One heartbeat: at most one service check per clock second.
    void heartbeat();
    // The mute button: does nothing while the microphone is banned or a mute call waits.
    void muteButton();
    // Leaves the session (exit of the panel): out of the channel, relay stopped, optionally the
    // service told "not live", room forgotten, engine released. False when there was nothing
    // to leave (no engine, or already leaving).
    bool exitSession(bool changeStatus);

    int pushState() const { return m_pushState; }
    bool isMuted() const { return m_muted; }
    bool isMicBanned() const { return m_micBanned; }
    bool isExiting() const { return m_exiting; }
    bool isBusy() const { return m_busyDepth > 0; }
    AgoraRtcEngine* rtcEngine() const { return m_engine.data(); }
    // What is known of the push in state 3 (the tray and the notifications follow it).
    const PushMonitor* pushMonitor() const { return m_monitor; }

    // The status line under the volume: empty outside state 3.
    QString statusLine() const;

signals:
    // Entered a state of the workflow; the window shows that state's texts.
    void sigStateChanged(int state);
    // The mute button: shown (with its look) or hidden (the push button takes the full width).
    void sigMuteLook(bool shown, bool muted, bool banned);
    // A message for the user; returnToLogin: dismissing it goes back to the login window.
    void sigMessage(const QString& line1, const QString& line2, bool returnToLogin);
    // The session is being left: no heartbeat is wanted any more.
    void sigSessionEnding();
    void sigStatusLine(const QString& text);
    // In state 3: whether the push has reached its server (until then the window says it is
    // connecting, not live).
    void sigPushConnected(bool connected);
    // A mute call is under way (the button's or the microphone ban's): the mute button waits
    // for it, so a click cannot undo a ban's mute while the service answers.
    void sigMuteBusy(bool busy);
    // A recording device appeared or went (the window refreshes its list).
    void sigRecordingDevicesChanged();

private:
    void enterRoom();
    void pushStream();
    void stopStream();
    void _leaveRoom();
    void _logout();
    void setState(int state);
    void setMuteLook(bool muted, bool banned);
    void resetPushLayout();
    // False when the relay refused the address outright (nothing will leave the PC).
    bool addPushUrl(const QString& url);
    // A push whose relay never reached its server ends as a failed start: the service is told
    // the host is not live, state 2, "推流失败". Waits while other work is under way.
    void abandonUnconnectedPush();
    void removePushUrl();
    void leaveChannelLogged();
    // Out of the channel, push address withdrawn, push layout back.
    void endPush();
    // endPush, state 2, and the service told the host is not live.
    bool endPushNotLive(const char* logTag, bool* networkFailedOut = nullptr);
    // The service ended the push: back to an earlier state, its message shown.
    void fallBackTo(int state, const QString& serviceMessage);
    // Tells the service the user is not live; logs the outcome under logTag.
    bool tellNotLive(const QString& accountUserId, const QString& channelName, const char* logTag,
                     bool* networkFailedOut = nullptr);
    void handleHeartbeatFailure(int code, const QString& msg);
    // The mute switch itself; the button adds the ban check.
    void toggleMute();
    void message(const QString& line1, bool returnToLogin, const QString& line2 = QString());

    void connectEngine();

    int m_pushState = PanelStateIdle;
    QSharedPointer<AgoraRtcEngine> m_engine;
    bool m_muted = false;
    bool m_micBanned = false;
    QString m_lastHeartbeatSecond;
    // Steady-clock millisecond at which the current run of network failures began; -1 when none.
    qint64 m_networkFailSince = -1;
    QString m_streamUrl;
    // Depth of push, mute and heartbeat work in progress (service calls wait in a nested loop).
    int m_busyDepth = 0;
    // Set while leaving, so a second exit during its service call does nothing.
    bool m_exiting = false;
    // A mute call (the button's or the ban's) waits for the service.
    bool m_muteBusy = false;

    // What the engine says about the push in state 3.
    PushMonitor* m_monitor = nullptr;
};
