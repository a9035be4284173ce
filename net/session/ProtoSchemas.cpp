#include "net/session/ProtoSchemas.h"

#include <QDebug>
#include <QString>

#include <google/protobuf/compiler/importer.h>

#include <new>

namespace {

using google::protobuf::compiler::DiskSourceTree;
using google::protobuf::compiler::Importer;
using google::protobuf::compiler::MultiFileErrorCollector;

// A broken schema file must not stay silent: the import still just yields nothing, but the
// reason lands in the log.
class SchemaErrorLog : public MultiFileErrorCollector
{
public:
    void AddError(const std::string& fileName, int line, int column, const std::string& message) override
    {
        qInfo() << "loadProtoSchemas error" << QString::fromStdString(fileName) << line << column
                << QString::fromStdString(message);
    }
};

DiskSourceTree* g_sourceTree = nullptr;
Importer* g_importer = nullptr;
SchemaErrorLog g_errorLog;

} // namespace

bool loadProtoSchemas()
{
    releaseProtoSchemas();
    g_sourceTree = new (std::nothrow) DiskSourceTree();
    if (!g_sourceTree)
        return false;
    // First hit wins: request folder, then response folder, then the common folder.
    g_sourceTree->MapPath("", "protoFiles/request");
    g_sourceTree->MapPath("", "protoFiles/response");
    g_sourceTree->MapPath("", "protoFiles");
    g_importer = new (std::nothrow) Importer(g_sourceTree, &g_errorLog);
    return g_importer != nullptr;
}

bool releaseProtoSchemas()
{
    // The importer reads from the tree, so it goes first.
    delete g_importer;
    g_importer = nullptr;
    delete g_sourceTree;
    g_sourceTree = nullptr;
    return true;
}

Importer* protoImporter()
{
    return g_importer;
}
