// An answer of the session server as the router decodes it: the 6-byte envelope, the protoId
// table and the real schemas.
#include "FuzzSupport.h"

#include "net/session/ProtoSchemas.h"
#include "net/session/ZebServerComm.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::setUp(argc, argv);
    if (!loadProtoSchemas())
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int answered = 0;
    const QByteArray frame = FuzzSupport::bytes(data, size);
    // A leading 0xff stands for a transport failure, which carries whatever bytes came.
    const int status = (size > 0 && data[0] == 0xff) ? -200 : 200;
    ZebServerComm::instance()->Recv(status, frame, [&answered](const ZebServerResponse&) { ++answered; });
    if (answered > 1)
        __builtin_trap();
    return 0;
}
