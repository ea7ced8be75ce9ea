#include "vardolistfile.h"

namespace vardune {

namespace {

// The fields of a line; files written before entries knew their root have one less.
constexpr std::size_t kFields = 9;
constexpr std::size_t kOlderFields = 8;

void AppendEscaped(std::string& out, const std::string& text)
{
    for (const char c : text) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
}

// One field of a line, its escapes undone; false for an escape the writer never makes.
bool Unescape(const std::string& line, std::size_t from, std::size_t to, std::string& out)
{
    out.clear();
    out.reserve(to - from);
    for (std::size_t i = from; i < to; ++i) {
        if (line[i] == '\0')
            return false;  // no path holds one
        if (line[i] != '\\') {
            out += line[i];
            continue;
        }
        if (++i == to)
            return false;
        switch (line[i]) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: return false;
        }
    }
    return true;
}

char StateLetter(EntryState state)
{
    switch (state) {
    case EntryState::Done: return 'D';
    case EntryState::Failed: return 'F';
    default: return 'W';
    }
}

std::optional<EntryState> StateOf(const std::string& letter)
{
    if (letter == "W")
        return EntryState::Waiting;
    if (letter == "D")
        return EntryState::Done;
    if (letter == "F")
        return EntryState::Failed;
    return std::nullopt;
}

} // namespace

std::string VardoListFile::Encode(const std::vector<VardoEntry>& entries)
{
    std::string out = std::string(kHeader) + "\n";
    for (const VardoEntry& e : entries) {
        out += StateLetter(e.state);
        for (const std::string* field : {&e.sourcePath, &e.sourceName, &e.sourceSize, &e.targetPath, &e.targetSize,
                                         &e.rate, &e.note}) {
            out += '\t';
            AppendEscaped(out, *field);
        }
        // Written only where there is one: a list without roots stays one that earlier
        // versions read.
        if (!e.root.empty()) {
            out += '\t';
            AppendEscaped(out, e.root);
        }
        out += '\n';
    }
    return out;
}

std::optional<std::vector<VardoEntry>> VardoListFile::Parse(const std::string& text)
{
    if (text.size() > kMaxBytes)
        return std::nullopt;
    const std::string header = std::string(kHeader) + "\n";
    if (text.compare(0, header.size(), header) != 0)
        return std::nullopt;
    std::vector<VardoEntry> entries;
    std::size_t at = header.size();
    std::string fields[kFields];
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos || entries.size() == kMaxEntries)
            return std::nullopt;  // a last line cut short, or more than the program keeps
        std::size_t from = at, count = 0;
        for (; count < kFields; ++count) {
            std::size_t tab = text.find('\t', from);
            if (tab == std::string::npos || tab > end)
                tab = end;
            if (!Unescape(text, from, tab, fields[count]))
                return std::nullopt;
            from = tab + 1;
            if (tab == end) {
                ++count;
                break;
            }
        }
        if ((count != kFields && count != kOlderFields) || from != end + 1)
            return std::nullopt;
        const auto state = StateOf(fields[0]);
        // Every entry names a file: a folder ending with its separator, and a name.
        if (!state || fields[1].empty() || fields[2].empty() || fields[1].back() != '/'
            || fields[2].find('/') != std::string::npos)
            return std::nullopt;
        // A root is a folder the entry's file lies below.
        if (count == kFields && !fields[8].empty()
            && (fields[8].back() != '/' || fields[1].compare(0, fields[8].size(), fields[8]) != 0))
            return std::nullopt;
        VardoEntry e;
        e.state = *state;
        e.sourcePath = std::move(fields[1]);
        e.sourceName = std::move(fields[2]);
        e.sourceSize = std::move(fields[3]);
        e.targetPath = std::move(fields[4]);
        e.targetSize = std::move(fields[5]);
        e.rate = std::move(fields[6]);
        e.note = std::move(fields[7]);
        if (count == kFields)
            e.root = std::move(fields[8]);
        else
            fields[8].clear();
        entries.push_back(std::move(e));
        at = end + 1;
    }
    return entries;
}

std::string VardoListFile::EncodePlaylists(const std::vector<Playlist>& playlists)
{
    std::string out = std::string(kPlaylistsHeader) + "\n";
    for (const Playlist& p : playlists) {
        AppendEscaped(out, p.path);
        out += '\t';
        AppendEscaped(out, p.root);
        out += '\n';
    }
    return out;
}

std::optional<std::vector<VardoListFile::Playlist>> VardoListFile::ParsePlaylists(const std::string& text)
{
    const std::string header = std::string(kPlaylistsHeader) + "\n";
    if (text.size() > kMaxBytes || text.compare(0, header.size(), header) != 0)
        return std::nullopt;
    std::vector<Playlist> playlists;
    for (std::size_t at = header.size(); at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::size_t tab = text.find('\t', at);
        if (end == std::string::npos || tab == std::string::npos || tab > end || playlists.size() == kMaxEntries)
            return std::nullopt;
        Playlist p;
        if (!Unescape(text, at, tab, p.path) || !Unescape(text, tab + 1, end, p.root))
            return std::nullopt;
        // A playlist is a file below its root: an absolute folder ending with the separator.
        if (p.root.empty() || p.root.front() != '/' || p.root.back() != '/' || p.path.size() <= p.root.size()
            || p.path.compare(0, p.root.size(), p.root) != 0 || p.path.back() == '/')
            return std::nullopt;
        playlists.push_back(std::move(p));
        at = end + 1;
    }
    return playlists;
}

} // namespace vardune
