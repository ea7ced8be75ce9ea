#include "takennames.h"

namespace vardune {

TakenNames::TakenNames(Fold fold)
    : fold_(fold ? std::move(fold) : Fold(AsciiFold))
{
}

std::string TakenNames::AsciiFold(const std::string& path)
{
    std::string folded = path;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

bool TakenNames::Contains(const std::string& path) const
{
    return taken_.count(fold_(path)) != 0;
}

void TakenNames::Take(const std::string& path)
{
    auto known = paths_.find(path);
    if (known == paths_.end())
        known = paths_.emplace(path, std::make_pair(fold_(path), 0)).first;
    ++known->second.second;
    ++taken_[known->second.first];
}

void TakenNames::Release(const std::string& path)
{
    const auto known = paths_.find(path);
    if (known == paths_.end())
        return;
    const auto it = taken_.find(known->second.first);
    if (it != taken_.end() && --it->second <= 0)
        taken_.erase(it);
    if (--known->second.second <= 0)
        paths_.erase(known);
}

} // namespace vardune
