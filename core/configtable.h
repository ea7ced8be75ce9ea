#pragma once
#include "encodingprofile.h"
#include "windowplacement.h"

#include <array>
#include <string>

namespace vardune {

// The settings kept from one run to the next.
struct Settings {
    std::string versionText;
    std::string sourceFolder;
    std::string targetFolder;
    EncodingProfile profile;
    // How many encoders run at once, as the user wrote it; empty: one per core.
    std::string jobs;
    WindowPlacement window;
    // The file type box's text as the user left it; empty: the designed "*.MP3".
    std::string fileType;
    // Where outputs go below the output folder (OutputLayout::KindText); empty: one folder,
    // "V_" names.
    std::string outputLayout;
    // The pattern of names from tags as the user left it; empty: OutputLayout's default.
    std::string namePattern;
    // Even loudness (LoudnessLevel::ModeText): "track", "album"; empty: off, the sound as it is.
    std::string evenLoudness;
};

// The one table of the configuration file: index 0 is the section, 1 to 7 the keys every
// file holds, in the order they are read and written, with their default texts; the keys
// after them are optional (how many encoders at once, the main window's placement and its
// splitter bars, the file type box, where outputs go, the pattern of names from tags and
// even loudness): written only when they hold a value, and a missing one
// keeps the program's behaviour without it, the designed window among them.
class ConfigTable {
public:
    static constexpr std::size_t kEntries = 21;
    static constexpr std::size_t kRequiredEntries = 8;
    static constexpr const char* kVersionConstant = "03.00.01";

    // defaultFolder stands for both folder keys when the file has none.
    void InitConfigTable(const std::string& defaultFolder);

    std::array<std::string, kEntries> ConfigKeys;
    std::array<std::string, kEntries> ConfigValues;
};

// Loads the settings from the file at path: every key missing, empty or unreadable gets its
// default; values are read back whole, whatever their length. What stands at path and is no
// settings file (a FIFO, a device, a file over IniFile::kMaxBytes) is not read: every key
// gets its default, and refused, when given, is set to why ("it is a FIFO"); else emptied.
Settings ReadConfig(const std::string& path, const std::string& defaultFolder, std::string* refused = nullptr);
// Saves every key, changed or not, into the file at path. Returns false when nothing was saved.
bool WriteConfig(const std::string& path, const Settings& settings);

} // namespace vardune
