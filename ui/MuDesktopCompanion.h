#pragma once

#include <QKeySequence>
#include <QObject>
#include <QPointer>

class MuDesktopNotifier;
class MuDesktopSettingsDialog;
class MuGlobalShortcut;
class MuPushWorkflow;
class MuTrayIcon;
class MuVoicePanel;
class MuVozedIvazerida;

// What reaches the host outside the windows: the global mute shortcut, the tray icon with its
// menu and settings window, and the notifications when the push breaks while the windows are in
// the background. It only follows the panel's workflow and presses the panel's own buttons, so
// the shortcut and the menu act exactly as the clicks do.
class MuDesktopCompanion : public QObject
{
    Q_OBJECT

public:
    // Ctrl+Alt+M.
    static QKeySequence defaultKeys();
    // A stored shortcut: one chord with a modifier. No text (null) or damaged text gives the
    // default; *damaged tells which.
    static QKeySequence keysFromText(const QString& text, bool* damaged = nullptr);

    explicit MuDesktopCompanion(MuVozedIvazerida* loginWindow, QObject* parent = nullptr);
    ~MuDesktopCompanion() override;

    MuGlobalShortcut* shortcut() const { return m_shortcut; }
    MuTrayIcon* tray() const { return m_tray; }
    MuDesktopNotifier* notifier() const { return m_notifier; }
    MuDesktopSettingsDialog* settingsDialog() const; // null until first opened

    // The settings of the user whose settings file group is current (after each login too).
    void loadUserSettings();
    // Takes effect at once and is kept in the user's settings.
    void applySettings(const QKeySequence& keys, bool notify);
    void openSettings();
    // Brings the window the user works in (the panel, else the login window) to the front.
    void showCurrentWindow();

signals:
    // "退出" in the tray: the same as closing the windows.
    void sigQuitRequested();

private:
    void pressMute();
    void endLive();
    void refreshTray();
    void onStateChanged(int state);
    void onMuteLook(bool shown, bool muted, bool banned);
    void onMessage(const QString& line1, const QString& line2, bool returnToLogin);
    bool interrupted() const;
    void followInterruption();
    void followSilence();

    MuVozedIvazerida* m_loginWindow = nullptr;
    MuVoicePanel* m_panel = nullptr;
    MuPushWorkflow* m_workflow = nullptr;
    MuGlobalShortcut* m_shortcut = nullptr;
    MuTrayIcon* m_tray = nullptr;
    MuDesktopNotifier* m_notifier = nullptr;
    QPointer<MuDesktopSettingsDialog> m_dialog;

    // The mute button's look as the workflow last set it (its flags change after the signal).
    bool m_muted = false;
    bool m_banned = false;
    bool m_muteBusy = false;
    qint64 m_interruptedSinceMs = -1;
    bool m_interruptionTold = false;
    bool m_silenceTold = false;
};
