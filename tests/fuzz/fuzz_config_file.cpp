// "Config/GlobalConfig.json" as start-up reads it.
#include "FuzzSupport.h"

#include "config/VGlobalConfig.h"

FUZZ_SHARED_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::writeFile(QStringLiteral("GlobalConfig.json"), FuzzSupport::bytes(data, size));
    VGlobalConfig::instance()->load(QStringLiteral("GlobalConfig.json"));
    return 0;
}
