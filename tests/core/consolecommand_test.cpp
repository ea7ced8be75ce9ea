#include "consolecommand.h"

#include "encodercommand.h"
#include "encodingprofile.h"

#include <gtest/gtest.h>

#include <tuple>

using vardune::ConsoleCommand;

namespace {

std::optional<ConsoleCommand> Parse(std::vector<std::string> arguments, std::string* error = nullptr)
{
    std::string why;
    auto command = ConsoleCommand::Parse(arguments, why);
    if (error)
        *error = why;
    return command;
}

} // namespace

// What a script may write, and what it gets: each choice lands in the settings the window's
// batch reads.
TEST(ConsoleCommand, ChoicesBecomeTheWindowsSettings)
{
    const auto command = Parse({"--convert", "a.wav", "--output=out", "Music", "--quality", "tape", "--mono", "--layout",
                                "keep-folders", "-j", "3", "--level", "album", "--", "--odd name.wav"});
    ASSERT_TRUE(command);
    EXPECT_EQ(command->sources, (std::vector<std::string> {"a.wav", "Music", "--odd name.wav"}));
    vardune::Settings settings;
    command->Apply(settings);
    EXPECT_EQ(settings.profile.quality, vardune::EncodingProfile::QualityList()[2]);
    EXPECT_EQ(settings.profile.channel, vardune::EncodingProfile::ChannelList()[1]);
    EXPECT_EQ(settings.outputLayout, "FOLDERS");
    EXPECT_EQ(settings.jobs, "3");
    EXPECT_EQ(settings.evenLoudness, "album");
    EXPECT_EQ(settings.targetFolder, "out");

    // Left out, a choice keeps what the settings held (the file's, with --settings).
    vardune::Settings stored;
    stored.profile.channel = vardune::EncodingProfile::ChannelList()[1];
    stored.outputLayout = "TAGS";
    Parse({"--plan", "a.wav", "-o", "out", "--quality", "64"})->Apply(stored);
    EXPECT_EQ(stored.profile.quality, vardune::EncodingProfile::QualityList()[1]);
    EXPECT_EQ(stored.profile.channel, vardune::EncodingProfile::ChannelList()[1]);
    EXPECT_EQ(stored.outputLayout, "TAGS");
}

// Any MP3 bitrate from 8 to 320 kbit/s, beside the window's four qualities: the window's own
// quality stays as it was, the bitrate stands in for it.
TEST(ConsoleCommand, AnyMp3Bitrate)
{
    const struct {
        const char* given;
        int bitrate;  // 0: a quality of the window's
        std::size_t quality;
    } cases[] = {{"8", 8000, 0}, {"160", 160000, 0}, {"192k", 192000, 0}, {"320", 320000, 0},
                 {"96", 0, 0}, {"16k", 0, 3}, {"phone", 0, 3}};
    for (const auto& c : cases) {
        const auto command = Parse({"--convert", "a.wav", "-o", "out", "--quality", c.given, "--fit"});
        ASSERT_TRUE(command) << c.given;
        EXPECT_TRUE(command->fit);
        vardune::Settings settings;
        command->Apply(settings);
        EXPECT_EQ(settings.profile.bitrate, c.bitrate) << c.given;
        EXPECT_EQ(settings.profile.quality, vardune::EncodingProfile::QualityList()[c.quality]) << c.given;
        EXPECT_EQ(vardune::EncoderCommand::Arguments("a", "b", settings.profile).back(),
                  std::to_string(c.bitrate ? c.bitrate : std::stoi(c.given[0] == 'p' ? "16" : c.given) * 1000))
            << c.given;
    }
    for (const char* refused : {"7", "100", "321", "1000", "128kb", "-128", ""}) {
        std::string error;
        EXPECT_FALSE(Parse({"--convert", "a.wav", "-o", "out", "--quality", refused}, &error)) << refused;
        EXPECT_NE(error.find("unknown quality"), std::string::npos) << error;
    }
}

TEST(ConsoleCommand, RefusesWhatItCannotRun)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--convert", "a.wav"}, "no output folder"},
        {{"--convert", "--output", "out"}, "no source"},
        {{"--convert", "a.wav", "--output"}, "--output needs a folder"},
        {{"--convert", "--plan", "a.wav", "--output", "out"}, "either --convert or --plan"},
        {{"--convert", "a.wav", "--output", "out", "--quality", "100"}, "unknown quality"},
        {{"--convert", "a.wav", "--output", "out", "--fit=yes"}, "--fit takes no value"},
        {{"--convert", "a.wav", "--output", "out", "--layout", "flat"}, "unknown layout"},
        {{"--convert", "a.wav", "--output", "out", "--jobs", "0"}, "--jobs needs"},
        {{"--convert", "a.wav", "--output", "out", "--jobs", "99999999999"}, "--jobs needs"},
        {{"--convert", "a.wav", "--output", "out", "--pattern", "../{title}"}, "--pattern: "},
        {{"--convert", "a.wav", "--output", "out", "--mono=yes"}, "--mono takes no value"},
        {{"--convert", "a.wav", "--output", "out", "-x"}, "unknown option -x"},
        {{"--convert", "a.wav", "--output", "out", "--level", "loud"}, "--level needs"},
    };
    for (const auto& [arguments, said] : cases) {
        std::string error;
        EXPECT_FALSE(Parse(arguments, &error)) << said;
        EXPECT_NE(error.find(said), std::string::npos) << error;
    }
}

// A value forgotten before the next option is not taken from it: "--output --plan" makes no
// folder named "--plan", in the inline form either; a name that starts so is written ./--x.
TEST(ConsoleCommand, AValueNeverStartsWithTwoDashes)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--convert", "a.wav", "--output", "--plan"}, "--output needs a folder (\"--plan\" is an option; write ./--plan"},
        {{"--plan", "a.wav", "--output=--dry-run"}, "--output needs a folder"},
        {{"--convert", "a.wav", "-o", "out", "--pattern", "--mono"}, "--pattern needs a pattern"},
        {{"--convert", "a.wav", "-o", "out", "--quality", "--mono"}, "--quality needs"},
        {{"--convert", "a.wav", "-o", "out", "--jobs", "--json"}, "--jobs needs"},
        {{"--plan", "a.wav", "-o", "out", "--encoder", "--json"}, "--encoder needs"},
    };
    for (const auto& [arguments, said] : cases) {
        std::string error;
        EXPECT_FALSE(Parse(arguments, &error)) << said;
        EXPECT_NE(error.find(said), std::string::npos) << error;
    }
    const auto dashed = Parse({"--convert", "a.wav", "--output", "./--plan", "--pattern", "-{title}"});
    ASSERT_TRUE(dashed);
    EXPECT_EQ(dashed->output, "./--plan");
    EXPECT_EQ(*dashed->pattern, "-{title}");
}

// The encoder a plan's commands name: as given, for --plan only.
TEST(ConsoleCommand, EncoderForThePlansHosts)
{
    EXPECT_EQ(Parse({"--plan", "a.wav", "-o", "out", "--encoder", "fastencc"})->encoder, "fastencc");
    EXPECT_EQ(Parse({"--plan", "a.wav", "-o", "out", "--encoder=/opt/vardune/fastencc"})->encoder, "/opt/vardune/fastencc");
    EXPECT_EQ(Parse({"--plan", "a.wav", "-o", "out"})->encoder, "");
    std::string error;
    EXPECT_FALSE(Parse({"--convert", "a.wav", "-o", "out", "--encoder", "fastencc"}, &error));
    EXPECT_NE(error.find("--encoder goes with --plan"), std::string::npos) << error;
}

// What the arguments ask for before anything starts: the window takes Qt's own options, and
// files and folders for its list (after "--", whatever their names); any other option, an
// option of a batch without --convert or --plan included, is a usage error, so that no display
// is ever opened for it.
TEST(ConsoleCommand, EachRequestIsKnownBeforeAnythingStarts)
{
    using Request = ConsoleCommand::Request;
    using Files = std::vector<std::string>;
    const std::vector<std::tuple<std::vector<std::string>, Request, std::string, Files>> cases = {
        {{}, Request::Window, "", {}},
        {{"-platform", "offscreen"}, Request::Window, "", {}},
        {{"--platform", "xcb", "-display", ":1", "-style=Fusion", "-reverse", "--qwindowtitle", "T"}, Request::Window, "", {}},
        {{"song.mp3", "-platform", "offscreen", "/music/Album", "-"}, Request::Window, "", {"song.mp3", "/music/Album", "-"}},
        {{"-style", "fusion", "--", "--convert", "-x.wav"}, Request::Window, "", {"--convert", "-x.wav"}},
        {{"--convert", "a.wav", "-o", "out"}, Request::Batch, "", {}},
        {{"a.wav", "--plan"}, Request::Batch, "", {}},
        {{"--convert", "--help"}, Request::Help, "", {}},
        {{"-platform", "offscreen", "--version"}, Request::Version, "", {}},
        {{"--dry-run"}, Request::Usage, "--dry-run is not an option of the window", {}},
        {{"song.mp3", "--unknown"}, Request::Usage, "--unknown is not an option of the window", {}},
        {{"-x.wav"}, Request::Usage, "write ./-x.wav for a file or folder of that name", {}},
        {{"-platform"}, Request::Usage, "-platform needs a value", {}},
        {{"-style", "--dry-run"}, Request::Usage, "-style needs a value", {}},
        {{"-reverse=yes"}, Request::Usage, "-reverse=yes is not an option of the window", {}},
    };
    for (const auto& [arguments, request, said, files] : cases) {
        const std::string first = arguments.empty() ? "" : arguments[0];
        std::string error;
        Files given = {"left from before"};
        EXPECT_EQ(ConsoleCommand::Classify(arguments, error, &given), request) << first;
        EXPECT_NE(error.find(said), std::string::npos) << error;
        if (request == Request::Window) {
            EXPECT_EQ(given, files) << first;
        }
    }
}

