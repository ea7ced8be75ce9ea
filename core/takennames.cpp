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
    ++taken_[fold_(path)];
}

void TakenNames::Release(const std::string& path)
{
    const auto it = taken_.find(fold_(path));
    if (it != taken_.end() && --it->second <= 0)
        taken_.erase(it);
}

} // namespace vardune
