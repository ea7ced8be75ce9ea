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
    WindowPlacement window;
};

// The one table of the configuration file: index 0 is the section, 1 to 7 the keys in the
// order they are read and written, with their default texts; after them the keys of the main
// window's placement, whose empty defaults give the designed window.
class ConfigTable {
public:
    static constexpr std::size_t kEntries = 14;
    static constexpr const char* kVersionConstant = "03.00.01";

    // defaultFolder stands for both folder keys when the file has none.
    void InitConfigTable(const std::string& defaultFolder);

    std::array<std::string, kEntries> ConfigKeys;
    std::array<std::string, kEntries> ConfigValues;
};

// Loads the settings from the file at path: every key missing, empty or unreadable gets its
// default; values are read back whole, whatever their length.
Settings ReadConfig(const std::string& path, const std::string& defaultFolder);
// Saves every key, changed or not, into the file at path. Returns false when nothing was saved.
bool WriteConfig(const std::string& path, const Settings& settings);

} // namespace vardune
