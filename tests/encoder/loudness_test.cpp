// Even loudness: fastencc --loudness measures sources by EBU R128, the gain the levelling
// rule gives brings each output to the reference (or keeps its true peak at -1 dBTP), an
// album keeps its tracks' levels relative to each other, and an MP3 that is copied is
// levelled by its granules' global gain without a second lossy generation. Outputs are
// measured by libebur128 on what libmpg123 decodes and by ffmpeg's ebur128 filter.

#include "mpeg/granulegain.h"
#include "mpeg/mpegdetector.h"
#include "mpeg/mpegframechain.h"

#include "loudnesslevel.h"
#include "streamcopy.h"
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
// Bitrate of the levelled outputs of the album and peak tests: at 320 kbit/s LAME's
// quantisation keeps the level within 0.05 dB (at lower bitrates it takes 0.2 to 0.45 dB from
// most sound, which the encoder makes good by measuring what it wrote; the table by quality
// below checks that).
const std::string kBitrate = "320000";
// The gain keeps the true peak of the sound given to LAME at -1 dBTP; LAME's quantisation
// moves a peak held right at the limit by hundredths of a dB (-0.9997 dBTP for the clicks).
constexpr double kCodecPeakDb = 0.05;

enum class Kind { Pink, Music, Spiky, Brown, Speech, Cymbal };

// Stereo sound, interleaved: pink noise (each channel its own), the music-like test
// signal, or that signal quiet with a loud click every second (a peak far above its level);
// brown noise, speech-like bursts (a voice's buzz in syllables and pauses), or a bright
// cymbal-like noise (white noise above about 6 kHz).
std::vector<float> makeSound(Kind kind, unsigned seed, double seconds = kSeconds)
{
    const std::size_t frames = static_cast<std::size_t>(seconds * kRate);
    std::vector<float> pcm(frames * 2);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> white(-1.0f, 1.0f);
    double b[2][7] = {};
    double phase = 0;
    // The cymbal's high-pass: two second-order sections at 6 kHz (Butterworth, one biquad
    // each), every channel its own state.
    const double w0 = 2 * M_PI * 6000.0 / kRate, alpha = std::sin(w0) / std::sqrt(2.0), a0 = 1 + alpha;
    const double hb0 = (1 + std::cos(w0)) / 2 / a0, hb1 = -(1 + std::cos(w0)) / a0, ha1 = -2 * std::cos(w0) / a0,
                 ha2 = (1 - alpha) / a0;
    double hp[2][2][4] = {};
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
            } else if (kind == Kind::Brown) {
                b[c][0] = 0.998 * b[c][0] + 0.05 * white(random);
                v = static_cast<float>(b[c][0]);
            } else if (kind == Kind::Speech) {
                const double t = static_cast<double>(i) / kRate;
                const double syllable = std::fmod(t * 4, 1.0), word = std::fmod(t / 2.5, 1.0);
                double envelope = syllable < 0.7 ? std::pow(std::sin(M_PI * syllable / 0.7), 2) : 0.0;
                if (word > 0.75)
                    envelope = 0;
                if (c == 0)
                    phase += 2 * M_PI * (140 + 40 * std::sin(2 * M_PI * 0.7 * t)) / kRate;
                double buzz = 0;
                for (int k = 1; k < 12; ++k)
                    buzz += std::sin(k * phase) / std::pow(k, 1.2);
                v = static_cast<float>(envelope * (0.15 * buzz + 0.01 * white(random)) * (c == 0 ? 1.0 : 0.9));
            } else if (kind == Kind::Cymbal) {
                double x = white(random);
                for (auto& st : hp[c]) {
                    const double y = hb0 * x + hb1 * st[0] + hb0 * st[1] - ha1 * st[2] - ha2 * st[3];
                    st[1] = st[0];
                    st[0] = x;
                    st[3] = st[2];
                    st[2] = y;
                    x = y;
                }
                v = static_cast<float>(x);
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

// A mono output is measured as dual mono, its one channel counted twice.
Measured measure(const std::vector<float>& interleaved, int channels, long rate)
{
    ebur128_state* st = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
        EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (channels == 1)
        ebur128_set_channel(st, 0, EBUR128_DUAL_MONO);
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
    const std::string command = "ffmpeg -hide_banner -nostats -i '" + path + "' -af ebur128=peak=true:dualmono=true -f null - 2> '"
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

// An MP3 as libmpg123 decodes it, written as a float WAV beside it.
std::string decodedWav(const TempDir& dir, const std::string& mp3)
{
    const Decoded d = decodeMp3(mp3, true);
    std::vector<float> pcm;
    for (std::size_t i = 0; i < d.pcm.size(); ++i) {
        pcm.push_back(d.pcm[i]);
        if (d.channels > 1)
            pcm.push_back(d.pcmRight[i]);
    }
    const std::string path = dir.path("decoded.wav");
    SF_INFO info {};
    info.samplerate = static_cast<int>(d.rate);
    info.channels = d.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr);
    if (f) {
        sf_writef_float(f, pcm.data(), static_cast<sf_count_t>(d.pcm.size()));
        sf_close(f);
    }
    return path;
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
std::vector<std::string> loudnessLines(const TempDir& dir, const std::vector<std::string>& paths,
    const std::vector<std::string>& quality = {})
{
    std::string list;
    for (const std::string& p : paths)
        list += p + '\0';
    writeFile(dir.path("list"), list);
    RunOptions options;
    options.standardInput = dir.path("list");
    std::vector<std::string> args = {"--loudness"};
    args.insert(args.end(), quality.begin(), quality.end());
    const RunResult r = runFastencc(args, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at; (at = r.out.find('\n', from)) != std::string::npos; from = at + 1)
        lines.push_back(r.out.substr(from, at - from));
    EXPECT_EQ(lines.size(), paths.size()) << r.out;
    return lines;
}

std::vector<LoudnessLevel::Measure> measures(const TempDir& dir, const std::vector<std::string>& paths,
    const std::vector<std::string>& quality = {})
{
    std::vector<LoudnessLevel::Measure> out;
    for (const std::string& line : loudnessLines(dir, paths, quality)) {
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

// The measuring pass: as it is, it agrees with libebur128 over the whole sound, true peak
// included (it interpolates only the blocks that could hold a higher one); given a quality,
// the peak stays the source's and the loudness is the band-limited sound's, lower for bright
// sound the lower the quality.
TEST(LoudnessPass, AgreesWithLibebur128AndBandLimitsAsLameWill)
{
    TempDir dir;
    for (const Kind kind : {Kind::Pink, Kind::Music, Kind::Spiky, Kind::Cymbal}) {
        writeSource(dir.path("in.wav"), makeSound(kind, 7, 3.0), -20);
        SF_INFO info {};
        SNDFILE* f = sf_open(dir.path("in.wav").c_str(), SFM_READ, &info);
        std::vector<float> pcm(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_float(f, pcm.data(), info.frames);
        sf_close(f);
        const Measured whole = measure(pcm, info.channels, info.samplerate);
        const LoudnessLevel::Measure m = measures(dir, {dir.path("in.wav")}).front();
        EXPECT_NEAR(m.lufs, whole.lufs, 0.01);
        EXPECT_NEAR(20 * std::log10(m.peak), whole.truePeakDb, 0.01);
        // Noise loses more the narrower the band; tonal sound below 3 kHz keeps its loudness
        // (within what K-weighting at a low rate makes of it).
        const bool bright = kind == Kind::Pink || kind == Kind::Cymbal;
        double before = m.lufs + 0.02;
        for (const char* kbps : {"96000", "32000", "16000"}) {
            const LoudnessLevel::Measure q = measures(dir, {dir.path("in.wav")}, {"-br", kbps}).front();
            EXPECT_EQ(q.peak, m.peak);
            if (bright)
                EXPECT_LE(q.lufs, before) << kbps;
            else
                EXPECT_NEAR(q.lufs, m.lufs, 0.2) << kbps;
            before = q.lufs + 0.02;
        }
        if (kind == Kind::Cymbal) {
            EXPECT_LT(before, m.lufs - 20); // at 16 kbit/s LAME keeps nothing above 3.6 kHz
        }
    }
}

// Even loudness by quality: sources of every kind, at every quality, stereo and mono, each
// measured by the pass as the batch does, levelled per track by the batch's rule, encoded,
// decoded and measured by libebur128 and by ffmpeg (a mono output as dual mono): within
// 0.2 LU of the reference, or held back by the peak rule with the rest in its ReplayGain tag.
// No output's true peak passes -1 dBTP.
using TableCase = std::tuple<Kind, int, bool>;
std::string TableCaseName(const ::testing::TestParamInfo<TableCase>& info)
{
    static const char* const names[] = {"Pink", "Music", "Spiky", "Brown", "Speech", "Cymbal"};
    return std::string(names[static_cast<int>(std::get<0>(info.param))]) + std::to_string(std::get<1>(info.param))
        + (std::get<2>(info.param) ? "Mono" : "Stereo");
}
class EvenLoudnessTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(EvenLoudnessTable, LandsOnTheReferenceOrTheTagSaysTheRest)
{
    const auto [kind, kbps, mono] = GetParam();
    TempDir dir;
    const double lufs = kind == Kind::Pink ? -24.6 : kind == Kind::Brown ? -20.6 : kind == Kind::Music ? -14.1 : -22.0;
    writeSource(dir.path("in.wav"), makeSound(kind, 11, 2.0), lufs);
    std::vector<std::string> quality = {"-br", std::to_string(kbps * 1000)};
    if (mono)
        quality.push_back("-dm");
    const LoudnessLevel::Measure m = measures(dir, {dir.path("in.wav")}, quality).front();
    ASSERT_TRUE(m.loud);
    const LoudnessLevel::Level level = LoudnessLevel::Levels(LoudnessLevel::Mode::Track, {{dir.root(), &m}}).front();
    std::vector<std::string> args = {dir.path("in.wav"), dir.path("out.mp3"), "-threads", "1"};
    args.insert(args.end(), quality.begin(), quality.end());
    for (const std::string& a : LoudnessLevel::Arguments(level))
        args.push_back(a);
    const RunResult r = runFastencc(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.warningLines().empty()) << r.err;

    const std::string mp3 = readFile(dir.path("out.mp3"));
    const double rest = std::stod(userText(mp3, "REPLAYGAIN_TRACK_GAIN").value_or("nan"));
    const bool heldBack = level.gainDb < LoudnessLevel::kReferenceLufs - m.lufs - 0.02;
    if (!heldBack)
        EXPECT_NEAR(rest, 0.0, 0.1);
    else
        EXPECT_GT(rest, 0.0);
    const Measured byLib = measureMp3(dir.path("out.mp3"));
    // ffmpeg's meter on the sound libmpg123 decodes: ffmpeg 5.1's own MP3 decoders (mp3 and
    // mp3float) misdecode some MPEG-2 granules that LAME writes at its default quality (a
    // scalefactor scale of 1 beside frames in M/S stereo; libmp3lame through ffmpeg does the
    // same at -compression_level 0 to 3): peaks 10 dB above their neighbours, 0.4 LU too loud
    // on noise at 24 kHz. libmpg123 decodes them smoothly, as LAME's own decoder does.
    const Measured byFfmpeg = measureByFfmpeg(dir, decodedWav(dir, dir.path("out.mp3")));
    EXPECT_NEAR(byLib.lufs + rest, LoudnessLevel::kReferenceLufs, 0.2) << "rest " << rest;
    EXPECT_NEAR(byFfmpeg.lufs + rest, LoudnessLevel::kReferenceLufs, 0.2) << "rest " << rest;
    EXPECT_LE(byLib.truePeakDb, LoudnessLevel::kPeakLimitDb + 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Sources, EvenLoudnessTable,
    ::testing::Combine(::testing::Values(Kind::Pink, Kind::Brown, Kind::Music, Kind::Speech, Kind::Cymbal),
        ::testing::Values(96, 64, 32, 16), ::testing::Bool()),
    TableCaseName);

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
    // The album of the outputs lands on the reference, unless its loudest peak held it back.
    if (gains[0] >= LoudnessLevel::kReferenceLufs - LoudnessLevel::GatedLoudness(album).value_or(0) - 0.02) {
        std::vector<ebur128_state*> written;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const Decoded d = decodeMp3(dir.path("o" + std::to_string(i) + ".mp3"), true);
            written.push_back(ebur128_init(2, static_cast<unsigned long>(d.rate), EBUR128_MODE_I));
            for (std::size_t k = 0; k < d.pcm.size(); ++k) {
                const float frame[2] = {d.pcm[k], d.pcmRight[k]};
                ebur128_add_frames_float(written.back(), frame, 1);
            }
        }
        double albumOut = 0;
        ebur128_loudness_global_multiple(written.data(), written.size(), &albumOut);
        for (ebur128_state*& st : written)
            ebur128_destroy(&st);
        EXPECT_NEAR(albumOut, LoudnessLevel::kReferenceLufs, 0.2);
    }
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
// A copy holds -1 dBTP by the sound it writes, whatever the peak given says: a loud MP3
// (true peak about -1.5 dBTP) raised by +20 dB without a peak, or by +3 dB with a peak that
// is too low, is decoded as copied and lowered to the step that keeps its true peak below
// the limit, and the warning says from what to what. Its loudness is then the source's
// moved by whole steps, and its ReplayGain tag says what is still to apply.
TEST(LevelledCopy, HoldsTheTruePeakItWritesWhateverThePeakGiven)
{
    TempDir dir;
    writeSource(dir.path("loud.wav"), makeSound(Kind::Music, 5, 3.0), -6);
    ASSERT_EQ(runFastencc({dir.path("loud.wav"), dir.path("loud.mp3"), "-br", "128000"}).exitCode, 0);
    const LoudnessLevel::Measure m = measures(dir, {dir.path("loud.mp3")}, {"-br", "128000"}).front();
    ASSERT_GT(20 * std::log10(m.peak), -3.0);
    const struct {
        std::vector<std::string> options;
        const char* warning;
    } cases[] = {
        {{"-gain", "20"}, "the gain is lowered from +20.00 dB to "},
        {{"-gain", "3", "-peak", "0.5"}, "the gain is lowered from +3.00 dB to "},
        {{"-gain", "20", "-peak", number(m.peak, "%.6f"), "-rg-track", number(-18 - m.lufs) + "," + number(m.peak, "%.6f")},
            "the gain is lowered from +20.00 dB to "},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {dir.path("loud.mp3"), dir.path("out.mp3"), "-br", "128000"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = runFastencc(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find(StreamCopy::kNote), std::string::npos) << r.err;
        ASSERT_EQ(r.warningLines().size(), 1u) << r.err;
        EXPECT_NE(r.warningLines().front().find(c.warning), std::string::npos) << r.err;
        const Measured out = measureMp3(dir.path("out.mp3"));
        EXPECT_LE(out.truePeakDb, LoudnessLevel::kPeakLimitDb) << r.err;
        // Whole steps from the source, down to the one below the limit.
        const double steps = (out.truePeakDb - 20 * std::log10(m.peak)) / GranuleGain::kStepDb;
        EXPECT_NEAR(steps, std::round(steps), 0.01);
        EXPECT_GT(out.truePeakDb, LoudnessLevel::kPeakLimitDb - GranuleGain::kStepDb - 0.01);
        if (c.options.size() > 4) {
            const double rest = std::stod(userText(readFile(dir.path("out.mp3")), "REPLAYGAIN_TRACK_GAIN").value_or("nan"));
            EXPECT_NEAR(out.lufs + rest, LoudnessLevel::kReferenceLufs, 0.05);
        }
        std::remove(dir.path("out.mp3").c_str());
    }
}

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
    // The tags hold the figures given, each less the one gain the output got.
    const std::string out = readFile(dir.path("out.mp3"));
    const double trackGain = std::stod(userText(out, "REPLAYGAIN_TRACK_GAIN").value_or("0"));
    const double albumGain = std::stod(userText(out, "REPLAYGAIN_ALBUM_GAIN").value_or("0"));
    EXPECT_NEAR(albumGain - trackGain, -2 - 3.25, 0.011);
    EXPECT_NEAR(trackGain, 3.25 + 40, 3.1); // the gain corrected by at most what a codec takes
    EXPECT_NEAR(std::stod(userText(out, "REPLAYGAIN_ALBUM_PEAK").value_or("0"))
            / std::stod(userText(out, "REPLAYGAIN_TRACK_PEAK").value_or("1")), 1.000001 / 0.5, 1e-3);
}

} // namespace
