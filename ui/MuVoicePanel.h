#pragma once

#include "workflow/MuPushWorkflow.h"
#include "workflow/PanelState.h"

#include <QIcon>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QWidget>

#include <functional>

class AgoraRtcEngine;
class MuLevelMeter;
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
// that follows the live status on the push-stream service. The workflow behind the buttons is
// MuPushWorkflow's; the panel renders what it reports and forwards the clicks. While it is on
// screen it runs the engine's recording device test, so the level meter under the volume shows
// the chosen device before and during the push, and joining finds the capture running.
class MuVoicePanel : public QWidget
{
    Q_OBJECT

public:
    // How often the meter gets a level while the panel is shown.
    static constexpr int levelIntervalMs = 50;

    explicit MuVoicePanel(QWidget* parent = nullptr);
    ~MuVoicePanel() override;

    // The window shown again when the panel gives up; without one the application quits.
    void setLoginWindow(MuVozedIvazerida* w);
    // Starts a fresh session after a successful login: new RTC engine, device list, volume.
    void prepareSession();
    // Starts the 2000 ms heartbeat; only leaving the panel stops it.
    void startHeartbeat();

    MuPushWorkflow* workflow() const { return m_workflow; }
    int pushState() const { return m_workflow->pushState(); }
    bool isMuted() const { return m_workflow->isMuted(); }
    bool isMicBanned() const { return m_workflow->isMicBanned(); }
    AgoraRtcEngine* rtcEngine() const { return m_workflow->rtcEngine(); }
    MuMsgboxEx* messageBox() const { return m_msgbox.data(); }
    MuLevelMeter* levelMeter() const { return m_levelMeter; }
    // True while the panel runs the recording device test of its engine.
    bool isDeviceTestRunning() const { return !m_testEngine.isNull(); }

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
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildForm();
    bool _sltClosePanel_ExitPanel(bool changeStatus);
    void backToLogin();
    void setMuteLook(bool muted, bool banned);
    void resetPushLayout();
    void readVolumeFromFile();
    void showPushConnected(bool connected);
    void showStateTexts(int state);
    void showWorkflowMessage(const QString& line1, const QString& line2, bool returnToLogin);
    // Fills the drop-down from the engine's list; keepChoice keeps the chosen device selected
    // (marked when it is gone) instead of choosing again.
    void fillDevices(bool keepChoice);
    // The device test runs exactly while the panel is on screen (shown, not minimised) with an
    // engine.
    void updateDeviceTest();
    void showLevel(int level);

    MuVozedIvazerida* m_loginWindow = nullptr;
    MuPushWorkflow* m_workflow = nullptr;
    bool m_fillingDevices = false;
    // x, y and width of "pushButton_push" and width of "pushButton_mute" as the form lays them out.
    int m_pushX = 0;
    int m_pushY = 0;
    int m_pushWidth = 0;
    int m_muteWidth = 0;
    QTimer* m_heartbeatTimer = nullptr;
    QSharedPointer<VMonLayer> m_overlay;
    QSharedPointer<MuMsgboxEx> m_msgbox;

    QWidget* m_background = nullptr;
    QLabel* m_labelPush = nullptr;
    QLabel* m_labelStatus = nullptr;
    QLabel* m_labelVolumeNumber = nullptr;
    QPushButton* m_pushButton = nullptr;
    QPushButton* m_muteButton = nullptr;
    // Made once: every new icon from a file brings new scaled and greyed pixmaps into Qt's
    // pixmap cache, which then grew by each mute and ban until the cache's 10 MB limit.
    QIcon m_unmutedIcon;
    QIcon m_mutedIcon;
    vGiftComboBox* m_deviceBox = nullptr;
    QSlider* m_volumeSlider = nullptr;
    MuLevelMeter* m_levelMeter = nullptr;
    // The engine whose device test the panel started; null when none runs.
    QPointer<AgoraRtcEngine> m_testEngine;
};
