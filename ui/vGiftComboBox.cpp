#include "ui/vGiftComboBox.h"

#include <QEvent>
#include <QFrame>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {
// How far the popup opens below where the base class puts it.
constexpr int popupDropPx = 8;
} // namespace

vGiftComboBox::vGiftComboBox(QWidget* parent) : QComboBox(parent) {}

void vGiftComboBox::showPopup()
{
    emit sigPopup();
    QComboBox::showPopup();
    if (auto* popup = findChild<QFrame*>())
        popup->move(popup->x(), popup->y() + popupDropPx);
}

bool vGiftComboBox::event(QEvent* event)
{
#ifdef Q_OS_WIN
    // The drop shadow is a property of the native window class, shared by every popup of the
    // process, so clearing it once is enough.
    static bool shadowCleared = false;
    if (event->type() == QEvent::WinIdChange && !shadowCleared) {
        shadowCleared = true;
        const HWND hwnd = reinterpret_cast<HWND>(winId());
        const DWORD style = GetClassLongW(hwnd, GCL_STYLE);
        SetClassLongW(hwnd, GCL_STYLE, style & ~CS_DROPSHADOW);
    }
#endif
    return QComboBox::event(event);
}
