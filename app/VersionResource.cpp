#include "app/VersionResource.h"

// Placeholder until the embedded version block exists: no file carries a version yet.
namespace VersionResource {

bool queryValue(const std::string&, const std::string&, std::string& value)
{
    value.clear();
    return false;
}

bool firstTranslation(const std::string&, std::string& translation)
{
    translation.clear();
    return false;
}

} // namespace VersionResource
