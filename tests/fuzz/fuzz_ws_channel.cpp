// A binary message arriving on the WebSocket channel: the envelope, matching it to a waiting
// request, and broadcasts decoded with the real schemas. A broadcast that does not decode shows a
// warning box; the harness closes it at once.
#include "FuzzSupport.h"

#include "net/session/ProtoSchemas.h"
#include "net/session/VWsComm.h"

#include <QTimer>
#include <QWidget>

namespace {

QObject* g_receiver = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::setUp(argc, argv, FuzzSupport::App::Widgets);
    if (!loadProtoSchemas())
        std::abort();
    auto* closer = new QTimer(qApp);
    QObject::connect(closer, &QTimer::timeout, []() {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    closer->start(0);
    g_receiver = new QObject(qApp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VWsComm* channel = VWsComm::instance();
    // Two requests wait for answers, so an envelope may match one (or not).
    channel->recordConfigInfo(1, g_receiver, QStringLiteral("deleteLater"), false);
    channel->recordConfigInfo(0x0101, g_receiver, QStringLiteral("noSuchSlot"), true);
    QMetaObject::invokeMethod(channel, "onBinaryMessageReceived", Qt::DirectConnection,
                              Q_ARG(QByteArray, FuzzSupport::bytes(data, size)));
    QCoreApplication::processEvents();
    channel->releaseResponse();
    return 0;
}
