#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vardune {

// What an output was made from, written into it by the encoder as an ID3v2 user text frame
// (TXXX, description "VARDUNE_SOURCE"). A file that stands at an output path is replaced only
// when its mark names the same source: an output of another source, or a file without the
// mark, is someone else's and is never written over.
//
// The value is a list of fields, "path=/music/A/01 Intro.flac;size=4013311;mtime=1700000000.250000000":
// the source's real path (bytes outside printable ASCII, "%" and ";" written as %XX), its size
// in bytes and its modification time, then the profile the output was made with
// (";profile=br096000,mono0"). Fields are found by name and unknown ones are passed over, so a
// later field reads in every version; a mark without a profile (written before the profile
// was recorded) says nothing of how the output sounds, and such an output is never up to date.
// Last comes a fingerprint of the source's content (";content=0123456789abcdef", Content): an
// output whose mark names another path, but a source of the same size, time and content, was
// made from this very source before it was moved (a library moved, a link repointed). Marks
// written before the fingerprint was recorded name their source by its path alone.
class SourceMark {
public:
    static constexpr const char* kDescription = "VARDUNE_SOURCE";
    // Only the start of a file is searched for the mark: the encoder writes it as the tag's
    // first frame, and a hostile file costs no more than this to read.
    static constexpr std::size_t kSearchedBytes = 64 * 1024;

    struct Source {
        std::string path;  // real path, no links
        std::uint64_t size = 0;
        std::int64_t seconds = 0;
        long nanoseconds = 0;
    };

    // The source as it stands now (real path, size, time), or nothing when it cannot be read.
    static std::optional<Source> Of(const std::string& sourcePath);
    // The mark's value; the profile field is left out when profile is empty, and the content
    // field when content is.
    static std::string Value(const Source& source, const std::string& profile = std::string(),
                             const std::string& content = std::string());
    // A short fingerprint of a source's content, to know the same file at another path: 16 hex
    // digits of a 64-bit FNV-1a hash of its size and of kContentBlock bytes at its start, its
    // middle and its end (all of it when it is smaller). Three small reads whatever the file's
    // size; empty when it cannot be read.
    static constexpr std::size_t kContentBlock = 4096;
    static std::string Content(const std::string& sourcePath);
    // Whether a mark names this very source moved there: another path, but the same size, time
    // and content (content() gives the source's fingerprint now; it is asked only when all else
    // agrees). A mark without a fingerprint never does.
    static bool Moved(const std::string& value, const Source& source, const std::function<std::string()>& content);
    // The mark's value naming path as its source, every other field as it was.
    static std::string Renamed(const std::string& value, const std::string& path);
    // The mark as it holds for source: named after it where it names the same source moved
    // (Moved), as it is otherwise.
    static std::string For(const std::string& value, const Source& source, const std::function<std::string()>& content);
    // The settings that change the sound of an output, as the mark records them: the bitrate
    // asked (not the one a small source keeps it to) and mono, "br096000,mono0". Every profile
    // has the same length, so the mark's size, and an output's size forecast before the
    // profile is chosen, are the same for all. A setting added later comes at the end with a
    // name of its own; an older output then differs from the new profile and is made again.
    static std::string Profile(int bitrate, bool mono);
    // Whether a mark says its output was made from this very source, unchanged since (the
    // same real path, size and modification time), with this profile: such an output need
    // not be made again. A mark without a profile is never up to date.
    static bool UpToDate(const std::string& value, const Source& source, const std::string& profile);
    // The profile a mark records when it names this very source, unchanged since (empty when
    // it records none); nothing when it names another source or one changed since.
    static std::optional<std::string> MadeWith(const std::string& value, const Source& source);
    // The source's real path that a mark names, or nothing when the value names none.
    static std::optional<std::string> PathIn(const std::string& value);
    // The named field's text, undecoded; nothing when the value has no such field.
    static std::optional<std::string> Field(const std::string& value, const std::string& name);

    // The whole TXXX frame of ID3v2.3 (10-byte frame header, Latin-1 text) for a value.
    static std::string Frame(const std::string& value);
    // Such a frame of another description (the ReplayGain tags an output carries).
    static std::string TextFrame(const std::string& description, const std::string& value);
    // The mark's value in a file's ID3v2 tag, read from the first kSearchedBytes of the open
    // descriptor (from its start; the file position is left alone); nothing when there is none.
    static std::optional<std::string> Read(int fd);
    // The same, from a file of fileBytes: no more is asked for than it holds.
    static std::optional<std::string> Read(int fd, std::uint64_t fileBytes);
    static std::optional<std::string> ReadFile(const std::string& path);
    // Whether the file at output carries a mark naming sourcePath (compared by real path), or
    // the same source moved (Moved).
    static bool MadeFrom(const std::string& output, const std::string& sourcePath);
    // The mark in the first bytes of a file, as Read finds it there.
    static std::optional<std::string> Find(const std::string& head);
};

} // namespace vardune
