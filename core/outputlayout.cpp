#include "outputlayout.h"

#include "pathtext.h"
#include "portablename.h"

#include <filesystem>

namespace vardune {

namespace {

namespace fs = std::filesystem;

const char* const kFields[] = {"artist", "albumartist", "album", "title", "track",
                               "disc",   "year",        "genre", "name",  "folder"};
const char* const kFieldList = "artist, albumartist, album, title, track, disc, year, genre, name or folder";

bool Known(const std::string& field)
{
    for (const char* f : kFields)
        if (field == f)
            return true;
    return false;
}

bool Numeric(const std::string& field)
{
    return field == "track" || field == "disc" || field == "year";
}

// Fields whose value is never empty: a missing one has a default text.
bool AlwaysGiven(const std::string& field)
{
    return !Numeric(field) && field != "folder";
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A value as one path part can hold it: no separator, no control character, no byte that is
// not UTF-8 (a source's name from an old archive), and never a name that stands for this
// folder or the one above.
std::string Contained(const std::string& value)
{
    std::string safe = PathText::NameText(value);
    for (char& c : safe) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F)
            c = '_';
    }
    return safe == "." || safe == ".." ? "_" : safe;
}

std::string StemOf(const std::string& name)
{
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// A folder level as the output folder takes it.
std::string FolderPart(const std::string& raw, const BatchWalk::NameRules& rules)
{
    std::string part = Contained(raw);
    if (rules.ascii)
        part = PortableName::Ascii(part);
    if (rules.portable)
        part = PortableName::Make(part);
    part = PortableName::Fit(part, "", "", rules.maxBytes, rules.portable);
    if (rules.portable)
        part = PortableName::Make(part);  // a cut may leave a trailing dot or blank
    return part.empty() || part == "." || part == ".." ? "_" : part;
}

// The file name's stem (the extension is ".mp3"); cut to length when the name is made.
std::string FileStem(const std::string& raw, const BatchWalk::NameRules& rules)
{
    std::string stem = Contained(raw);
    if (rules.ascii) {
        const std::string ascii = PortableName::Ascii(stem + ".mp3");
        stem = ascii.substr(0, ascii.size() - 4);
    }
    if (rules.portable)
        stem = PortableName::Make(stem);
    return stem.empty() || stem == "." || stem == ".." ? "_" : stem;
}

// The value of a track or disc number: the part before "/" ("3/12").
std::string NumberPart(const std::string& value)
{
    return Trimmed(value.substr(0, value.find('/')));
}

std::string Padded(const std::string& value, int width)
{
    std::size_t digits = 0;
    while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9')
        ++digits;
    if (digits == 0 || digits >= static_cast<std::size_t>(width))
        return value;
    return std::string(static_cast<std::size_t>(width) - digits, '0') + value;
}

// A field's value for a source, blanks trimmed; empty when it is missing and has no default
// (or, for an optional field, missing at all: then defaults is false).
std::string FieldValue(const std::string& field, const OutputLayout::Source& source, bool defaults)
{
    const OutputLayout::Tags& t = source.tags;
    const std::string name = fs::path(source.path).filename().string();
    const auto either = [&](const std::string& value, const std::string& fallback) {
        const std::string v = Trimmed(value);
        return v.empty() && defaults ? fallback : v;
    };
    if (field == "artist")
        return either(t.artist, "Unknown Artist");
    if (field == "albumartist") {
        const std::string artist = Trimmed(t.artist);
        return either(t.albumArtist, artist.empty() ? "Unknown Artist" : artist);
    }
    if (field == "album")
        return either(t.album, "Unknown Album");
    if (field == "title")
        return either(t.title, Trimmed(StemOf(name)));
    if (field == "track")
        return NumberPart(t.track);
    if (field == "disc")
        return NumberPart(t.disc);
    if (field == "year")
        return Trimmed(t.year);
    if (field == "genre")
        return either(t.genre, "Unknown Genre");
    if (field == "name")
        return Trimmed(StemOf(name));
    if (field == "folder")
        return Trimmed(fs::path(source.path).parent_path().filename().string());
    return {};
}

} // namespace

std::string OutputLayout::Plan::FileName(const BatchWalk::NameRules& rules, int number) const
{
    const std::string suffix = number >= 2 ? " (" + std::to_string(number) + ")" : std::string();
    return PortableName::Fit(stem, suffix, extension, rules.maxBytes, rules.portable);
}

std::string OutputLayout::Plan::Relative(const BatchWalk::NameRules& rules, int number) const
{
    return folders + FileName(rules, number);
}

OutputLayout::OutputLayout(Kind kind, const std::string& pattern)
    : kind_(kind)
    , pattern_(pattern)
{
    if (kind_ == Kind::NamesFromTags && Parse(pattern_, pieces_)) {
        pattern_ = kDefaultPattern;
        Parse(pattern_, pieces_);
    }
}

std::optional<std::string> OutputLayout::Parse(const std::string& pattern, std::vector<Piece>& pieces)
{
    pieces.clear();
    if (Trimmed(pattern).empty())
        return std::string("The pattern is empty: it gives no file name.");
    if (pattern[0] == '/')
        return std::string("The pattern starts with \"/\": outputs stay inside the output folder, so a pattern cannot "
                           "name a place from the root of the file system.");
    std::string text;
    const auto flushText = [&] {
        if (!text.empty())
            pieces.push_back({Piece::Type::Text, text, {}, 0, false});
        text.clear();
    };
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        const char c = pattern[at];
        if (c == '}')
            return std::string("A \"}\" has no \"{\" before it: braces enclose a field, such as {title}.");
        if (c == '/') {
            flushText();
            pieces.push_back({Piece::Type::Break, {}, {}, 0, false});
            continue;
        }
        if (c != '{') {
            text += c;
            continue;
        }
        const auto close = pattern.find('}', at + 1);
        const auto reopen = pattern.find('{', at + 1);
        if (close == std::string::npos || (reopen != std::string::npos && reopen < close))
            return std::string("A \"{\" is not closed: every field ends with \"}\", such as {title}.");
        const std::string inside = pattern.substr(at + 1, close - at - 1);
        std::size_t end = 0;
        std::string field;
        while (end < inside.size() && ((inside[end] >= 'a' && inside[end] <= 'z') || (inside[end] >= 'A' && inside[end] <= 'Z')))
            field += static_cast<char>(inside[end++] | 0x20);
        if (field.empty())
            return "\"{" + inside + "}\" holds no field name: use " + kFieldList + ".";
        if (!Known(field))
            return "\"{" + field + "}\" is no field: use " + kFieldList + ".";
        Piece piece{Piece::Type::Field, {}, field, 0, false};
        if (end < inside.size() && inside[end] == ':') {
            if (!Numeric(field))
                return "\"{" + inside + "}\": only track, disc and year take a width, such as {track:02}.";
            if (end + 2 >= inside.size() || inside[end + 1] != '0' || inside[end + 2] < '1' || inside[end + 2] > '9')
                return "\"{" + inside + "}\": a width is \":0\" and one digit from 1 to 9, such as {track:02}.";
            piece.width = inside[end + 2] - '0';
            end += 3;
        }
        // "{track2}" is more likely a mistyped name than track followed by "2".
        if (end < inside.size() && inside[end] >= '0' && inside[end] <= '9')
            return piece.width > 0
                       ? "\"{" + inside + "}\": a width is \":0\" and one digit from 1 to 9, such as {track:02}."
                       : "\"{" + inside + "}\" is no field: use " + kFieldList + ".";
        piece.text = inside.substr(end);
        piece.optional = !piece.text.empty();
        if (piece.text.find('/') != std::string::npos)
            return "\"{" + inside + "}\": the text after a field's name cannot hold \"/\".";
        flushText();
        pieces.push_back(piece);
        at = close;
    }
    flushText();

    // Each folder level and the file name: one may not name the folder above or this one,
    // and the file name needs something that is always there.
    std::vector<Piece> part;
    const auto checkPart = [&](bool last) -> std::optional<std::string> {
        bool onlyText = true;
        bool given = false;
        std::string literal;
        for (const Piece& p : part) {
            if (p.type == Piece::Type::Text) {
                literal += p.text;
                given = given || !Trimmed(p.text).empty();
            } else {
                onlyText = false;
                given = given || (!p.optional && AlwaysGiven(p.field));
            }
        }
        if (onlyText && Trimmed(literal) == "..")
            return std::string("The pattern climbs out of the output folder: \"..\" names the folder above.");
        if (onlyText && Trimmed(literal) == ".")
            return std::string("\".\" names no folder of its own: leave it out of the pattern.");
        if (last && part.empty())
            return std::string("The pattern ends with \"/\": it gives folders but no file name.");
        if (last && !given)
            return std::string("The file name can come out empty: give it some text or a field that is always known, "
                               "such as {title} or {name}.");
        return std::nullopt;
    };
    for (const Piece& p : pieces) {
        if (p.type != Piece::Type::Break) {
            part.push_back(p);
            continue;
        }
        if (auto reason = checkPart(false))
            return reason;
        part.clear();
    }
    return checkPart(true);
}

std::optional<std::string> OutputLayout::Check(const std::string& pattern)
{
    std::vector<Piece> pieces;
    return Parse(pattern, pieces);
}

OutputLayout::Plan OutputLayout::PlanFor(const Source& source, const BatchWalk::NameRules& rules) const
{
    const std::string name = fs::path(source.path).filename().string();
    Plan plan;
    plan.extension = ".mp3";
    if (kind_ == Kind::OneFolder) {
        // The batch's own rule, as BatchWalk::OutputPath forms a name.
        const std::string text = PathText::NameText(name);
        std::string output = BatchWalk::OutputName(rules.ascii ? PortableName::Ascii(text) : text);
        if (rules.portable)
            output = PortableName::Make(output);
        const auto dot = output.rfind('.');
        plan.stem = output.substr(0, dot);
        plan.extension = dot == std::string::npos ? std::string() : output.substr(dot);
        return plan;
    }
    if (kind_ == Kind::KeepFolders) {
        if (!source.root.empty()) {
            const fs::path root = fs::path(source.root).lexically_normal();
            const fs::path folder = fs::path(source.path).lexically_normal().parent_path();
            const fs::path below = folder.lexically_relative(root);
            const bool inside = !below.empty() && *below.begin() != "..";
            if (inside && below != ".")
                for (const fs::path& level : below)
                    plan.folders += FolderPart(level.string(), rules) + "/";
        }
        plan.stem = FileStem(StemOf(name), rules);
        return plan;
    }

    std::vector<std::string> parts(1);
    for (const Piece& p : pieces_) {
        if (p.type == Piece::Type::Break) {
            parts.emplace_back();
        } else if (p.type == Piece::Type::Text) {
            parts.back() += p.text;
        } else {
            std::string value = FieldValue(p.field, source, !p.optional);
            if (p.optional && value.empty())
                continue;
            if (p.width > 0)
                value = Padded(value, p.width);
            parts.back() += Contained(value) + p.text;
        }
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string level = Trimmed(parts[i]);
        if (!level.empty())
            plan.folders += FolderPart(level, rules) + "/";
    }
    std::string stem = Trimmed(parts.back());
    if (stem.empty())
        stem = Trimmed(StemOf(name));
    plan.stem = FileStem(stem, rules);
    return plan;
}

std::string OutputLayout::KindText(Kind kind)
{
    switch (kind) {
    case Kind::KeepFolders:
        return "FOLDERS";
    case Kind::NamesFromTags:
        return "TAGS";
    case Kind::OneFolder:
        break;
    }
    return "ONEFOLDER";
}

OutputLayout OutputLayout::FromSettings(const std::string& layout, const std::string& pattern)
{
    return OutputLayout(KindFromText(layout), pattern.empty() ? std::string(kDefaultPattern) : pattern);
}

std::optional<std::string> OutputLayout::StoredPatternFault(const std::string& layout, const std::string& pattern)
{
    if (KindFromText(layout) != Kind::NamesFromTags || pattern.empty())
        return std::nullopt;
    return Check(pattern);
}

OutputLayout::Kind OutputLayout::KindFromText(const std::string& text)
{
    if (text == KindText(Kind::KeepFolders))
        return Kind::KeepFolders;
    if (text == KindText(Kind::NamesFromTags))
        return Kind::NamesFromTags;
    return Kind::OneFolder;
}

std::string OutputLayout::RootOfAddedFolder(const std::string& folder)
{
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

} // namespace vardune
