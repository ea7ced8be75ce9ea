#include "batchwalk.h"

#include <gtest/gtest.h>

using namespace vardune;

TEST(BatchWalk, OutputNames)
{
    const struct {
        const char* name;
        const char* output;
    } cases[] = {
        {"song.wav", "V_song.wav.MP3"}, {"Song.Mp3", "V_Song.Mp3"}, {"a.mp3", "V_a.mp3"},
        {".mp3", "V_.mp3.MP3"},         {"mp3", "V_mp3.MP3"},       {"x.MP3", "V_x.MP3"},
        {"", "V_.MP3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BatchWalk::OutputName(c.name), c.output) << c.name;
}

TEST(BatchWalk, OutputFolderGetsItsSeparator)
{
    EXPECT_EQ(BatchWalk::NormaliseOutputFolder("/out"), "/out/");
    EXPECT_EQ(BatchWalk::NormaliseOutputFolder("/out/"), "/out/");
    EXPECT_EQ(BatchWalk::NormaliseOutputFolder(""), "");
}

TEST(BatchWalk, CountersShowThreeDigits)
{
    EXPECT_EQ(BatchWalk::CounterText(0), "000");
    EXPECT_EQ(BatchWalk::CounterText(7), "007");
    EXPECT_EQ(BatchWalk::CounterText(42), "042");
    EXPECT_EQ(BatchWalk::CounterText(1000), "000");
    EXPECT_EQ(BatchWalk::CounterText(1234), "234");
}

TEST(BatchWalk, RateIsTheWholePercentageOfTheSource)
{
    EXPECT_EQ(BatchWalk::RateText(" 10000000", " 4567890"), " 45%");
    EXPECT_EQ(BatchWalk::RateText(" 100", " 120"), " 120%");
    EXPECT_EQ(BatchWalk::RateText(" 1000", " 9"), std::nullopt);  // under 1 %
    EXPECT_EQ(BatchWalk::RateText(" ", " 9"), std::nullopt);      // no source size
    EXPECT_EQ(BatchWalk::RateText(" 0", " 9"), std::nullopt);
    EXPECT_EQ(BatchWalk::RateText(" 3", " 1"), " 33%");
}

TEST(BatchWalk, JudgingAnEncoderCall)
{
    auto o = BatchWalk::Judge(-1, 0, "", " 500", " 1000");
    EXPECT_EQ(o.state, EntryState::Failed);
    EXPECT_FALSE(o.writeTarget);
    EXPECT_EQ(o.note, "the encoder could not be started");

    o = BatchWalk::Judge(0, 0, "", " 450", " 1000");
    EXPECT_EQ(o.state, EntryState::Done);
    EXPECT_TRUE(o.writeTarget);
    EXPECT_EQ(o.targetSize, " 450");
    EXPECT_EQ(o.rate, " 45%");
    EXPECT_EQ(o.note, "");

    o = BatchWalk::Judge(0, 0, "", " ", " 1000");  // ran, left nothing
    EXPECT_EQ(o.state, EntryState::Failed);
    EXPECT_TRUE(o.writeTarget);
    EXPECT_EQ(o.targetSize, " ");
    EXPECT_EQ(o.rate, std::nullopt);

    // A file of that name from before does not make a failed run a success.
    o = BatchWalk::Judge(0, 1, "not an audio file", " 450", " 1000");
    EXPECT_EQ(o.state, EntryState::Failed);
    EXPECT_FALSE(o.writeTarget);
    EXPECT_EQ(o.note, "not an audio file");
}

TEST(BatchWalk, TakesUpOnlyWaitingEntriesInOrder)
{
    VardoList list;
    for (const char* path : {"/a/1.mp3", "/a/2.mp3", "/a/3.mp3", "/a/4.mp3", "/a/5.mp3"})
        list.Append(path, " 1");
    list.SetState(list.At(1).id, EntryState::Done);
    list.SetState(list.At(3).id, EntryState::Failed);
    list.SetConverting(list.At(4).id, true);  // still converting from an earlier batch

    BatchWalk walk;
    walk.Start(list);
    EXPECT_EQ(walk.Total(), 2);
    EXPECT_EQ(walk.Next(list), list.At(0).id);
    EXPECT_EQ(walk.Current(), 1);
    // An entry removed meanwhile is passed over without counting.
    list.RemoveSelected({false, false, true, false, false});
    EXPECT_EQ(walk.Next(list), std::nullopt);
    EXPECT_EQ(walk.Current(), 1);
}

TEST(BatchWalk, SameNameFromTwoFoldersGetsTwoOutputs)
{
    BatchWalk walk;
    VardoList list;
    walk.Start(list);
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3"), "/out/V_Track01.mp3");
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3"), "/out/V_Track01 (2).mp3");
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3"), "/out/V_Track01 (3).mp3");
    EXPECT_EQ(walk.OutputPath("/out/", "song.wav"), "/out/V_song.wav.MP3");
    EXPECT_EQ(walk.OutputPath("/out/", "song.wav"), "/out/V_song.wav (2).MP3");
    walk.Start(list);  // a new batch replaces earlier outputs as before
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3"), "/out/V_Track01.mp3");
}
