#include "mediafolder.h"

#include <algorithm>
#include <iterator>
#include <filesystem>
#include <set>

namespace vardune {

namespace fs = std::filesystem;

namespace {

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Letter case ignored first, so "b.mp3" comes between "A.mp3" and "C.mp3"; names that differ
// only in case keep one fixed order.
bool NameBefore(const std::string& a, const std::string& b)
{
    const auto lowerLess = [](char x, char y) { return Lower(x) < Lower(y); };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), lowerLess))
        return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), lowerLess))
        return false;
    return a < b;
}

using Wanted = std::function<bool(const std::string&)>;

void Walk(const fs::path& folder, const Wanted& wanted, std::set<fs::path>& walked, std::vector<std::string>& files)
{
    std::error_code ec;
    const fs::path real = fs::canonical(folder, ec);
    if (ec || !walked.insert(real).second)
        return;
    std::vector<std::pair<std::string, fs::directory_entry>> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.emplace_back(it->path().filename().string(), *it);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return NameBefore(a.first, b.first); });
    for (const auto& [name, entry] : entries) {
        // The type the folder listing gave; a link (or a file system that gives none) is
        // looked at, followed. A folder of ten thousand files is not looked at file by file.
        std::error_code statusError;
        const bool folder = entry.is_directory(statusError);
        if (statusError)
            continue;
        if (folder)
            Walk(entry.path(), wanted, walked, files);
        else if (wanted(name) && entry.is_regular_file(statusError) && !statusError)
            files.push_back(entry.path().string());
    }
}

} // namespace

namespace {
// The most common first: the file type box shows the start of the list.
constexpr const char* kAudioTypes[] = {"mp3", "wav",  "flac", "ogg", "opus", "oga", "aif", "aiff", "aifc",
                                       "mp2", "mp1",  "mpa",  "wave", "w64", "rf64", "au", "caf"};
} // namespace

bool MediaFolder::IsAudioName(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    std::string ending = name.substr(dot + 1);
    std::transform(ending.begin(), ending.end(), ending.begin(), Lower);
    return std::find(std::begin(kAudioTypes), std::end(kAudioTypes), ending) != std::end(kAudioTypes);
}

std::string MediaFolder::AudioChoice()
{
    return "All audio (" + AudioPattern() + ")";
}

std::string MediaFolder::AudioPattern()
{
    std::string pattern;
    for (const char* type : kAudioTypes) {
        pattern += pattern.empty() ? "*." : ";*.";
        for (const char* c = type; *c; ++c)
            pattern += (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 32) : *c;
    }
    return pattern;
}

std::vector<std::string> MediaFolder::Files(const std::string& folder, const Wanted& wanted)
{
    std::set<fs::path> walked;
    std::vector<std::string> files;
    Walk(fs::path(folder), wanted, walked, files);
    return files;
}

std::vector<std::string> MediaFolder::Files(const std::string& folder)
{
    return Files(folder, IsAudioName);
}

} // namespace vardune
