// The configuration service's reply ("sdkinit"), as the login window hands it over.
#include "FuzzSupport.h"

#include "config/VGlobalConfig.h"

FUZZ_SHARED_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VGlobalConfig::instance()->applySdkInitReply(FuzzSupport::bytes(data, size));
    return 0;
}
