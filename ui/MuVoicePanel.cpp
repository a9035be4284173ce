#include "ui/MuVoicePanel.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QTimer>

// First cut: the public surface compiles; the form and the workflow follow.

MuVoicePanel::MuVoicePanel(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Tavio语音房电脑助手"));
    resize(380, 472);
    m_heartbeatTimer = new QTimer(this);
    m_heartbeatTimer->setInterval(2000);
}

MuVoicePanel::~MuVoicePanel() = default;

void MuVoicePanel::setLoginWindow(MuVozedIvazerida* w)
{
    m_loginWindow = w;
}

void MuVoicePanel::prepareSession()
{
    m_pushState = PanelStateEnterRoom;
}

void MuVoicePanel::startHeartbeat()
{
    m_heartbeatTimer->start(2000);
}

void MuVoicePanel::setClocks(WallClock wallClock, SteadyClockMs steadyClockMs)
{
    m_wallClock = std::move(wallClock);
    m_steadyClockMs = std::move(steadyClockMs);
}

void MuVoicePanel::sltClosePanel() {}
void MuVoicePanel::sltPushButton() {}
void MuVoicePanel::sltDeviceChanged(int) {}
void MuVoicePanel::sltVolumeChanged(int) {}
void MuVoicePanel::sltMute() {}
void MuVoicePanel::sltHeartbeat() {}
void MuVoicePanel::sltToLogin() {}

void MuVoicePanel::closeEvent(QCloseEvent* event)
{
    event->accept();
}

void MuVoicePanel::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
}

void MuVoicePanel::mouseMoveEvent(QMouseEvent* event)
{
    QWidget::mouseMoveEvent(event);
}

void MuVoicePanel::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
}
