#include "base/ShellFunctions.h"

#include "base/VersionResource.h"

#include <QDebug>

#include <cstdio>
#include <cstdlib>

void fatalExit(const QString& text)
{
    qWarning().noquote() << text;
    std::fflush(nullptr);
    std::exit(-1);
}

bool readFileVersionValue(const std::string& path, int selector, std::string& value)
{
    static const char* const names[] = {"Comments",        "InternalName",     "ProductName",
                                        "CompanyName",     "LegalCopyright",   "ProductVersion",
                                        "FileDescription", "LegalTrademarks",  "PrivateBuild",
                                        "FileVersion",     "OriginalFilename", "SpecialBuild"};
    value.clear();
    if (selector < 0 || selector > 11)
        return false;
    std::string translation;
    if (!VersionResource::firstTranslation(path, translation))
        return false;
    const std::string subBlock = "\\StringFileInfo\\" + translation + "\\" + names[selector];
    if (subBlock.size() >= 256)
        return false;
    return VersionResource::queryValue(path, subBlock, value);
}
