// "Config/GlobalConfig.json" as start-up reads it.
#include "FuzzSupport.h"

#include "config/VGlobalConfig.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::setUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::writeFile(QStringLiteral("GlobalConfig.json"), FuzzSupport::bytes(data, size));
    VGlobalConfig::instance()->load(QStringLiteral("GlobalConfig.json"));
    return 0;
}
