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
    std::optional<int> bitrate;          // any other MP3 bitrate, in bit/s
    bool mono = false;
    // Outputs that do not fit at the quality are all converted at the highest bitrate at
    // which they fit.
    bool fit = false;
    std::optional<std::string> layout;   // OutputLayout::KindText
    std::optional<std::string> pattern;
    std::optional<std::string> jobs;
    std::optional<std::string> level;    // LoudnessLevel::ModeText: even loudness
    bool onlyChanged = false;
    bool dryRun = false;
    bool json = false;
    bool useSettings = false;
    // The encoder as a plan's commands name it (--encoder): a path, or a bare name that the
    // hosts running the plan find on their PATH; empty: this machine's own encoder.
    std::string encoder;
    // After the batch, remove what Tidy the Player removes by default (with dryRun: list it).
    bool tidy = false;

    // What the arguments after the program's name ask for, before anything starts.
    enum class Request {
        Window,   // the window, with Qt's own options (-platform, -display, -style...) and the
                  // files and folders to add to its Vardo list
        Batch,    // --convert or --plan: Parse reads the rest
        Help,
        Version,
        Usage,    // anything else: a usage error, why in error
    };
    // For the window, files gets the other arguments, as given: files and folders to add (all
    // after "--", so that a file may be named like an option).
    static Request Classify(const std::vector<std::string>& arguments, std::string& error,
                            std::vector<std::string>* files = nullptr);
    // Reads the arguments after the program's name; nothing, with why in error, when they
    // are not a batch the command line can run.
    static std::optional<ConsoleCommand> Parse(const std::vector<std::string>& arguments, std::string& error);
    // The choices made, over settings that hold the defaults.
    void Apply(Settings& settings) const;

    static const char* Usage();
    static const char* Help();
};

} // namespace vardune
