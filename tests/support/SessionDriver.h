#pragma once

#include "support/ManualClock.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

// The user at the real windows: logs in, presses buttons, reads what they show. Time is a ManualClock
// (unless the test needs real time); the panel's heartbeats then come from beat().
class SessionDriver
{
public:
    explicit SessionDriver(bool manualTime = true); // the login window, shown
    ~SessionDriver();
    SessionDriver(const SessionDriver&) = delete;
    SessionDriver& operator=(const SessionDriver&) = delete;

    MuVozedIvazerida* window() const { return m_window.get(); }
    MuVoicePanel* panel() const { return m_window->voicePanel(); }
    QLineEdit* edit(const char* name) const { return m_window->findChild<QLineEdit*>(name); }
    QPushButton* button(const char* name) const; // the panel's, else the login window's
    void press(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    void attemptLogin(const QString& user = QStringLiteral("10001"),
                      const QString& password = QStringLiteral("123456"));
    QString toast() const; // the login window's toast while it shows, else empty
    // The panel as a successful login leaves it (demo user "10001"), then pressed up to state.
    void openPanel(int state);
    // Stops the panel's own heartbeat after a login through the window: beats come from beat().
    void takeOverHeartbeat();
    void beat(qint64 advanceMs = 2000);

    // The panel's message box: its lines while it shows (empty otherwise), and dismissing it.
    bool boxShown() const { return panel()->messageBox()->isVisible(); }
    QString boxLine(int line) const;
    void dismissBox(const char* buttonName = "pushButton_ok");

    ManualClock& clock() { return *m_clock; }
    // Fires (as the clock moves) and counts the active timers of owner's children with this interval.
    static int fireTimers(const QObject* owner, int intervalMs, bool fire = true);

private:
    std::unique_ptr<ManualClock> m_clock;
    std::unique_ptr<MuVozedIvazerida> m_window;
};
