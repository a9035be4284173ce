// The shortcut, the tray and the notifications as the host meets them: on a private desktop (an X
// server, trayer, dunst; tests/ui/on-desktop.sh) and, where no desktop exists, on the offscreen
// platform, against the push-stream service on loopback and the scripted SDK.
#include "support/LogCapture.h"
#include "support/PanelSession.h"
#include "support/PushServiceDouble.h"
#include "support/ScriptedRtcBackend.h"
#include "support/SessionDriver.h"
#include "support/TestEnv.h"

#include "rtc/AgoraRtcEngine.h"
#include "rtc/sdk/IRtcEngineEventHandler.h"
#include "ui/MuDesktopCompanion.h"
#include "ui/MuDesktopNotifier.h"
#include "ui/MuDesktopSettingsDialog.h"
#include "ui/MuGlobalShortcut.h"
#include "ui/MuTrayIcon.h"

#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusReply>
#include <QSystemTrayIcon>
#include <QX11Info>
#include <QtTest>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

using agora::rtc::ScriptedRtcBackend;
using namespace PushServiceDouble;

namespace {

// Another client of the same X server: a window that takes the focus, and a grab of its own.
class OtherClient
{
public:
    OtherClient() : m_c(xcb_connect(nullptr, nullptr))
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        m_root = screen->root;
        m_window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(m_c, m_window);
        focus();
    }
    ~OtherClient() { xcb_disconnect(m_c); }
    void focus()
    {
        xcb_set_input_focus(m_c, XCB_INPUT_FOCUS_POINTER_ROOT, m_window, XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); // a round trip
        QTRY_VERIFY(!QApplication::activeWindow());
    }
    // Every key with Ctrl+Alt, so Ctrl+Alt+M is taken.
    bool grabCtrlAlt()
    {
        const auto cookie = xcb_grab_key_checked(m_c, 1, m_root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1,
                                                 XCB_GRAB_ANY, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(m_c, cookie);
        std::free(error);
        return !error;
    }

private:
    xcb_connection_t* m_c;
    xcb_window_t m_root = 0;
    xcb_window_t m_window = 0;
};

bool xdotool(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

// What dunst has shown (its list, after closing what is on screen): the summaries.
QStringList shownNotifications()
{
    QDBusInterface dunst(QStringLiteral("org.freedesktop.Notifications"),
                         QStringLiteral("/org/freedesktop/Notifications"),
                         QStringLiteral("org.dunstproject.cmd0"));
    dunst.call(QStringLiteral("NotificationCloseAll"));
    const QDBusMessage reply = dunst.call(QStringLiteral("NotificationListHistory"));
    QList<QVariantMap> history;
    reply.arguments().value(0).value<QDBusArgument>() >> history;
    QStringList summaries;
    for (const QVariantMap& entry : history)
        summaries << entry.value(QStringLiteral("summary")).toString();
    return summaries;
}

} // namespace

#define REQUIRE_DESKTOP()                                                                                    \
    if (!QX11Info::isPlatformX11())                                                                          \
    QSKIP("needs the private desktop of tests/ui/on-desktop.sh")

class tst_MuDesktopCompanion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_log.reset(new LogCapture); }

    void init()
    {
        m_session.reset(new PanelSession);
        LogCapture::clear();
    }

    void cleanup()
    {
        m_companion.reset();
        m_session.reset();
    }

    // Without a desktop: no tray, no grab, no notification service; one line each, the rest works.
    void withoutDesktop()
    {
        if (QX11Info::isPlatformX11())
            QSKIP("a desktop is there");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS"); // before the first use of the bus: none at all
        companion();
        m_companion->shortcut()->setKeys(QKeySequence(QStringLiteral("Ctrl+Alt+K")));
        QVERIFY(!m_companion->tray()->isShown());
        QCOMPARE(m_companion->shortcut()->status(), MuGlobalShortcut::Unavailable);
        for (int i = 0; i < 2; ++i)
            QVERIFY(!m_companion->notifier()->notify(MuDesktopNotifier::MicBanned, "t", "b"));
        for (const char* line : {"MuTrayIcon::no system tray", "MuGlobalShortcut::grab",
                                 "MuDesktopNotifier::no notification service", "MuDesktopNotifier::no way"})
            QVERIFY2(LogCapture::count(line) == 1, line);
        m_companion->openSettings();
        QCOMPARE(m_companion->settingsDialog()->shortcutStatusText(), "此桌面不支持全局快捷键");
    }

    // A damaged stored shortcut or switch: the defaults apply and good values are written back.
    void damagedSettings_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("repaired");
        // clang-format off
        QTest::newRow("good") << "muteShortcut=Ctrl+Shift+F9\nnotifications=false" << "Ctrl+Shift+F9" << false;
        QTest::newRow("none stored") << "" << "Ctrl+Alt+M" << false;
        QTest::newRow("unknown key") << "muteShortcut=Ctrl+Alt+Mx" << "Ctrl+Alt+M" << true;
        QTest::newRow("no modifier") << "muteShortcut=M" << "Ctrl+Alt+M" << true;
        QTest::newRow("variant") << "muteShortcut=@Variant(\\0\\0\\0\\x7f)" << "Ctrl+Alt+M" << true;
        QTest::newRow("bad switch") << "notifications=perhaps" << "Ctrl+Alt+M" << true;
        // clang-format on
    }
    void damagedSettings()
    {
        QFETCH(QString, stored);
        m_session->user.reset();
        QVERIFY(TestEnv::writeFile("MuVozedIvazerida.ini", "userid=10001\n"));
        QVERIFY(
            TestEnv::writeFile("MuVozedIvazeridaTemp.ini", "[10001]\nvolume=40\n" + stored.toUtf8() + "\n"));
        m_session->user.reset(new SessionDriver);
        companion();
        QTEST(m_companion->shortcut()->keys().toString(QKeySequence::PortableText), "keys");
        QCOMPARE(m_companion->notifier()->isEnabled(), !stored.contains("notifications=false"));
        QTEST(LogCapture::contains("MuDesktopCompanion::damaged settings"), "repaired");
        m_companion.reset();
        m_session->user.reset(); // writes the settings files
        const QString file = TestEnv::readText("MuVozedIvazeridaTemp.ini");
        QVERIFY2(file.contains("volume=40"), qPrintable(file));
        QFETCH(bool, repaired);
        if (repaired)
            QVERIFY2(file.contains("muteShortcut=Ctrl+Alt+M") && file.contains("notifications=true"),
                     qPrintable(file));
    }

    // Ctrl+Alt+M from another program's window, whatever the lock keys: it mutes while live only.
    void shortcutFromAnotherWindow_data()
    {
        QTest::addColumn<QString>("lockKey");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("serviceTold");
        QTest::addColumn<QString>("button");
        // clang-format off
        QTest::newRow("live") << "" << int(PanelStatePushing) << "1,0,1" << "静音中";
        QTest::newRow("live, Caps Lock") << "Caps_Lock" << int(PanelStatePushing) << "1,0,1" << "静音中";
        QTest::newRow("live, Num Lock") << "Num_Lock" << int(PanelStatePushing) << "1,0,1" << "静音中";
        QTest::newRow("room only") << "" << int(PanelStateStartPush) << "" << "hidden";
        // clang-format on
    }
    void shortcutFromAnotherWindow()
    {
        QFETCH(QString, lockKey);
        QFETCH(int, state);
        REQUIRE_DESKTOP();
        companion();
        QCOMPARE(m_companion->shortcut()->status(), MuGlobalShortcut::Active);
        m_session->user->openPanel(state);
        OtherClient other;
        if (!lockKey.isEmpty())
            QVERIFY(xdotool({"key", lockKey}));
        for (int press = 1; press <= 3; ++press) {
            QVERIFY(xdotool({"key", "ctrl+alt+m"}));
            QTRY_COMPARE(LogCapture::count("MuDesktopCompanion::mute shortcut"), press);
            QTRY_VERIFY(!panel()->workflow()->isBusy());
        }
        if (!lockKey.isEmpty())
            QVERIFY(xdotool({"key", lockKey}));
        QTEST(m_session->service->values("mute", "mute").join(','), "serviceTold");
        QPushButton* mute = m_session->user->button("pushButton_mute");
        QTEST(mute->isVisible() ? mute->text() : "hidden", "button");
        QCOMPARE(ScriptedRtcBackend::snapshot().localMuted, state == PanelStatePushing);
    }

    // Twenty quick presses against a slow service: one call at a time, and all sides agree.
    void quickPresses()
    {
        REQUIRE_DESKTOP();
        companion();
        m_session->user->openPanel(PanelStatePushing);
        OtherClient other;
        m_session->service->delayMs = 30;
        QStringList keys = {"key", "--delay", "10"};
        for (int i = 0; i < 20; ++i)
            keys << "ctrl+alt+m";
        QVERIFY(xdotool(keys));
        QTRY_COMPARE(LogCapture::count("MuDesktopCompanion::mute shortcut"), 20);
        QTRY_VERIFY(!panel()->workflow()->isBusy());
        const QStringList told = m_session->service->values("mute", "mute");
        QVERIFY(!told.isEmpty() && told.size() <= 20);
        for (int i = 0; i < told.size(); ++i)
            QCOMPARE(told[i], i % 2 ? "0" : "1"); // each call undid the one before
        const bool muted = told.last() == "1";
        QCOMPARE(ScriptedRtcBackend::snapshot().localMuted, muted);
        QCOMPARE(m_session->user->button("pushButton_mute")->text(), muted ? "静音中" : "静音");
        QVERIFY(m_session->user->button("pushButton_mute")->isEnabled());
    }

    // Another program holds the combination: said in the dialog and the log; another one works.
    void shortcutTaken()
    {
        REQUIRE_DESKTOP();
        OtherClient other;
        QVERIFY(other.grabCtrlAlt());
        companion();
        m_session->user->openPanel(PanelStatePushing); // the user's own settings from here on
        QCOMPARE(m_companion->shortcut()->status(), MuGlobalShortcut::Taken);
        QVERIFY(LogCapture::contains("MuGlobalShortcut::grab \"Ctrl+Alt+M\" 1"));
        m_companion->openSettings();
        MuDesktopSettingsDialog* dialog = m_companion->settingsDialog();
        QCOMPARE(dialog->shortcutStatusText(), "快捷键已被其他程序占用，请换一个");
        auto* edit = dialog->findChild<QKeySequenceEdit*>("keySequenceEdit_mute");
        edit->setKeySequence(QKeySequence("Ctrl+Shift+F9"));
        emit edit->editingFinished();
        QVERIFY(dialog->shortcutStatusText().isEmpty());
        QVERIFY(xdotool({"key", "ctrl+shift+F9"}));
        QTRY_COMPARE(m_session->service->values("mute", "mute"), QStringList{"1"});
        QTest::mouseClick(dialog->findChild<QPushButton*>("pushButton_default"), Qt::LeftButton);
        QCOMPARE(dialog->shortcutStatusText(), "快捷键已被其他程序占用，请换一个");
    }

    // The tray shows the push: its picture, tooltip and menu follow the workflow.
    void trayFollowsPush()
    {
        REQUIRE_DESKTOP();
        companion();
        MuTrayIcon* tray = m_companion->tray();
        QTRY_VERIFY(tray->isShown() && !tray->trayIcon()->geometry().isEmpty()); // embedded in trayer
        const auto seen = [tray] {
            QStringList visible;
            for (QAction* action : tray->menu()->actions())
                if (action->isVisible() && !action->isSeparator())
                    visible << action->text() + (action->isEnabled() ? "" : "(off)");
            const QImage picture = tray->trayIcon()->icon().pixmap(16).toImage();
            const bool drawn = picture == MuTrayIcon::drawIcon(tray->look()).pixmap(16).toImage();
            return QStringLiteral("%1 %2 %3 %4")
                .arg(tray->look())
                .arg(drawn)
                .arg(tray->trayIcon()->toolTip(), visible.join('|'));
        };
        QCOMPARE(seen(), "0 1 Tavio 显示窗口|设置…|退出");
        m_session->user->openPanel(PanelStatePushing);
        relay(agora::rtc::kRtmpStateRunning);
        QCOMPARE(seen(), "1 1 Tavio · 已推流 00:00:00 显示窗口|静音|结束直播|设置…|退出");
        emit tray->sigMute();
        QCOMPARE(seen(), "2 1 Tavio · 已推流 00:00:00 显示窗口|取消静音|结束直播|设置…|退出");
        ScriptedRtcBackend::withEventHandler([](auto* h) { h->onRtmpStreamingReconnecting(kUrl, 1, 2000); });
        QCoreApplication::processEvents();
        QCOMPARE(seen(),
                 "3 1 Tavio · 推流中断，2 秒后重连（第 1 次）… 显示窗口|取消静音|结束直播|设置…|退出");
        relay(agora::rtc::kRtmpStateRunning);
        beat(envelope(3163, "禁麦"));
        QCOMPARE(seen(), "2 1 Tavio · 已推流 00:00:02 显示窗口|取消静音(off)|结束直播|设置…|退出");
        emit tray->sigEndLive();
        QCOMPARE(panel()->pushState(), int(PanelStateStartPush));
        QCOMPARE(seen(), "0 1 Tavio 显示窗口|设置…|退出");
        QSet<uint> pictures; // the marks differ from each other and from the plain icon at 16 px
        for (int look = MuTrayIcon::LookReady; look <= MuTrayIcon::LookTrouble; ++look) {
            const QImage image = MuTrayIcon::drawIcon(MuTrayIcon::Look(look)).pixmap(16).toImage();
            pictures << qHashBits(image.constBits(), size_t(image.sizeInBytes()));
        }
        QCOMPARE(pictures.size(), 4);
    }

    // The four cases reach dunst while another window is active, each at most once a minute.
    void notifications()
    {
        REQUIRE_DESKTOP();
        companion();
        QVERIFY(m_companion->notifier()->hasService());
        m_session->user->openPanel(PanelStatePushing);
        relay(agora::rtc::kRtmpStateRunning);
        OtherClient other;
        const QStringList before = shownNotifications(); // from earlier tests
        const auto count = [&before](const char* summary) {
            return shownNotifications().count(summary) - before.count(summary);
        };
        // Interrupted: a second of it says nothing, more than three seconds does, and its end too.
        for (int i = 0; i < 2; ++i) {
            ScriptedRtcBackend::withEventHandler(
                [](auto* h) { h->onRtmpStreamingReconnecting(kUrl, 1, 5000); });
            QCoreApplication::processEvents();
            m_session->user->clock().advance(i == 0 ? 1000 : 3000);
            relay(agora::rtc::kRtmpStateRunning);
        }
        QTRY_COMPARE(count("推流中断"), 1);
        QTRY_COMPARE(count("推流已恢复"), 1);
        // Nothing heard for ten seconds, once per push; silence while muted is the host's choice.
        AgoraRtcEngine* engine = panel()->rtcEngine();
        for (int second = 0; second <= 12; ++second) {
            emit engine->sigCaptureLevel(0);
            m_session->user->clock().advance(1000);
        }
        QTRY_COMPARE(count("听不到声音"), 1);
        // Banned twice within a minute: once.
        beat(envelope(3163, "禁麦"));
        beat();
        beat(envelope(3163, "禁麦"));
        QTRY_COMPARE(count("已被禁麦"), 1);
        // Switched off, then the session ended by the service: not told.
        m_companion->applySettings(MuDesktopCompanion::defaultKeys(), false);
        beat(envelope(3190, "账号在别处登录"));
        QCoreApplication::processEvents();
        QCOMPARE(count("直播已结束"), 0);
        m_companion->applySettings(MuDesktopCompanion::defaultKeys(), true);
        m_session->user->dismissBox();
        m_session->user->openPanel(PanelStatePushing);
        other.focus();
        beat(envelope(3191, "账号已下线"));
        QTRY_COMPARE(count("直播已结束"), 1);
        QCOMPARE(count("听不到声音") + count("已被禁麦"), 2); // nothing repeated meanwhile
    }

private:
    static constexpr const char* kUrl = "rtmp://127.0.0.1:1935/live/room42";

    void companion() { m_companion = std::make_unique<MuDesktopCompanion>(m_session->user->window()); }
    MuVoicePanel* panel() const { return m_session->user->panel(); }
    void relay(int state)
    {
        ScriptedRtcBackend::withEventHandler(
            [state](auto* h) { h->onRtmpStreamingStateChanged(kUrl, state, 0); });
        QCoreApplication::processEvents();
    }
    void beat(const QByteArray& answer = {})
    {
        if (!answer.isEmpty())
            m_session->service->once["checkLiveStatus"] << answer;
        m_session->user->beat(2000);
    }

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<PanelSession> m_session;
    std::unique_ptr<MuDesktopCompanion> m_companion;
};

QTEST_MAIN(tst_MuDesktopCompanion)
#include "tst_MuDesktopCompanion.moc"
