#pragma once

#include <QAbstractNativeEventFilter>
#include <QKeySequence>
#include <QObject>

// One key combination that works whichever program has the focus: on X11 a passive grab on the
// root window through the connection Qt already holds, on Windows a registered hot key. Caps Lock
// and Num Lock do not matter. A combination that another program holds is reported, never lost
// silently; where neither exists (Wayland without X, the offscreen platform) it is unavailable.
class MuGlobalShortcut : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    enum Status
    {
        Active,
        Taken,       // another program holds the combination
        Unavailable, // no way to grab keys on this desktop
        Unsupported  // the combination cannot be grabbed (no modifier, or a key without a code)
    };

    explicit MuGlobalShortcut(QObject* parent = nullptr);
    ~MuGlobalShortcut() override;

    // Releases the previous combination and grabs this one (its first chord).
    Status setKeys(const QKeySequence& keys);
    QKeySequence keys() const { return m_keys; }
    Status status() const { return m_status; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;

signals:
    // Queued: the press may come while Qt reads the window system's events.
    void sigActivated();

private:
    Status grab(int key, Qt::KeyboardModifiers modifiers);
    void release();

    QKeySequence m_keys;
    Status m_status = Unavailable;
    bool m_grabbed = false;
    unsigned m_keyCode = 0;   // X keycode, or the Windows virtual key
    unsigned m_modifiers = 0; // in the window system's own bits
    bool m_loggedUnavailable = false;
};
