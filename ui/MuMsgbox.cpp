#include "ui/MuMsgbox.h"

#include <QLabel>
#include <QTimer>

MuMsgbox::MuMsgbox(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("widget_msgbox"));
    setWindowTitle(QStringLiteral("widget_msgbox"));
    // Fixed: a long message is clipped rather than growing the toast.
    setFixedSize(122, 37);

    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label_msgbox"));
    m_label->setGeometry(0, 0, 122, 37);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setText(QStringLiteral("用户ID不正确"));

    setStyleSheet(QStringLiteral("#label_msgbox {\n"
                                 "  border-radius: 8px;\n"
                                 "  font: 75 14px \"PingFang-SC-Medium\";\n"
                                 "  color: rgb(255, 255, 255);\n"
                                 "  background-color: rgba(0, 0, 0, 50%);\n"
                                 "}"));

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_TranslucentBackground);
}

void MuMsgbox::showMsg(const QString& text)
{
    m_label->setText(text);

    if (const QWidget* owner = parentWidget()) {
        const QRect frame = owner->frameGeometry();
        move(frame.x() + frame.width() / 2 - width() / 2, frame.y() + frame.height() / 2 - height() / 2);
    }
    show();

    // Not cancelled by a later message: the earliest pending timer hides the toast.
    QTimer::singleShot(kHideDelayMs, this, [this]() { hide(); });
}

QString MuMsgbox::text() const
{
    return m_label->text();
}
