#pragma once
#include "batchwalk.h"
#include "outputlayout.h"

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vardune {

// A playlist (.m3u or .m3u8) of the sources, carried over to the outputs: when a batch ends,
// a playlist of the same name goes into the output folder that matches the playlist's own
// folder, naming the outputs its tracks became by paths relative to where it lies.
//
// Reading. An .m3u8 is UTF-8. An .m3u is UTF-8 when all of it is valid UTF-8 or it starts
// with a UTF-8 byte order mark, else Latin-1 (what the players that made it wrote). Lines end
// in LF, CRLF or CR; blank lines are passed over. An entry is a path relative to the
// playlist's folder, an absolute path, or a "file://" URL (with an empty host or "localhost";
// its %XX escapes decoded); "\" separators written by other systems are read as "/" when the
// path as written names no file. Other URLs (http://…) name no file here.
// "#EXTINF", "#EXTGRP", "#EXTALB", "#EXTART" and "#EXTGENRE" lines go along with the entry
// that follows them, and "#PLAYLIST" with the playlist; other comments and directives are
// dropped: "#EXTBYT" states the source's size and "#EXTENC" an encoding that no longer holds.
//
// Hostile input stays bounded: at most kMaxBytes are read and kMaxEntries entries kept (the
// rest is left out and Cut is set); a line longer than kMaxLineBytes or holding a NUL byte is
// passed over and counted as unusable.
//
// Writing. The playlist is always UTF-8 with LF line ends and starts with "#EXTM3U". An .m3u
// keeps its name; when a line in it holds anything beyond ASCII, it starts with a UTF-8 byte
// order mark, so that players that read an .m3u in a local code page read it as UTF-8 (pure
// ASCII reads the same in every code page, so it gets none). An .m3u8 never gets one. The
// second line marks what the playlist was made from ("#VARDUNE_SOURCE:" and a SourceMark
// value), so a later batch replaces its own playlist and never a file of the user's. Each
// entry is the output's path relative to the written playlist's folder ("../" where needed,
// "/" separators); one that would start with "#" is written "./#…" so it does not read as a
// comment. A track is left out when its file is missing, when it was not converted in this
// batch (it failed or was not in it), or when its output's path cannot stand on a line (a
// line break in it); the counts say which.
class PlaylistCarrier {
public:
    static constexpr std::size_t kMaxBytes = 16u * 1024 * 1024;
    static constexpr std::size_t kMaxEntries = 100000;
    static constexpr std::size_t kMaxLineBytes = 16 * 1024;
    static constexpr const char* kMarkPrefix = "#VARDUNE_SOURCE:";

    // One track the playlist names.
    struct Entry {
        std::string path;                     // absolute, as the playlist names it (UTF-8)
        std::string raw;                      // the same from the undecoded bytes, when they differ
        std::vector<std::string> directives;  // "#EXTINF:…" and the like, in order
    };

    struct Playlist {
        std::string path;                  // the playlist file
        std::vector<std::string> header;   // "#PLAYLIST:…"
        std::vector<Entry> entries;
        std::size_t unusable = 0;          // lines passed over: too long, a NUL byte
        bool cut = false;                  // more than kMaxBytes or kMaxEntries: the rest left out
    };

    // What a written playlist holds.
    struct Carried {
        std::string text;               // the playlist's bytes
        std::size_t written = 0;        // tracks written
        std::size_t missing = 0;        // no such file (or a URL that names none here)
        std::size_t notConverted = 0;   // failed, or not in the batch
        std::size_t unusable = 0;       // lines that could not be read, outputs no line can hold
        bool cut = false;               // the source was too long: its end is not counted
        std::size_t LeftOut() const { return missing + notConverted + unusable; }
        // What the window says of it: "12 tracks written, 3 left out", "1 track written";
        // "and a word on the rest follows when the source was cut.
        std::string Summary() const;
    };

    // Whether a file is a playlist this reads: ".m3u" or ".m3u8" in any letter case.
    static bool IsPlaylist(const std::string& path);

    // Reads a playlist file (a regular file only: never a device or pipe). Nothing, and the
    // reason in error, when it cannot be read.
    static std::optional<Playlist> Read(const std::string& path, std::string* error = nullptr);
    // The playlist in bytes as a file at path holds them (only path's folder and extension are
    // used).
    static Playlist Parse(const std::string& bytes, const std::string& path);

    // The playlist to write at outputPlaylist (an absolute path), given the output each source
    // became in this batch (absolute paths), keyed by the source's real path (no links, as
    // SourceMark names it). Only tracks that were converted belong in outputs: a failed one is
    // left out by not being there. Looks at the file system to tell a missing track and to
    // find a track's real path; the playlist's own mark is taken from its source as it stands.
    static Carried Carry(const Playlist& playlist, const std::map<std::string, std::string>& outputs,
                         const std::string& outputPlaylist);

    // Where the playlist's copy goes below outputFolder, before any number: with KeepFolders,
    // in the folder that matches the playlist's folder below root (the folder it was added
    // from) as the tracks' outputs do; with OneFolder, in the output folder as "V_" + its name
    // (so that it never takes the name of a source playlist when the output folder is the
    // source's); with NamesFromTags, in the output folder under its own name, since its tracks
    // may be spread over any folders. Its extension stays; the folder's name rules hold.
    static std::string OutputPath(const std::string& playlistPath, const std::string& root,
                                  const OutputLayout& layout, const BatchWalk::NameRules& rules,
                                  const std::string& outputFolder);

    // The path to write a playlist made from sourcePlaylist to: planned itself when nothing
    // stands there or the file there is a playlist made from the same source, else the first
    // " (2)", " (3)"… before the extension that is free or made from it.
    static std::string FreePath(const std::string& planned, const std::string& sourcePlaylist);

    // Writes text to path through a temporary file in its folder (created as needed), so that
    // a player never sees half a playlist. False, and the reason in error, on failure.
    static bool Write(const std::string& path, const std::string& text, std::string* error = nullptr);

    // The "#VARDUNE_SOURCE:" line a playlist made from sourcePlaylist carries (no line end).
    static std::string MarkLine(const std::string& sourcePlaylist);
    // Whether the file at path is a playlist marked as made from sourcePlaylist.
    static bool MadeFrom(const std::string& path, const std::string& sourcePlaylist);
    // The source playlist's real path that the mark in a written playlist's first bytes
    // names, or nothing when it carries no mark.
    static std::optional<std::string> MarkedSource(const std::string& head);

    // A playlist this program wrote (text), lying in the folder playlistFolder below the
    // output folder ("" for the output folder itself), without the tracks at the given paths
    // below the output folder, each with the directives that go along with it; every other
    // line stays as it is. tracksLeft counts the tracks it still names.
    static std::string Without(const std::string& text, const std::string& playlistFolder,
                               const std::set<std::string>& removed, std::size_t& tracksLeft);
};

} // namespace vardune
