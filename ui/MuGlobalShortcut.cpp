#include "ui/MuGlobalShortcut.h"

#include <QCoreApplication>
#include <QtDebug>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QX11Info>
#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace {

// The platform's bits for Qt's Shift, Control, Alt and Meta, in that order.
unsigned nativeModifiers(Qt::KeyboardModifiers modifiers, const unsigned (&bits)[4])
{
    const Qt::KeyboardModifier order[4] = {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier,
                                           Qt::MetaModifier};
    unsigned result = 0;
    for (int i = 0; i < 4; ++i) {
        if (modifiers & order[i])
            result |= bits[i];
    }
    return result;
}

#ifdef Q_OS_WIN
constexpr int hotKeyId = 0x7a11;

unsigned virtualKeyFor(int key)
{
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return unsigned(key); // the virtual keys of letters and digits are their upper-case codes
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return VK_F1 + unsigned(key - Qt::Key_F1);
    if (key == Qt::Key_Space)
        return VK_SPACE;
    return 0;
}
#else
// Only the eight modifier bits; the rest of an event's state are mouse buttons.
constexpr quint16 modifierBits = 0xff;
// Caps Lock and Num Lock (Mod2 on every common keyboard map) must not change the match.
constexpr quint16 lockBits = XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;
constexpr quint16 lockCombinations[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                        XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr quint8 xcbAccessError = 10; // BadAccess: another client holds the grab

xcb_keysym_t keysymFor(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return xcb_keysym_t(key - Qt::Key_A + 'a');
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return xcb_keysym_t(0xffbe + key - Qt::Key_F1);
    if (key >= 0x20 && key <= 0x7e)
        return xcb_keysym_t(key); // digits and Latin punctuation share their codes
    return 0;
}

xcb_keycode_t keycodeFor(xcb_connection_t* connection, xcb_keysym_t symbol)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - first + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, xcb_keycode_t(first), quint8(count)), nullptr);
    if (!reply)
        return 0;
    xcb_keycode_t found = 0;
    const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(reply);
    const int length = xcb_get_keyboard_mapping_keysyms_length(reply);
    for (int i = 0; i < length && reply->keysyms_per_keycode > 0; ++i) {
        if (symbols[i] == symbol) {
            found = xcb_keycode_t(first + i / reply->keysyms_per_keycode);
            break;
        }
    }
    std::free(reply);
    return found;
}
#endif

} // namespace

MuGlobalShortcut::MuGlobalShortcut(QObject* parent) : QObject(parent)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

MuGlobalShortcut::~MuGlobalShortcut()
{
    release();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

MuGlobalShortcut::Status MuGlobalShortcut::setKeys(const QKeySequence& keys)
{
    release();
    const int chord = keys.isEmpty() ? 0 : keys[0];
    m_keys = chord ? QKeySequence(chord) : QKeySequence();
    const auto modifiers = Qt::KeyboardModifiers(chord & int(Qt::KeyboardModifierMask));
    const int key = chord & ~int(Qt::KeyboardModifierMask);
    m_status = grab(key, modifiers);
    if (m_status != Unavailable || !m_loggedUnavailable)
        qInfo() << "MuGlobalShortcut::grab" << m_keys.toString(QKeySequence::PortableText) << m_status;
    m_loggedUnavailable = m_loggedUnavailable || m_status == Unavailable;
    return m_status;
}

#ifdef Q_OS_WIN

MuGlobalShortcut::Status MuGlobalShortcut::grab(int key, Qt::KeyboardModifiers modifiers)
{
    const unsigned bits =
        MOD_NOREPEAT | nativeModifiers(modifiers, {MOD_SHIFT, MOD_CONTROL, MOD_ALT, MOD_WIN});
    const unsigned virtualKey = virtualKeyFor(key);
    if (!virtualKey || bits == MOD_NOREPEAT)
        return Unsupported;
    if (!RegisterHotKey(nullptr, hotKeyId, bits, virtualKey))
        return GetLastError() == ERROR_HOTKEY_ALREADY_REGISTERED ? Taken : Unavailable;
    m_grabbed = true;
    return Active;
}

void MuGlobalShortcut::release()
{
    if (m_grabbed)
        UnregisterHotKey(nullptr, hotKeyId);
    m_grabbed = false;
}

bool MuGlobalShortcut::nativeEventFilter(const QByteArray& eventType, void* message, long*)
{
    // A hot key without a window arrives as a thread message, through the event dispatcher.
    const MSG* msg = static_cast<const MSG*>(message);
    const bool windowsMessage = eventType == "windows_dispatcher_MSG" || eventType == "windows_generic_MSG";
    if (!m_grabbed || !windowsMessage || msg->message != WM_HOTKEY || msg->wParam != WPARAM(hotKeyId))
        return false;
    QMetaObject::invokeMethod(this, &MuGlobalShortcut::sigActivated, Qt::QueuedConnection);
    return true;
}

#else

MuGlobalShortcut::Status MuGlobalShortcut::grab(int key, Qt::KeyboardModifiers modifiers)
{
    if (!QX11Info::isPlatformX11() || !QX11Info::connection())
        return Unavailable;
    const auto bits = quint16(nativeModifiers(
        modifiers, {XCB_MOD_MASK_SHIFT, XCB_MOD_MASK_CONTROL, XCB_MOD_MASK_1, XCB_MOD_MASK_4}));
    xcb_connection_t* connection = QX11Info::connection();
    const xcb_keysym_t symbol = keysymFor(key);
    const xcb_keycode_t code = symbol ? keycodeFor(connection, symbol) : 0;
    if (!code || !bits)
        return Unsupported;

    const xcb_window_t root = QX11Info::appRootWindow();
    xcb_void_cookie_t cookies[4];
    for (int i = 0; i < 4; ++i)
        cookies[i] = xcb_grab_key_checked(connection, 1, root, bits | lockCombinations[i], code,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    bool taken = false;
    bool failed = false;
    for (xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            taken = taken || error->error_code == xcbAccessError;
            failed = true;
            std::free(error);
        }
    }
    m_keyCode = code;
    m_modifiers = bits;
    m_grabbed = true;
    if (failed) {
        release(); // all or nothing: half a grab would work only with some lock states
        return taken ? Taken : Unavailable;
    }
    return Active;
}

void MuGlobalShortcut::release()
{
    if (!m_grabbed)
        return;
    m_grabbed = false;
    if (!QX11Info::isPlatformX11() || !QX11Info::connection())
        return;
    for (quint16 locks : lockCombinations)
        xcb_ungrab_key(QX11Info::connection(), xcb_keycode_t(m_keyCode), QX11Info::appRootWindow(),
                       quint16(m_modifiers | locks));
    xcb_flush(QX11Info::connection());
}

bool MuGlobalShortcut::nativeEventFilter(const QByteArray& eventType, void* message, long*)
{
    if (!m_grabbed || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    if (press->detail != m_keyCode || (press->state & modifierBits & ~lockBits) != m_modifiers)
        return false;
    QMetaObject::invokeMethod(this, &MuGlobalShortcut::sigActivated, Qt::QueuedConnection);
    return true;
}

#endif
