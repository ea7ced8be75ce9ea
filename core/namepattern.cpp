#include "namepattern.h"

namespace vardune {

std::vector<std::string> NameFilters(const std::string& pattern)
{
    std::vector<std::string> filters;
    std::size_t start = 0;
    while (start <= pattern.size()) {
        std::size_t end = pattern.find(';', start);
        if (end == std::string::npos)
            end = pattern.size();
        const std::string part = pattern.substr(start, end - start);
        const auto first = part.find_first_not_of(" \t");
        if (first != std::string::npos) {
            const std::string trimmed = part.substr(first, part.find_last_not_of(" \t") - first + 1);
            filters.push_back(trimmed == "*.*" ? "*" : trimmed);
        }
        start = end + 1;
    }
    if (filters.empty())
        filters.push_back("*");
    return filters;
}

} // namespace vardune
