#include "folderpicture.h"

namespace vardune {

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// The file's extension's kind: 2 for JPEG, 1 for PNG, 0 for anything else.
int PictureKind(const std::string& lower)
{
    if (EndsWith(lower, ".jpg") || EndsWith(lower, ".jpeg"))
        return 2;
    if (EndsWith(lower, ".png"))
        return 1;
    return 0;
}

} // namespace

int FolderPicture::Rank(const std::string& name)
{
    const std::string lower = Lower(name);
    const int kind = PictureKind(lower);
    if (kind == 0)
        return 0;
    const std::string stem = lower.substr(0, lower.rfind('.'));
    int rank = 0;
    if (stem == "folder")
        rank = 6;
    else if (stem == "cover")
        rank = 5;
    else if (stem == "front")
        rank = 4;
    else if (StartsWith(stem, "albumart") && EndsWith(stem, "_large"))
        rank = 3;
    else if (StartsWith(stem, "albumart") && EndsWith(stem, "small"))
        rank = 1;
    else if (StartsWith(stem, "albumart"))
        rank = 2;
    return rank == 0 ? 0 : rank * 10 + kind;
}

std::optional<std::string> FolderPicture::Pick(const std::vector<std::string>& names)
{
    const std::string* best = nullptr;
    int bestRank = 0;
    for (const std::string& name : names) {
        const int rank = Rank(name);
        if (rank > bestRank || (rank > 0 && rank == bestRank && name < *best)) {
            best = &name;
            bestRank = rank;
        }
    }
    if (!best)
        return std::nullopt;
    return *best;
}

std::string FolderPicture::OutputName(const std::string& picked, bool writtenAsJpeg)
{
    const bool png = PictureKind(Lower(picked)) == 1;
    return png && !writtenAsJpeg ? "folder.png" : "folder.jpg";
}

} // namespace vardune
