// Even loudness: fastencc --loudness measures sources by EBU R128, the gain the levelling
// rule gives brings each output to the reference (or keeps its true peak at -1 dBTP), an
// album keeps its tracks' levels relative to each other, and an MP3 that is copied is
// levelled by its granules' global gain without a second lossy generation. Outputs are
// measured by libebur128 on what libmpg123 decodes and by ffmpeg's ebur128 filter.

#include "mpeg/granulegain.h"
#include "mpeg/mpegdetector.h"
#include "mpeg/mpegframechain.h"

#include "loudnesslevel.h"
#include "testsupport.h"

#include <ebur128.h>
#include <lame/lame.h>
#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>

using namespace enctest;
using vardune::LoudnessLevel;

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 6.0;
// Bitrate of the levelled outputs in the loudness table: at 320 kbit/s LAME's quantisation
// keeps the level within 0.05 dB. At 128 kbit/s it lowers noise-like sound by up to 0.7 dB
// and at 64 kbit/s by about 1 dB, as any encoder's rounding towards zero does; that is the
// codec's, whatever the gain.
const std::string kBitrate = "320000";
// The gain keeps the true peak of the sound given to LAME at -1 dBTP; LAME's quantisation
// moves a peak held right at the limit by hundredths of a dB (-0.9997 dBTP for the clicks).
constexpr double kCodecPeakDb = 0.05;

enum class Kind { Pink, Music, Spiky };

// Stereo sound, interleaved: pink noise (each channel its own), the music-like test
// signal, or that signal quiet with a loud click every second (a peak far above its level).
std::vector<float> makeSound(Kind kind, unsigned seed)
{
    const std::size_t frames = static_cast<std::size_t>(kSeconds * kRate);
    std::vector<float> pcm(frames * 2);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> white(-1.0f, 1.0f);
    double b[2][7] = {};
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            float v = 0;
            if (kind == Kind::Pink) {
                // Paul Kellet's filter: within 0.05 dB of -3 dB per octave above 9 Hz.
                const double w = white(random);
                double* s = b[c];
                s[0] = 0.99886 * s[0] + w * 0.0555179;
                s[1] = 0.99332 * s[1] + w * 0.0750759;
                s[2] = 0.96900 * s[2] + w * 0.1538520;
                s[3] = 0.86650 * s[3] + w * 0.3104856;
                s[4] = 0.55000 * s[4] + w * 0.5329522;
                s[5] = -0.7616 * s[5] - w * 0.0168980;
                v = static_cast<float>((s[0] + s[1] + s[2] + s[3] + s[4] + s[5] + s[6] + w * 0.5362) * 0.11);
                s[6] = w * 0.115926;
            } else {
                v = signal(c, static_cast<std::int64_t>(i), kRate);
                if (kind == Kind::Spiky)
                    v *= 0.05f;
            }
            pcm[i * 2 + c] = v;
        }
        if (kind == Kind::Spiky && i % kRate == kRate / 2)
            pcm[i * 2] = pcm[i * 2 + 1] = 0.7f;
    }
    return pcm;
}

struct Measured {
    double lufs = -HUGE_VAL;
    double truePeakDb = -HUGE_VAL;
};

Measured measure(const std::vector<float>& interleaved, int channels, long rate)
{
    ebur128_state* st = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
        EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(st, interleaved.data(), interleaved.size() / static_cast<std::size_t>(channels));
    Measured m;
    ebur128_loudness_global(st, &m.lufs);
    double peak = 0;
    for (int c = 0; c < channels; ++c) {
        double p = 0;
        ebur128_true_peak(st, static_cast<unsigned>(c), &p);
        peak = std::max(peak, p);
    }
    m.truePeakDb = 20 * std::log10(peak);
    ebur128_destroy(&st);
    return m;
}

// An output as libmpg123 decodes it, measured by libebur128.
Measured measureMp3(const std::string& path)
{
    const Decoded d = decodeMp3(path, true);
    EXPECT_TRUE(d.ok) << path;
    std::vector<float> pcm;
    for (std::size_t i = 0; i < d.pcm.size(); ++i) {
        pcm.push_back(d.pcm[i]);
        if (d.channels > 1)
            pcm.push_back(d.pcmRight[i]);
    }
    return measure(pcm, d.channels, d.rate);
}

// The same by ffmpeg's ebur128 filter (its summary: integrated loudness and true peak).
Measured measureByFfmpeg(const TempDir& dir, const std::string& path)
{
    const std::string summary = dir.path("ffmpeg.txt");
    const std::string command = "ffmpeg -hide_banner -nostats -i '" + path + "' -af ebur128=peak=true -f null - 2> '"
        + summary + "'";
    Measured m;
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "ffmpeg (of the test packages) did not measure " << path;
        return m;
    }
    const std::string text = readFile(summary);
    const std::size_t at = text.rfind("Summary:");
    EXPECT_NE(at, std::string::npos);
    if (at == std::string::npos)
        return m;
    std::sscanf(text.c_str() + text.find("I:", at), "I: %lf", &m.lufs);
    std::sscanf(text.c_str() + text.find("Peak:", at), "Peak: %lf", &m.truePeakDb);
    return m;
}

// The sound scaled to about lufs; a loud one is clipped at full scale as a loud master is.
void writeSource(const std::string& path, std::vector<float> pcm, double lufs)
{
    const double gain = std::pow(10.0, (lufs - measure(pcm, 2, kRate).lufs) / 20.0);
    for (float& v : pcm)
        v = std::clamp(static_cast<float>(v * gain), -0.999f, 0.999f);
    SF_INFO info {};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_writef_float(f, pcm.data(), static_cast<sf_count_t>(pcm.size() / 2));
    sf_close(f);
}

// fastencc --loudness on these sources, one line each.
std::vector<std::string> loudnessLines(const TempDir& dir, const std::vector<std::string>& paths)
{
    std::string list;
    for (const std::string& p : paths)
        list += p + '\0';
    writeFile(dir.path("list"), list);
    RunOptions options;
    options.standardInput = dir.path("list");
    const RunResult r = runFastencc({"--loudness"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at; (at = r.out.find('\n', from)) != std::string::npos; from = at + 1)
        lines.push_back(r.out.substr(from, at - from));
    EXPECT_EQ(lines.size(), paths.size()) << r.out;
    return lines;
}

std::vector<LoudnessLevel::Measure> measures(const TempDir& dir, const std::vector<std::string>& paths)
{
    std::vector<LoudnessLevel::Measure> out;
    for (const std::string& line : loudnessLines(dir, paths)) {
        const auto m = LoudnessLevel::Parse(line);
        EXPECT_TRUE(m) << line;
        out.push_back(m.value_or(LoudnessLevel::Measure()));
    }
    return out;
}

std::string number(double v, const char* format = "%.2f")
{
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// Converts source at the gain for its measure, with the source's peak and its ReplayGain.
RunResult level(const std::string& source, const std::string& target, double gain, const LoudnessLevel::Measure& m)
{
    const double rg = m.loud ? LoudnessLevel::kReferenceLufs - m.lufs : 0.0;
    return runFastencc({source, target, "-br", kBitrate, "-reencode", "-gain", number(gain), "-peak",
        number(m.peak, "%.6f"), "-rg-track", number(rg) + "," + number(m.peak, "%.6f")});
}

// The value of a TXXX frame of this description in an output's ID3v2 tag, as text.
std::optional<std::string> userText(const std::string& mp3, const std::string& description)
{
    const std::string key = std::string("TXXX");
    for (std::size_t at = mp3.find(key); at != std::string::npos && at < 4096; at = mp3.find(key, at + 1)) {
        const std::size_t size = (std::size_t(static_cast<unsigned char>(mp3[at + 4])) << 24)
            | (std::size_t(static_cast<unsigned char>(mp3[at + 5])) << 16)
            | (std::size_t(static_cast<unsigned char>(mp3[at + 6])) << 8) | static_cast<unsigned char>(mp3[at + 7]);
        const std::string body = mp3.substr(at + 10, size);
        if (body.size() > description.size() + 1 && body.compare(1, description.size() + 1, description + '\0') == 0)
            return body.substr(description.size() + 2);
    }
    return std::nullopt;
}

struct LevelCase {
    const char* name;
    Kind kind;
    double lufs;
    bool mp3; // the source an MP3 made of the WAV
};

class LevelTest : public ::testing::TestWithParam<LevelCase> {};

// Every output comes to the reference within 0.5 LU by both meters, or, where the source's
// peak would pass -1 dBTP at that gain, to the gain that keeps it there; no output's true
// peak passes -1 dBTP; the ReplayGain tags describe the output as it is.
TEST_P(LevelTest, OutputAtTheReferenceOrAtThePeakLimit)
{
    const LevelCase& c = GetParam();
    TempDir dir;
    writeSource(dir.path("in.wav"), makeSound(c.kind, 7), c.lufs);
    std::string source = dir.path("in.wav");
    if (c.mp3) {
        ASSERT_EQ(runFastencc({source, dir.path("in.mp3"), "-br", "320000"}).exitCode, 0);
        source = dir.path("in.mp3");
    }
    const LoudnessLevel::Measure m = measures(dir, {source}).front();
    ASSERT_TRUE(m.loud);
    EXPECT_NEAR(m.lufs, c.lufs, 0.6); // the source is what the table says
    if (!c.mp3) {
        // The measuring pass agrees with libebur128 over the whole sound, true peak included
        // (it interpolates only the blocks that could hold a higher one).
        SF_INFO info {};
        SNDFILE* f = sf_open(source.c_str(), SFM_READ, &info);
        std::vector<float> pcm(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_float(f, pcm.data(), info.frames);
        sf_close(f);
        const Measured whole = measure(pcm, info.channels, info.samplerate);
        EXPECT_NEAR(m.lufs, whole.lufs, 0.01);
        EXPECT_NEAR(20 * std::log10(m.peak), whole.truePeakDb, 0.01);
    }
    const double gain = LoudnessLevel::Gains(LoudnessLevel::Mode::Track, {&m}).front();
    const bool capped = gain < LoudnessLevel::kReferenceLufs - m.lufs - 0.02;
    EXPECT_EQ(capped, c.kind == Kind::Spiky) << gain;

    const RunResult r = level(source, dir.path("out.mp3"), gain, m);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.warningLines().empty()) << r.err;
    for (const Measured& out : {measureMp3(dir.path("out.mp3")), measureByFfmpeg(dir, dir.path("out.mp3"))}) {
        if (capped)
            EXPECT_NEAR(out.lufs, m.lufs + gain, 0.5);
        else
            EXPECT_NEAR(out.lufs, LoudnessLevel::kReferenceLufs, 0.5);
        EXPECT_LE(out.truePeakDb, LoudnessLevel::kPeakLimitDb + kCodecPeakDb);
    }
    const std::string mp3 = readFile(dir.path("out.mp3"));
    const double remaining = LoudnessLevel::kReferenceLufs - m.lufs - gain;
    EXPECT_EQ(userText(mp3, "REPLAYGAIN_TRACK_GAIN").value_or("none"), number(remaining + 0.0) + " dB");
    EXPECT_NEAR(std::stod(userText(mp3, "REPLAYGAIN_TRACK_PEAK").value_or("0")), m.peak * std::pow(10.0, gain / 20), 1e-5);
    EXPECT_FALSE(userText(mp3, "REPLAYGAIN_ALBUM_GAIN"));
}

INSTANTIATE_TEST_SUITE_P(Sources, LevelTest,
    ::testing::Values(LevelCase {"PinkQuietWav", Kind::Pink, -30, false}, LevelCase {"PinkAtReferenceWav", Kind::Pink, -18, false},
        LevelCase {"PinkLoudWav", Kind::Pink, -8, false}, LevelCase {"MusicQuietWav", Kind::Music, -30, false},
        LevelCase {"MusicAtReferenceWav", Kind::Music, -18, false}, LevelCase {"MusicLoudWav", Kind::Music, -8, false},
        LevelCase {"PinkQuietMp3", Kind::Pink, -30, true}, LevelCase {"PinkLoudMp3", Kind::Pink, -8, true},
        LevelCase {"MusicQuietMp3", Kind::Music, -30, true}, LevelCase {"MusicLoudMp3", Kind::Music, -8, true},
        LevelCase {"QuietWithClicksWav", Kind::Spiky, -30, false}, LevelCase {"QuietWithClicksMp3", Kind::Spiky, -30, true}),
    [](const ::testing::TestParamInfo<LevelCase>& info) { return std::string(info.param.name); });

// One album: one gain for all, so the tracks keep their distances (within 0.3 LU), limited
// by the loudest peak of all; the album's loudness is gated over all its blocks, which the
// mean of the tracks' figures is not.
TEST(AlbumLevel, TracksKeepTheirDistancesAndThePeakRule)
{
    TempDir dir;
    const std::vector<std::pair<Kind, double>> tracks = {{Kind::Pink, -30}, {Kind::Music, -18}, {Kind::Pink, -12}};
    std::vector<std::string> sources;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        sources.push_back(dir.path("t" + std::to_string(i) + ".wav"));
        writeSource(sources.back(), makeSound(tracks[i].first, static_cast<unsigned>(i)), tracks[i].second);
    }
    const std::vector<LoudnessLevel::Measure> m = measures(dir, sources);
    ASSERT_EQ(m.size(), tracks.size());
    const std::vector<const LoudnessLevel::Measure*> album = {&m[0], &m[1], &m[2]};

    // The album's gated loudness as libebur128 finds it over all the sound in one.
    std::vector<ebur128_state*> states;
    for (const std::string& s : sources) {
        SF_INFO info {};
        SNDFILE* f = sf_open(s.c_str(), SFM_READ, &info);
        std::vector<float> pcm(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_float(f, pcm.data(), info.frames);
        sf_close(f);
        states.push_back(ebur128_init(2, kRate, EBUR128_MODE_I));
        ebur128_add_frames_float(states.back(), pcm.data(), static_cast<std::size_t>(info.frames));
    }
    double whole = 0;
    ebur128_loudness_global_multiple(states.data(), states.size(), &whole);
    for (ebur128_state*& st : states)
        ebur128_destroy(&st);
    EXPECT_NEAR(LoudnessLevel::GatedLoudness(album).value_or(0), whole, 0.05);

    const std::vector<double> gains = LoudnessLevel::Gains(LoudnessLevel::Mode::Album, album);
    ASSERT_EQ(gains.size(), 3u);
    EXPECT_EQ(gains[0], gains[1]);
    EXPECT_EQ(gains[1], gains[2]);
    std::vector<Measured> out;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const std::string target = dir.path("o" + std::to_string(i) + ".mp3");
        ASSERT_EQ(level(sources[i], target, gains[i], m[i]).exitCode, 0);
        out.push_back(measureMp3(target));
        EXPECT_LE(out.back().truePeakDb, LoudnessLevel::kPeakLimitDb + kCodecPeakDb);
        EXPECT_LE(measureByFfmpeg(dir, target).truePeakDb, LoudnessLevel::kPeakLimitDb + kCodecPeakDb);
    }
    for (std::size_t i = 1; i < out.size(); ++i)
        EXPECT_NEAR(out[i].lufs - out[0].lufs, m[i].lufs - m[0].lufs, 0.3) << i;
}

// The frames of an MP3 that count, as the copy path reads them.
std::vector<std::vector<std::uint8_t>> framesOf(const std::string& path, std::vector<MpegHeader>* headers = nullptr)
{
    std::vector<std::vector<std::uint8_t>> frames;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto start = MpegDetector::findAudioStart(fd);
    EXPECT_TRUE(start) << path;
    if (start) {
        MpegFrameChain chain(fd, *start, path);
        const std::uint8_t* frame = nullptr;
        std::size_t size = 0;
        bool gap = false;
        while (chain.next(frame, size, gap)) {
            frames.emplace_back(frame, frame + size);
            if (headers)
                headers->push_back(chain.header());
        }
    }
    close(fd);
    return frames;
}

double rmsDb(const Decoded& d)
{
    double sum = 0;
    for (float v : d.pcm)
        sum += double(v) * v;
    for (float v : d.pcmRight)
        sum += double(v) * v;
    return 10 * std::log10(sum / double(d.pcm.size() + d.pcmRight.size()));
}

struct CopyCase {
    const char* name;
    std::vector<std::string> options; // of the source's encoding
};

class LevelledCopyTest : public ::testing::TestWithParam<CopyCase> {};

// A small MP3 that is copied is levelled by -4.5 dB in three gain steps (-4.52 dB): its
// frames are the source's but for the global gain fields, it decodes cleanly to the same
// length, 4.5 dB lower.
TEST_P(LevelledCopyTest, OnlyTheGlobalGainChanges)
{
    TempDir dir;
    WavSpec spec;
    spec.seconds = 3;
    spec.gain = 0.5;
    writeWav(dir.path("in.wav"), spec);
    std::vector<std::string> make = {dir.path("in.wav"), dir.path("small.mp3")};
    make.insert(make.end(), GetParam().options.begin(), GetParam().options.end());
    ASSERT_EQ(runFastencc(make).exitCode, 0);

    const RunResult r = runFastencc({dir.path("small.mp3"), dir.path("out.mp3"), "-br", "128000", "-gain", "-4.5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("copied"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("levelled by -4.52 dB"), std::string::npos) << r.err;

    std::vector<MpegHeader> headers;
    const auto source = framesOf(dir.path("small.mp3"));
    auto levelled = framesOf(dir.path("out.mp3"), &headers);
    ASSERT_EQ(levelled.size(), source.size());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < levelled.size(); ++i) {
        changed += levelled[i] != source[i];
        // Three steps back make the source's frame again, byte for byte.
        ASSERT_TRUE(GranuleGain::apply(levelled[i].data(), levelled[i].size(), headers[i], i == 0 ? 0 : 3));
        EXPECT_EQ(levelled[i], source[i]) << "frame " << i;
    }
    EXPECT_EQ(changed, source.size() - 1); // all but the Info frame

    const Decoded before = decodeMp3(dir.path("small.mp3"), true);
    const Decoded after = decodeMp3(dir.path("out.mp3"), true);
    ASSERT_TRUE(after.ok);
    EXPECT_EQ(after.frames, before.frames);
    EXPECT_NEAR(rmsDb(after) - rmsDb(before), -4.5, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LevelledCopyTest,
    ::testing::Values(CopyCase {"Mpeg1Stereo64k", {"-br", "64000"}}, CopyCase {"Mpeg1Mono64k", {"-br", "64000", "-dm"}},
        CopyCase {"Mpeg2Stereo32k", {"-br", "32000"}}, CopyCase {"Mpeg2Mono24k", {"-br", "24000", "-dm"}}),
    [](const ::testing::TestParamInfo<CopyCase>& info) { return std::string(info.param.name); });

// A frame protected by a CRC carries the CRC of its new side information: ours agrees with
// LAME's before the change, and the frame's own after it.
TEST(LevelledCopy, ProtectedFramesGetTheirCrcAgain)
{
    TempDir dir;
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, kRate);
    lame_set_num_channels(lame, 2);
    lame_set_brate(lame, 64);
    lame_set_error_protection(lame, 1);
    lame_set_bWriteVbrTag(lame, 0);
    lame_set_write_id3tag_automatic(lame, 0);
    ASSERT_GE(lame_init_params(lame), 0);
    const std::vector<float> pcm = makeSound(Kind::Music, 1);
    std::vector<float> left;
    std::vector<float> right;
    for (std::size_t i = 0; i < 2 * kRate; ++i) {
        left.push_back(pcm[i * 2] * 32767);
        right.push_back(pcm[i * 2 + 1] * 32767);
    }
    std::vector<unsigned char> mp3(left.size() * 2 + 10000);
    int n = lame_encode_buffer_ieee_float(lame, left.data(), right.data(), static_cast<int>(left.size()), mp3.data(), static_cast<int>(mp3.size()));
    n += lame_encode_flush(lame, mp3.data() + n, static_cast<int>(mp3.size()) - n);
    lame_close(lame);
    writeFile(dir.path("crc.mp3"), std::string(reinterpret_cast<char*>(mp3.data()), static_cast<std::size_t>(n)));

    std::vector<MpegHeader> headers;
    auto frames = framesOf(dir.path("crc.mp3"), &headers);
    ASSERT_GT(frames.size(), 50u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        auto& f = frames[i];
        ASSERT_TRUE(headers[i].hasCrc());
        EXPECT_EQ(GranuleGain::crcOf(f.data(), headers[i]), (f[4] << 8) | f[5]) << "frame " << i;
        const auto before = f;
        ASSERT_TRUE(GranuleGain::apply(f.data(), f.size(), headers[i], -2));
        EXPECT_NE(f, before);
        EXPECT_EQ(GranuleGain::crcOf(f.data(), headers[i]), (f[4] << 8) | f[5]) << "frame " << i;
    }
    // And the copy path levels it so.
    const RunResult r = runFastencc({dir.path("crc.mp3"), dir.path("out.mp3"), "-br", "128000", "-gain", "-3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const auto& [f, h] : [&] {
             std::vector<MpegHeader> hs;
             auto fs = framesOf(dir.path("out.mp3"), &hs);
             std::vector<std::pair<std::vector<std::uint8_t>, MpegHeader>> both;
             for (std::size_t i = 0; i < fs.size(); ++i)
                 both.emplace_back(fs[i], hs[i]);
             return both;
         }())
        EXPECT_EQ(GranuleGain::crcOf(f.data(), h), (f[4] << 8) | f[5]);
}

// The gain step of a copy: the nearest, unless the peak after it would pass the limit; a
// positive gain without a known peak never takes more than was asked.
TEST(LevelledCopy, StepsKeepThePeakRule)
{
    struct Case {
        double gain;
        double peak;
        int steps;
    } cases[] = {
        {-4.5, 0, -3},           // nearest: -4.52
        {-4.5, 0.9, -3},
        {2.3, 0.5, 2},           // -6.02 dBTP + 3.01 = -3.01: the nearest
        {2.3, 0, 1},             // no peak: not above what was asked
        {4.0, 0.5, 3},           // nearest 3 steps (4.52) ends at -1.5 dBTP
        {5.3, 0.5, 3},           // 4 steps would end at -0.0 dBTP
        {0.0, 1.0, -1},          // a source already above the limit is lowered
        {0.6, 0.2, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GranuleGain::stepsFor(c.gain, c.peak, -1.0), c.steps) << c.gain << " " << c.peak;
}

// Levelling off: no gain, no ReplayGain tags, the profile of the mark as before; a gain of
// 0 writes the same sound.
TEST(LevelOff, OutputAsWithoutLevelling)
{
    TempDir dir;
    WavSpec spec;
    spec.seconds = 2;
    writeWav(dir.path("in.wav"), spec);
    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("off.mp3")}).exitCode, 0);
    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("zero.mp3"), "-gain", "0"}).exitCode, 0);
    const std::string off = readFile(dir.path("off.mp3"));
    EXPECT_FALSE(userText(off, "REPLAYGAIN_TRACK_GAIN"));
    EXPECT_NE(off.find("profile=br128000,mono0"), std::string::npos);
    EXPECT_EQ(off.find("gain"), std::string::npos);
    EXPECT_NE(readFile(dir.path("zero.mp3")).find("profile=br128000,mono0,gain+00.00"), std::string::npos);
    EXPECT_EQ(withoutId3v2(readFile(dir.path("zero.mp3"))), withoutId3v2(off));
    // Made again at another gain: the output of another level is not up to date.
    const RunResult again = runFastencc({dir.path("in.wav"), dir.path("zero.mp3"), "-gain", "-3"});
    EXPECT_EQ(again.err.find("up to date"), std::string::npos) << again.err;
}

// Sources that give no loudness or only part of one: silence and a source shorter than a
// 400 ms block have none (gain 0, no error); a damaged one is measured as far as it decodes.
TEST(LoudnessOfBadSources, NoneOrAsFarAsItDecodes)
{
    TempDir dir;
    WavSpec silence;
    silence.gain = 0;
    writeWav(dir.path("silence.wav"), silence);
    WavSpec shortOne;
    shortOne.seconds = 0.3;
    writeWav(dir.path("short.wav"), shortOne);
    WavSpec cut;
    cut.seconds = 2;
    cut.claimedDataBytes = 4 * 44100 * 10; // says 10 s, holds 2
    writeWav(dir.path("cut.wav"), cut);
    // An MP3 with junk in its middle.
    std::string mp3 = makeMp3(dir, 4);
    const std::string junk = randomBytes(20000, 3);
    mp3.replace(mp3.size() / 2, junk.size(), junk);
    writeFile(dir.path("junk.mp3"), mp3);
    writeFile(dir.path("text.mp3"), "not audio at all");

    const std::vector<std::string> lines = loudnessLines(dir,
        {dir.path("silence.wav"), dir.path("short.wav"), dir.path("cut.wav"), dir.path("junk.mp3"), dir.path("text.mp3")});
    ASSERT_EQ(lines.size(), 5u);
    const auto silent = LoudnessLevel::Parse(lines[0]);
    const auto brief = LoudnessLevel::Parse(lines[1]);
    const auto cutOff = LoudnessLevel::Parse(lines[2]);
    const auto damaged = LoudnessLevel::Parse(lines[3]);
    ASSERT_TRUE(silent && brief && cutOff && damaged) << lines[0] << lines[1] << lines[2] << lines[3];
    EXPECT_FALSE(silent->loud);
    EXPECT_EQ(silent->peak, 0);
    EXPECT_FALSE(brief->loud);
    EXPECT_GT(brief->peak, 0);
    for (const auto* m : {&*silent, &*brief})
        EXPECT_EQ(LoudnessLevel::Gains(LoudnessLevel::Mode::Track, {m}).front(), 0);
    EXPECT_TRUE(cutOff->loud);
    EXPECT_NEAR(cutOff->seconds, 2.0, 0.01);
    EXPECT_TRUE(damaged->loud);
    EXPECT_GT(damaged->seconds, 2.0);
    EXPECT_EQ(lines[4].rfind("error\t", 0), 0u) << lines[4];
    EXPECT_FALSE(LoudnessLevel::Parse(lines[4]));
    // Silence levelled is silence, without a word.
    const RunResult r = runFastencc({dir.path("silence.wav"), dir.path("s.mp3"), "-gain", "0", "-rg-track", "0,0"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.warningLines().empty()) << r.err;
}

// A gain the peak given does not allow is lowered before encoding, and one that would raise
// the sound above the limit anyway (a peak not given, or a wrong one) is lowered and the
// sound encoded again: either way a warning says so, and nothing is clipped.
TEST(PeakRule, AGainThatWouldClipIsLowered)
{
    TempDir dir;
    writeSource(dir.path("in.wav"), makeSound(Kind::Music, 2), -14);
    const LoudnessLevel::Measure m = measures(dir, {dir.path("in.wav")}).front();
    const double room = LoudnessLevel::kPeakLimitDb - 20 * std::log10(m.peak);
    ASSERT_GT(room, 0.5);
    for (const std::vector<std::string>& extra :
        {std::vector<std::string> {"-peak", number(m.peak, "%.6f")}, std::vector<std::string> {}, std::vector<std::string> {"-peak", "0.01"}}) {
        std::vector<std::string> args = {dir.path("in.wav"), dir.path("out.mp3"), "-br", kBitrate, "-reencode", "-gain", "10"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = runFastencc(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_EQ(r.warningLines().size(), 1u) << r.err;
        EXPECT_NE(r.warningLines().front().find("the gain is lowered from +10.00 dB"), std::string::npos) << r.err;
        const Decoded d = decodeMp3(dir.path("out.mp3"), true);
        EXPECT_LE(20 * std::log10(peakOf(d)), LoudnessLevel::kPeakLimitDb + 0.3) << r.err;
        EXPECT_NEAR(measureMp3(dir.path("out.mp3")).lufs, m.lufs + room, 0.5) << r.err;
    }
}

// Levelling options a caller can get wrong: each refused with status 2 and one line.
TEST(LevelOptions, HostileValuesAreRefused)
{
    TempDir dir;
    WavSpec spec;
    spec.seconds = 0.5;
    writeWav(dir.path("in.wav"), spec);
    const std::vector<std::vector<std::string>> refused = {
        {"-gain"}, {"-gain", "nan"}, {"-gain", "inf"}, {"-gain", "1e1"}, {"-gain", "40.01"}, {"-gain", "-41"},
        {"-gain", "+-3"}, {"-gain", "3."}, {"-gain", ".5"}, {"-gain", " 3"}, {"-gain", "3 "}, {"-gain", "0x10"},
        {"-gain", ""}, {"-gain", "1.234"}, {"-gain", "3", "-gain"}, {"-peak", "-1"}, {"-peak", "101"},
        {"-peak", "abc"}, {"-peak", "0.1234567"}, {"-rg-track", "3"}, {"-rg-track", "3,"}, {"-rg-track", ",0.5"},
        {"-rg-album", "3;0.5"}, {"-rg-album", "3,0.5,1"}, {"-rg-album", std::string(5000, '9')},
    };
    for (const auto& options : refused) {
        std::vector<std::string> args = {dir.path("in.wav"), dir.path("out.mp3")};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = runFastencc(args);
        EXPECT_EQ(r.exitCode, 2) << options.back();
        EXPECT_EQ(r.errLines().size(), 1u) << r.err;
        EXPECT_LT(r.err.size(), 400u);
    }
    EXPECT_EQ(dir.files(), std::vector<std::string>({"in.wav"}));
    const RunResult ok = runFastencc({dir.path("in.wav"), dir.path("out.mp3"), "-gain", "-40", "-peak", "100",
        "-rg-track", "+3.25,0.5", "-rg-album", "-2,1.000001"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    const std::string out = readFile(dir.path("out.mp3"));
    EXPECT_EQ(userText(out, "REPLAYGAIN_ALBUM_GAIN").value_or(""), "38.00 dB");
    EXPECT_EQ(userText(out, "REPLAYGAIN_ALBUM_PEAK").value_or(""), "0.010000");
}

} // namespace
