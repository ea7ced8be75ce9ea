// Where LAME lowers the sample rate, fastencc resamples before LAME. The result must be the
// file LAME makes when it resamples itself (same rate, bitrate, frames and Info frame), as
// long as the source, and safe from whatever a float source holds. (That it is aligned with
// the source is tested with the other conversions.)

#include "testsupport.h"

#include "mpeg/mpegheader.h"
#include "output/atomicfile.h"
#include "output/mp3writer.h"

#include <cmath>
#include <tuple>

using namespace enctest;

namespace {

// The MP3 that LAME makes of the same sound when it is given the source's rate and picks
// and resamples on its own.
std::string encodeByLame(const std::string& path, int rate, int channels, double seconds, int kbps, bool mono)
{
    {
        AtomicFile out(path, path);
        Mp3Writer::Settings settings;
        settings.bitrate = kbps * 1000;
        settings.mono = mono;
        Mp3Writer writer(out, rate, channels, settings);
        const std::size_t frames = std::size_t(seconds * rate);
        std::vector<float> pcm(frames * std::size_t(channels));
        for (std::size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = signal(int(i % std::size_t(channels)), std::int64_t(i / std::size_t(channels)), rate);
        writer.encode(pcm.data(), frames);
        writer.finish();
        out.commit();
    }
    return readFile(path);
}

// The first frame (the Info frame) with what depends on the audio blanked: the two CRCs, and
// the joint stereo switches that our own Info frame copies from the first audio frame.
std::string infoFrameWithoutCrcs(const std::string& mp3)
{
    const auto header = MpegHeader::parse(reinterpret_cast<const std::uint8_t*>(mp3.data()));
    if (!header)
        return {};
    std::string frame = mp3.substr(0, std::size_t(header->frameLength()));
    const std::size_t lame = frame.find("LAME3.100");
    if (lame == std::string::npos || lame + 36 > frame.size())
        return {};
    frame.replace(lame + 32, 4, 4, '\0');
    frame[3] = char(frame[3] & 0xCF);
    return frame;
}

} // namespace

// Source rate, channels, kbit/s, mono: every bitrate of the table from 44.1 kHz stereo (the
// low ones resampled, the high ones not), and other source rates where LAME lowers the rate.
class ResamplingTest : public ::testing::TestWithParam<std::tuple<int, int, int, bool>> {};

TEST_P(ResamplingTest, SameFileLayoutAsLameResamplingItself)
{
    const auto [rate, channels, kbps, mono] = GetParam();
    TempDir dir;
    WavSpec spec;
    spec.rate = rate;
    spec.channels = channels;
    spec.seconds = 1.5;
    const RunResult r = convertWav(dir, spec, kbps, mono);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string ours = withoutId3v2(readFile(dir.path("out.mp3")));
    const std::string lame = encodeByLame(dir.path("lame.mp3"), rate, channels, spec.seconds, kbps, mono);

    // Same header (rate, bitrate, channel mode) and Info frame (frames, bytes, delay, padding,
    // lowpass, source rate), same number of bytes: the same playing time and layout.
    const std::string ourInfo = infoFrameWithoutCrcs(ours);
    ASSERT_FALSE(ourInfo.empty()) << "no Info frame";
    EXPECT_EQ(ourInfo, infoFrameWithoutCrcs(lame)) << "the Info frame differs";
    EXPECT_EQ(ours.size(), lame.size());

    const Decoded d = decodeMp3(dir.path("out.mp3"));
    ASSERT_TRUE(d.ok);
    const double exact = spec.seconds * double(d.rate);
    EXPECT_NEAR(double(d.frames), exact, 1.0) << "not the source's length at " << d.rate << " Hz";
}

INSTANTIATE_TEST_SUITE_P(Cd44k, ResamplingTest,
    ::testing::Combine(::testing::Values(44100), ::testing::Values(2),
        ::testing::Values(8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320), ::testing::Bool()),
    [](const auto& info) {
        return std::to_string(std::get<2>(info.param)) + (std::get<3>(info.param) ? "_mono" : "_stereo");
    });

INSTANTIATE_TEST_SUITE_P(OtherRates, ResamplingTest,
    ::testing::Values(std::make_tuple(48000, 2, 96, false), std::make_tuple(48000, 1, 32, false),
        std::make_tuple(96000, 2, 128, false), std::make_tuple(22050, 2, 16, true),
        std::make_tuple(11025, 1, 16, false), std::make_tuple(32000, 2, 32, false)),
    [](const auto& info) {
        return std::to_string(std::get<0>(info.param)) + "Hz_" + std::to_string(std::get<1>(info.param)) + "ch_"
            + std::to_string(std::get<2>(info.param)) + (std::get<3>(info.param) ? "_mono" : "");
    });

// Bad samples of a float source are cleaned before the filter: one NaN would otherwise spread
// over the filter's length and, cleaned only afterwards, silence the whole output.
TEST(Resampling, FloatSourceWithNanKeepsItsSound)
{
    TempDir dir;
    WavSpec spec;
    spec.channels = 1;
    spec.isFloat = true;
    spec.nanSamples = true;
    writeWav(dir.path("in.wav"), spec);
    const RunResult r = runFastencc({dir.path("in.wav"), dir.path("out.mp3"), "-br", "32000"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Decoded d = decodeMp3(dir.path("out.mp3"), true);
    ASSERT_TRUE(d.ok);
    EXPECT_LT(d.rate, 44100) << "not resampled";
    EXPECT_NEAR(d.seconds(), spec.seconds, 0.050);
    double sum = 0;
    for (float x : d.pcm)
        sum += double(x) * x;
    EXPECT_GT(std::sqrt(sum / double(std::max<std::size_t>(1, d.pcm.size()))), 0.05) << "the sound was lost";
}

// A surround source is resampled in all its channels, then folded to stereo.
TEST(Resampling, SurroundSource)
{
    TempDir dir;
    WavSpec spec;
    spec.channels = 6;
    spec.extensible = true;
    spec.rate = 48000;
    writeWav(dir.path("in.wav"), spec);
    const RunResult r = runFastencc({dir.path("in.wav"), dir.path("out.mp3"), "-br", "96000"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Decoded d = decodeMp3(dir.path("out.mp3"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.channels, 2);
    EXPECT_EQ(d.rate, 32000);
    EXPECT_NEAR(double(d.frames), spec.seconds * 32000, 1.0);
}
