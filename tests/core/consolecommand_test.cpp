#include "consolecommand.h"

#include "encodingprofile.h"

#include <gtest/gtest.h>

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

TEST(ConsoleCommand, RefusesWhatItCannotRun)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--convert", "a.wav"}, "no output folder"},
        {{"--convert", "--output", "out"}, "no source"},
        {{"--convert", "a.wav", "--output"}, "--output needs a folder"},
        {{"--convert", "--plan", "a.wav", "--output", "out"}, "either --convert or --plan"},
        {{"--convert", "a.wav", "--output", "out", "--quality", "128"}, "unknown quality"},
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
