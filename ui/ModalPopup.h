#pragma once

class QWidget;

// The frameless, application-modal popups of the assistant (toast and message box).
namespace ModalPopup {

// Frameless dialog with a see-through background, blocking the whole application.
void setUp(QWidget* popup);

// Puts the popup in the middle of its parent window's frame; nothing without a parent.
void centreOnParent(QWidget* popup);

} // namespace ModalPopup
