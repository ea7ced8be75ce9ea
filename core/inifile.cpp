#include "inifile.h"

#include <cstdio>
#include <filesystem>
#include <random>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace vardune {

namespace {

std::string Trim(const std::string& s)
{
    const char* blanks = " \t\r\n\v\f";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        const auto la = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
        const auto lb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
        if (la != lb)
            return false;
    }
    return true;
}

// The section name of a header line, or nothing when the line is not a header.
std::optional<std::string> HeaderName(const std::string& line)
{
    const std::string t = Trim(line);
    if (t.empty() || t[0] != '[')
        return std::nullopt;
    const auto close = t.find(']');
    return Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

bool IsComment(const std::string& line)
{
    const std::string t = Trim(line);
    return !t.empty() && t[0] == ';';
}

} // namespace

IniFile::IniFile(std::string path)
    : path_(std::move(path))
{
}

KeptFile::Reading IniFile::Load()
{
    lines_.clear();
    eol_ = "\n";
    KeptFile::Reading reading = KeptFile::Read(path_, kMaxBytes);
    const std::string text = std::move(reading.text);
    reading.text.clear();

    // Lines are written back with the ending the file's first line had.
    std::size_t start = 0;
    bool eolKnown = false;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        const bool ended = end != std::string::npos;
        if (!ended)
            end = text.size();
        std::string line = text.substr(start, end - start);
        const bool crlf = !line.empty() && line.back() == '\r';
        if (crlf)
            line.pop_back();
        if (ended && !eolKnown) {
            eol_ = crlf ? "\r\n" : "\n";
            eolKnown = true;
        }
        lines_.push_back(std::move(line));
        start = end + 1;
    }
    return reading;
}

long IniFile::FindSection(const std::string& section) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto name = HeaderName(lines_[i]);
        if (name && EqualNoCase(*name, section))
            return static_cast<long>(i);
    }
    return -1;
}

std::size_t IniFile::SectionEnd(long header) const
{
    std::size_t i = static_cast<std::size_t>(header) + 1;
    while (i < lines_.size() && !HeaderName(lines_[i]))
        ++i;
    return i;
}

long IniFile::FindKey(long header, const std::string& key) const
{
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < end; ++i) {
        if (IsComment(lines_[i]))
            continue;
        const auto eq = lines_[i].find('=');
        if (eq == std::string::npos)
            continue;
        if (EqualNoCase(Trim(lines_[i].substr(0, eq)), key))
            return static_cast<long>(i);
    }
    return -1;
}

std::optional<std::string> IniFile::Value(const std::string& section, const std::string& key) const
{
    const long header = FindSection(section);
    if (header < 0)
        return std::nullopt;
    const long line = FindKey(header, key);
    if (line < 0)
        return std::nullopt;
    const std::string& text = lines_[static_cast<std::size_t>(line)];
    std::string value = Trim(text.substr(text.find('=') + 1));
    // A value in matching quotes is given without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
        && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

void IniFile::SetValue(const std::string& section, const std::string& key, const std::string& value)
{
    const std::string entry = key + "=" + value;
    long header = FindSection(section);
    if (header < 0) {
        lines_.push_back("[" + section + "]");
        lines_.push_back(entry);
        return;
    }
    const long line = FindKey(header, key);
    if (line >= 0) {
        lines_[static_cast<std::size_t>(line)] = entry;
        return;
    }
    // After the section's last non-blank line, so blank separators stay between sections.
    std::size_t at = SectionEnd(header);
    while (at > static_cast<std::size_t>(header) + 1 && Trim(lines_[at - 1]).empty())
        --at;
    lines_.insert(lines_.begin() + static_cast<long>(at), entry);
}

namespace {

namespace fs = std::filesystem;

// The file a path finally names: a symbolic link is followed to its target (through a chain of
// links, up to a sane depth), so saving replaces the file the user linked to, not the link.
fs::path FinalTarget(const fs::path& path)
{
    fs::path at = path;
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(at, ec)))
            return at;
        const fs::path next = fs::read_symlink(at, ec);
        if (ec)
            return at;
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    return at;
}

bool WriteAll(std::FILE* file, const std::string& text)
{
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && ok;
#if defined(__unix__) || defined(__APPLE__)
    ok = ::fsync(fileno(file)) == 0 && ok;
#endif
    return ok;
}

} // namespace

bool IniFile::Save() const
{
    std::string text;
    for (const auto& line : lines_)
        text += line + eol_;

    std::error_code ec;
    const fs::path target = FinalTarget(fs::path(path_));
    // A FIFO or a device at the name is not the user's settings file to replace: it is set
    // aside first (by whoever reads the settings), or nothing is saved.
    const fs::file_status there = fs::status(target, ec);
    if (fs::exists(there) && !fs::is_regular_file(there))
        return false;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::random_device seed;
    const fs::path temp = folder / (target.filename().string() + ".tmp" + std::to_string(seed()));

    std::FILE* file = std::fopen(temp.string().c_str(), "wbx");
    if (!file) {
        // A file the user may write in a folder they may not (a link to such a file): written
        // in place, since a temporary file cannot be made beside it.
        if (!fs::is_regular_file(target, ec))
            return false;
        std::FILE* inPlace = std::fopen(target.string().c_str(), "r+b");
        if (!inPlace)
            return false;
        bool ok = WriteAll(inPlace, text);
        ok = std::fclose(inPlace) == 0 && ok;
        if (ok)
            fs::resize_file(target, text.size(), ec);
        return ok && !ec;
    }
    // The replacement keeps the permission bits the file had, set before anything is written
    // into it: a private file is never readable by others, not even for a moment.
    bool ok = true;
    const fs::file_status before = fs::status(target, ec);
    if (!ec && fs::is_regular_file(before)) {
        fs::permissions(temp, before.permissions(), fs::perm_options::replace, ec);
        ok = !ec;
    }
    ok = ok && WriteAll(file, text);
    ok = std::fclose(file) == 0 && ok;
    if (ok) {
        fs::rename(temp, target, ec);
        ok = !ec;
    }
    if (!ok)
        fs::remove(temp, ec);
    return ok;
}

} // namespace vardune
