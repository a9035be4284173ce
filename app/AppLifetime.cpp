#include "app/AppLifetime.h"

#include "app/MessageBoxNotifier.h"
#include "base/CrashReporter.h"
#include "base/LogHandler.h"
#include "base/MuSettings.h"
#include "base/ShellFunctions.h"
#include "base/zebUtility.h"
#include "config/VGlobalConfig.h"
#include "net/http/VHttpComm.h"
#include "net/session/ProtoSchemas.h"
#include "net/session/VWsComm.h"
#include "service/MuServer.h"
#include "ui/MuDesktopCompanion.h"
#include "ui/MuVozedIvazerida.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QPointer>
#include <QSharedPointer>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

// The pictures live in the static ui library, whose resource tree the linker drops unless
// something registers it; the icon below is the first use. Must stand outside any namespace.
static void registerCompiledResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

AppLifetime::StepObserver& observerSlot()
{
    static AppLifetime::StepObserver observer;
    return observer;
}

// The crash-reporter handle lives until process exit.
QSharedPointer<CrashReporter> g_crashReporter;

// Closing the windows runs what the user's own close would: a push in progress is ended at the
// service and the typed credentials are saved. Closing the panel shows the login window again,
// hence a second pass.
void closeWindowsAsUserWould()
{
    for (int pass = 0; pass < 2; ++pass) {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget* window : windows) {
            QPointer<QWidget> guard(window);
            if (guard && guard->isVisible())
                guard->close();
        }
    }
}

#ifndef Q_OS_WIN
// SIGINT/SIGTERM/SIGHUP end the event loop the ordinary way, so the shutdown order still runs and
// the settings are written (a terminal's Ctrl-C or closing, a desktop session ending the program).
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

void AppLifetime::installTerminationHandlers(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier]() {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        qInfo() << "main termination signal";
        closeWindowsAsUserWould();
        QApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

void AppLifetime::removeTerminationHandlers()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    for (int& fd : g_signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
#endif

void AppLifetime::setStepObserver(StepObserver observer)
{
    observerSlot() = std::move(observer);
}

void AppLifetime::step(const char* name)
{
    if (observerSlot())
        observerSlot()(QString::fromLatin1(name));
}

int AppLifetime::run(int& argc, char** argv)
{
    auto* app = new QApplication(argc, argv);
    // The lower layers' notes to the user become the real boxes from here on.
    MessageBoxNotifier notifier;
    UserNotifier::install(&notifier);
    step("application");
#ifndef Q_OS_WIN
    installTerminationHandlers(*app);
#endif

    registerCompiledResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/yyzslogo156.ico")));
    step("icon");
    QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);

    // The device identifier is there before the configuration file is read.
    VGlobalConfig::instance()->setValue(QStringLiteral("deviceId"), zebUtility::macAddress());
    step("deviceId");

    installLogHandler(true, false);
    step("log handler");
    qInfo() << "main start";

    MuSettings::instance()->startClock();
    step("settings");

    VGlobalConfig::instance()->load(QStringLiteral("Config/GlobalConfig.json"));
    step("configuration");

    loadProtoSchemas();
    step("schemas");

    std::string version;
    readFileVersionValue(QApplication::applicationFilePath().toLocal8Bit().toStdString(), 9, version);
    const QString versionText = QString::fromLocal8Bit(version.c_str());
    qInfo() << "version" << versionText;
    step("version");

    g_crashReporter =
        QSharedPointer<CrashReporter>::create(QStringLiteral("hollin"), QStringLiteral("VozedIvazerida"),
                                              versionText.toStdWString(), nullptr, 0x2010u);
    g_crashReporter->setGuardByteBufferSize(0x1400000);
    g_crashReporter->setDefaultUserName(QStringLiteral("名字"));
    g_crashReporter->setDefaultUserEmail(QStringLiteral("邮箱"));
    g_crashReporter->setDefaultUserDescription(QStringLiteral("这个问题是怎么触发的"));
    step("crash reporter");

    // Self-test switch: a report is written at once, without harming the process.
    if (VGlobalConfig::instance()->value(QStringLiteral("dumpTest")) == QLatin1String("true"))
        qInfo() << "main dumpTest report" << g_crashReporter->writeSelfTestReport();
    step("dumpTest");

    auto* loginWindow = new MuVozedIvazerida(nullptr);
    loginWindow->show();
    step("login window");

    // The shortcut, the tray and the notifications follow the windows; "退出" in the tray closes
    // them as the user would.
    auto* companion = new MuDesktopCompanion(loginWindow);
    QObject::connect(companion, &MuDesktopCompanion::sigQuitRequested, app, [] {
        closeWindowsAsUserWould();
        QApplication::quit();
    });
    step("desktop companion");

    step("event loop");
    const int result = QApplication::exec();
    delete companion; // lets go of the shortcut's grab and the tray before the windows go

    releaseProtoSchemas();
    step("release schemas");
    VHttpComm::instance();
    VHttpComm::destroyInstance();
    step("release http");
    VWsComm::instance();
    VWsComm::destroyInstance();
    step("release websocket");
    VSingleton<MuServer>::instance();
    VSingleton<MuServer>::destroyInstance();
    step("release push-stream client");
    MuSettings::destroyInstance();
    step("release settings");
    delete loginWindow;
    step("release login window");
    UserNotifier::install(nullptr);
    delete app;
#ifndef Q_OS_WIN
    removeTerminationHandlers();
#endif
    step("release application");
    return result;
}
