#pragma once
#include "keptfile.h"

#include <optional>
#include <string>
#include <vector>

namespace vardune {

// An INI file as the classic profile functions see it: "[section]" headers and "key=value"
// lines, section and key names matched without regard to letter case, the first of two equal
// keys wins, values trimmed of blanks. Writing replaces a value in place and keeps every other
// line as it was; missing sections and keys are created. Reading never fails: a missing,
// unreadable or garbled file is simply one that holds fewer keys; what is no settings file
// at all (a FIFO, a device, a file over kMaxBytes) is not read, and Load says so.
class IniFile {
public:
    explicit IniFile(std::string path);

    // No settings file is larger: a file of 1 MB holds thousands of keys.
    static constexpr std::size_t kMaxBytes = 1u << 20;

    // Reads the file; a file that cannot be read leaves the object empty. What was found
    // (its text is not kept in it): KeptFile::State::Refused with why when what stands at the
    // path is no file that could hold settings.
    KeptFile::Reading Load();
    // The trimmed value stored under section and key, or nothing when either is missing.
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;
    void SetValue(const std::string& section, const std::string& key, const std::string& value);
    // Writes the whole file to a temporary file beside it and renames that over the file, so
    // an interrupted save leaves the previous file intact. A symbolic link is written through
    // to the file it names, and the file keeps its permission bits. When no temporary file can
    // be made there (a writable file in a folder that is not), the file is written in place.
    // Returns false when nothing was saved.
    bool Save() const;

    const std::string& Path() const { return path_; }

private:
    // Index of the header line of the first matching section, or -1.
    long FindSection(const std::string& section) const;
    // Index of the first matching key line inside the section starting at header, or -1.
    long FindKey(long header, const std::string& key) const;
    // One past the last line of the section starting at header.
    std::size_t SectionEnd(long header) const;

    std::string path_;
    std::vector<std::string> lines_;
    std::string eol_ = "\n";
};

} // namespace vardune
