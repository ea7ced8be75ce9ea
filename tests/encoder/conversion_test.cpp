// What fastencc makes of good sources: valid constant-bitrate MPEG audio at the asked
// bitrate, with the source's channels (or mono with -dm) and its exact playing time.

#include "testsupport.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <tuple>

using namespace enctest;

namespace {

constexpr double kDurationTolerance = 0.050; // seconds

void expectGoodMp3(const std::string& mp3, double sourceSeconds, int kbps, int channels)
{
    const Decoded d = decodeMp3(mp3);
    ASSERT_TRUE(d.ok) << mp3 << " does not decode";
    EXPECT_EQ(d.layers, std::set<int>{3});
    EXPECT_EQ(d.bitratesKbps, std::set<int>{kbps}) << "not constant at the asked bitrate";
    EXPECT_EQ(d.channels, channels);
    EXPECT_NEAR(d.seconds(), sourceSeconds, kDurationTolerance);
}

} // namespace

// Every bitrate of the MPEG table, stereo and mono: the Info frame keeps the playing time
// exact even where LAME's own frame does not fit (8, 16 and 32 kbit/s), and where the sound is
// resampled before LAME (up to 96 kbit/s stereo and 56 mono LAME lowers the rate).
class BitrateTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(BitrateTest, ConstantBitrateWithExactDuration)
{
    const auto [kbps, mono] = GetParam();
    TempDir dir;
    WavSpec spec;
    spec.seconds = 1.5;
    const RunResult r = convertWav(dir, spec, kbps, mono);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    expectGoodMp3(dir.path("out.mp3"), spec.seconds, kbps, mono ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(AllBitrates, BitrateTest,
    ::testing::Combine(::testing::Values(8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320),
        ::testing::Bool()),
    [](const auto& info) {
        return std::to_string(std::get<0>(info.param)) + (std::get<1>(info.param) ? "_mono" : "_stereo");
    });

TEST(Conversion, DefaultBitrateAndProgressLines)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    const RunResult r = runFastencc({dir.path("in.wav"), dir.path("out.mp3")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectGoodMp3(dir.path("out.mp3"), 2.0, 128, 2);

    // Whole percents, one per line, rising, each printed once, ending at 100.
    std::istringstream lines(r.out);
    int last = -1;
    for (std::string line; std::getline(lines, line);) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.find_first_not_of("0123456789"), std::string::npos) << line;
        const int percent = std::stoi(line);
        EXPECT_GT(percent, last);
        last = percent;
    }
    EXPECT_EQ(last, 100);
}

// Sources in the forms WAV, AIFF, FLAC and Ogg come in; the extension is deliberately wrong
// so that only the content can select the decoder.
struct FormatCase {
    const char* name;
    int format;       // libsndfile format, or 0 for our own WAV writer
    WavSpec wav;
    int rate;
    int channels;
};

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << c.name;
}

class SourceFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SourceFormatTest, Converts)
{
    const FormatCase& c = GetParam();
    TempDir dir;
    const std::string in = dir.path("source.dat");
    double seconds = 1.5;
    if (c.format == 0) {
        writeWav(in, c.wav);
        seconds = c.wav.seconds;
    } else {
        writeWithSndfile(in, c.format, c.rate, c.channels, seconds);
        // ADPCM pads the last block: the source is as long as libsndfile reads it.
        SF_INFO info {};
        SNDFILE* f = sf_open(in.c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr);
        seconds = double(info.frames) / info.samplerate;
        sf_close(f);
    }
    const RunResult r = runFastencc({in, dir.path("out.mp3"), "-br", "128000"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const int outChannels = std::min(c.format == 0 ? c.wav.channels : c.channels, 2);
    const Decoded d = decodeMp3(dir.path("out.mp3"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.channels, outChannels);
    EXPECT_NEAR(d.seconds(), seconds, kDurationTolerance);
}

WavSpec wav(int bits, bool isFloat, bool extensible, int channels = 2, int rate = 44100)
{
    WavSpec s;
    s.bits = bits;
    s.isFloat = isFloat;
    s.extensible = extensible;
    s.channels = channels;
    s.rate = rate;
    s.seconds = 1.5;
    return s;
}

INSTANTIATE_TEST_SUITE_P(Formats, SourceFormatTest,
    ::testing::Values(FormatCase {"pcm8_mono_8k", 0, wav(8, false, false, 1, 8000), 0, 0},
        FormatCase {"pcm16", 0, wav(16, false, false), 0, 0},
        FormatCase {"pcm24_48k", 0, wav(24, false, false, 2, 48000), 0, 0},
        FormatCase {"pcm32_22k", 0, wav(32, false, false, 2, 22050), 0, 0},
        FormatCase {"float", 0, wav(32, true, false), 0, 0},
        FormatCase {"extensible_float", 0, wav(32, true, true), 0, 0},
        FormatCase {"extensible_6ch", 0, wav(16, false, true, 6), 0, 0},
        FormatCase {"ima_adpcm", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, {}, 22050, 2},
        FormatCase {"ms_adpcm", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, {}, 22050, 1},
        FormatCase {"ulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, {}, 8000, 1},
        FormatCase {"alaw", SF_FORMAT_WAV | SF_FORMAT_ALAW, {}, 8000, 1},
        FormatCase {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, {}, 44100, 2},
        FormatCase {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, {}, 44100, 2},
        FormatCase {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {}, 48000, 2},
        FormatCase {"ogg_vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, {}, 44100, 2},
        FormatCase {"ogg_opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, {}, 48000, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// MPEG sources, made by fastencc itself: MPEG-1, 2 and 2.5 decode back to their length.
class MpegSourceTest : public ::testing::TestWithParam<int> {};

TEST_P(MpegSourceTest, TranscodesWithDuration)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("src.bin"), "-br", std::to_string(GetParam())}).exitCode, 0);
    // 64 kbit/s, or the source's own bitrate where that is lower: a file is never made larger.
    const RunResult r = runFastencc({dir.path("src.bin"), dir.path("out.mp3"), "-br", "64000", "-dm"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectGoodMp3(dir.path("out.mp3"), 2.0, std::min(64, GetParam() / 1000), 1);
}

INSTANTIATE_TEST_SUITE_P(Versions, MpegSourceTest, ::testing::Values(16000, 32000, 128000));

// A whole source in, the same sound out: the MP3 is not silence or noise but the signal,
// sample-aligned with the source, also where it was resampled before LAME (the filter's delay
// is taken out). Channels, kbit/s, the rate LAME picks.
class SignalTest : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(SignalTest, OutputCarriesTheSignal)
{
    const auto [channels, kbps, rate] = GetParam();
    TempDir dir;
    WavSpec spec;
    spec.channels = channels;
    writeWav(dir.path("in.wav"), spec);
    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("out.mp3"), "-br", std::to_string(kbps * 1000)}).exitCode, 0);
    const Decoded d = decodeMp3(dir.path("out.mp3"), true);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.rate, rate);
    // The difference is coding noise only (> 20 dB SNR); three samples of lag already fail.
    EXPECT_GT(signalToError(d.pcm, 0, rate), 100) << "output is not aligned with or not like the source";
    if (channels == 2) {
        EXPECT_GT(signalToError(d.pcmRight, 1, rate), 100) << "right is not aligned with or not like the source";
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, SignalTest,
    ::testing::Values(std::make_tuple(1, 192, 44100), std::make_tuple(2, 96, 32000)),
    [](const auto& info) { return std::to_string(std::get<1>(info.param)) + "k"; });

// More than two channels are folded by their positions: front left goes left only, the LFE
// channel is left out.
TEST(Conversion, SurroundFoldsToItsSides)
{
    TempDir dir;
    WavSpec spec;
    spec.channels = 6; // FL FR FC LFE BL BR
    spec.extensible = true;
    spec.soundingChannels = (1u << 0) | (1u << 3);
    writeWav(dir.path("in.wav"), spec);
    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("out.mp3")}).exitCode, 0);
    const Decoded d = decodeMp3(dir.path("out.mp3"), true);
    ASSERT_EQ(d.channels, 2);
    auto rms = [](const std::vector<float>& v) {
        double sum = 0;
        for (float x : v)
            sum += double(x) * x;
        return std::sqrt(sum / double(std::max<std::size_t>(1, v.size())));
    };
    EXPECT_GT(rms(d.pcm), 0.05);
    EXPECT_LT(rms(d.pcmRight), 0.005);
}
