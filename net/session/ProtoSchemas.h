#pragma once

namespace google {
namespace protobuf {
namespace compiler {
class Importer;
}
} // namespace protobuf
} // namespace google

// The process-wide protocol schema importer over "protoFiles/request", "protoFiles/response"
// and "protoFiles" (relative to the working directory, searched in that order).
bool loadProtoSchemas();
bool releaseProtoSchemas();

// The importer between loadProtoSchemas and releaseProtoSchemas, null outside that window.
google::protobuf::compiler::Importer* protoImporter();
