// The push-stream service's reply envelope and every payload field the operations read.
#include "FuzzSupport.h"

#include "service/MuServer.h"

FUZZ_SHARED_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const MuServer::Envelope env = MuServer::readEnvelope(FuzzSupport::bytes(data, size));
    for (const char* key : {"userId", "roomId", "streamUrl"})
        MuServer::dataString(env, key);
    const QJsonValue mic = env.data.value(QStringLiteral("closeMic"));
    if (env.code == 1 && mic.isBool() && mic.toBool() && !env.isObject)
        __builtin_trap(); // a code read from something that was no object
    return 0;
}
