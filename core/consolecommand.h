#pragma once
#include "configtable.h"

#include <optional>
#include <string>
#include <vector>

namespace vardune {

// The batch asked for on the command line (`vardune --convert ...` or `vardune --plan ...`):
// what to convert, where to, and the choices that stand in for the window's settings.
struct ConsoleCommand {
    enum class Mode { Convert, Plan };
    Mode mode = Mode::Convert;
    std::vector<std::string> sources;  // files and folders, as given
    std::string output;                // the output folder, as given
    // Each choice left out keeps the setting's default (or the settings file's, with
    // useSettings).
    std::optional<std::string> quality;  // a text of EncodingProfile::QualityList
    bool mono = false;
    std::optional<std::string> layout;   // OutputLayout::KindText
    std::optional<std::string> pattern;
    std::optional<std::string> jobs;
    std::optional<std::string> level;    // LoudnessLevel::ModeText: even loudness
    bool onlyChanged = false;
    bool dryRun = false;
    bool json = false;
    bool useSettings = false;
    // After the batch, remove what Tidy the Player removes by default (with dryRun: list it).
    bool tidy = false;

    // Whether the arguments ask for a batch without the window (--convert or --plan).
    static bool Asked(int argc, const char* const argv[]);
    // Reads the arguments after the program's name; nothing, with why in error, when they
    // are not a batch the command line can run.
    static std::optional<ConsoleCommand> Parse(const std::vector<std::string>& arguments, std::string& error);
    // The choices made, over settings that hold the defaults.
    void Apply(Settings& settings) const;

    static const char* Usage();
    static const char* Help();
};

} // namespace vardune
