#include "ui/MuDesktopNotifier.h"

#include "base/VClock.h"
#include "ui/MuTrayIcon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSystemTrayIcon>
#include <QVariantMap>
#include <QtDebug>

namespace {

const QString notificationService = QStringLiteral("org.freedesktop.Notifications");
constexpr qint64 perCaseGapMs = 60000;
constexpr qint64 never = -1;

} // namespace

MuDesktopNotifier::MuDesktopNotifier(MuTrayIcon* tray, QObject* parent) : QObject(parent), m_tray(tray)
{
    std::fill(std::begin(m_lastMs), std::end(m_lastMs), never);
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_hasService = bus.isConnected() && bus.interface() &&
                   bus.interface()->isServiceRegistered(notificationService).value();
    if (!m_hasService)
        qInfo() << "MuDesktopNotifier::no notification service" << bus.isConnected();
}

bool MuDesktopNotifier::notify(Case what, const QString& title, const QString& body)
{
    if (!m_enabled || QApplication::activeWindow())
        return false;
    const qint64 nowMs = VClock::monotonicMs();
    if (m_lastMs[what] != never && nowMs - m_lastMs[what] < perCaseGapMs)
        return false;
    if (m_hasService) {
        QDBusMessage call = QDBusMessage::createMethodCall(notificationService,
                                                           QStringLiteral("/org/freedesktop/Notifications"),
                                                           notificationService, QStringLiteral("Notify"));
        call << QStringLiteral("Tavio") << 0u << QStringLiteral("tavio-assistant") << title << body
             << QStringList() << QVariantMap() << -1;
        // No answer is awaited: a slow daemon must not hold up the push.
        QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
    } else if (m_tray && m_tray->isShown()) {
        m_tray->trayIcon()->showMessage(title, body);
    } else {
        if (!m_loggedNoWay)
            qInfo() << "MuDesktopNotifier::no way to notify";
        m_loggedNoWay = true;
        return false;
    }
    m_lastMs[what] = nowMs;
    qInfo() << "MuDesktopNotifier::notify" << what;
    return true;
}
