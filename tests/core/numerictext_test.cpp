#include "encodingprofile.h"
#include "numerictext.h"

#include <gtest/gtest.h>

using vardune::EncodingProfile;
using vardune::LeadingNumber;

TEST(LeadingNumber, ReadsTheNumberATextBeginsWith)
{
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"1- Stereo", 1},          {"5- Other MP3 Device", 5}, {"Mono", 0},
        {"2.5 x", 2.5},            {" \t\n 3", 3},              {"-2- x", -2},
        {"+4", 4},                 {"1e3x", 1000},              {"2e", 2},
        {"2E-1", 0.2},             {"", 0},                     {" ", 0},
        {" 1048576", 1048576},     {".5", 0.5},                 {".", 0},
        {"-", 0},                  {"12abc34", 12},             {"0x1F", 0},
        {"1e999", std::numeric_limits<double>::infinity()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LeadingNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(EncodingProfile, EntryNumbersAndUsableTexts)
{
    for (std::size_t i = 0; i < EncodingProfile::DeviceList().size(); ++i)
        EXPECT_EQ(EncodingProfile::EntryNumber(EncodingProfile::DeviceList()[i]), double(i + 1));
    EXPECT_EQ(EncodingProfile::EntryNumber("3- TAPE QUALITY"), 3);
    EXPECT_TRUE(EncodingProfile::IsUsableText("2.5- whatever"));
    EXPECT_FALSE(EncodingProfile::IsUsableText("Other MP3 Device"));
    EXPECT_FALSE(EncodingProfile::IsUsableText("0- none"));
    EXPECT_FALSE(EncodingProfile::IsUsableText("-1- none"));
}

TEST(EncodingProfile, StatusLineJoinsTheTextsWithTwoBlanks)
{
    EXPECT_EQ(EncodingProfile().StatusLine(), "1- MP3 Potable Player  1- CD Quality  1- Stereo");
    EncodingProfile empty;
    empty.device = empty.quality = empty.channel = "";
    EXPECT_EQ(empty.StatusLine(), "    ");
    EncodingProfile odd;
    odd.device = " x ";
    EXPECT_EQ(odd.StatusLine(), " x   1- CD Quality  1- Stereo");
}
