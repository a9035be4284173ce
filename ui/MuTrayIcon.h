#pragma once

#include <QIcon>
#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The program in the system tray while a tray exists: a picture of the push's state drawn from
// the program's icon, the status line as its tooltip, and a menu of the everyday actions. Without
// a tray host the program runs as it always did.
class MuTrayIcon : public QObject
{
    Q_OBJECT

public:
    enum Look
    {
        LookReady, // logged out, or logged in and not pushing
        LookLive,
        LookMuted,  // muted or banned
        LookTrouble // the push is reconnecting or has failed
    };

    explicit MuTrayIcon(QObject* parent = nullptr);
    ~MuTrayIcon() override;

    // True when a tray host shows the icon.
    bool isShown() const;
    // What the tray shows for a workflow state.
    void showState(int pushState, bool muted, bool banned, bool interrupted, bool muteBusy,
                   const QString& statusLine);
    Look look() const { return m_look; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* menu() const { return m_menu; }

    // The program's icon with the look's mark, at the tray's usual sizes.
    static QIcon drawIcon(Look look);

signals:
    void sigShowWindow();
    void sigMute();
    void sigEndLive();
    void sigSettings();
    void sigQuit();

private:
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_muteAction = nullptr;
    QAction* m_endAction = nullptr;
    QIcon m_icons[4];
    Look m_look = LookReady;
};
