#include "ui/ModalPopup.h"

#include <QWidget>

namespace ModalPopup {

void setUp(QWidget* popup)
{
    popup->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    popup->setWindowModality(Qt::ApplicationModal);
    popup->setAttribute(Qt::WA_TranslucentBackground);
}

void centreOnParent(QWidget* popup)
{
    const QWidget* owner = popup->parentWidget();
    if (!owner)
        return;
    const QRect frame = owner->frameGeometry();
    popup->move(frame.x() + frame.width() / 2 - popup->width() / 2,
                frame.y() + frame.height() / 2 - popup->height() / 2);
}

} // namespace ModalPopup
