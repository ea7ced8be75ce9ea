#include "batchprogress.h"
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

    // The encoder's last line, without the program's name before it.
    o = BatchWalk::Judge(0, 0, "fastencc: warning: the source ends early (1.0 s of 9.0 s converted)", " 450", " 1000");
    EXPECT_EQ(o.state, EntryState::Done);
    EXPECT_EQ(o.note, "warning: the source ends early (1.0 s of 9.0 s converted)");
    o = BatchWalk::Judge(0, 0, "fastencc: already small: copied, not re-encoded", " 450", " 1000");
    EXPECT_EQ(o.state, EntryState::Done);
    EXPECT_EQ(o.note, "already small: copied, not re-encoded");
    EXPECT_FALSE(o.upToDate);
    // An output already there and up to date is done, its size and rate shown, counted apart.
    o = BatchWalk::Judge(0, 0, "fastencc: up to date: not converted again", " 450", " 1000");
    EXPECT_EQ(o.state, EntryState::Done);
    EXPECT_TRUE(o.writeTarget);
    EXPECT_EQ(o.rate, " 45%");
    EXPECT_EQ(o.note, "up to date: not converted again");
    EXPECT_TRUE(o.upToDate);
    o = BatchWalk::Judge(0, 0, "fastencc: warning: the source ends early (1.0 s of 9.0 s converted)", " 450", " 1000");
    EXPECT_FALSE(o.upToDate);
    // A bitrate kept below the one asked names the quality that asked it, without its number.
    const struct {
        const char* line;
        const char* note;
    } kept[] = {
        {"fastencc: kept at 56 kbit/s: the source is smaller than 96 kbit/s", "kept at 56 kbit/s: the source is smaller than CD Quality"},
        {"fastencc: kept at 8 kbit/s: the source is smaller than 16 kbit/s", "kept at 8 kbit/s: the source is smaller than Telephone Quality"},
        {"fastencc: kept at 64 kbit/s: the source is smaller than 128 kbit/s", "kept at 64 kbit/s: the source is smaller than 128 kbit/s"},
        {"fastencc: warning: kept at 56 kbit/s: the source is smaller than 96 kbit/s", "warning: kept at 56 kbit/s: the source is smaller than 96 kbit/s"},
        // With the gain applied after it, as the batch joins it to the last line.
        {"fastencc: kept at 56 kbit/s: the source is smaller than 96 kbit/s; levelled by +3.50 dB", "kept at 56 kbit/s: the source is smaller than CD Quality; levelled by +3.50 dB"},
        {"fastencc: kept at 56 kbit/s: the source is smaller than 96 kbit/s0", "kept at 56 kbit/s: the source is smaller than 96 kbit/s0"},
    };
    for (const auto& k : kept) {
        o = BatchWalk::Judge(0, 0, k.line, " 450", " 1000");
        EXPECT_EQ(o.state, EntryState::Done);
        EXPECT_EQ(o.note, k.note);
    }

    // A full output folder says so in the same words, whatever the line was.
    o = BatchWalk::Judge(0, BatchWalk::kFolderFullStatus, "fastencc: cannot write to /o/V_a.mp3: No space left on device", " 450", " 1000");
    EXPECT_EQ(o.state, EntryState::Failed);
    EXPECT_FALSE(o.writeTarget);
    EXPECT_EQ(o.note, "the output folder is full");

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
    const TakenNames running;
    walk.Start(list);
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3", running), "/out/V_Track01.mp3");
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3", running), "/out/V_Track01 (2).mp3");
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3", running), "/out/V_Track01 (3).mp3");
    EXPECT_EQ(walk.OutputPath("/out/", "song.wav", running), "/out/V_song.wav.MP3");
    EXPECT_EQ(walk.OutputPath("/out/", "song.wav", running), "/out/V_song.wav (2).MP3");
    walk.Start(list);  // a new batch replaces earlier outputs as before
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3", running), "/out/V_Track01.mp3");
}

TEST(BatchWalk, NamesThatMayBeOneFileAreNumbered)
{
    VardoList list;
    TakenNames running;
    // An encoder of an ended batch still writes V_Track01.mp3.
    running.Take("/out/V_Track01.mp3");
    BatchWalk walk;
    walk.Start(list);
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3", running), "/out/V_Track01 (2).mp3");
    // Letter case alone does not make two files on a player's card.
    EXPECT_EQ(walk.OutputPath("/out/", "Song.mp3", running), "/out/V_Song.mp3");
    EXPECT_EQ(walk.OutputPath("/out/", "SONG.MP3", running), "/out/V_SONG (2).MP3");
    running.Take("/out/v_track01 (3).mp3");
    EXPECT_EQ(walk.OutputPath("/out/", "TRACK01.mp3", running), "/out/V_TRACK01 (4).mp3");

    // Once that encoder has ended, its name is free for the next batch.
    running.Release("/out/V_Track01.mp3");
    walk.Start(list);
    EXPECT_EQ(walk.OutputPath("/out/", "Track01.mp3", running), "/out/V_Track01.mp3");
}

TEST(TakenNames, CountsEachTakeAndUsesTheGivenFolding)
{
    // The folding looks at the world, as the window side's does at the file system: what it
    // gives may change between a take and its release.
    std::string world = "A";
    TakenNames names([&world](const std::string& path) { return world + path.substr(0, 3); });
    names.Take("/a/one");
    names.Take("/a/two");  // the same under this folding
    names.Take("/a/two");
    names.Release("/a/one");
    EXPECT_TRUE(names.Contains("/a/three"));
    names.Release("/a/x");  // releasing what is not taken changes nothing
    EXPECT_TRUE(names.Contains("/a/three"));
    world = "B";  // the folder has gone, say: a release still frees what its take took
    EXPECT_FALSE(names.Contains("/a/three"));
    names.Release("/a/two");
    names.Release("/a/two");
    world = "A";
    EXPECT_FALSE(names.Contains("/a/three"));
}

TEST(BatchWalk, JobLimitIsAPositiveSettingOrTheCores)
{
    const struct {
        const char* setting;
        int cores;
        int limit;
    } cases[] = {
        {"", 4, 4},       {"1", 8, 1},     {" 3 ", 8, 3},   {"12", 2, 12},     {"0", 4, 4},
        {"-2", 4, 4},     {"2x", 4, 4},    {"1.5", 4, 4},   {"abc", 4, 4},     {"3 4", 4, 4},
        {"\t3", 4, 4},   {"", 0, 1},      {"", 500, BatchWalk::kMaxJobs},
        {"99999999999999999999", 2, BatchWalk::kMaxJobs},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BatchWalk::JobLimit(c.setting, c.cores), c.limit) << '"' << c.setting << "\" " << c.cores;
}

TEST(BatchProgress, WeighsFilesBySizeAndOnlyRises)
{
    BatchProgress p;
    p.Start({{1, 3000}, {2, 1000}, {3, 0}});  // a file of unknown size weighs next to nothing
    EXPECT_EQ(p.Percent(), 0);
    p.Update(2, 50);
    EXPECT_NEAR(p.Fraction(), 500.0 / 4001, 1e-12);
    p.Update(2, 10);   // an encoder never takes back a percent
    p.Update(9, 50);   // not of this batch
    EXPECT_NEAR(p.Fraction(), 500.0 / 4001, 1e-12);
    p.Update(1, 100);  // the encoder said 100, but it has not ended yet
    p.Finish(2, true, 400);
    p.Finish(2, false, 0);  // one outcome per file
    EXPECT_EQ(p.Percent(), 99);
    p.Finish(1, false, 0);
    p.Finish(3, true, 0);
    EXPECT_EQ(p.Percent(), 100);
    EXPECT_EQ(p.Done(), 2);
    EXPECT_EQ(p.Failed(), 1);
    EXPECT_EQ(p.Summary(), "2 done, 1 failed, 600 B saved");
}

// Outputs that came to more than their sources are told as growth, not as "0 B saved".
TEST(BatchProgress, SummarySaysHowMuchLargerWhenTheOutputsGrew)
{
    BatchProgress p;
    p.Start({{1, 1000000}, {2, 500000}, {3, 800000}});
    p.Finish(1, true, 1900000);
    p.Finish(2, true, 800000);
    p.Finish(3, false, 0);  // a failed file saves nothing and costs nothing
    EXPECT_EQ(p.Summary(), "2 done, 1 failed, 1.2 MB larger");
    EXPECT_DOUBLE_EQ(p.SavedBytes(), -1200000);

    p.Start({{1, 1000}});
    p.Finish(1, true, 1000);
    EXPECT_EQ(p.Summary(), "1 done, 0 failed, 0 B saved");
}

// Files whose outputs were up to date are counted apart from those converted, and what their
// outputs save was saved by an earlier batch, not by this one.
TEST(BatchProgress, UpToDateFilesAreCountedApart)
{
    BatchProgress p;
    p.Start({{1, 1000}, {2, 2000}, {3, 3000}, {4, 4000}, {5, 500}});
    p.Finish(1, true, 400);
    p.Finish(2, true, 800, true);
    p.Finish(3, true, 900, true);
    p.Finish(4, false, 0, false);
    p.Finish(5, true, 100, true);
    EXPECT_EQ(p.Percent(), 100);
    EXPECT_EQ(p.Done(), 1);
    EXPECT_EQ(p.UpToDate(), 3);
    EXPECT_EQ(p.Failed(), 1);
    EXPECT_EQ(p.Summary(), "1 done, 3 up to date, 1 failed, 600 B saved");

    p.Start({{1, 1000}});
    p.Finish(1, true, 400, true);
    EXPECT_EQ(p.Summary(), "0 done, 1 up to date, 0 failed, 0 B saved");
}

TEST(BatchProgress, TimeLeftFromTheTimeTaken)
{
    BatchProgress p;
    p.Start({{1, 100}, {2, 100}});
    p.Update(1, 50);
    EXPECT_EQ(p.SecondsLeft(1.0), std::nullopt);  // too early to judge
    EXPECT_EQ(p.Line(1.0), "Batch 25% done, estimating the time left");
    EXPECT_DOUBLE_EQ(*p.SecondsLeft(30.0), 90.0);
    EXPECT_EQ(p.Line(30.0), "Batch 25% done, about 1 min 30 s left");


    // One short file: its own percents give the pace long before two seconds have gone, and
    // the second it took to start counts for nothing.
    BatchProgress one;
    one.Start({{7, 5000000}});
    one.Update(7, 0, 0.9);
    one.Update(7, 10, 1.0);
    EXPECT_EQ(one.SecondsLeft(1.3), std::nullopt);  // no pace yet
    one.Update(7, 40, 1.6);
    EXPECT_DOUBLE_EQ(*one.SecondsLeft(1.6), 1.2);   // 30 % in 0.6 s, 60 % to go
    EXPECT_EQ(one.Line(1.6), "Batch 40% done, about 5 s left");
    EXPECT_DOUBLE_EQ(*one.SecondsLeft(2.2), 2.4);   // no news for 0.6 s: a slower pace
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "about 5 s left"},          {3, "about 5 s left"},           {41, "about 45 s left"},
        {59.4, "about 60 s left"},      {61, "about 1 min left"},        {200, "about 3 min 20 s left"},
        {3599, "about 60 min left"},    {3600, "about 1 h left"},        {7530, "about 2 h 6 min left"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BatchProgress::TimeLeftText(c.seconds), c.text) << c.seconds;
}

TEST(BatchProgress, SizesInDecimalUnits)
{
    const struct {
        double bytes;
        const char* text;
    } cases[] = {
        {0, "0 B"},           {999, "999 B"},        {1000, "1.0 kB"},       {38200000, "38.2 MB"},
        {999960, "1.0 MB"},   {1.5e9, "1.5 GB"},     {-5, "0 B"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BatchProgress::SizeText(c.bytes), c.text) << c.bytes;
}
