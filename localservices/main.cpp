// tavio-localservices: the configuration, push-stream and log-collection services of the Tavio
// assistant, played locally on 127.0.0.1 for tests and local runs. See README.md.
#include "localservices/LocalServer.h"
#include "localservices/ServiceState.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavio-localservices"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local configuration, push-stream and log-collection services on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0 picks a free one; default 8686)."),
        QStringLiteral("N"), QStringLiteral("8686"));
    const QCommandLineOption dataOption(
        QStringLiteral("data"),
        QStringLiteral("Accounts file (JSON); written with the demo account when missing. "
                       "Without it only the demo account 10001/123456 exists."),
        QStringLiteral("FILE"));
    const QCommandLineOption rtmpHostOption(QStringLiteral("rtmp-host"),
                                            QStringLiteral("Host of the push addresses (default 127.0.0.1)."),
                                            QStringLiteral("H"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption rtmpPortOption(QStringLiteral("rtmp-port"),
                                            QStringLiteral("Port of the push addresses (default 1935)."),
                                            QStringLiteral("P"), QStringLiteral("1935"));
    parser.addOptions({portOption, dataOption, rtmpHostOption, rtmpPortOption});
    parser.process(app);

    bool portOk = false;
    const int port = parser.value(portOption).toInt(&portOk);
    bool rtmpPortOk = false;
    const int rtmpPort = parser.value(rtmpPortOption).toInt(&rtmpPortOk);
    if (!portOk || port < 0 || port > 65535 || !rtmpPortOk || rtmpPort <= 0 || rtmpPort > 65535) {
        std::fprintf(stderr, "tavio-localservices: --port must be 0..65535 and --rtmp-port 1..65535\n");
        return 2;
    }

    ServiceState::Options options;
    options.dataPath = parser.value(dataOption);
    options.rtmpHost = parser.value(rtmpHostOption);
    options.rtmpPort = rtmpPort;
    ServiceState state(options);
    QString error;
    if (!state.loadAccounts(error)) {
        std::fprintf(stderr, "tavio-localservices: %s\n", qPrintable(error));
        return 1;
    }

    // The signals are taken by sigwait below; every thread started from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    LocalServer server(state);
    const int boundPort = server.bind("127.0.0.1", port);
    if (boundPort <= 0) {
        std::fprintf(stderr, "tavio-localservices: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(boundPort);
    state.setSelfUrl(url);

    std::atomic<bool> serveEnded{false};
    std::thread serving([&server, &serveEnded]() {
        server.serve();
        serveEnded = true;
    });
    // Stopping a server that has not entered its loop yet would be lost: announce only once it serves.
    while (!server.isRunning() && !serveEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (serveEnded) {
        serving.join();
        std::fprintf(stderr, "tavio-localservices: the server stopped at once\n");
        return 1;
    }
    std::printf("listening on %s\n", qPrintable(url));
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    serving.join();
    std::printf("stopped (signal %d)\n", received);
    std::fflush(stdout);
    return 0;
}
