#pragma once
#include "batchwalk.h"

#include <optional>
#include <string>
#include <vector>

namespace vardune {

// Where a batch's outputs go below the output folder: the path an output gets for its source,
// planned before the batch starts. Three layouts:
//
// - One folder: every output lies in the output folder, named "V_" + its source's name
//   (BatchWalk::OutputName), the rule the batch has always followed and the default.
// - Keep the folders: the output's path below the output folder is its source's path below
//   its root; the name is the source's name with ".mp3" in place of its extension. A folder
//   added as a whole keeps its own name as the top level, as copying a folder does: its
//   files' root is the folder above it (RootOfAddedFolder), so "Album A" added gives
//   "Album A/01 Intro.mp3". Files added from the folder a file view shows have that folder
//   as their root and go straight into the output folder. A source that does not lie below
//   its root (a file added on its own) gets its name alone.
// - Names from tags: a pattern over the source's tags makes the path, such as
//   "{albumartist}/{album}/{disc-}{track:02} {title}"; ".mp3" is appended.
//
// The pattern's grammar:
//   - Text outside braces is written as it stands; "/" in it separates folder levels, and the
//     part after the last "/" is the file name.
//   - "{field}" writes the field's value. The fields (letter case does not matter):
//       artist       the artist;        missing: "Unknown Artist"
//       albumartist  the album artist;  missing: the artist, then "Unknown Artist"
//       album        the album;         missing: "Unknown Album"
//       title        the title;         missing: the source's name without its extension
//       track, disc  the number before any "/" ("3/12" is 3); missing: nothing
//       year         the year;          missing: nothing
//       genre        the genre;         missing: "Unknown Genre"
//       name         the source's name without its extension
//       folder       the name of the folder the source lies in
//   - "{field:0N}" (N from 1 to 9, for track, disc and year only) pads the value's leading
//     number with zeros to N digits: "{track:02}" writes "03" for track 3; a value that does
//     not start with a digit is written as it is.
//   - Any text after the field's name (and width) up to the closing brace makes the field
//     optional: "{disc-}" writes the disc and "-" when the disc is known, and nothing at all,
//     not even the default, when it is missing. "{year - }" works alike. That text cannot
//     start with a digit ("{track2}" reads as a mistyped name) nor hold "/" (folder levels
//     come from the pattern's own "/" alone).
//   - Braces cannot be written as text: every "{" needs its "}" with a field between.
// A value is missing when the source has no such tag or only blanks in it. Blanks around each
// path part are dropped, and a folder level that comes out empty (only optional fields, all
// missing) is left out.
//
// Whatever the layout, a path part never leaves its place: "/" and "\" inside a value become
// "_", as do control characters, and a part that would read "." or ".." becomes "_". On a
// folder that takes only portable names (a FAT or exFAT player) the portable-name rules hold
// for every folder level and the file name, and in ASCII where the folder refused a name for
// its characters; every part is cut to the longest name the folder takes.
class OutputLayout {
public:
    enum class Kind { OneFolder, KeepFolders, NamesFromTags };

    static constexpr const char* kDefaultPattern = "{albumartist}/{album}/{disc-}{track:02} {title}";

    // The source's tags, as read from it (UTF-8); an empty text is a tag the source lacks.
    struct Tags {
        std::string artist;
        std::string albumArtist;
        std::string album;
        std::string title;
        std::string track;
        std::string disc;
        std::string year;
        std::string genre;
    };

    // One source to plan an output for.
    struct Source {
        std::string path;  // the source file
        std::string root;  // the folder its path is kept below; empty: it was added on its own
        Tags tags;
    };

    // A planned output below the output folder, before collisions are numbered: its folder
    // levels ("Artist/Album/", each part already as the folder takes it, or empty) and its
    // file name in two parts, so that a number can go between them.
    struct Plan {
        std::string folders;
        std::string stem;
        std::string extension;

        // The file name; with a number from 2 on, " (number)" stands before the extension, as
        // the batch numbers outputs that collide. Cut to the folder's longest name, the number
        // and extension kept.
        std::string FileName(const BatchWalk::NameRules& rules, int number = 1) const;
        // The path below the output folder: folders + FileName.
        std::string Relative(const BatchWalk::NameRules& rules, int number = 1) const;
    };

    OutputLayout() = default;
    // A pattern is only needed for NamesFromTags; one that Check refuses plans as the default
    // pattern does, so a broken stored setting cannot scatter outputs.
    explicit OutputLayout(Kind kind, const std::string& pattern = kDefaultPattern);

    Kind Layout() const { return kind_; }
    const std::string& Pattern() const { return pattern_; }

    // The output's planned place below the output folder.
    Plan PlanFor(const Source& source, const BatchWalk::NameRules& rules) const;

    // Whether a pattern can be used: nothing when it can, else the reason for the user
    // ("The pattern climbs out of the output folder: \"..\" names the folder above.").
    static std::optional<std::string> Check(const std::string& pattern);

    // The layout as the settings file holds it, and back: anything else (an older file holds
    // nothing) reads as OneFolder.
    static std::string KindText(Kind kind);
    static Kind KindFromText(const std::string& text);
    // The layout the settings name (Settings::outputLayout and namePattern; an empty pattern
    // is the default one).
    static OutputLayout FromSettings(const std::string& layout, const std::string& pattern);
    // Why the settings' pattern cannot serve when they choose names from tags (the outputs
    // are then named as the default pattern names them, and the stored text is kept for the
    // user to mend); nothing when it can, or when another layout is chosen.
    static std::optional<std::string> StoredPatternFault(const std::string& layout, const std::string& pattern);

    // The root of the files of a folder added as a whole: the folder above it, with its
    // separator ("/music/Album A" gives "/music/"); "/" for the top folder itself.
    static std::string RootOfAddedFolder(const std::string& folder);

private:
    // One piece of a parsed pattern: literal text (field empty), a folder break, or a field.
    struct Piece {
        enum class Type { Text, Break, Field } type = Type::Text;
        std::string text;      // Text: what is written; Field: the optional tail
        std::string field;     // Field: its name, in lower case
        int width = 0;         // Field: zero-padded width, 0 for none
        bool optional = false; // Field: written only when present, with its tail
    };
    static std::optional<std::string> Parse(const std::string& pattern, std::vector<Piece>& pieces);

    Kind kind_ = Kind::OneFolder;
    std::string pattern_ = kDefaultPattern;
    std::vector<Piece> pieces_;
};

} // namespace vardune
