#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

// Lets a frameless window be moved by dragging it with the left button anywhere the children
// leave the press to the window. Watches the window's own mouse events; the window keeps
// handling them as before.
class WindowDragger : public QObject
{
    Q_OBJECT

public:
    explicit WindowDragger(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    bool m_dragging = false;
    QPoint m_offset;
};
