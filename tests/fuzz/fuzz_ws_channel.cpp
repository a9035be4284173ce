// A binary message arriving on the WebSocket channel: the envelope, matching it to a waiting
// request, and broadcasts decoded with the real schemas (one that does not decode is told to the
// user, which without the application's boxes is only logged).
#include "FuzzSupport.h"

#include "net/session/ProtoSchemas.h"
#include "net/session/VWsComm.h"

namespace {

QObject* g_receiver = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::setUp(argc, argv);
    if (!loadProtoSchemas())
        std::abort();
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
