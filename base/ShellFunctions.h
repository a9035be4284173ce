#pragma once

#include <QString>

#include <string>

// Logs the text at warning level and ends the process with exit code -1.
[[noreturn]] void fatalExit(const QString& text);

// Reads one value of a file's version resource. Selectors 0..11 name, in order: "Comments",
// "InternalName", "ProductName", "CompanyName", "LegalCopyright", "ProductVersion",
// "FileDescription", "LegalTrademarks", "PrivateBuild", "FileVersion", "OriginalFilename",
// "SpecialBuild". Returns false (and an empty output) when the value cannot be read.
bool readFileVersionValue(const std::string& path, int selector, std::string& value);
