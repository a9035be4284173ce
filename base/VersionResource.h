#pragma once

#include <string>

// Reads values of a program file's version resource. On Windows this is the system's version
// API; elsewhere our binaries carry an embedded version block that is read from the file itself,
// so a file without one (any program not built from this project) yields nothing.
namespace VersionResource {

// Queries a sub-block path such as "\StringFileInfo\080404b0\FileVersion" in the file at path.
bool queryValue(const std::string& path, const std::string& subBlock, std::string& value);

// The first language and code page of the translation table, as "%04x%04x".
bool firstTranslation(const std::string& path, std::string& translation);

} // namespace VersionResource
