#include "configcodec.h"

#include <gtest/gtest.h>

using namespace vardune;

TEST(ConfigCodec, EncodesEachByteAsThreeDigitsWithAPositionOffset)
{
    EXPECT_EQ(EncodeConfigText("abc"), "598600602");
    EXPECT_EQ(EncodeConfigText(""), "");
    // The tenth character gets no offset: j is 106.
    EXPECT_EQ(EncodeConfigText("aaaaaaaaaj").substr(27), "606");
    EXPECT_EQ(DecodeConfigText("598600602"), "abc");
}

TEST(ConfigCodec, DecodingDropsWhatIsNotAWholeValidGroup)
{
    const struct {
        const char* encoded;
        const char* plain;
    } cases[] = {
        {"5986006021", "abc"},   // one stray digit
        {"59860060212", "abc"},  // two stray digits
        {"598xyz602", "ac"},     // a group without digits reads as 0: no character
        {"59860", "a"},
        {"ab", ""},              // plain text shorter than a group
        {"CONFIG", ""},          // plain text: no group gives a valid code
        {"499600602", "bc"},     // below the range
        {"999600602", "bc"},     // above the range
        {"5 9600602", "bc"},     // leading digits only: 5 is out of range
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeConfigText(c.encoded), c.plain) << c.encoded;
}

TEST(ConfigCodec, EveryByteAndAnyTextRoundTrips)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(DecodeConfigText(EncodeConfigText(all + all)), all + all);
    const std::string path = "/home/zoë/Müsik/日本語 \"quoted\"/";
    EXPECT_EQ(DecodeConfigText(EncodeConfigText(path)), path);
    EXPECT_EQ(EncodeConfigText(path).find_first_not_of("0123456789"), std::string::npos);
}

TEST(ConfigCodec, SingleByteTextsFromOtherSystemsReadAsLatin1)
{
    EXPECT_EQ(ConfigBytesToUtf8("C:\\M\xFCsik\\"), "C:\\Müsik\\");
    EXPECT_EQ(ConfigBytesToUtf8("/Müsik/日本"), "/Müsik/日本");
    EXPECT_EQ(ConfigBytesToUtf8("\xC3"), "\xC3\x83");         // cut sequence
    EXPECT_EQ(ConfigBytesToUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF"); // overlong form
}
