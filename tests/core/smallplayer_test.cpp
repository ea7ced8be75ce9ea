#include "batchwalk.h"
#include "portablename.h"
#include "sizeforecast.h"

#include <gtest/gtest.h>

using namespace vardune;

TEST(PortableName, WhatAFatFileSystemTakes)
{
    const struct {
        const char* name;
        const char* portable;
    } cases[] = {
        {"V_What?.mp3", "V_What_.mp3"},
        {"V_AC:DC.mp3", "V_AC_DC.mp3"},
        {"V_a\"b*c<d>e\\f|g.MP3", "V_a_b_c_d_e_f_g.MP3"},
        {"V_tab\there\x01.mp3", "V_tab_here_.mp3"},
        {"V_name. . ", "V_name"},
        {"V_Song.mp3", "V_Song.mp3"},            // taken as it is
        {"V_Caf\xc3\xa9 \xe2\x99\xab.mp3", "V_Caf\xc3\xa9 \xe2\x99\xab.mp3"},
        {"...", "_"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortableName::Make(c.name), c.portable) << c.name;
}

TEST(PortableName, LongNamesKeepTheirExtensionWithin255Units)
{
    // 300 characters of two bytes each, and one of four (two UTF-16 units) at the cut.
    std::string stem;
    for (int i = 0; i < 300; ++i)
        stem += "\xc3\xa9";
    const std::string name = PortableName::Make("V_" + stem + ".mp3");
    EXPECT_EQ(PortableName::Units(name), 255u);
    EXPECT_EQ(name.substr(name.size() - 4), ".mp3");

    const std::string wide = PortableName::Make(std::string(250, 'a') + "\xf0\x9f\x8e\xb5" + "b.mp3");
    EXPECT_LE(PortableName::Units(wide), 255u);
    EXPECT_EQ(wide, std::string(250, 'a') + ".mp3"); // the cut never splits a character

    const std::string numbered = PortableName::Fit(std::string(260, 'x'), " (2)", ".mp3");
    EXPECT_EQ(PortableName::Units(numbered), 255u);
    EXPECT_EQ(numbered.substr(numbered.size() - 8), " (2).mp3");
}

TEST(BatchWalk, PortableOutputNamesAreReservedAsWritten)
{
    BatchWalk walk;
    TakenNames running;
    EXPECT_EQ(walk.OutputPath("/usb/", "What?.mp3", running, true), "/usb/V_What_.mp3");
    // A name that becomes the same as one given out already is numbered, letter case aside.
    EXPECT_EQ(walk.OutputPath("/usb/", "What*.mp3", running, true), "/usb/V_What_ (2).mp3");
    EXPECT_EQ(walk.OutputPath("/usb/", "WHAT_.MP3", running, true), "/usb/V_WHAT_ (3).MP3");
    EXPECT_EQ(walk.OutputPath("/usb/", "name.", running, true), "/usb/V_name..MP3");
    // Elsewhere the names stay exactly as they are formed.
    EXPECT_EQ(walk.OutputPath("/home/", "What?.mp3", running), "/home/V_What?.mp3");
}

TEST(BatchWalk, AChoiceTakesOnlyTheChosenWaitingEntries)
{
    VardoList list;
    for (const char* path : {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3", "/m/d.mp3"})
        list.Append(path, " 10");
    list.SetState(list.At(0).id, EntryState::Done);
    BatchWalk walk;
    // In list order, whatever the order of the choice; one no longer waiting is passed over.
    walk.Start(list, std::vector<std::uint64_t> {list.At(3).id, list.At(1).id, list.At(0).id});
    EXPECT_EQ(walk.Total(), 2);
    EXPECT_EQ(walk.Next(list), list.At(1).id);
    EXPECT_EQ(walk.Next(list), list.At(3).id);
    EXPECT_EQ(walk.Next(list), std::nullopt);
}

TEST(SizeForecast, ReadsTheEncodersLines)
{
    const auto facts = SizeForecast::Parse("ok\t183.500\t96000:2202000:2201000\t128000:2936000:2935000");
    ASSERT_TRUE(facts.readable);
    EXPECT_DOUBLE_EQ(facts.seconds, 183.5);
    ASSERT_EQ(facts.sizes.size(), 2u);
    EXPECT_EQ(facts.sizes[1].bitrate, 128000);
    EXPECT_DOUBLE_EQ(facts.sizes[1].mono, 2935000);
    for (const char* bad : {"error\tnot an audio file", "", "ok", "ok\tx", "ok\t1.0\t96000:12", "ok\t-1\t96000:1:1",
                            "ok\t1.0\t96000:-5:1"})
        EXPECT_FALSE(SizeForecast::Parse(bad).readable) << bad;
}

// The tags names are made of come after the sizes, escaped as the encoder writes them; a key
// this program does not name is passed over, a broken escape makes the line unreadable.
TEST(SizeForecast, ReadsTheTagsOfTheEncodersLines)
{
    const auto facts = SizeForecast::Parse("ok\t1.000\t96000:1:1\ttag:ARTIST=AC/DC\ttag:ALBUMARTIST=Various\t"
                                           "tag:ALBUM=Live\\t1\\\\2\ttag:TITLE=a=b\ttag:TRACKNUMBER=3/12\t"
                                           "tag:DISCNUMBER=1\ttag:DATE=2001\ttag:GENRE=Rock\ttag:COMPOSER=x");
    ASSERT_TRUE(facts.readable);
    ASSERT_EQ(facts.sizes.size(), 1u);
    const OutputLayout::Tags& t = facts.tags;
    EXPECT_EQ(std::vector<std::string>({t.artist, t.albumArtist, t.album, t.title, t.track, t.disc, t.year, t.genre}),
              std::vector<std::string>({"AC/DC", "Various", "Live\t1\\2", "a=b", "3/12", "1", "2001", "Rock"}));
    EXPECT_EQ(SizeForecast::Parse("ok\t1.000\t96000:1:1").tags.artist, "");
    for (const char* bad : {"ok\t1.0\t96000:1:1\ttag:ARTIST", "ok\t1.0\t96000:1:1\ttag:ARTIST=a\\", 
                            "ok\t1.0\t96000:1:1\ttag:ARTIST=a\\x"})
        EXPECT_FALSE(SizeForecast::Parse(bad).readable) << bad;
}

TEST(SizeForecast, TheProfilesBitrateAndChannels)
{
    EncodingProfile profile;
    EXPECT_EQ(SizeForecast::Bitrate(profile), 96000);
    EXPECT_FALSE(SizeForecast::Mono(profile));
    profile.quality = "3- Tape Quality";
    profile.channel = "2- Mono";
    EXPECT_EQ(SizeForecast::Bitrate(profile), 32000);
    EXPECT_TRUE(SizeForecast::Mono(profile));
    profile.quality = "no such quality";  // the encoder's own default
    EXPECT_EQ(SizeForecast::Bitrate(profile), 128000);
}

TEST(SizeForecast, TotalsTextAndWhatFits)
{
    EncodingProfile profile;  // 96 kbit/s stereo
    const auto a = SizeForecast::Parse("ok\t60.000\t96000:1000000:900000");
    const auto b = SizeForecast::Parse("ok\t125.400\t96000:2000000:1800000");
    const auto broken = SizeForecast::Parse("error\tnot an audio file");

    SizeForecast forecast(profile);
    forecast.Add(5e6, &a);
    forecast.Add(8e6, &broken);  // fails at once: takes no room
    forecast.Add(10e6, &b);
    EXPECT_DOUBLE_EQ(forecast.Bytes(), 3e6);
    EXPECT_EQ(forecast.Text(180e6), "3 files waiting, 3:05 long, about 3.0 MB; 180.0 MB free");
    EXPECT_EQ(forecast.Text(std::nullopt), "3 files waiting, 3:05 long, about 3.0 MB");

    // While files are still being read, they are reckoned at the share the read ones come to.
    SizeForecast partial(profile);
    partial.Add(5e6, &a);
    partial.Add(20e6, nullptr);
    EXPECT_DOUBLE_EQ(partial.Bytes(), 1e6 + 4e6);
    EXPECT_EQ(partial.Text(std::nullopt), "2 files waiting (1 read), 1:00 so far, about 5.0 MB");
    SizeForecast unread(profile);
    unread.Add(7e6, nullptr);
    EXPECT_DOUBLE_EQ(unread.Bytes(), 7e6);  // nothing to go by: the source's own size

    EXPECT_EQ(SizeForecast(profile).Text(1e9), "");
    EXPECT_EQ(SizeForecast::DurationText(3723), "1:02:03");
    EXPECT_EQ(SizeForecast::Question(412.3e6, 180e6),
              "The files need about 412.3 MB; the output folder has 180.0 MB free. Convert the files that fit?");
}

// Which files a card takes when not all fit: in list order, each that still fits; one that
// does not is passed over and smaller ones after it still go. A file that fails at once (it
// cannot be read) costs nothing.
TEST(SizeForecast, FilesThatFitSkipTheOnesThatDoNot)
{
    EncodingProfile profile;  // 96 kbit/s stereo
    const auto small = SizeForecast::Parse("ok\t60.000\t96000:1000000:900000");
    const auto large = SizeForecast::Parse("ok\t125.400\t96000:2000000:1800000");
    const auto broken = SizeForecast::Parse("error\tnot an audio file");
    SizeForecast forecast(profile);
    forecast.Add(5e6, &small, {}, 1);
    forecast.Add(8e6, &broken, {}, 2);
    forecast.Add(10e6, &large, {}, 3);
    forecast.Add(5e6, &small, {}, 4);
    const struct {
        double free;
        std::vector<std::uint64_t> taken;
    } cases[] = {
        {4e6, {1, 2, 3, 4}},
        {2.5e6, {1, 2, 4}},  // the large one is passed over, the small one after it goes
        {1.5e6, {1, 2}},
        {0.5e6, {2}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(forecast.Fitting(c.free), c.taken) << c.free;
}

// Room is needed only for what will be written: nothing for an output up to date at the
// profile, what an output grows by where it replaces its own earlier output (and, once, the
// room to write it beside the one it replaces), the whole of a new one. Up to date at one
// bitrate is not up to date at another.
TEST(SizeForecast, RoomForWhatWillBeWritten)
{
    EncodingProfile profile;  // 96 kbit/s stereo: "br096000,mono0"
    const auto facts = SizeForecast::Parse("ok\t60.000\t64000:700000:650000\t96000:1000000:900000");
    const SizeForecast::Standing upToDate {1000000, "br096000,mono0"};
    const SizeForecast::Standing changedSource {800000, ""};
    const SizeForecast::Standing otherBitrate {700000, "br064000,mono0"};

    SizeForecast unchanged(profile);
    unchanged.Add(5e6, nullptr, upToDate, 1);  // not read: an output up to date needs no facts
    unchanged.Add(5e6, nullptr, upToDate, 2);
    EXPECT_DOUBLE_EQ(unchanged.Bytes(), 0);
    EXPECT_EQ(unchanged.UpToDate(), 2);
    EXPECT_EQ(unchanged.Text(11.9e6), "2 files waiting, all up to date; 11.9 MB free");
    EXPECT_EQ(unchanged.Fitting(0), (std::vector<std::uint64_t> {1, 2}));

    SizeForecast mixed(profile);
    mixed.Add(5e6, nullptr, upToDate, 1);
    mixed.Add(5e6, &facts, changedSource, 2);  // grows by 200000, written beside its 800000
    mixed.Add(5e6, &facts, otherBitrate, 3);   // grows by 300000, written beside its 700000
    mixed.Add(5e6, &facts, {}, 4);             // new: 1000000
    EXPECT_DOUBLE_EQ(mixed.Bytes(), 200000 + 300000 + 1000000 + 800000);
    EXPECT_EQ(mixed.Text(std::nullopt), "3 files to convert, 1 up to date, 3:00 long, about 2.3 MB");
    // At 64 kbit/s the third is up to date, the first made again smaller.
    EXPECT_DOUBLE_EQ(mixed.BytesAt(64000), 0 + 0 + 0 + 700000 + 700000);
    // Levelled, an output of the same profile may be made again at another gain.
    SizeForecast levelled(profile, true);
    levelled.Add(5e6, &facts, upToDate, 1);
    EXPECT_DOUBLE_EQ(levelled.Bytes(), 1000000);
}

// Filling a card: the highest MP3 bitrate below the chosen one at which every file fits.
TEST(SizeForecast, TheHighestBitrateThatFits)
{
    EncodingProfile profile;
    profile.bitrate = 128000;
    std::string line = "ok\t600.000";
    for (const int kbps : EncodingProfile::Mp3Bitrates())
        line += "\t" + std::to_string(kbps * 1000) + ":" + std::to_string(kbps * 75 + 400) + ":" + std::to_string(kbps * 75);
    const auto facts = SizeForecast::Parse(line);
    SizeForecast forecast(profile);
    forecast.Add(20e6, &facts);
    forecast.Add(20e6, &facts);
    EXPECT_DOUBLE_EQ(forecast.Bytes(), 2 * (128 * 75 + 400));
    const struct {
        double free;
        std::optional<int> bitrate;
    } cases[] = {
        {2 * (112 * 75 + 400), 112000},
        {2 * (112 * 75 + 400) - 1, 96000},
        {2 * (80 * 75 + 400) + 10, 80000},
        {2 * (8 * 75 + 400), 8000},
        {100, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(forecast.FittingBitrate(c.free), c.bitrate) << c.free;
    EXPECT_EQ(SizeForecast::Question(412.3e6, 180e6, false, 80000),
              "The files need about 412.3 MB; the output folder has 180.0 MB free. Convert the files that fit? "
              "All of them fit at 80 kbit/s.");
}

// A source whose length the encoder could not measure ("+" after the seconds: what is known
// to be there) makes the totals a least, said as such; the files not yet read are not
// reckoned by its share, and the room it is known to need still counts.
TEST(SizeForecast, ALengthKnownOnlyAsALeast)
{
    EncodingProfile profile;  // 96 kbit/s stereo
    const auto known = SizeForecast::Parse("ok\t60.000\t96000:1000000:900000");
    const auto least = SizeForecast::Parse("ok\t12.500+\t96000:300000:280000");
    ASSERT_TRUE(least.readable);
    EXPECT_TRUE(least.atLeast);
    EXPECT_DOUBLE_EQ(least.seconds, 12.5);
    EXPECT_FALSE(known.atLeast);

    SizeForecast forecast(profile);
    forecast.Add(5e6, &known);
    forecast.Add(50e6, &least);
    forecast.Add(10e6, nullptr);
    EXPECT_TRUE(forecast.AtLeast());
    EXPECT_DOUBLE_EQ(forecast.Bytes(), 1e6 + 0.3e6 + 2e6);
    EXPECT_EQ(forecast.Text(std::nullopt), "3 files waiting (2 read), at least 1:13 so far, at least 3.3 MB");
    EXPECT_EQ(forecast.Fitting(1.1e6).size(), 1u);
    EXPECT_EQ(SizeForecast::Question(forecast.Bytes(), 1e6, forecast.AtLeast()),
              "The files need at least 3.3 MB; the output folder has 1.0 MB free. Convert the files that fit?");
}
