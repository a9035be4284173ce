#include "ui/MuTrayIcon.h"

#include "workflow/PanelState.h"

#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QtDebug>

MuTrayIcon::MuTrayIcon(QObject* parent) : QObject(parent)
{
    m_menu = new QMenu();
    m_menu->addAction(QStringLiteral("显示窗口"), this, &MuTrayIcon::sigShowWindow);
    m_muteAction = m_menu->addAction(QStringLiteral("静音"), this, &MuTrayIcon::sigMute);
    m_endAction = m_menu->addAction(QStringLiteral("结束直播"), this, &MuTrayIcon::sigEndLive);
    m_menu->addAction(QStringLiteral("设置…"), this, &MuTrayIcon::sigSettings);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("退出"), this, &MuTrayIcon::sigQuit);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            emit sigShowWindow();
    });
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qInfo() << "MuTrayIcon::no system tray";
        return; // nothing is drawn or updated for a tray nobody sees
    }
    for (int look = LookReady; look <= LookTrouble; ++look)
        m_icons[look] = drawIcon(Look(look));
    showState(PanelStateIdle, false, false, false, false, QString());
    m_tray->show();
}

MuTrayIcon::~MuTrayIcon()
{
    delete m_menu;
}

bool MuTrayIcon::isShown() const
{
    return m_tray->isVisible();
}

void MuTrayIcon::showState(int pushState, bool muted, bool banned, bool interrupted, bool muteBusy,
                           const QString& statusLine)
{
    if (m_icons[LookReady].isNull())
        return; // no tray
    const bool live = pushState == PanelStatePushing;
    Look look = LookReady;
    if (live)
        look = interrupted ? LookTrouble : (muted || banned) ? LookMuted : LookLive;
    if (look != m_look || m_tray->icon().isNull()) {
        m_look = look;
        m_tray->setIcon(m_icons[look]);
    }
    m_tray->setToolTip(statusLine.isEmpty() ? QStringLiteral("Tavio")
                                            : QStringLiteral("Tavio · %1").arg(statusLine));
    m_muteAction->setVisible(live);
    m_muteAction->setText(muted ? QStringLiteral("取消静音") : QStringLiteral("静音"));
    m_muteAction->setEnabled(!banned && !muteBusy);
    m_endAction->setVisible(live);
}

QIcon MuTrayIcon::drawIcon(Look look)
{
    static const QColor marks[] = {QColor(), QColor(0x2e, 0xb8, 0x4b), QColor(0xe5, 0x39, 0x35),
                                   QColor(0xff, 0x98, 0x00)};
    const QIcon source(QStringLiteral(":/yyzslogo156.png"));
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap = source.pixmap(size, size);
        if (look != LookReady) {
            // A dot in the lower right corner, half the icon wide, with a light rim so that it
            // stands out on dark and light panels alike; muted adds a bar, trouble an upright one.
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            const qreal d = size * 0.55;
            const QRectF dot(size - d, size - d, d, d);
            painter.setPen(QPen(Qt::white, qMax(1.0, size / 16.0)));
            painter.setBrush(marks[look]);
            painter.drawEllipse(dot.adjusted(0.5, 0.5, -0.5, -0.5));
            const qreal bar = qMax(1.5, d / 5);
            const QPointF c = dot.center();
            if (look == LookMuted)
                painter.fillRect(QRectF(c.x() - d / 3.2, c.y() - bar / 2, d / 1.6, bar), Qt::white);
            else if (look == LookTrouble)
                painter.fillRect(QRectF(c.x() - bar / 2, c.y() - d / 3.2, bar, d / 1.6), Qt::white);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}
