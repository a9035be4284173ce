#include "ui/MuMsgbox.h"

#include "base/OutsideText.h"
#include "ui/AddChild.h"
#include "ui/ModalPopup.h"

#include <QLabel>
#include <QTimer>

MuMsgbox::MuMsgbox(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("widget_msgbox"));
    setWindowTitle(QStringLiteral("widget_msgbox"));
    // Fixed: a long message is clipped rather than growing the toast.
    setFixedSize(122, 37);

    m_label = addChild<QLabel>(this, "label_msgbox", 0, 0, 122, 37);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setTextFormat(Qt::PlainText); // service texts must never render as markup
    m_label->setText(QStringLiteral("用户ID不正确"));

    setStyleSheet(QStringLiteral("#label_msgbox {\n"
                                 "  border-radius: 8px;\n"
                                 "  font: 75 14px \"PingFang-SC-Medium\";\n"
                                 "  color: rgb(255, 255, 255);\n"
                                 "  background-color: rgba(0, 0, 0, 50%);\n"
                                 "}"));

    ModalPopup::setUp(this);
}

void MuMsgbox::showMsg(const QString& text)
{
    m_label->setText(OutsideText::forDisplay(text));

    ModalPopup::centreOnParent(this);
    show();

    // Not cancelled by a later message: the earliest pending timer hides the toast.
    QTimer::singleShot(kHideDelayMs, this, [this]() { hide(); });
}

QString MuMsgbox::text() const
{
    return m_label->text();
}
