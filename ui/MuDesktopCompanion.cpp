#include "ui/MuDesktopCompanion.h"

#include "base/MuSettings.h"
#include "base/VClock.h"
#include "ui/MuDesktopNotifier.h"
#include "ui/MuDesktopSettingsDialog.h"
#include "ui/MuGlobalShortcut.h"
#include "ui/MuTrayIcon.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"
#include "workflow/MuPushWorkflow.h"
#include "workflow/PushMonitor.h"

#include <QtDebug>

namespace {

const QString shortcutKey = QStringLiteral("muteShortcut");
const QString notifyKey = QStringLiteral("notifications");
// A relay that is back within this time was a hiccup, not worth a word.
constexpr int interruptionGraceMs = 3000;

} // namespace

QKeySequence MuDesktopCompanion::defaultKeys()
{
    return QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_M);
}

QKeySequence MuDesktopCompanion::keysFromText(const QString& text, bool* damaged)
{
    const QKeySequence keys = QKeySequence::fromString(text, QKeySequence::PortableText);
    const int chord = keys.isEmpty() ? 0 : keys[0];
    const int key = chord & ~int(Qt::KeyboardModifierMask);
    const bool good =
        keys.count() == 1 && (chord & int(Qt::KeyboardModifierMask)) && key && key != Qt::Key_unknown &&
        keys.toString(QKeySequence::PortableText).compare(text.trimmed(), Qt::CaseInsensitive) == 0;
    if (damaged)
        *damaged = !good && !text.isNull();
    return good ? keys : defaultKeys();
}

MuDesktopCompanion::MuDesktopCompanion(MuVozedIvazerida* loginWindow, QObject* parent)
    : QObject(parent), m_loginWindow(loginWindow), m_panel(loginWindow->voicePanel()),
      m_workflow(m_panel->workflow())
{
    m_shortcut = new MuGlobalShortcut(this);
    m_tray = new MuTrayIcon(this);
    m_notifier = new MuDesktopNotifier(m_tray, this);

    connect(m_shortcut, &MuGlobalShortcut::sigActivated, this, &MuDesktopCompanion::pressMute);
    connect(m_tray, &MuTrayIcon::sigShowWindow, this, &MuDesktopCompanion::showCurrentWindow);
    connect(m_tray, &MuTrayIcon::sigMute, this, &MuDesktopCompanion::pressMute);
    connect(m_tray, &MuTrayIcon::sigEndLive, this, &MuDesktopCompanion::endLive);
    connect(m_tray, &MuTrayIcon::sigSettings, this, &MuDesktopCompanion::openSettings);
    connect(m_tray, &MuTrayIcon::sigQuit, this, &MuDesktopCompanion::sigQuitRequested);

    connect(m_workflow, &MuPushWorkflow::sigStateChanged, this, &MuDesktopCompanion::onStateChanged);
    connect(m_workflow, &MuPushWorkflow::sigMuteLook, this, &MuDesktopCompanion::onMuteLook);
    connect(m_workflow, &MuPushWorkflow::sigMessage, this, &MuDesktopCompanion::onMessage);
    connect(m_workflow, &MuPushWorkflow::sigMuteBusy, this, [this](bool busy) {
        m_muteBusy = busy;
        refreshTray();
    });
    connect(m_workflow, &MuPushWorkflow::sigStatusLine, this, [this] {
        followInterruption();
        followSilence();
        refreshTray();
    });
    loadUserSettings();
}

MuDesktopCompanion::~MuDesktopCompanion()
{
    delete m_dialog.data();
}

MuDesktopSettingsDialog* MuDesktopCompanion::settingsDialog() const
{
    return m_dialog.data();
}

void MuDesktopCompanion::loadUserSettings()
{
    MuSettings* settings = MuSettings::instance();
    bool damaged = false;
    const QKeySequence keys = keysFromText(settings->loadUserValue(shortcutKey), &damaged);
    const QString notify = settings->loadUserValue(notifyKey);
    damaged =
        damaged || !(notify.isNull() || notify == QLatin1String("true") || notify == QLatin1String("false"));
    if (damaged)
        qInfo() << "MuDesktopCompanion::damaged settings, defaults used";
    const bool notifyOn = notify != QLatin1String("false");
    if (damaged)
        applySettings(keys, notifyOn); // writes good values back
    else if (keys != m_shortcut->keys() || m_shortcut->status() == MuGlobalShortcut::Taken)
        m_shortcut->setKeys(keys);
    m_notifier->setEnabled(notifyOn);
}

void MuDesktopCompanion::applySettings(const QKeySequence& keys, bool notify)
{
    m_notifier->setEnabled(notify);
    const auto status = m_shortcut->setKeys(keys.isEmpty() ? defaultKeys() : keys);
    MuSettings* settings = MuSettings::instance();
    if (status != MuGlobalShortcut::Unsupported)
        settings->saveUserValue(shortcutKey, m_shortcut->keys().toString(QKeySequence::PortableText));
    settings->saveUserValue(notifyKey, notify ? QStringLiteral("true") : QStringLiteral("false"));
    if (m_dialog)
        m_dialog->showShortcutStatus(status);
}

void MuDesktopCompanion::openSettings()
{
    if (!m_dialog) {
        m_dialog = new MuDesktopSettingsDialog();
        connect(m_dialog, &MuDesktopSettingsDialog::sigChanged, this, &MuDesktopCompanion::applySettings);
    }
    m_dialog->setValues(m_shortcut->keys(), m_notifier->isEnabled());
    m_dialog->showShortcutStatus(m_shortcut->status());
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

void MuDesktopCompanion::showCurrentWindow()
{
    QWidget* window = m_panel->isVisible() ? static_cast<QWidget*>(m_panel) : m_loginWindow;
    window->showNormal();
    window->raise();
    window->activateWindow();
}

void MuDesktopCompanion::pressMute()
{
    qInfo() << "MuDesktopCompanion::mute shortcut" << m_workflow->pushState();
    if (m_workflow->pushState() == PanelStatePushing)
        m_panel->sltMute();
}

void MuDesktopCompanion::endLive()
{
    if (m_workflow->pushState() == PanelStatePushing)
        m_panel->sltPushButton();
}

void MuDesktopCompanion::refreshTray()
{
    m_tray->showState(m_workflow->pushState(), m_muted, m_banned, interrupted(), m_muteBusy,
                      m_workflow->statusLine());
}

void MuDesktopCompanion::onStateChanged(int state)
{
    if (state == PanelStateEnterRoom)
        loadUserSettings(); // a login: perhaps another user
    if (state == PanelStatePushing)
        m_silenceTold = false; // once per push
    followInterruption();
    refreshTray();
}

void MuDesktopCompanion::onMuteLook(bool shown, bool muted, bool banned)
{
    if (shown && banned && !m_banned)
        m_notifier->notify(MuDesktopNotifier::MicBanned, QStringLiteral("已被禁麦"),
                           QStringLiteral("房间禁用了你的麦克风，小助手已静音"));
    m_muted = shown && muted;
    m_banned = shown && banned;
    refreshTray();
}

void MuDesktopCompanion::onMessage(const QString& line1, const QString&, bool returnToLogin)
{
    if (returnToLogin)
        m_notifier->notify(MuDesktopNotifier::SessionEnded, QStringLiteral("直播已结束"), line1);
}

bool MuDesktopCompanion::interrupted() const
{
    return m_workflow->pushState() == PanelStatePushing &&
           m_workflow->pushMonitor()->isInterrupted();
}

void MuDesktopCompanion::followSilence()
{
    // The workflow's own silence warning (the status line says it as well); muted or banned
    // silence is what the host chose and does not count there.
    if (m_silenceTold || m_workflow->pushState() != PanelStatePushing ||
        !m_workflow->pushMonitor()->isSilent())
        return;
    m_silenceTold = m_notifier->notify(MuDesktopNotifier::NothingHeard, QStringLiteral("听不到声音"),
                                       m_workflow->statusLine());
}

void MuDesktopCompanion::followInterruption()
{
    const bool now = interrupted();
    if (now && m_interruptedSinceMs < 0) {
        const qint64 since = VClock::monotonicMs();
        m_interruptedSinceMs = since;
        VClock::callAfter(interruptionGraceMs, this, [this, since] {
            if (m_interruptedSinceMs == since && interrupted())
                m_interruptionTold = m_notifier->notify(MuDesktopNotifier::PushInterrupted,
                                                        QStringLiteral("推流中断"), m_workflow->statusLine());
        });
    } else if (!now && m_interruptedSinceMs >= 0) {
        m_interruptedSinceMs = -1;
        if (m_interruptionTold && m_workflow->pushState() == PanelStatePushing)
            m_notifier->notify(MuDesktopNotifier::PushResumed, QStringLiteral("推流已恢复"),
                               QStringLiteral("房间又能听到电脑的声音了"));
        m_interruptionTold = false;
    }
}
