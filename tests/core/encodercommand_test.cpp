#include "encodercommand.h"
#include "sourcemark.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace vardune;

namespace {
EncodingProfile With(const std::string& channel, const std::string& quality)
{
    EncodingProfile p;
    p.channel = channel;
    p.quality = quality;
    return p;
}
} // namespace

TEST(EncoderCommand, OptionsFollowTheExactProfileTexts)
{
    const struct {
        const char* channel;
        const char* quality;
        const char* ending;  // what follows the target's closing quote
        std::vector<std::string> options;
    } cases[] = {
        {"1- Stereo", "1- CD Quality", "  -br 96000", {"-br", "96000"}},
        {"2- Mono", "2- FM Radio Quality", "  -dm -br 64000", {"-dm", "-br", "64000"}},
        {"2- Mono", "3- Tape Quality", "  -dm -br 32000", {"-dm", "-br", "32000"}},
        {"1- Stereo", "4- Telephone Quality", "  -br 16000", {"-br", "16000"}},
        {"1- Stereo", "3- TAPE QUALITY", " ", {}},
        {"1- Stereo", "", " ", {}},
        {"1- STEREO", "1- CD Quality", "  -dm -br 96000", {"-dm", "-br", "96000"}},
        {"", "Other", "  -dm", {"-dm"}},
        {"1- Stereo ", "1- CD Quality ", "  -dm", {"-dm"}},
    };
    for (const auto& c : cases) {
        const EncodingProfile p = With(c.channel, c.quality);
        const std::string line = EncoderCommand::CommandLine("/opt/my apps", "/in/a b.mp3", "/out/V_a b.mp3", p);
        EXPECT_EQ(line, "/opt/my apps/fastencc \"/in/a b.mp3\" \"/out/V_a b.mp3\"" + std::string(c.ending))
            << c.channel << " | " << c.quality;
        std::vector<std::string> expected = {"/in/a b.mp3", "/out/V_a b.mp3"};
        expected.insert(expected.end(), c.options.begin(), c.options.end());
        EXPECT_EQ(EncoderCommand::Arguments("/in/a b.mp3", "/out/V_a b.mp3", p), expected);
        // The profile the encoder records for these very options; none where it takes its
        // own default bitrate.
        const auto br = std::find(c.options.begin(), c.options.end(), "-br");
        const bool mono = std::find(c.options.begin(), c.options.end(), "-dm") != c.options.end();
        EXPECT_EQ(EncoderCommand::MarkProfile(p), br == c.options.end() ? "" : SourceMark::Profile(std::stoi(*(br + 1)), mono))
            << c.channel << " | " << c.quality;
    }
    EXPECT_EQ(EncoderCommand::MarkProfile(With("2- Mono", "2- FM Radio Quality")), "br064000,mono1");
}

TEST(EncoderCommand, PathsGoAsTheyAreWithoutQuotingInTheArgumentList)
{
    const std::string source = "-\"quoted\" $(rm -rf ~) 'x'.mp3";
    const auto arguments = EncoderCommand::Arguments(source, "/out/V_x.mp3", EncodingProfile());
    EXPECT_EQ(arguments[0], source);
    EXPECT_EQ(arguments.size(), 4u);
}
