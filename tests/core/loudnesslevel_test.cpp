// Even loudness, the rule: lines of `fastencc --loudness` read back (hostile ones refused),
// an album's gated loudness over all its blocks, the gain to the reference within the peak
// limit, albums told apart by folder and album tag, and the options and profile the encoder
// gets.

#include "loudnesslevel.h"

#include <gtest/gtest.h>

#include <cmath>

using vardune::LoudnessLevel;

namespace {

using Mode = LoudnessLevel::Mode;

// A measure whose blocks all stand at these loudnesses (one block each, unless counted).
LoudnessLevel::Measure Blocks(std::vector<std::pair<double, std::uint64_t>> blocks, double peak, std::string album = "")
{
    LoudnessLevel::Measure m;
    for (const auto& [lufs, count] : blocks)
        if (LoudnessLevel::BinOf(lufs) >= 0)
            m.bins[LoudnessLevel::BinOf(lufs)] += count;
    const auto gated = LoudnessLevel::GatedLoudness({&m});
    m.loud = bool(gated);
    m.lufs = gated.value_or(0);
    m.peak = peak;
    m.album = std::move(album);
    return m;
}

TEST(LoudnessLine, ReadBackAndHostileLinesRefused)
{
    const auto m = LoudnessLevel::Parse("ok\t-23.45\t0.501187\t12.500\t10:3,500:97\tBest of \\t");
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->loud);
    EXPECT_DOUBLE_EQ(m->lufs, -23.45);
    EXPECT_DOUBLE_EQ(m->peak, 0.501187);
    EXPECT_EQ(m->bins.size(), 2u);
    EXPECT_EQ(m->bins.at(500), 97u);
    EXPECT_EQ(m->album, "Best of \\t");
    EXPECT_EQ(LoudnessLevel::Line(*m), "ok\t-23.45\t0.501187\t12.500\t10:3,500:97\tBest of \\t");
    const auto silent = LoudnessLevel::Parse("ok\tnone\t0.000000\t5.000\t\t");
    ASSERT_TRUE(silent);
    EXPECT_FALSE(silent->loud);
    for (const char* bad : {"error\tnot an audio file", "", "ok", "ok\t-23\t0.5\t1\t1:1", "ok\tnan\t0.5\t1\t\t",
             "ok\t-23\tinf\t1\t\t", "ok\t-23\t-0.5\t1\t\t", "ok\t-23\t0.5\t-1\t\t", "ok\t-23\t0.5\t1\t1000:1\t",
             "ok\t-23\t0.5\t1\t-1:1\t", "ok\t-23\t0.5\t1\t1:0\t", "ok\t-23\t0.5\t1\t1:\t", "ok\t-23\t0.5\t1\t:1\t",
             "ok\t-23\t0.5\t1\t1:1,\t", "ok\t-23\t0.5\t1\t1:99999999999999\t", "ok\t-23 \t0.5\t1\t\t", "ok\t1e400\t0.5\t1\t\t",
             "ok\t-23\t0.5\t1\t\t\textra"})
        EXPECT_FALSE(LoudnessLevel::Parse(bad)) << bad;
}

// The relative gate is found over all the album's blocks: a quiet track's blocks drop out
// where the loud tracks raise the gate, which a mean of the tracks' own figures misses.
TEST(AlbumLoudness, GatedOverAllBlocks)
{
    const auto quiet = Blocks({{-40.0, 100}}, 0.01);
    const auto loud = Blocks({{-10.0, 100}}, 0.9);
    // Each block counts at the middle of its 0.1 LU bin: within 0.05 LU.
    EXPECT_NEAR(quiet.lufs, -40.0, 0.051);
    // The quiet blocks are below the gate (-10 + 10 log10(1/2) - 10 = -23): only the loud count.
    EXPECT_NEAR(LoudnessLevel::GatedLoudness({&quiet, &loud}).value(), -10.0, 0.051);
    const auto near = Blocks({{-12.0, 100}}, 0.5);
    const double energy = (std::pow(10, -10.0 / 10) + std::pow(10, -12.0 / 10)) / 2;
    EXPECT_NEAR(LoudnessLevel::GatedLoudness({&near, &loud}).value(), 10 * std::log10(energy), 0.051);
    EXPECT_FALSE(LoudnessLevel::GatedLoudness({}));
    const LoudnessLevel::Measure silence;
    EXPECT_FALSE(LoudnessLevel::GatedLoudness({&silence, nullptr}));
}

TEST(LevelGain, ToTheReferenceWithinThePeakLimit)
{
    const struct {
        std::optional<double> lufs;
        double peak;
        double gain;
    } cases[] = {
        {-30.0, 0.5, 5.02},                 // +12 would put a -6 dBTP peak at +6: held at -1
        {-30.0, 0.1, 12.0},                 // -20 dBTP + 12: room enough
        {-8.0, 1.0, -10.0},
        {-18.0, 0.5, 0.0},
        {-18.0, 1.0, -1.0},                 // already above the limit: lowered to it
        {std::nullopt, 0.5, 0.0},           // silence, too short
        {-100.0, 0.0, 40.0},                // bounded
        {30.0, 1.0, -40.0},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(LoudnessLevel::GainDb(c.lufs, c.peak), c.gain, 0.011) << c.lufs.value_or(0) << " " << c.peak;
    // Rounded down, so the peak after the rounded gain keeps the limit.
    const double gain = LoudnessLevel::GainDb(-30.0, 0.123456);
    EXPECT_LE(20 * std::log10(0.123456) + gain, -1.0);
}

// Album mode: one gain for the tracks of one folder and album tag, limited by the highest
// peak among them; an untagged track, or one in another folder, is an album of its own.
TEST(LevelGain, AlbumsByFolderAndTag)
{
    const auto a1 = Blocks({{-20.0, 50}}, 0.1, "A");
    const auto a2 = Blocks({{-14.0, 50}}, 0.2, "A");
    const auto a3 = Blocks({{-24.0, 50}}, 0.05, "A");   // same tag, other folder
    const auto u1 = Blocks({{-26.0, 50}}, 0.05);        // untagged
    const auto u2 = Blocks({{-12.0, 50}}, 0.05);        // untagged, same folder
    const std::vector<LoudnessLevel::Source> sources = {
        {"/m/A/", &a1}, {"/m/A/", &a2}, {"/m/B/", &a3}, {"/m/A/", &u1}, {"/m/A/", &u2}, {"/m/A/", nullptr}};
    const auto album = LoudnessLevel::Levels(Mode::Album, sources);
    ASSERT_EQ(album.size(), sources.size());
    const double albumLufs = LoudnessLevel::GatedLoudness({&a1, &a2}).value();
    EXPECT_NEAR(album[0].gainDb, -18.0 - albumLufs, 0.011);
    EXPECT_EQ(album[0].gainDb, album[1].gainDb);
    EXPECT_NEAR(album[2].gainDb, -18.0 - a3.lufs, 0.011);
    EXPECT_NEAR(album[3].gainDb, -18.0 - u1.lufs, 0.011);
    EXPECT_NEAR(album[4].gainDb, -18.0 - u2.lufs, 0.011);
    EXPECT_FALSE(album[5].measured);
    EXPECT_DOUBLE_EQ(album[0].albumPeak, 0.2);
    EXPECT_DOUBLE_EQ(album[0].trackPeak, 0.1);
    EXPECT_NEAR(album[0].trackGainDb, -18.0 - a1.lufs, 0.011);
    EXPECT_NEAR(album[0].albumGainDb, -18.0 - albumLufs, 0.011);

    const auto track = LoudnessLevel::Levels(Mode::Track, sources);
    EXPECT_NEAR(track[0].gainDb, -18.0 - a1.lufs, 0.011);
    EXPECT_NEAR(track[1].gainDb, -18.0 - a2.lufs, 0.011);
    // Per track, the album tags describe the album of the outputs, each levelled by its own
    // gain: what is still to apply to it (the encoder subtracts the track's gain) and its
    // highest peak are the same in every track's tags, the peak no higher than the peak rule
    // lets any output be (never the source album's peak times one track's gain).
    const double a1Factor = std::pow(10.0, track[0].gainDb / 20), a2Factor = std::pow(10.0, track[1].gainDb / 20);
    EXPECT_NEAR(track[0].albumGainDb - track[0].gainDb, track[1].albumGainDb - track[1].gainDb, 0.011);
    EXPECT_NEAR(track[0].albumPeak * a1Factor, track[1].albumPeak * a2Factor, 1e-9);
    EXPECT_NEAR(track[0].albumPeak * a1Factor, std::max(0.1 * a1Factor, 0.2 * a2Factor), 1e-9);
    // Both outputs at the reference: so is their album.
    EXPECT_NEAR(track[0].albumGainDb - track[0].gainDb, 0.0, 0.06);
    // A quiet track beside a loud one: its own gain is large, the album's peak is not that
    // gain times the loud track's peak.
    const auto quiet = Blocks({{-40.0, 50}}, 0.01, "Q");
    const auto loud = Blocks({{-10.0, 50}}, 0.9, "Q");
    const auto both = LoudnessLevel::Levels(Mode::Track, {{"/m/Q/", &quiet}, {"/m/Q/", &loud}});
    const double quietFactor = std::pow(10.0, both[0].gainDb / 20);
    EXPECT_NEAR(both[0].gainDb, 22.0, 0.06);
    EXPECT_LE(both[0].albumPeak * quietFactor, std::pow(10.0, -1.0 / 20) + 1e-9);
    EXPECT_NEAR(both[0].albumGainDb - both[0].gainDb, 0.0, 0.06);

    for (const auto& level : LoudnessLevel::Levels(Mode::Off, sources))
        EXPECT_FALSE(level.measured);
}

// What the encoder gets, and the profile it then records: the two agree to the byte, so an
// output levelled alike is up to date, and one of another gain is not.
TEST(LevelGain, OptionsAndProfileForTheEncoder)
{
    LoudnessLevel::Level level;
    EXPECT_TRUE(LoudnessLevel::Arguments(level).empty());
    EXPECT_EQ(LoudnessLevel::ProfileSuffix(level), "");
    level.measured = true;
    level.gainDb = -2.35;
    level.peak = 0.5;
    level.trackGainDb = -2.35;
    level.trackPeak = 0.5;
    level.albumGainDb = 1;
    level.albumPeak = 0.75;
    EXPECT_EQ(LoudnessLevel::Arguments(level), (std::vector<std::string> {"-gain", "-2.35", "-peak", "0.500000",
        "-rg-track", "-2.35,0.500000", "-rg-album", "1.00,0.750000"}));
    EXPECT_EQ(LoudnessLevel::ProfileSuffix(level), ",gain-02.35");
    level.gainDb = -0.0;
    EXPECT_EQ(LoudnessLevel::ProfileSuffix(level), ",gain+00.00");
    EXPECT_EQ(LoudnessLevel::Arguments(level)[1], "0.00");
}

TEST(LevelMode, StoredAsTextAndAnythingElseIsOff)
{
    for (const Mode mode : {Mode::Off, Mode::Track, Mode::Album})
        EXPECT_EQ(LoudnessLevel::ModeFrom(LoudnessLevel::ModeText(mode)), mode);
    for (const char* text : {"", "TRACK", "albums", "1", "track "})
        EXPECT_EQ(LoudnessLevel::ModeFrom(text), Mode::Off) << text;
    EXPECT_EQ(LoudnessLevel::GainText(3.46), "+3.5 dB");
    EXPECT_EQ(LoudnessLevel::GainText(-0.01), "0.0 dB");
    EXPECT_EQ(LoudnessLevel::GainText(-12), "-12.0 dB");
}

} // namespace
