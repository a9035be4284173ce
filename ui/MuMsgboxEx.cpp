#include "ui/MuMsgboxEx.h"

#include "base/OutsideText.h"
#include "ui/AddChild.h"
#include "ui/ModalPopup.h"
#include "ui/VMonLayer.h"

#include <QLabel>
#include <QPushButton>

MuMsgboxEx::MuMsgboxEx(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("widget_msgboxex"));
    setWindowTitle(QStringLiteral("widget_msgboxex"));
    resize(268, 178);

    addChild<QWidget>(this, "widget_bg", 0, 0, 268, 178);

    auto* closeButton = addChild<QPushButton>(this, "pushButton_close", 236, 12, 20, 20);

    auto* okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("pushButton_ok"));
    okButton->setGeometry(64, 118, 140, 36);

    m_line1 = addChild<QLabel>(this, "label_line1", 0, 60, 268, 14);
    m_line1->setAlignment(Qt::AlignCenter);
    m_line1->setTextFormat(Qt::PlainText); // service texts must never render as markup

    m_line2 = addChild<QLabel>(this, "label_line2", 0, 75, 268, 14);
    m_line2->setAlignment(Qt::AlignCenter);
    m_line2->setTextFormat(Qt::PlainText);

    setStyleSheet(QStringLiteral(
        "#widget_bg { border-radius: 12px; background-color: rgb(255, 255, 255); }\n"
        "#pushButton_close { border-image: url(:/ic_guanbi_fx.png); }\n"
        "#pushButton_ok { border-radius: 18px; background-color: rgb(255, 215, 0); "
        "font: 75 14px \"PingFang-SC-Medium\"; color: rgb(51, 51, 51); }\n"
        "#label_line1, #label_line2 { font: 75 14px \"PingFang-SC-Medium\"; color: rgb(51, 51, 51); }"));

    ModalPopup::setUp(this);

    connect(okButton, &QPushButton::clicked, this, &QWidget::hide);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::hide);
}

void MuMsgboxEx::setOverlay(const QSharedPointer<VMonLayer>& overlay)
{
    m_overlay = overlay;
}

void MuMsgboxEx::showMessage(const QString& text, bool returnToLogin)
{
    showLines(text, 60, QString(), returnToLogin);
}

void MuMsgboxEx::showMessage2(const QString& line1, const QString& line2, bool returnToLogin)
{
    showLines(line1, 55, line2, returnToLogin);
}

void MuMsgboxEx::showLines(const QString& line1, int line1Y, const QString& line2, bool returnToLogin)
{
    m_returnToLogin = returnToLogin;
    if (m_overlay) {
        m_overlay->move(0, 0);
        m_overlay->show();
        m_overlay->raise();
    }
    m_line1->setText(OutsideText::forDisplay(line1));
    m_line1->move(0, line1Y);
    m_line2->setText(OutsideText::forDisplay(line2));
    m_line2->move(0, 75);
    ModalPopup::centreOnParent(this);
    open();
}

void MuMsgboxEx::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (m_overlay)
        m_overlay->close();
    if (m_returnToLogin)
        emit sigToLogin();
}
