#pragma once

#include "ui/PanelState.h"

#include <QSharedPointer>
#include <QString>
#include <QWidget>

#include <functional>

class AgoraRtcEngine;
class MuMsgboxEx;
class MuVozedIvazerida;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;
class VMonLayer;
class vGiftComboBox;

// The window the user works in after logging in: recording device, capture volume, the one
// push button that walks from entering the room to pushing and back, mute, and the heartbeat
// that follows the live status on the push-stream service.
class MuVoicePanel : public QWidget
{
    Q_OBJECT

public:
    explicit MuVoicePanel(QWidget* parent = nullptr);
    ~MuVoicePanel() override;

    // The window shown again when the panel gives up; without one the application quits.
    void setLoginWindow(MuVozedIvazerida* w);
    // Starts a fresh session after a successful login: new RTC engine, device list, volume.
    void prepareSession();
    // Starts the 2000 ms heartbeat; only leaving the panel stops it.
    void startHeartbeat();

    int pushState() const { return m_pushState; }
    bool isMuted() const { return m_muted; }
    bool isMicBanned() const { return m_micBanned; }
    AgoraRtcEngine* rtcEngine() const { return m_engine.data(); }
    MuMsgboxEx* messageBox() const { return m_msgbox.data(); }

public slots:
    void sltClosePanel();
    void sltPushButton();
    void sltDeviceChanged(int index);
    void sltVolumeChanged(int value);
    void sltMute();
    void sltHeartbeat();
    void sltToLogin();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildForm();
    void enterRoom();
    void pushStream();
    void stopStream();
    bool _sltClosePanel_ExitPanel(bool changeStatus);
    void _leaveRoom();
    void _logout();
    void backToLogin();
    void setMuteLook(bool muted, bool banned);
    void resetPushLayout();
    void addPushUrl(const QString& url);
    void removePushUrl();
    void readVolumeFromFile();
    void showStateTexts(int state);
    void leaveChannelLogged();
    // Out of the channel, push address withdrawn, push layout back.
    void endPush();
    // The service ended the push: back to an earlier state, its message shown.
    void fallBackTo(int state, const QString& serviceMessage);
    // Tells the service the user is not live; logs the outcome under logTag.
    bool tellNotLive(const QString& accountUserId, const QString& channelName, const char* logTag,
                     bool* networkFailedOut = nullptr);
    void handleHeartbeatFailure(int code, const QString& msg);
    // The mute switch itself; the button's slot adds the ban check.
    void toggleMute();

    MuVozedIvazerida* m_loginWindow = nullptr;
    int m_pushState = PanelStateIdle;
    QSharedPointer<AgoraRtcEngine> m_engine;
    bool m_fillingDevices = false;
    bool m_muted = false;
    bool m_micBanned = false;
    // x, y and width of "pushButton_push" and width of "pushButton_mute" as the form lays them out.
    int m_pushX = 0;
    int m_pushY = 0;
    int m_pushWidth = 0;
    int m_muteWidth = 0;
    QTimer* m_heartbeatTimer = nullptr;
    QSharedPointer<VMonLayer> m_overlay;
    QSharedPointer<MuMsgboxEx> m_msgbox;
    QString m_lastHeartbeatSecond;
    // Steady-clock millisecond at which the current run of network failures began; -1 when none.
    qint64 m_networkFailSince = -1;
    QString m_streamUrl;
    // Depth of push, mute and heartbeat work in progress (service calls wait in a nested loop).
    int m_busyDepth = 0;
    // Set while leaving the panel, so a second close during its service call does nothing.
    bool m_exiting = false;

    QWidget* m_background = nullptr;
    QLabel* m_labelPush = nullptr;
    QLabel* m_labelVolumeNumber = nullptr;
    QPushButton* m_pushButton = nullptr;
    QPushButton* m_muteButton = nullptr;
    vGiftComboBox* m_deviceBox = nullptr;
    QSlider* m_volumeSlider = nullptr;
};
