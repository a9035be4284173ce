#pragma once

// The process-wide protocol schema importer over "protoFiles/request", "protoFiles/response"
// and "protoFiles" (relative to the working directory).
bool loadProtoSchemas();
bool releaseProtoSchemas();
