#include "base/VersionResource.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace VersionResource {

namespace {

bool readInfo(const std::string& path, std::vector<char>& buffer)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0)
        return false;
    buffer.assign(size_t(size) + 1, 0);
    return GetFileVersionInfoA(path.c_str(), 0, size, buffer.data()) != FALSE;
}

} // namespace

bool queryValue(const std::string& path, const std::string& subBlock, std::string& value)
{
    value.clear();
    std::vector<char> buffer;
    if (!readInfo(path, buffer))
        return false;
    char* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(buffer.data(), subBlock.c_str(), reinterpret_cast<LPVOID*>(&text), &length) || !text)
        return false;
    value.assign(text, strnlen(text, length));
    return true;
}

bool firstTranslation(const std::string& path, std::string& translation)
{
    translation.clear();
    std::vector<char> buffer;
    if (!readInfo(path, buffer))
        return false;
    struct LangAndCodePage
    {
        WORD language;
        WORD codePage;
    };
    LangAndCodePage* table = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(buffer.data(), "\\VarFileInfo\\Translation", reinterpret_cast<LPVOID*>(&table),
                        &length) ||
        length < sizeof(LangAndCodePage))
        return false;
    char text[16] = {};
    std::snprintf(text, sizeof text, "%04x%04x", unsigned(table[0].language), unsigned(table[0].codePage));
    translation = text;
    return true;
}

} // namespace VersionResource

#else // embedded version block

#include <QFile>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

// The block: a 16-byte marker, then entries "<sub-block path>\t<value>\0" ended by an empty entry
// (the literal's own closing NUL). The translation entry comes first; the strings live under the
// translation "080404b0" like the Windows resource. Nothing references the block in code, so it is
// marked used; the reader takes the marker from this very array, so its bytes exist only here.
#define TAVIO_STRINGS "\\StringFileInfo\\080404b0\\"
__attribute__((used, section(".tavio_version"))) const char g_versionBlock[] =
    "\x7fTavioVerBlock1\x01"
    "\\VarFileInfo\\Translation\t080404b0\0" TAVIO_STRINGS "Comments\t\0" TAVIO_STRINGS
    "InternalName\tVozedIvazerida\0" TAVIO_STRINGS "ProductName\tTavio语音房电脑助手\0" TAVIO_STRINGS
    "CompanyName\tTavio\0" TAVIO_STRINGS "LegalCopyright\tCopyright (C) Tavio\0" TAVIO_STRINGS
    "ProductVersion\t" TAVIO_VERSION_TEXT "\0" TAVIO_STRINGS
    "FileDescription\tTavio语音房电脑助手\0" TAVIO_STRINGS "FileVersion\t" TAVIO_VERSION_TEXT
    "\0" TAVIO_STRINGS "OriginalFilename\tVozedIvazerida\0";
#undef TAVIO_STRINGS

constexpr std::size_t kMarkerSize = 16;
constexpr std::size_t kMaxBlockSize = 64 * 1024;
const char kTranslationPath[] = "\\VarFileInfo\\Translation";

// Calls visit(path, value) for every entry of the first well-formed block in the file.
bool forEachEntry(const std::string& path,
                  const std::function<bool(const char*, std::size_t, const char*, std::size_t)>& visit)
{
    QFile file(QString::fromLocal8Bit(path.c_str()));
    if (!file.open(QIODevice::ReadOnly) || file.size() < qint64(kMarkerSize))
        return false;
    const qint64 fileSize = file.size();
    uchar* mapped = file.map(0, fileSize);
    if (!mapped)
        return false;
    const char* begin = reinterpret_cast<const char*>(mapped);
    const char* end = begin + fileSize;

    const std::boyer_moore_horspool_searcher searcher(g_versionBlock, g_versionBlock + kMarkerSize);
    for (const char* hit = std::search(begin, end, searcher); hit != end;
         hit = std::search(hit + 1, end, searcher)) {
        const char* cursor = hit + kMarkerSize;
        const char* limit = std::min(end, cursor + kMaxBlockSize);
        bool first = true;
        bool wellFormed = false;
        while (cursor < limit) {
            const char* entryEnd =
                static_cast<const char*>(std::memchr(cursor, '\0', std::size_t(limit - cursor)));
            if (!entryEnd)
                break;
            if (entryEnd == cursor) { // the empty entry ends the block
                wellFormed = !first;
                break;
            }
            const char* tab =
                static_cast<const char*>(std::memchr(cursor, '\t', std::size_t(entryEnd - cursor)));
            if (!tab)
                break;
            const std::size_t pathSize = std::size_t(tab - cursor);
            if (first && (pathSize != sizeof(kTranslationPath) - 1 ||
                          std::memcmp(cursor, kTranslationPath, pathSize) != 0))
                break;
            first = false;
            if (visit(cursor, pathSize, tab + 1, std::size_t(entryEnd - tab - 1)))
                return true;
            cursor = entryEnd + 1;
        }
        if (wellFormed)
            return false; // the block was read and had no such entry
    }
    return false;
}

bool findEntry(const std::string& path, const std::string& subBlock, std::string& value)
{
    return forEachEntry(path,
                        [&](const char* key, std::size_t keySize, const char* text, std::size_t textSize) {
                            if (keySize != subBlock.size() || std::memcmp(key, subBlock.data(), keySize) != 0)
                                return false;
                            value.assign(text, textSize);
                            return true;
                        });
}

} // namespace

namespace VersionResource {

bool queryValue(const std::string& path, const std::string& subBlock, std::string& value)
{
    value.clear();
    return findEntry(path, subBlock, value);
}

bool firstTranslation(const std::string& path, std::string& translation)
{
    translation.clear();
    if (!findEntry(path, kTranslationPath, translation))
        return false;
    if (translation.size() != 8) {
        translation.clear();
        return false;
    }
    return true;
}

} // namespace VersionResource

#endif
