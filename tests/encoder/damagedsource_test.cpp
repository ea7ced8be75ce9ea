// Sources as they come from damaged downloads and odd places: junk inside an MP3, files cut
// off part way, things that are not regular files, and sources far larger than their sound
// (a huge cover, a thousand channels). fastencc converts what is really there, says so when
// that is less than the whole, and keeps its memory bounded.

#include "testsupport.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>

using namespace enctest;

namespace {

// The test signal at about -25 dBFS, as quiet as the music that made the fault audible.
constexpr double kQuiet = 0.08;

// The lines on standard error but a note that the source, being smaller than the bitrate
// asked, kept the output's bitrate to its own: that comes before any warning, which stays
// the last word.
std::vector<std::string> warningLines(const RunResult& r)
{
    std::vector<std::string> lines = r.errLines();
    if (lines.size() > 1 && lines.front().rfind("fastencc: kept at ", 0) == 0)
        lines.erase(lines.begin());
    return lines;
}

std::string cutInHalf(const std::string& bytes)
{
    return bytes.substr(0, bytes.size() / 2);
}

struct EndingCase {
    const char* name;
    // Makes the source at path; returns the seconds of sound really in it (-1: not known
    // beforehand, as where a compressed file is cut).
    std::function<double(const TempDir&, const std::string& path)> make;
    const char* warning; // the whole line on standard error, or the start of it (ending in "(")
};

void PrintTo(const EndingCase& c, std::ostream* os)
{
    *os << c.name;
}

// A libsndfile fixture of the test signal, 20 s, cut to its first half.
std::function<double(const TempDir&, const std::string&)> cutSndfile(int format, int channels)
{
    return [format, channels](const TempDir&, const std::string& path) {
        writeWithSndfile(path, format, 48000, channels, 20.0);
        writeFile(path, cutInHalf(readFile(path)));
        const bool constantBytesPerSecond = (format & SF_FORMAT_TYPEMASK) != SF_FORMAT_OGG;
        return constantBytesPerSecond ? 10.0 : -1.0;
    };
}

} // namespace

// Junk inside an MP3 is skipped, never decoded: only frames that chain count, and the
// sound resumes where they chain again.
class JunkInMp3Test : public ::testing::TestWithParam<std::size_t> {};

TEST_P(JunkInMp3Test, SkippedNotDecodedAsNoise)
{
    TempDir dir;
    const std::string mp3 = makeMp3(dir, 2.0, kQuiet);
    writeFile(dir.path("clean.mp3"), mp3);
    const float sourcePeak = peakOf(decodeMp3(dir.path("clean.mp3"), true));
    // A 2 s song, junk, the same song again.
    writeFile(dir.path("sandwich.mp3"), mp3 + randomBytes(GetParam(), 7) + mp3);

    const RunResult r = runFastencc({dir.path("sandwich.mp3"), dir.path("out.mp3")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const Decoded d = decodeMp3(dir.path("out.mp3"), true);
    EXPECT_NEAR(d.seconds(), 4.0, 0.1);
    EXPECT_LE(peakOf(d), sourcePeak) << "louder than its source: junk decoded as sound";
}

INSTANTIATE_TEST_SUITE_P(JunkSizes, JunkInMp3Test, ::testing::Values(std::size_t(64 * 1024), std::size_t(5 * 1024 * 1024)),
    [](const auto& info) { return std::to_string(info.param / 1024) + "KiB"; });

// Junk at the very start of an MP3 or inside its first frames (a damaged download): the
// stream behind it is still found and converted whole but for the frames the junk broke,
// without a word of a short source, and none of the junk is decoded.
struct EarlyJunkCase {
    const char* name;
    std::function<std::string(const std::string& mp3, const std::string& junk)> damage;
};

void PrintTo(const EarlyJunkCase& c, std::ostream* os)
{
    *os << c.name;
}

class EarlyJunkInMp3Test : public ::testing::TestWithParam<EarlyJunkCase> {};

TEST_P(EarlyJunkInMp3Test, StreamBehindTheJunkConvertsWhole)
{
    TempDir dir;
    const std::string mp3 = makeMp3(dir, 2.0, kQuiet);
    writeFile(dir.path("clean.mp3"), mp3);
    const float sourcePeak = peakOf(decodeMp3(dir.path("clean.mp3"), true));
    writeFile(dir.path("damaged.mp3"), GetParam().damage(mp3, randomBytes(4000, 13)));

    const RunResult r = runFastencc({dir.path("damaged.mp3"), dir.path("out.mp3"), "-reencode"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const Decoded d = decodeMp3(dir.path("out.mp3"), true);
    EXPECT_NEAR(d.seconds(), 2.0, 0.1);
    EXPECT_LE(peakOf(d), sourcePeak) << "louder than its source: junk decoded as sound";
}

namespace {

// Junk put in at byte at of the MP3 (whose 128 kbit/s frames at 44.1 kHz are 417 or 418
// bytes long, the first of them the Info frame).
std::function<std::string(const std::string&, const std::string&)> junkAt(std::size_t at)
{
    return [at](const std::string& mp3, const std::string& junk) { return mp3.substr(0, at) + junk + mp3.substr(at); };
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Places, EarlyJunkInMp3Test,
    ::testing::Values(
        EarlyJunkCase {"before_the_stream", junkAt(0)},
        // A tag after the junk (all padding) is stepped over like one at the start of a file.
        EarlyJunkCase {"before_an_id3_tag",
            [](const std::string& mp3, const std::string& junk) {
                return junk + std::string("ID3\x03\x00\x00\x00\x00\x00\x40", 10) + std::string(64, '\0') + mp3;
            }},
        EarlyJunkCase {"in_the_info_frame", junkAt(100)},
        EarlyJunkCase {"in_the_second_frame", junkAt(500)},
        EarlyJunkCase {"in_the_third_frame", junkAt(1000)}),
    [](const auto& info) { return std::string(info.param.name); });

// A source cut off part way converts what is there, exits 0 and says so in one line, the
// last on standard error (a caller may keep only that one).
class EndsEarlyTest : public ::testing::TestWithParam<EndingCase> {};

TEST_P(EndsEarlyTest, ConvertsWhatIsThereAndSaysSo)
{
    const EndingCase& c = GetParam();
    TempDir dir;
    const double seconds = c.make(dir, dir.path("source"));
    const RunResult r = runFastencc({dir.path("source"), dir.path("out.mp3")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = warningLines(r);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    const std::string expected = std::string("fastencc: warning: ") + c.warning;
    if (expected.back() == '(')
        EXPECT_EQ(lines[0].substr(0, expected.size()), expected);
    else
        EXPECT_EQ(lines[0], expected);
    const double out = decodeMp3(dir.path("out.mp3")).seconds();
    if (seconds >= 0) {
        EXPECT_NEAR(out, seconds, 0.1);
    }
    // The figure in the line is what the MP3 holds (rounded down to a tenth).
    const std::string early = "ends early (";
    const auto open = lines[0].find(early);
    if (open != std::string::npos) {
        const double said = std::stod(lines[0].substr(open + early.size()));
        EXPECT_GE(out, said - 0.03);
        EXPECT_LT(out, said + 0.13);
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, EndsEarlyTest,
    ::testing::Values(
        // A WAV whose header says 1,200 s, cut after 11.4 s.
        EndingCase {"wav",
            [](const TempDir&, const std::string& p) {
                WavSpec s;
                s.seconds = 11.4;
                s.claimedDataBytes = 1200 * 44100 * 4;
                writeWav(p, s);
                return 11.4;
            },
            "the source ends early (11.4 s of 1200.0 s converted)"},
        EndingCase {"aiff", cutSndfile(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2), "the source ends early (9.9 s of 20.0 s converted)"},
        EndingCase {"rf64", cutSndfile(SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 2), "the source ends early (9.9 s of 20.0 s converted)"},
        EndingCase {"flac", cutSndfile(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2), "the source ends early (9.9 s of 20.0 s converted)"},
        // Ogg says its length only on its last page: the whole is not known.
        EndingCase {"ogg_vorbis", cutSndfile(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2), "the source ends early ("},
        EndingCase {"ogg_opus", cutSndfile(SF_FORMAT_OGG | SF_FORMAT_OPUS, 1), "the source ends early ("},
        EndingCase {"mp3",
            [](const TempDir& d, const std::string& p) {
                writeFile(p, cutInHalf(makeMp3(d, 4.0)));
                return 1.95;
            },
            "the source ends early (1.9 s of 4.0 s converted)"},
        // Not cut off, but LAME cannot write the asked bitrate at the source's rate.
        EndingCase {"bitrate_beyond_the_rate",
            [](const TempDir&, const std::string& p) {
                WavSpec s;
                s.rate = 8000;
                writeWav(p, s);
                return 2.0;
            },
            "the MP3 is written at 64000 bit/s, not 128000 (the encoder's limit for a source of 8000 Hz)"}),
    [](const auto& info) { return std::string(info.param.name); });

// Damage inside an MP3 and a cut in the middle of a frame: what is there is converted, and
// only a cut-off end is reported.
TEST(DamagedMp3, MidFileDamageConvertsWithoutWarning)
{
    TempDir dir;
    const std::string mp3 = makeMp3(dir, 4.0);
    std::string damaged = mp3;
    const std::string junk = randomBytes(6000, 9);
    damaged.replace(mp3.size() / 2, junk.size(), junk);
    writeFile(dir.path("damaged.mp3"), damaged);
    const RunResult r = runFastencc({dir.path("damaged.mp3"), dir.path("out.mp3")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NEAR(decodeMp3(dir.path("out.mp3")).seconds(), 4.0 - 6000.0 / 16000.0, 0.15);
}

// Damage inside a FLAC or Ogg source, which goes on after it: not a cut-off end. FLAC is
// resumed after the damage; Ogg loses the pages the damage hit. Either way the rest is
// converted, nothing of the damage is decoded as sound, and one line says where the audio
// data is damaged and what the MP3 holds.
struct InnerDamageCase {
    const char* name;
    int format;
    std::function<void(std::string& bytes)> damage;
    double placeFrom, placeTo;     // the "at M:SS" in the line, seconds
    double secondsFrom, secondsTo; // of the MP3
};

void PrintTo(const InnerDamageCase& c, std::ostream* os)
{
    *os << c.name;
}

class InnerDamageTest : public ::testing::TestWithParam<InnerDamageCase> {};

TEST_P(InnerDamageTest, RestConvertedAndDamageNamed)
{
    const InnerDamageCase& c = GetParam();
    TempDir dir;
    writeWithSndfile(dir.path("clean"), c.format, 48000, 2, 10.0);
    ASSERT_EQ(runFastencc({dir.path("clean"), dir.path("clean.mp3")}).exitCode, 0);
    const float sourcePeak = peakOf(decodeMp3(dir.path("clean.mp3"), true));
    std::string bytes = readFile(dir.path("clean"));
    c.damage(bytes);
    writeFile(dir.path("damaged"), bytes);

    const RunResult r = runFastencc({dir.path("damaged"), dir.path("out.mp3")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = warningLines(r);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    const std::string expected = "fastencc: warning: the audio data is damaged at ";
    ASSERT_EQ(lines[0].substr(0, expected.size()), expected) << lines[0];
    const Decoded d = decodeMp3(dir.path("out.mp3"), true);
    EXPECT_GE(d.seconds(), c.secondsFrom);
    EXPECT_LE(d.seconds(), c.secondsTo);
    EXPECT_LE(peakOf(d), sourcePeak * 1.05f) << "louder than its source: damage decoded as sound";
    const std::string rest = lines[0].substr(expected.size());
    const double place = std::stoi(rest) * 60 + std::stoi(rest.substr(rest.find(':') + 1));
    EXPECT_GE(place, c.placeFrom) << lines[0];
    EXPECT_LE(place, c.placeTo) << lines[0];
    // The figure in the line is what the MP3 holds (rounded down to a tenth).
    const double said = std::stod(rest.substr(rest.find('(') + 1));
    EXPECT_GE(d.seconds(), said - 0.03) << lines[0];
    EXPECT_LT(d.seconds(), said + 0.13) << lines[0];
}

namespace {

std::function<void(std::string&)> randomOver(double where)
{
    return [where](std::string& b) {
        const std::string junk = randomBytes(4000, 17);
        b.replace(std::size_t(double(b.size()) * where), junk.size(), junk);
    };
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Sources, InnerDamageTest,
    ::testing::Values(
        InnerDamageCase {"flac_junk_in_the_middle", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, randomOver(0.5),
            4, 5, 9.5, 10.05},
        InnerDamageCase {"flac_junk_near_the_start", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, randomOver(0.1),
            0, 1, 9.5, 10.05},
        InnerDamageCase {"flac_middle_third_zeroed", SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
            [](std::string& b) { b.replace(b.size() / 3, b.size() / 3, b.size() / 3, '\0'); },
            3, 3, 6.2, 7.0},
        InnerDamageCase {"ogg_vorbis_junk_in_the_middle", SF_FORMAT_OGG | SF_FORMAT_VORBIS, randomOver(0.5),
            3, 5, 6.0, 9.9},
        InnerDamageCase {"ogg_opus_junk_in_the_middle", SF_FORMAT_OGG | SF_FORMAT_OPUS, randomOver(0.5),
            3, 5, 6.0, 9.9}),
    [](const auto& info) { return std::string(info.param.name); });

// A FLAC written as a stream, without its length in its header (piped, recorded), is whole
// at its end: converted to the last sample, at once, with no word of damage.
TEST(UndamagedSource, FlacWithoutItsLengthConvertsWhole)
{
    TempDir dir;
    writeWithSndfile(dir.path("stream.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 3.0);
    std::string bytes = readFile(dir.path("stream.flac"));
    // STREAMINFO's total samples: the low 4 bits of byte 21 and bytes 22 to 25.
    ASSERT_EQ(bytes.substr(0, 4), "fLaC");
    bytes[21] = static_cast<char>(bytes[21] & 0xF0);
    bytes.replace(22, 4, 4, '\0');
    writeFile(dir.path("stream.flac"), bytes);
    RunOptions options;
    options.timeoutSeconds = 20;
    const RunResult r = runFastencc({dir.path("stream.flac"), dir.path("out.mp3")}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NEAR(decodeMp3(dir.path("out.mp3")).seconds(), 3.0, 0.05);
}

// Only regular files are read: a FIFO without a writer would block open() for ever, a
// device would be read without end.
TEST(Source, NotARegularFileIsRefusedAtOnce)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0644), 0);
    std::filesystem::create_symlink(dir.path("fifo"), dir.path("link-to-fifo.mp3"));
    for (const std::string& source : {dir.path("fifo"), dir.path("link-to-fifo.mp3"), std::string("/dev/zero")}) {
        RunOptions options;
        options.timeoutSeconds = 10;
        const RunResult r = runFastencc({source, dir.path("out.mp3")}, options);
        expectOneErrorLine(r, source + " is not a regular file");
    }
    // stat says 0 bytes for files under /proc; what a read finds decides.
    expectOneErrorLine(runFastencc({"/proc/self/status", dir.path("out.mp3")}), "/proc/self/status is not an audio file");
    EXPECT_EQ(dir.files(), (std::vector<std::string> {"fifo", "link-to-fifo.mp3"}));
}

// Memory stays bounded: decoding is chunked by bytes (a thousand channels cost what two
// do) and a cover picture is held once. Peak memory is only judged without the sanitizers,
// whose allocator keeps freed memory.
TEST(Memory, ThousandChannelsAndHugeCoverStayBounded)
{
#if defined(__SANITIZE_ADDRESS__)
    const bool judgeMemory = false;
#else
    const bool judgeMemory = true;
#endif
    TempDir dir;
    WavSpec wide;
    wide.channels = 1024;
    wide.seconds = 1.0;
    wide.soundingChannels = 0x5;
    writeWav(dir.path("wide.wav"), wide);
    const RunResult r1 = runFastencc({dir.path("wide.wav"), dir.path("wide.mp3")});
    ASSERT_EQ(r1.exitCode, 0) << r1.err;
    EXPECT_NEAR(decodeMp3(dir.path("wide.mp3")).seconds(), 1.0, 0.05);
    if (judgeMemory) {
        EXPECT_LT(r1.peakKiB, 32 * 1024) << "KiB for a 1 s source of 1024 channels";
    }

    // A 2 s song carrying a 100 MB cover.
    writeFile(dir.path("song.mp3"), makeMp3(dir, 2.0));
    TagLib::ByteVector cover(100 * 1024 * 1024, '\0');
    const std::string noise = randomBytes(cover.size() / 64, 11);
    for (unsigned i = 0; i < cover.size(); ++i)
        cover[i] = noise[i % noise.size()] ^ char(i / noise.size());
    {
        TagLib::MPEG::File song(dir.path("song.mp3").c_str(), false);
        auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setMimeType("image/jpeg");
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        frame->setPicture(cover);
        song.ID3v2Tag(true)->addFrame(frame);
        ASSERT_TRUE(song.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3));
    }
    const RunResult r2 = runFastencc({dir.path("song.mp3"), dir.path("out.mp3")});
    ASSERT_EQ(r2.exitCode, 0) << r2.err;
    if (judgeMemory) {
        EXPECT_LT(r2.peakKiB, 100 * 1024 + 48 * 1024) << "KiB: more than one copy of a 100 MiB cover";
    }
    // Far above what a player takes, and no picture that can be decoded and scaled: left out.
    TagLib::MPEG::File out(dir.path("out.mp3").c_str(), false);
    EXPECT_TRUE(!out.ID3v2Tag() || out.ID3v2Tag()->frameList("APIC").isEmpty());
    EXPECT_LT(std::filesystem::file_size(dir.path("out.mp3")), 1024u * 1024u);
    EXPECT_NEAR(decodeMp3(dir.path("out.mp3")).seconds(), 2.0, 0.05);
}
