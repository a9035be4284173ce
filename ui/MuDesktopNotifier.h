#pragma once

#include <QObject>
#include <QString>

class MuTrayIcon;

// Tells the user through the desktop's notification service (the tray's balloon where there is
// none) what happened to the push while the program's windows are in the background. Each case
// speaks at most once a minute (VClock's monotonic time); a switch turns them all off.
class MuDesktopNotifier : public QObject
{
    Q_OBJECT

public:
    enum Case
    {
        PushInterrupted,
        PushResumed,
        MicBanned,
        SessionEnded,
        NothingHeard,
        CaseCount
    };

    // tray: the fallback; may be null.
    explicit MuDesktopNotifier(MuTrayIcon* tray, QObject* parent = nullptr);

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }
    bool hasService() const { return m_hasService; }

    // Shows it unless switched off, a window of the program is active or the case spoke less than
    // a minute ago. True when it went out.
    bool notify(Case what, const QString& title, const QString& body);

private:
    MuTrayIcon* m_tray = nullptr;
    bool m_enabled = true;
    bool m_hasService = false;
    bool m_loggedNoWay = false;
    qint64 m_lastMs[CaseCount];
};
