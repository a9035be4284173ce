#include "net/session/ProtoSchemas.h"

// Placeholder until the schema importer exists.
bool loadProtoSchemas()
{
    return true;
}

bool releaseProtoSchemas()
{
    return true;
}
