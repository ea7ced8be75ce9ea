#pragma once
#include "vardolist.h"

#include <optional>
#include <string>
#include <vector>

namespace vardune {

// The Vardo list as it is kept from one run to the next, in a file of its own: a first line
// that names the format, then one line per entry in list order: its state (W waiting, D done,
// F failed) and its texts (source folder, name and size, output path and size, rate, note,
// and the folder it was added from where there is one: a line without it is an entry added
// on its own), separated by tabs. A tab, a line break or a backslash inside a text is written as \t, \n,
// \r or \\. What the entries' ids and running encoders were is not kept: a file that was
// converting when the program closed waits again.
class VardoListFile {
public:
    // The first line of every such file.
    static constexpr const char* kHeader = "Vardune Vardo list 1";
    // A file larger than this, or with more entries, is not one the program wrote.
    static constexpr std::size_t kMaxBytes = 64u << 20;
    static constexpr std::size_t kMaxEntries = 1000000;

    static std::string Encode(const std::vector<VardoEntry>& entries);
    // The entries of a file's text, or nothing when the text is not such a file, or is
    // damaged anywhere: every line must be whole and well formed, however hostile the text.
    static std::optional<std::vector<VardoEntry>> Parse(const std::string& text);

    // The playlists the list carries, kept beside it in a file of their own (so a list file
    // stays one that earlier versions read): the first line kPlaylistsHeader, then per
    // playlist its path and the folder it was added from, escaped and separated as above.
    static constexpr const char* kPlaylistsHeader = "Vardune carried playlists 1";
    struct Playlist {
        std::string path;  // the playlist file
        std::string root;  // a folder, ending with the separator, that path lies below
    };
    static std::string EncodePlaylists(const std::vector<Playlist>& playlists);
    // Nothing when the text is not such a file or is damaged anywhere, as Parse.
    static std::optional<std::vector<Playlist>> ParsePlaylists(const std::string& text);
};

} // namespace vardune
