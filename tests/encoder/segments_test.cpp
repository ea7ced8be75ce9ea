// One source on several encoders at once (-threads): the segments' streams are joined into
// one that no decoder can tell from a one-encoder stream except by its bytes.

#include "output/segmentedmp3writer.h"

#include "testsupport.h"

#include <lame/lame.h>

#include <csignal>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

using namespace enctest;

namespace {

// A 16-bit WAV of these samples (interleaved).
void writePcmWav(const std::string& path, int rate, int channels, const std::vector<float>& pcm)
{
    auto put = [](std::string& s, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(pcm.size() * 2);
    std::string w = "RIFF";
    put(w, 36 + dataBytes, 4);
    w += "WAVEfmt ";
    put(w, 16, 4);
    put(w, 1, 2);
    put(w, static_cast<std::uint32_t>(channels), 2);
    put(w, static_cast<std::uint32_t>(rate), 4);
    put(w, static_cast<std::uint32_t>(rate * channels * 2), 4);
    put(w, static_cast<std::uint32_t>(channels * 2), 2);
    put(w, 16, 2);
    w += "data";
    put(w, dataBytes, 4);
    for (const float v : pcm)
        put(w, static_cast<std::uint32_t>(static_cast<std::int16_t>(std::lround(v * 32767.0f))), 2);
    writeFile(path, w);
}

// What the reservoir rules of a layer III stream say of one file: its audio frames (the Info
// frame not counted) and every frame whose main_data_begin is beyond its version's limit or
// reaches back past the first audio frame's data.
struct StreamCheck {
    int audioFrames = 0;
    std::vector<std::string> faults;
};

StreamCheck checkReservoir(const std::string& mp3)
{
    static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    static const int kKbps[2][15] = {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
    StreamCheck c;
    const std::string body = withoutId3v2(mp3);
    const auto* d = reinterpret_cast<const unsigned char*>(body.data());
    std::size_t at = 0;
    long available = -1; // slot bytes of the audio frames so far (-1: the Info frame comes first)
    while (at + 4 <= body.size()) {
        if (d[at] != 0xFF || (d[at + 1] & 0xE0) != 0xE0) {
            c.faults.push_back("no frame header at byte " + std::to_string(at));
            break;
        }
        const int version = (d[at + 1] >> 3) & 3;
        const bool mpeg1 = version == 3;
        const int rate = kRates[version][(d[at + 2] >> 2) & 3];
        const int kbps = kKbps[mpeg1 ? 1 : 0][d[at + 2] >> 4];
        const bool mono = (d[at + 3] >> 6) == 3;
        const int crc = (d[at + 1] & 1) ? 0 : 2;
        const int length = (mpeg1 ? 144 : 72) * kbps * 1000 / rate + ((d[at + 2] >> 1) & 1);
        const int sideEnd = 4 + crc + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
        if (at + static_cast<std::size_t>(length) > body.size()) {
            c.faults.push_back("a frame cut short at the end");
            break;
        }
        const int mdb = mpeg1 ? (d[at + 4 + crc] << 1) | (d[at + 5 + crc] >> 7) : d[at + 4 + crc];
        if (available < 0) {
            available = 0; // the Info frame: its bytes are no reservoir
        } else {
            if (mdb > (mpeg1 ? 511 : 255) || mdb > available)
                c.faults.push_back("frame " + std::to_string(c.audioFrames) + " borrows " + std::to_string(mdb)
                    + " bytes of " + std::to_string(available));
            available += length - sideEnd;
            ++c.audioFrames;
        }
        at += static_cast<std::size_t>(length);
    }
    return c;
}

// Whatever ffmpeg says of decoding the file with its errors shown; empty when it says
// nothing (and when there is no ffmpeg on this machine).
std::string ffmpegErrors(const std::string& path)
{
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
        return {};
    const std::string command = "ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1";
    std::string said;
    if (FILE* p = popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, p))
            said += line;
        pclose(p);
    }
    return said;
}

struct SegmentCase {
    const char* name;
    int rate;     // of the source, and of the MP3 unless outRate says otherwise
    int kbps;
    bool mono;
    int outRate = 0;
};

void PrintTo(const SegmentCase& c, std::ostream* os) { *os << c.name; }

class SegmentTest : public ::testing::TestWithParam<SegmentCase> {};

// Frames of the MP3 (MPEG-1: 1152 samples, else 576) from the output rate.
int frameSamples(int outRate) { return outRate >= 32000 ? 1152 : 576; }

} // namespace

// Near every segment boundary the source has what makes a join hard: a long quiet tone before
// it fills the bit reservoir, then clicks right at the boundary force short blocks; near the
// second boundary a burst of noise empties the reservoir instead.
TEST_P(SegmentTest, JoinedStreamIsTheOneEncodersStream)
{
    const SegmentCase& c = GetParam();
    const int outRate = c.outRate ? c.outRate : c.rate;
    const int channels = 2; // a mono output is folded by fastencc from stereo
    const double segmentSeconds = double(SegmentedMp3Writer::kSegmentFrames) * frameSamples(outRate) / outRate;
    const double seconds = 2.6 * segmentSeconds;
    const auto frames = static_cast<std::size_t>(seconds * c.rate);
    std::vector<float> pcm(frames * channels);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / c.rate;
        for (int ch = 0; ch < channels; ++ch)
            pcm[i * channels + ch] = float(0.2 * std::sin(2 * M_PI * (330.0 + 110.0 * ch) * t));
    }
    for (int boundary = 1; boundary <= 2; ++boundary) {
        const double at = segmentSeconds * boundary;
        const double frame = double(frameSamples(outRate)) / outRate;
        if (boundary == 1) {
            for (const double offset : {-3.0, -0.5, 0.0, 1.0, 4.5}) { // in frames
                const auto start = static_cast<std::size_t>((at + offset * frame) * c.rate);
                for (std::size_t i = start; i < start + static_cast<std::size_t>(c.rate / 500) && i < frames; ++i)
                    for (int ch = 0; ch < channels; ++ch)
                        pcm[i * channels + ch] = 0.8f * noise(random);
            }
        } else {
            const auto start = static_cast<std::size_t>((at - 6 * frame) * c.rate);
            const auto end = static_cast<std::size_t>((at + 10 * frame) * c.rate);
            for (std::size_t i = start; i < end && i < frames; ++i)
                for (int ch = 0; ch < channels; ++ch)
                    pcm[i * channels + ch] += 0.5f * noise(random);
        }
    }
    TempDir dir;
    writePcmWav(dir.path("in.wav"), c.rate, channels, pcm);
    std::vector<std::string> common = {"-br", std::to_string(c.kbps * 1000)};
    if (c.mono)
        common.push_back("-dm");
    auto run = [&](const std::string& out, const char* threads) {
        std::vector<std::string> args = {dir.path("in.wav"), dir.path(out), "-threads", threads};
        args.insert(args.end(), common.begin(), common.end());
        const RunResult r = runFastencc(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(r.warningLines().empty()) << r.err;
    };
    run("one.mp3", "1");
    run("four.mp3", "4");
    const std::string one = readFile(dir.path("one.mp3"));
    const std::string four = readFile(dir.path("four.mp3"));
    ASSERT_NE(one, four) << "one encoder made both";

    const StreamCheck checkOne = checkReservoir(one);
    const StreamCheck checkFour = checkReservoir(four);
    EXPECT_TRUE(checkFour.faults.empty()) << checkFour.faults.front();
    EXPECT_EQ(checkFour.audioFrames, checkOne.audioFrames);
    EXPECT_NEAR(double(four.size()), double(one.size()), 0.005 * double(one.size()));
    EXPECT_EQ(ffmpegErrors(dir.path("four.mp3")), "");

    const Decoded d1 = decodeMp3(dir.path("one.mp3"), true);
    const Decoded d4 = decodeMp3(dir.path("four.mp3"), true);
    ASSERT_TRUE(d4.ok);
    EXPECT_EQ(d4.rate, outRate);
    EXPECT_EQ(d4.frames, d1.frames);
    if (outRate == c.rate) {
        EXPECT_EQ(d4.frames, static_cast<std::int64_t>(frames)) << "the decoded length is the source's";
    }

    // The Info frame says what the one encoder's says; only the bytes it counts and the CRCs of
    // what differs may differ.
    const std::string info1 = withoutId3v2(one).substr(0, 200);
    const std::string info4 = withoutId3v2(four).substr(0, 200);
    const std::size_t tag = info1.find("Info");
    ASSERT_NE(tag, std::string::npos);
    EXPECT_EQ(info4.substr(0, tag + 12), info1.substr(0, tag + 12)) << "header, flags or frame count";
    EXPECT_EQ(info4.substr(tag + 16, 100), info1.substr(tag + 16, 100)) << "table of contents";
    EXPECT_EQ(info4.substr(tag + 116, 32), info1.substr(tag + 116, 32)) << "quality, LAME tag, delay and padding";

    // The joins carry the sound as the one encoder does: no window around a boundary is
    // worse against the source than the one encoder's (beyond coding noise of its own).
    if (outRate != c.rate)
        return;
    const std::vector<float>* left4 = &d4.pcm;
    const std::vector<float>* left1 = &d1.pcm;
    auto errorIn = [&](const std::vector<float>& decoded, std::size_t from, std::size_t to) {
        double error = 0;
        double energy = 0;
        for (std::size_t i = from; i < to && i < decoded.size(); ++i) {
            const float ref = c.mono ? 0.5f * (pcm[i * channels] + pcm[i * channels + 1]) : pcm[i * channels];
            const float ref16 = std::lround(ref * 32767.0f) / 32767.0f;
            error += (decoded[i] - ref16) * (decoded[i] - ref16);
            energy += ref16 * ref16;
        }
        return 10 * std::log10(energy / std::max(error, 1e-20));
    };
    const std::size_t fs = static_cast<std::size_t>(frameSamples(outRate));
    for (int boundary = 1; boundary <= 2; ++boundary) {
        const std::size_t b = static_cast<std::size_t>(SegmentedMp3Writer::kSegmentFrames) * boundary * fs;
        const std::size_t from = b - 8 * fs;
        const std::size_t to = b + 16 * fs;
        const double snr1 = errorIn(*left1, from, to);
        const double snr4 = errorIn(*left4, from, to);
        EXPECT_GT(snr4, snr1 - 1.5) << "boundary " << boundary << ": " << snr4 << " dB against " << snr1;
    }
    EXPECT_GT(errorIn(*left4, 0, left4->size()), errorIn(*left1, 0, left1->size()) - 0.5);
}

INSTANTIATE_TEST_SUITE_P(Versions, SegmentTest,
    ::testing::Values(SegmentCase {"mpeg1_44k_128_stereo", 44100, 128, false}, SegmentCase {"mpeg1_48k_320_stereo", 48000, 320, false},
        SegmentCase {"mpeg1_32k_96_mono", 32000, 96, true}, SegmentCase {"mpeg2_24k_96_stereo", 24000, 96, false},
        SegmentCase {"mpeg2_22k_32_mono", 22050, 32, true}, SegmentCase {"mpeg2_16k_32_stereo", 16000, 32, false},
        SegmentCase {"mpeg25_8k_8_mono", 8000, 8, true}, SegmentCase {"mpeg25_11k_32_stereo", 11025, 32, false},
        SegmentCase {"resampled_44k_to_8k_8_stereo", 44100, 8, false, 8000}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

// The test signal as 16-bit stereo PCM at 44.1 kHz.
std::vector<float> testPcm(double seconds)
{
    const auto frames = static_cast<std::size_t>(seconds * 44100);
    std::vector<float> pcm(frames * 2);
    for (std::size_t i = 0; i < frames; ++i)
        for (int ch = 0; ch < 2; ++ch)
            pcm[i * 2 + ch] = signal(ch, static_cast<std::int64_t>(i), 44100);
    return pcm;
}

// What libmp3lame itself makes of that PCM at 128 kbit/s, its Info frame in front: the
// reference encoder's bytes, as one fastencc encoder writes them.
std::string lameReference(const std::vector<float>& pcm)
{
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, 44100);
    lame_set_num_channels(lame, 2);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, 128);
    lame_set_write_id3tag_automatic(lame, 0);
    lame_set_bWriteVbrTag(lame, 1);
    EXPECT_GE(lame_init_params(lame), 0);
    const std::size_t frames = pcm.size() / 2;
    std::vector<short> left(frames), right(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] = static_cast<short>(std::lround(pcm[2 * i] * 32767.0f));
        right[i] = static_cast<short>(std::lround(pcm[2 * i + 1] * 32767.0f));
    }
    std::vector<unsigned char> out(frames + 100000);
    int size = lame_encode_buffer(lame, left.data(), right.data(), static_cast<int>(frames), out.data(), static_cast<int>(out.size()));
    size += lame_encode_flush(lame, out.data() + size, static_cast<int>(out.size()) - size);
    unsigned char tag[2880];
    const std::size_t tagSize = lame_get_lametag_frame(lame, tag, sizeof tag);
    lame_close(lame);
    std::memcpy(out.data(), tag, tagSize);
    return std::string(reinterpret_cast<char*>(out.data()), static_cast<std::size_t>(size));
}

} // namespace

// One encoder is today's encoder: -threads 1 on a source of several segments, and any thread
// count on a source too short to split, write the reference encoder's bytes.
TEST(Segments, OneEncoderWritesTheReferenceBytes)
{
    TempDir dir;
    struct Case {
        double seconds;
        std::vector<std::string> threads;
    };
    for (const Case& c : {Case {30.0, {"-threads", "1"}}, Case {4.0, {"-threads", "4"}}, Case {4.0, {}}}) {
        const std::vector<float> pcm = testPcm(c.seconds);
        writePcmWav(dir.path("in.wav"), 44100, 2, pcm);
        std::vector<std::string> args = {dir.path("in.wav"), dir.path("out.mp3"), "-reencode"};
        args.insert(args.end(), c.threads.begin(), c.threads.end());
        const RunResult r = runFastencc(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(withoutId3v2(readFile(dir.path("out.mp3"))) == lameReference(pcm)) << c.seconds << " s";
    }
}

// More encoders than processors (and than segments) make the same stream as one would.
TEST(Segments, ManyEncodersOnFewProcessors)
{
    TempDir dir;
    writePcmWav(dir.path("in.wav"), 44100, 2, testPcm(50.0));
    for (const char* threads : {"1", "8", "64"}) {
        const RunResult r = runFastencc({dir.path("in.wav"), dir.path(std::string(threads) + ".mp3"), "-threads", threads});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    const StreamCheck one = checkReservoir(readFile(dir.path("1.mp3")));
    for (const char* threads : {"8", "64"}) {
        const StreamCheck many = checkReservoir(readFile(dir.path(std::string(threads) + ".mp3")));
        EXPECT_TRUE(many.faults.empty()) << many.faults.front();
        EXPECT_EQ(many.audioFrames, one.audioFrames);
        EXPECT_EQ(decodeMp3(dir.path(std::string(threads) + ".mp3")).frames, decodeMp3(dir.path("1.mp3")).frames);
    }
}

// A failure while the encoders work (the disk full, the signal to stop) leaves no temporary
// and the earlier output as it was.
TEST(Segments, FailureMidFileLeavesTheOldTarget)
{
    TempDir dir;
    writePcmWav(dir.path("long.wav"), 44100, 2, testPcm(40.0));
    const std::string old = markedFor(dir.path("long.wav"), "old");
    writeFile(dir.path("old.mp3"), old);
    const std::vector<std::string> files = {"long.wav", "old.mp3"};

    RunOptions full;
    full.fileSizeLimit = 300000; // past the first segments' frames
    const RunResult r = runFastencc({dir.path("long.wav"), dir.path("old.mp3"), "-threads", "4"}, full);
    expectOneErrorLine(r, "cannot write to " + dir.path("old.mp3") + ": File too large");
    EXPECT_EQ(readFile(dir.path("old.mp3")), old);
    EXPECT_EQ(dir.files(), files);

    for (const int percent : {5, 50}) {
        RunOptions stop;
        stop.killAtPercent = percent;
        const RunResult s = runFastencc({dir.path("long.wav"), dir.path("old.mp3"), "-threads", "4", "-br", "320000"}, stop);
        ASSERT_EQ(s.signal, SIGTERM) << "finished before the signal: " << s.err;
        EXPECT_EQ(readFile(dir.path("old.mp3")), old);
        EXPECT_EQ(dir.files(), files);
    }
}

// Segments are read, encoded and written in turn: a source three times as long takes no more
// memory, and progress only rises.
TEST(Segments, MemoryDoesNotGrowWithTheSource)
{
    TempDir dir;
    long peak[2] = {};
    const double minutes[2] = {1.5, 4.5};
    for (int i = 0; i < 2; ++i) {
        writePcmWav(dir.path("in.wav"), 44100, 2, testPcm(60 * minutes[i]));
        RunOptions alone;
        alone.ownPeak = true;
        const RunResult r = runFastencc({dir.path("in.wav"), dir.path("out.mp3"), "-threads", "2", "-br", "96000", "-reencode"}, alone);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        peak[i] = r.peakKiB;
        int last = -1;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_GT(std::stoi(line), last) << r.out;
            last = std::stoi(line);
        }
        EXPECT_EQ(last, 100);
    }
#if defined(__SANITIZE_ADDRESS__)
    const bool judgeMemory = false; // its allocator keeps freed memory
#else
    const bool judgeMemory = true;
#endif
    if (judgeMemory) {
        EXPECT_LT(peak[0], 24 * 1024) << "KiB for two encoders";
        EXPECT_LT(peak[1], peak[0] + 2 * 1024) << "KiB more for a longer source";
    }
}

// A caller hands out processors as the file goes, in lines on standard input read between
// segments; whatever else comes there changes nothing, and the stream is whole in any case.
TEST(Segments, ThreadLinesOnStandardInput)
{
    TempDir dir;
    writePcmWav(dir.path("in.wav"), 44100, 2, testPcm(50.0));
    std::string lines = "threads 4\nthreads 1\nthreads 0\nthreads 65\nthreads -3\nthreads 3 \nthreads x\n"
        + std::string(100000, 'a') + "\nthreads 8\n";
    for (int i = 0; i < 50; ++i)
        lines += "threads " + std::to_string(1 + i % 6) + "\n";
    writeFile(dir.path("lines.txt"), lines);
    writeFile(dir.path("binary.txt"), randomBytes(200000, 3));
    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("one.mp3"), "-threads", "1"}).exitCode, 0);
    const StreamCheck one = checkReservoir(readFile(dir.path("one.mp3")));
    for (const char* input : {"lines.txt", "binary.txt"}) {
        RunOptions options;
        options.standardInput = dir.path(input);
        const RunResult r = runFastencc({dir.path("in.wav"), dir.path("out.mp3"), "-threads", "2", "-threads-stdin", "-reencode"},
            options);
        ASSERT_EQ(r.exitCode, 0) << input << ": " << r.err;
        const StreamCheck many = checkReservoir(readFile(dir.path("out.mp3")));
        EXPECT_TRUE(many.faults.empty()) << input << ": " << many.faults.front();
        EXPECT_EQ(many.audioFrames, one.audioFrames) << input;
    }
}

// Standard input is read only when the caller says so: told, the encoder takes the cores a
// line hands it; not told, the same line changes nothing (it is someone else's).
TEST(Segments, StandardInputIsReadOnlyWhenAsked)
{
    TempDir dir;
    writePcmWav(dir.path("in.wav"), 44100, 2, testPcm(60.0));
    writeFile(dir.path("lines.txt"), "threads 6\n");
    const auto threadsAtHalfway = [&](bool told) {
        std::size_t tasks = 0;
        RunOptions options;
        options.standardInput = dir.path("lines.txt");
        options.killAtPercent = 50;
        options.atPercent = [&](int pid) {
            const std::string folder = "/proc/" + std::to_string(pid) + "/task";
            for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator(folder))
                ++tasks;
        };
        std::vector<std::string> args {dir.path("in.wav"), dir.path("out.mp3"), "-threads", "2", "-reencode"};
        if (told)
            args.push_back("-threads-stdin");
        const RunResult r = runFastencc(args, options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_FALSE(r.endedBeforeStop);
        return tasks;
    };
    const std::size_t told = threadsAtHalfway(true);
    const std::size_t notTold = threadsAtHalfway(false);
    EXPECT_GE(told, notTold + 4) << "six encoders against two";
}

// The commonest shell loop: each fastencc leaves the loop's list alone, whatever its threads.
TEST(Segments, AShellLoopKeepsItsList)
{
    for (const std::string threads : {"", " -threads 2", " -threads 0"}) {
        SCOPED_TRACE(threads);
        TempDir dir;
        for (const char* name : {"a.wav", "b.wav", "c.wav"})
            writePcmWav(dir.path(name), 44100, 2, testPcm(30.0));
        std::filesystem::create_directory(dir.path("out"));
        const std::string script = "cd '" + dir.root() + "' && printf '%s\\n' a.wav b.wav c.wav | while read f; do '"
            + FASTENCC_PATH + "' \"$f\" \"out/$f.mp3\"" + threads + " > /dev/null || exit 1; done";
        ASSERT_EQ(std::system(script.c_str()), 0);
        for (const char* name : {"out/a.wav.mp3", "out/b.wav.mp3", "out/c.wav.mp3"}) {
            const Decoded d = decodeMp3(dir.path(name));
            EXPECT_TRUE(d.ok) << name;
            EXPECT_NEAR(d.seconds(), 30.0, 0.01) << name;
        }
    }
}
