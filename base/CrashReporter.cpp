#include "base/CrashReporter.h"

#include <QDir>

#ifdef Q_OS_WIN
// Windows builds keep a report-less handler: the process ends as it would have.
CrashReporter::CrashReporter(const QString& database, const QString& application, const std::wstring& version,
                             const wchar_t* appIdentifier, unsigned int flags)
    : m_database(database), m_application(application), m_version(QString::fromStdWString(version)),
      m_appIdentifier(appIdentifier ? QString::fromWCharArray(appIdentifier) : QString()), m_flags(flags)
{
}
CrashReporter::~CrashReporter() = default;
void CrashReporter::setGuardByteBufferSize(std::size_t bytes)
{
    m_guardBytes = bytes;
}
void CrashReporter::setDefaultUserName(const QString& name)
{
    m_userName = name;
}
void CrashReporter::setDefaultUserEmail(const QString& email)
{
    m_userEmail = email;
}
void CrashReporter::setDefaultUserDescription(const QString& description)
{
    m_userDescription = description;
}
QString CrashReporter::writeSelfTestReport()
{
    return QString();
}
void CrashReporter::writeReport(int, void*, void*) {}
std::string CrashReporter::writeReportFile(int, void*, void*)
{
    return std::string();
}
void CrashReporter::renderText() {}
#else

#include <backward.hpp>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
constexpr std::size_t kSignalCount = sizeof(kFatalSignals) / sizeof(kFatalSignals[0]);
constexpr std::size_t kAltStackBytes = 1024 * 1024;
constexpr std::size_t kBacktraceDepth = 64;
constexpr unsigned kWatchdogSeconds = 30;

std::atomic<CrashReporter*> g_activeReporter{nullptr};
std::atomic<pid_t> g_reportingThread{0};
std::atomic<unsigned> g_reportSequence{0};
struct sigaction g_previousActions[kSignalCount];

const char* signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGABRT:
        return "SIGABRT";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    default:
        return "unknown";
    }
}

void* faultingInstruction(void* context)
{
    if (!context)
        return nullptr;
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return reinterpret_cast<void*>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return nullptr;
#endif
}

void ensureAlternateStack()
{
    stack_t current = {};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= kAltStackBytes)
        return;
    // The symboliser needs far more than the usual small signal stacks (the address sanitizer's
    // included). Mapped, not allocated, and kept for the whole process.
    static void* stackMemory = nullptr;
    if (!stackMemory) {
        void* memory =
            ::mmap(nullptr, kAltStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            return;
        stackMemory = memory;
    }
    stack_t stack = {};
    stack.ss_sp = stackMemory;
    stack.ss_size = kAltStackBytes;
    sigaltstack(&stack, nullptr);
}

void restoreDefaultAndReraise(int signalNumber)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
    // The signal stays blocked while this handler runs: it is delivered, with the default action,
    // as soon as the handler returns (a faulting instruction also simply faults again).
    raise(signalNumber);
}

void onFatalSignal(int signalNumber, siginfo_t* info, void* context)
{
    const pid_t self = static_cast<pid_t>(::syscall(SYS_gettid));
    pid_t expected = 0;
    if (!g_reportingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // The report writer itself failed: end now rather than report again.
            restoreDefaultAndReraise(signalNumber);
            return;
        }
        // Another thread is writing the report and will end the process; should it hang, this
        // thread ends the process after a while.
        for (unsigned i = 0; i < kWatchdogSeconds; ++i)
            ::sleep(1);
        restoreDefaultAndReraise(signalNumber);
        return;
    }
    // A report writer that hangs (a lock held by the crashed code) must not keep the process alive.
    struct sigaction alarmAction = {};
    alarmAction.sa_handler = SIG_DFL;
    sigemptyset(&alarmAction.sa_mask);
    sigaction(SIGALRM, &alarmAction, nullptr);
    ::alarm(kWatchdogSeconds);
    if (CrashReporter* reporter = g_activeReporter.load())
        reporter->writeReport(signalNumber, info, context);
    ::alarm(0);
    restoreDefaultAndReraise(signalNumber);
}

std::string localTimeText(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm parts = {};
    localtime_r(&now, &parts);
    char text[64] = {};
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

} // namespace

CrashReporter::CrashReporter(const QString& database, const QString& application, const std::wstring& version,
                             const wchar_t* appIdentifier, unsigned int flags)
    : m_database(database), m_application(application), m_version(QString::fromStdWString(version)),
      m_appIdentifier(appIdentifier ? QString::fromWCharArray(appIdentifier) : QString()), m_flags(flags),
      m_reportDir(QDir::current().absoluteFilePath(QStringLiteral("crash")).toStdString())
{
    renderText();
    ensureAlternateStack();

    CrashReporter* previous = g_activeReporter.exchange(this);
    if (!previous) {
        struct sigaction action = {};
        action.sa_sigaction = &onFatalSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        for (std::size_t i = 0; i < kSignalCount; ++i)
            sigaction(kFatalSignals[i], &action, &g_previousActions[i]);
    }
}

CrashReporter::~CrashReporter()
{
    CrashReporter* expected = this;
    if (g_activeReporter.compare_exchange_strong(expected, nullptr)) {
        for (std::size_t i = 0; i < kSignalCount; ++i)
            sigaction(kFatalSignals[i], &g_previousActions[i], nullptr);
    }
    std::free(m_guardBuffer);
}

void CrashReporter::setGuardByteBufferSize(std::size_t bytes)
{
    std::free(m_guardBuffer);
    m_guardBuffer = bytes ? std::malloc(bytes) : nullptr;
    m_guardBytes = m_guardBuffer ? bytes : 0;
    renderText();
}

void CrashReporter::setDefaultUserName(const QString& name)
{
    m_userName = name;
    renderText();
}

void CrashReporter::setDefaultUserEmail(const QString& email)
{
    m_userEmail = email;
    renderText();
}

void CrashReporter::setDefaultUserDescription(const QString& description)
{
    m_userDescription = description;
    renderText();
}

void CrashReporter::renderText()
{
    const QString header =
        QStringLiteral("database: %1\napplication: %2\nversion: %3\nflags: 0x%4\nguard bytes: %5\n")
            .arg(m_database, m_application, m_version)
            .arg(m_flags, 0, 16)
            .arg(qulonglong(m_guardBytes));
    const QString defaults = QStringLiteral("user name: %1\nuser email: %2\nuser description: %3\n")
                                 .arg(m_userName, m_userEmail, m_userDescription);
    m_headerText = header.toStdString();
    m_defaultsText = defaults.toStdString();
}

QString CrashReporter::writeSelfTestReport()
{
    return QString::fromStdString(writeReportFile(0, nullptr, nullptr));
}

void CrashReporter::writeReport(int signalNumber, void* signalInfo, void* context)
{
    // Give the report writer room when the crash was running out of memory.
    std::free(m_guardBuffer);
    m_guardBuffer = nullptr;
    const std::string path = writeReportFile(signalNumber, signalInfo, context);
    const std::string note = path.empty() ? std::string("crash report could not be written\n")
                                          : "crash report written to " + path + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, note.data(), note.size());
}

std::string CrashReporter::writeReportFile(int signalNumber, void* signalInfo, void* context)
{
    if (::mkdir(m_reportDir.c_str(), 0755) != 0 && errno != EEXIST)
        return std::string();
    char name[128] = {};
    std::snprintf(name, sizeof name, "/crash_%s_%ld_%u.txt", localTimeText("%Y%m%d_%H%M%S").c_str(),
                  long(::getpid()), g_reportSequence.fetch_add(1) + 1);
    const std::string path = m_reportDir + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return std::string();
    std::FILE* out = ::fdopen(fd, "w");
    if (!out) {
        ::close(fd);
        return std::string();
    }

    const auto* info = static_cast<const siginfo_t*>(signalInfo);
    std::fprintf(out, "Crash report\ntime: %s\n", localTimeText("%Y-%m-%d %H:%M:%S").c_str());
    std::fputs(m_headerText.c_str(), out);
    if (signalNumber == 0)
        std::fputs("signal: none (self-test report, the process goes on)\n", out);
    else
        std::fprintf(out, "signal: %d (%s)\n", signalNumber, signalName(signalNumber));
    if (info)
        std::fprintf(out, "fault address: %p\n", info->si_addr);

    std::fputs("\nbacktrace:\n", out);
    std::fflush(out);
    backward::StackTrace trace;
    if (void* instruction = faultingInstruction(context))
        trace.load_from(instruction, kBacktraceDepth, context, info ? info->si_addr : nullptr);
    else
        trace.load_here(kBacktraceDepth);
    backward::Printer printer;
    printer.snippet = false;
    printer.color_mode = backward::ColorMode::never;
    printer.address = true;
    printer.object = true;
    printer.print(trace, out);

    std::fputs("\n", out);
    std::fputs(m_defaultsText.c_str(), out);
    std::fclose(out);
    return path;
}

#endif
