#include "consolecommand.h"

#include "batchwalk.h"
#include "encodingprofile.h"
#include "loudnesslevel.h"
#include "outputlayout.h"

#include <algorithm>
#include <cstring>

namespace vardune {

namespace {

// The qualities by their command-line names and by the bitrate each one writes, in the
// order of the quality list.
const char* const kQualityNames[] = {"cd", "fm", "tape", "phone"};
const char* const kQualityRates[] = {"96", "64", "32", "16"};

// The options Qt's application takes for the window (and removes before the program sees the
// rest), by their names without the dash: those that take a value, then those that do not.
const char* const kQtValued[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                 "qwindowicon", "qwindowtitle", "session", "display", "geometry", "style",
                                 "stylesheet", "name", "title", "visual", "qmljsdebugger"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

bool StartsWithDashes(const std::string& text)
{
    return text.rfind("--", 0) == 0;
}

template <std::size_t N>
bool Among(const std::string& name, const char* const (&names)[N])
{
    return std::find_if(std::begin(names), std::end(names), [&](const char* n) { return name == n; }) != std::end(names);
}

} // namespace

ConsoleCommand::Request ConsoleCommand::Classify(const std::vector<std::string>& arguments, std::string& error,
                                                 std::vector<std::string>* files)
{
    for (const std::string& argument : arguments) {
        if (argument == "--")
            break;
        if (argument == "--help" || argument == "-h")
            return Request::Help;
        if (argument == "--version")
            return Request::Version;
    }
    for (const std::string& argument : arguments) {
        if (argument == "--")
            break;
        if (argument == "--convert" || argument == "--plan")
            return Request::Batch;
    }
    // The window takes Qt's options, which Qt takes in either "-name" or "--name" form, a value
    // after them or (for some) after "="; and files and folders for its list (as a file
    // manager's "Open With" hands them over). No option of its own.
    std::vector<std::string> given;
    bool optionsOver = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsOver || argument.empty() || argument[0] != '-' || argument == "-") {
            given.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsOver = true;
            continue;
        }
        std::string name = argument.substr(argument[1] == '-' ? 2 : 1);
        const auto equals = name.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue)
            name.resize(equals);
        const bool valued = Among(name, kQtValued);
        if (!inlineValue && Among(name, kQtFlags))
            continue;
        if (valued && inlineValue)
            continue;
        if (valued && i + 1 < arguments.size() && !StartsWithDashes(arguments[i + 1])) {
            ++i;
            continue;
        }
        if (valued)
            error = argument + " needs a value";
        else
            error = argument + " is not an option of the window (a batch's options go with --convert or --plan; "
                               "write ./" + argument + " for a file or folder of that name)";
        return Request::Usage;
    }
    if (files)
        *files = std::move(given);
    return Request::Window;
}

std::optional<ConsoleCommand> ConsoleCommand::Parse(const std::vector<std::string>& arguments, std::string& error)
{
    ConsoleCommand command;
    bool modeGiven = false;
    bool outputGiven = false;
    bool optionsOver = false;
    // A value that starts with "--" is the next option, forgotten value before it: "--output
    // --plan" makes no folder named "--plan".
    std::string refusedValue;
    const auto fail = [&](const std::string& why) {
        error = why;
        if (!refusedValue.empty())
            error += " (\"" + refusedValue + "\" is an option; write ./" + refusedValue + " for a file or folder of that name)";
        return std::nullopt;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsOver || argument.empty() || argument[0] != '-' || argument == "-") {
            command.sources.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsOver = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> inlineValue;
        if (const auto equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        const auto value = [&]() -> std::optional<std::string> {
            const std::optional<std::string> given
                = inlineValue ? inlineValue : i + 1 < arguments.size() ? std::optional<std::string>(arguments[i + 1]) : std::nullopt;
            if (given && StartsWithDashes(*given)) {
                refusedValue = *given;
                return std::nullopt;
            }
            if (given && !inlineValue)
                ++i;
            return given;
        };
        const auto flag = [&](bool& target) -> bool {
            if (inlineValue)
                return false;
            target = true;
            return true;
        };
        if (name == "--convert" || name == "--plan") {
            const Mode mode = name == "--convert" ? Mode::Convert : Mode::Plan;
            if (inlineValue || (modeGiven && command.mode != mode))
                return fail("give either --convert or --plan, once");
            command.mode = mode;
            modeGiven = true;
        } else if (name == "--output" || name == "-o") {
            const auto folder = value();
            if (!folder || folder->empty())
                return fail("--output needs a folder");
            command.output = *folder;
            outputGiven = true;
        } else if (name == "--quality") {
            const auto quality = value();
            if (!quality)
                return fail("--quality needs cd, fm, tape, phone or a bitrate");
            bool found = false;
            for (std::size_t q = 0; q < 4 && !found; ++q) {
                if (*quality == kQualityNames[q] || *quality == kQualityRates[q]
                    || *quality == std::string(kQualityRates[q]) + "k") {
                    command.quality = EncodingProfile::QualityList()[q];
                    found = true;
                }
            }
            // Any other bitrate an MP3 is written at, as "160" or "160k".
            for (const int kbps : EncodingProfile::Mp3Bitrates())
                if (!found && (*quality == std::to_string(kbps) || *quality == std::to_string(kbps) + "k")) {
                    command.bitrate = kbps * 1000;
                    found = true;
                }
            if (!found)
                return fail("unknown quality \"" + *quality
                            + "\": cd (96), fm (64), tape (32), phone (16 kbps) or an MP3 bitrate: 8, 16, 24, 32, 40, "
                              "48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256 or 320");
        } else if (name == "--mono") {
            if (!flag(command.mono))
                return fail("--mono takes no value");
        } else if (name == "--layout") {
            const auto layout = value();
            if (!layout)
                return fail("--layout needs one-folder, keep-folders or tags");
            if (*layout == "one-folder")
                command.layout = OutputLayout::KindText(OutputLayout::Kind::OneFolder);
            else if (*layout == "keep-folders")
                command.layout = OutputLayout::KindText(OutputLayout::Kind::KeepFolders);
            else if (*layout == "tags")
                command.layout = OutputLayout::KindText(OutputLayout::Kind::NamesFromTags);
            else
                return fail("unknown layout \"" + *layout + "\": one-folder, keep-folders or tags");
        } else if (name == "--pattern") {
            const auto pattern = value();
            if (!pattern)
                return fail("--pattern needs a pattern");
            if (const auto why = OutputLayout::Check(*pattern))
                return fail("--pattern: " + *why);
            command.pattern = *pattern;
        } else if (name == "--jobs" || name == "-j") {
            const auto jobs = value();
            bool digits = jobs && !jobs->empty() && jobs->size() <= 4;
            for (std::size_t c = 0; digits && c < jobs->size(); ++c)
                digits = (*jobs)[c] >= '0' && (*jobs)[c] <= '9';
            if (!digits || std::stoi(*jobs) < 1)
                return fail("--jobs needs a number of encoders, 1 or more");
            command.jobs = std::to_string(std::min(std::stoi(*jobs), BatchWalk::kMaxJobs));
        } else if (name == "--level") {
            const auto level = value();
            if (level && *level == "off")
                command.level = LoudnessLevel::ModeText(LoudnessLevel::Mode::Off);
            else if (level && *level == "track")
                command.level = LoudnessLevel::ModeText(LoudnessLevel::Mode::Track);
            else if (level && *level == "album")
                command.level = LoudnessLevel::ModeText(LoudnessLevel::Mode::Album);
            else
                return fail("--level needs off, track or album");
        } else if (name == "--fit") {
            if (!flag(command.fit))
                return fail("--fit takes no value");
        } else if (name == "--only-changed") {
            if (!flag(command.onlyChanged))
                return fail("--only-changed takes no value");
        } else if (name == "--dry-run" || name == "-n") {
            if (!flag(command.dryRun))
                return fail("--dry-run takes no value");
        } else if (name == "--json") {
            if (!flag(command.json))
                return fail("--json takes no value");
        } else if (name == "--settings") {
            if (!flag(command.useSettings))
                return fail("--settings takes no value");
        } else if (name == "--encoder") {
            const auto encoder = value();
            if (!encoder || encoder->empty())
                return fail("--encoder needs the encoder as the plan's hosts find it: a path, or fastencc for their PATH");
            command.encoder = *encoder;
        } else if (name == "--tidy") {
            if (!flag(command.tidy))
                return fail("--tidy takes no value");
        } else {
            return fail("unknown option " + argument);
        }
    }
    if (!modeGiven)
        return fail("give --convert or --plan");
    if (command.sources.empty())
        return fail("no source file or folder given");
    if (!outputGiven)
        return fail("no output folder given (--output DIR)");
    if (!command.encoder.empty() && command.mode != Mode::Plan)
        return fail("--encoder goes with --plan: a batch here runs this machine's own encoder");
    if (command.tidy && command.mode == Mode::Plan)
        return fail("--tidy goes with --convert: a plan removes nothing");
    return command;
}

void ConsoleCommand::Apply(Settings& settings) const
{
    if (quality)
        settings.profile.quality = *quality;
    if (bitrate)
        settings.profile.bitrate = *bitrate;
    if (mono)
        settings.profile.channel = EncodingProfile::ChannelList()[1];
    if (layout)
        settings.outputLayout = *layout;
    if (pattern)
        settings.namePattern = *pattern;
    if (jobs)
        settings.jobs = *jobs;
    if (level)
        settings.evenLoudness = *level;
    settings.targetFolder = output;
}

const char* ConsoleCommand::Usage()
{
    return "Usage: vardune --convert SOURCE... --output DIR [--quality cd|fm|tape|phone|KBPS] [--mono] [--fit]\n"
           "         [--layout one-folder|keep-folders|tags] [--pattern P] [--jobs N] [--level off|track|album]\n"
           "         [--only-changed] [--tidy] [--dry-run] [--json] [--settings]\n"
           "       vardune --plan SOURCE... --output DIR [the same options but --tidy] [--encoder PROGRAM]\n"
           "       vardune [-platform P] [-display D] [-style S]... [FILE...]   (the window: Qt's options,\n"
           "         and files and folders to add to its Vardo list)\n";
}

const char* ConsoleCommand::Help()
{
    return "Usage: vardune [--help | --version]\n"
           "       vardune --convert SOURCE... --output DIR [OPTION...]\n"
           "       vardune --plan SOURCE... --output DIR [OPTION...]\n"
           "       vardune [FILE...]\n"
           "Vardune makes MP3 and WAV files smaller so that more of them fit on a portable player.\n"
           "Without --convert or --plan it opens its window, where files are chosen; files and\n"
           "folders named add to its Vardo list (in the copy that runs already, if one does).\n"
           "The window takes Qt's own options only (-platform, -display, -style...).\n"
           "\n"
           "  -h, --help           show this help and exit\n"
           "      --version        show the version and exit\n"
           "      --convert        convert the SOURCE files, and the audio files of the SOURCE\n"
           "                       folders and their subfolders, into DIR, with no window\n"
           "      --plan           decide every output name and print one record per file to\n"
           "                       convert: source, output and the fastencc command, each ended\n"
           "                       by a NUL byte, for GNU parallel, xargs -0 or a Slurm array\n"
           "  -o, --output DIR     the output folder (made when it is missing)\n"
           "      --quality Q      cd (96 kbps, the default), fm (64), tape (32) or phone (16);\n"
           "                       or any MP3 bitrate in kbps: 8, 16, 24, 32, 40, 48, 56, 64,\n"
           "                       80, 96, 112, 128, 144, 160, 192, 224, 256 or 320\n"
           "      --mono           write mono\n"
           "      --fit            when the outputs do not fit into DIR at the quality, convert\n"
           "                       them all at the highest bitrate at which they fit\n"
           "      --layout L       one-folder (the default), keep-folders or tags\n"
           "      --pattern P      the pattern of names from tags (tags layout)\n"
           "  -j, --jobs N         cores kept busy at once (default: every core)\n"
           "      --level L        even loudness: off (the default), track or album: each file,\n"
           "                       or each album (one folder, one album tag) as a whole, to\n"
           "                       -18 LUFS, its true peak kept at or below -1 dBTP\n"
           "      --only-changed   convert only what changed since the last run: outputs made\n"
           "                       from the same unchanged source with the same settings stay\n"
           "                       as they are (\"up to date\"), as in every batch\n"
           "      --tidy           after converting, remove from DIR what Tidy the Player removes\n"
           "                       by default: files the record in DIR proves Vardune wrote\n"
           "                       there, whose sources are gone (not merely out of reach) or\n"
           "                       that newer outputs replaced, and encoders' leftovers\n"
           "  -n, --dry-run        print each source and the output it would become, the\n"
           "                       forecast and whether it fits (and, with --tidy, what would\n"
           "                       be removed); convert, write and remove nothing\n"
           "      --json           one JSON object per file instead of lines of text\n"
           "      --settings       start from the window's settings file instead of the defaults\n"
           "      --encoder PROGRAM  (--plan) the encoder as the hosts that run the plan find\n"
           "                       it: a path, or fastencc where it is on their PATH (default:\n"
           "                       this machine's own, by its full path)\n"
           "\n"
           "Exit status: 0 all done, 1 some failed (or the standard output could not be\n"
           "written), 2 a usage error, 3 no room in DIR.\n"
           "Each file is converted by the encoder fastencc(1). Settings are kept in\n"
           "~/.config/Vardune/Vardune.ini, or in Vardune.ini beside a copy that is not installed.\n"
           "The manual opens from Help > Help; see also vardune(1).\n";
}

} // namespace vardune
