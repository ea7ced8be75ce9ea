#include "versioncheck.h"

#include <cstring>

namespace vardune {

std::optional<std::string> VersionCheck::LatestVersion(const std::string& body)
{
    const std::size_t name = std::strlen(kProduct);
    if (body.size() < 14 || body.compare(0, name, kProduct) != 0)
        return std::nullopt;
    return body.substr(name, 8);
}

bool VersionCheck::IsNewer(const std::string& latest, const std::string& installed)
{
    // std::string compares characters as unsigned codes, shorter first on a common beginning.
    return latest.compare(installed) > 0;
}

} // namespace vardune
