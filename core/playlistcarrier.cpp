#include "playlistcarrier.h"

#include "pathtext.h"
#include "portablename.h"
#include "sourcemark.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <unistd.h>

namespace vardune {

namespace {

namespace fs = std::filesystem;

const char kBom[] = "\xEF\xBB\xBF";

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// UTF-8 with every byte that starts no valid sequence as U+FFFD: what is written stays UTF-8.
std::string Mended(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = PathText::SequenceAt(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

std::string FromLatin1(const std::string& text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

bool Ascii(const std::string& text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Whether a line starts with a URL scheme followed by "//" (http://, smb://…).
bool HasScheme(const std::string& text)
{
    std::size_t i = 0;
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '+' ||
                               text[i] == '-' || text[i] == '.'))
        ++i;
    return text.compare(i, 3, "://") == 0;
}

// The absolute path an entry names, or empty when it names no local file.
std::string EntryPath(const std::string& entry, const fs::path& folder)
{
    std::string path = entry;
    if (Lower(entry.substr(0, 5)) == "file:") {
        std::string rest = entry.substr(5);
        if (StartsWith(rest, "//")) {
            const auto slash = rest.find('/', 2);
            const std::string host = Lower(rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2));
            if (slash == std::string::npos || (!host.empty() && host != "localhost"))
                return {};
            rest = rest.substr(slash);
        }
        if (!StartsWith(rest, "/"))
            return {};
        // A query or fragment is no part of a file's name.
        rest = rest.substr(0, rest.find_first_of("?#"));
        path = PercentDecoded(rest);
        if (path.find('\0') != std::string::npos)
            return {};
    } else if (HasScheme(entry)) {
        return {};
    }
    const fs::path p(path);
    return (p.is_absolute() ? p : folder / p).lexically_normal().string();
}

std::string Extension(const std::string& path)
{
    return Lower(fs::path(path).extension().string());
}

bool KeptDirective(const std::string& line)
{
    const std::string key = Lower(line.substr(0, line.find(':')));
    return key == "#extinf" || key == "#extgrp" || key == "#extalb" || key == "#extart" || key == "#extgenre";
}

std::string RealPath(const std::string& path)
{
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (!ec)
        return real.string();
    return fs::absolute(path, ec).lexically_normal().string();
}

// The first bytes of a regular file, never more than limit; with follow false, a link
// standing at path is not read through.
std::optional<std::string> Head(const std::string& path, std::size_t limit, bool follow = true)
{
    std::error_code ec;
    if (!fs::is_regular_file(follow ? fs::status(path, ec) : fs::symlink_status(path, ec)))
        return std::nullopt;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return std::nullopt;
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < limit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

} // namespace

bool PlaylistCarrier::IsPlaylist(const std::string& path)
{
    const std::string extension = Extension(path);
    return extension == ".m3u" || extension == ".m3u8";
}

std::optional<PlaylistCarrier::Playlist> PlaylistCarrier::Read(const std::string& path, std::string* error)
{
    // One byte past the limit tells a playlist that is too long from one that just fits.
    const std::optional<std::string> bytes = Head(path, kMaxBytes + 1);
    if (!bytes) {
        if (error)
            *error = "The playlist cannot be read: " + path;
        return std::nullopt;
    }
    return Parse(*bytes, path);
}

PlaylistCarrier::Playlist PlaylistCarrier::Parse(const std::string& input, const std::string& path)
{
    Playlist playlist;
    playlist.path = path;
    std::error_code ec;
    const fs::path folder = fs::absolute(fs::path(path), ec).lexically_normal().parent_path();

    std::string bytes = input;
    if (bytes.size() > kMaxBytes) {
        // The end of the kept part may cut a line: it goes with the rest.
        bytes.resize(kMaxBytes);
        const auto end = bytes.find_last_of("\r\n");
        bytes.resize(end == std::string::npos ? 0 : end);
        playlist.cut = true;
    }
    const bool bom = StartsWith(bytes, kBom);
    if (bom)
        bytes.erase(0, 3);
    const bool utf8 = Extension(path) == ".m3u8" || bom || PathText::IsUtf8(bytes);

    std::vector<std::string> pending;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = bytes.size();
        const std::size_t length = end - start;
        const std::size_t next = end + 1;
        if (length == 0) {
            start = next;
            continue;
        }
        if (length > kMaxLineBytes || std::memchr(bytes.data() + start, '\0', length)) {
            ++playlist.unusable;
            pending.clear();  // the track they belong to is not read
            start = next;
            continue;
        }
        const std::string line = Trimmed(bytes.substr(start, length));
        start = next;
        if (line.empty())
            continue;
        const std::string text = utf8 ? Mended(line) : FromLatin1(line);
        if (text[0] == '#') {
            if (KeptDirective(text))
                pending.push_back(text);
            else if (Lower(text.substr(0, 10)) == "#playlist:")
                playlist.header.push_back(text);
            continue;
        }
        if (playlist.entries.size() >= kMaxEntries) {
            playlist.cut = true;
            break;
        }
        Entry entry;
        entry.path = EntryPath(text, folder);
        if (text != line) {
            entry.raw = EntryPath(line, folder);
            if (entry.raw == entry.path)
                entry.raw.clear();
        }
        entry.directives.swap(pending);
        playlist.entries.push_back(std::move(entry));
    }
    return playlist;
}

PlaylistCarrier::Carried PlaylistCarrier::Carry(const Playlist& playlist,
                                                const std::map<std::string, std::string>& outputs,
                                                const std::string& outputPlaylist)
{
    Carried carried;
    carried.unusable = playlist.unusable;
    carried.cut = playlist.cut;
    const fs::path folder = fs::path(outputPlaylist).lexically_normal().parent_path();

    std::string body;
    for (const Entry& entry : playlist.entries) {
        // The path as written, then with "\" read as "/", from the decoded text and then from
        // the bytes as they stand.
        std::vector<std::string> candidates;
        for (const std::string* p : {&entry.path, &entry.raw}) {
            if (p->empty())
                continue;
            candidates.push_back(*p);
            if (p->find('\\') != std::string::npos) {
                std::string slashed = *p;
                for (char& c : slashed)
                    if (c == '\\')
                        c = '/';
                candidates.push_back(fs::path(slashed).lexically_normal().string());
            }
        }
        std::string found;
        for (const std::string& candidate : candidates) {
            std::error_code ec;
            if (fs::exists(candidate, ec)) {
                found = candidate;
                break;
            }
        }
        if (found.empty()) {
            ++carried.missing;
            continue;
        }
        auto output = outputs.find(RealPath(found));
        if (output == outputs.end())
            output = outputs.find(found);
        if (output == outputs.end()) {
            ++carried.notConverted;
            continue;
        }
        const fs::path target = fs::path(output->second).lexically_normal();
        std::string line = target.lexically_relative(folder).generic_string();
        if (line.empty())
            line = target.generic_string();
        if (line.find_first_of("\r\n") != std::string::npos) {
            ++carried.unusable;
            continue;
        }
        if (line[0] == '#')
            line = "./" + line;
        for (const std::string& directive : entry.directives)
            body += directive + "\n";
        body += line + "\n";
        ++carried.written;
    }

    std::string text = "#EXTM3U\n" + MarkLine(playlist.path) + "\n";
    for (const std::string& line : playlist.header)
        text += line + "\n";
    text += body;
    if (Extension(outputPlaylist) != ".m3u8" && !Ascii(text))
        text = kBom + text;
    carried.text = std::move(text);
    return carried;
}

std::string PlaylistCarrier::Carried::Summary() const
{
    std::string text = std::to_string(written) + (written == 1 ? " track" : " tracks") + " written";
    if (LeftOut() > 0)
        text += ", " + std::to_string(LeftOut()) + " left out";
    if (cut)
        text += ", and more left out: the playlist is too long";
    return text;
}

std::string PlaylistCarrier::OutputPath(const std::string& playlistPath, const std::string& root,
                                        const OutputLayout& layout, const BatchWalk::NameRules& rules,
                                        const std::string& outputFolder)
{
    const fs::path source(playlistPath);
    std::string folders;
    std::string stem = source.stem().string();
    const std::string extension = source.extension().string();
    if (layout.Layout() == OutputLayout::Kind::OneFolder) {
        stem = "V_" + stem;
    } else if (layout.Layout() == OutputLayout::Kind::KeepFolders) {
        OutputLayout::Source where;
        where.path = playlistPath;
        where.root = root;
        folders = layout.PlanFor(where, rules).folders;
    }
    for (char& c : stem)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\')
            c = '_';
    if (rules.ascii)
        stem = PortableName::Ascii(stem);
    if (rules.portable)
        stem = PortableName::Make(stem);
    if (stem.empty() || stem == "." || stem == "..")
        stem = "_";
    const std::string name = PortableName::Fit(stem, "", extension, rules.maxBytes, rules.portable);
    return BatchWalk::NormaliseOutputFolder(outputFolder) + folders + name;
}

std::string PlaylistCarrier::FreePath(const std::string& planned, const std::string& sourcePlaylist)
{
    const fs::path path(planned);
    const std::string stem = (path.parent_path() / path.stem()).string();
    const std::string extension = path.extension().string();
    for (int number = 1; number < 10000; ++number) {
        const std::string candidate = number == 1 ? planned : stem + " (" + std::to_string(number) + ")" + extension;
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec)) || MadeFrom(candidate, sourcePlaylist))
            return candidate;
    }
    return {};
}

bool PlaylistCarrier::Write(const std::string& path, const std::string& text, std::string* error)
{
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why + ": " + path;
        return false;
    };
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return fail("The playlist's folder cannot be made");
    // Made anew (never through a link standing there), with the permissions the user's mask
    // gives a new file.
    std::random_device seed;
    const std::string temp = (folder / ("." + target.filename().string() + ".tmp" + std::to_string(seed()))).string();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return fail("The playlist cannot be written");
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) {
        fs::rename(temp, target, ec);
        ok = !ec;
    }
    if (!ok) {
        fs::remove(temp, ec);
        return fail("The playlist cannot be written");
    }
    return true;
}

std::string PlaylistCarrier::MarkLine(const std::string& sourcePlaylist)
{
    SourceMark::Source source;
    if (const auto now = SourceMark::Of(sourcePlaylist))
        source = *now;
    else
        source.path = RealPath(sourcePlaylist);
    return kMarkPrefix + SourceMark::Value(source);
}

bool PlaylistCarrier::MadeFrom(const std::string& path, const std::string& sourcePlaylist)
{
    // The mark is the second line; a little more is read for a BOM and a long header line.
    // A link is never taken for a playlist of ours: replacing it would drop what it names.
    const std::optional<std::string> head = Head(path, 8192, false);
    if (!head)
        return false;
    const auto at = head->find(std::string("\n") + kMarkPrefix);
    if (at == std::string::npos)
        return false;
    const std::size_t start = at + 1 + std::strlen(kMarkPrefix);
    const auto end = head->find_first_of("\r\n", start);
    if (end == std::string::npos)
        return false;
    const std::optional<std::string> named = SourceMark::PathIn(head->substr(start, end - start));
    return named && *named == RealPath(sourcePlaylist);
}

std::optional<std::string> PlaylistCarrier::MarkedSource(const std::string& head)
{
    const auto at = head.find(std::string("\n") + kMarkPrefix);
    if (at == std::string::npos)
        return std::nullopt;
    const std::size_t start = at + 1 + std::strlen(kMarkPrefix);
    const auto end = head.find_first_of("\r\n", start);
    if (end == std::string::npos)
        return std::nullopt;
    return SourceMark::PathIn(head.substr(start, end - start));
}

std::string PlaylistCarrier::Without(const std::string& text, const std::string& playlistFolder,
                                     const std::set<std::string>& removed, std::size_t& tracksLeft)
{
    tracksLeft = 0;
    // The path below the output folder that a line names, "" when it climbs out of it.
    const auto below = [&](const std::string& line) {
        std::vector<std::string> levels;
        std::size_t from = 0;
        const std::string joined = playlistFolder.empty() ? line : playlistFolder + '/' + line;
        while (from <= joined.size()) {
            const std::size_t slash = joined.find('/', from);
            const std::string level = joined.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
            if (level == "..") {
                if (levels.empty())
                    return std::string();
                levels.pop_back();
            } else if (!level.empty() && level != ".") {
                levels.push_back(level);
            }
            if (slash == std::string::npos)
                break;
            from = slash + 1;
        }
        std::string path;
        for (const std::string& level : levels)
            path += (path.empty() ? "" : "/") + level;
        return path;
    };
    std::string out;
    std::string pending;  // directives waiting for their track
    bool tracks = false;  // past the header
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        const std::string line = text.substr(from, end == std::string::npos ? std::string::npos : end - from + 1);
        from = end == std::string::npos ? text.size() : end + 1;
        std::string bare = line;
        while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r'))
            bare.pop_back();
        if (bare.compare(0, 3, kBom) == 0)
            bare = bare.substr(3);
        const bool header = !tracks && (bare.empty() || bare.compare(0, 7, "#EXTM3U") == 0
                                        || bare.compare(0, std::strlen(kMarkPrefix), kMarkPrefix) == 0
                                        || bare.compare(0, 10, "#PLAYLIST:") == 0);
        if (header) {
            out += line;
            continue;
        }
        tracks = true;
        if (bare.empty() || bare[0] == '#') {
            pending += line;
            continue;
        }
        if (bare[0] != '/' && removed.count(below(bare))) {
            pending.clear();
            continue;
        }
        out += pending + line;
        pending.clear();
        ++tracksLeft;
    }
    return out + pending;
}

} // namespace vardune
