// Sources as they come from damaged downloads and odd places: junk inside an MP3, files cut
// off part way, things that are not regular files, and sources far larger than their sound
// (a huge cover, a thousand channels). fastencc converts what is really there, says so when
// that is less than the whole, and keeps its memory bounded.

#include "testsupport.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/xiphcomment.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>

using namespace enctest;

namespace {

// The test signal at about -25 dBFS, as quiet as the music that made the fault audible.
constexpr double kQuiet = 0.08;

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
    const auto lines = r.warningLines();
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
    const auto lines = r.warningLines();
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

namespace {

// FLAC and Ogg fixtures of the test signal, and the header fields that can lie.
std::string flacOf(const TempDir& dir, double seconds, const std::string& title = "", int rate = 44100)
{
    const std::string path = dir.path("fixture.flac");
    writeWithSndfile(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, rate, 2, seconds);
    if (!title.empty()) {
        TagLib::FLAC::File file(path.c_str(), false);
        file.xiphComment(true)->setTitle(title);
        EXPECT_TRUE(file.save());
    }
    const std::string bytes = readFile(path);
    std::filesystem::remove(path);
    return bytes;
}

// STREAMINFO's total samples: the low 4 bits of byte 21 and bytes 22 to 25 (0: not given).
void setFlacLength(std::string& flac, std::uint64_t frames)
{
    EXPECT_EQ(flac.substr(0, 4), "fLaC");
    flac[21] = char((flac[21] & 0xF0) | ((frames >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i)
        flac[std::size_t(22 + i)] = char(frames >> (24 - 8 * i));
}

// STREAMINFO's block size, for the playing time each frame holds.
int flacBlockSize(const std::string& flac)
{
    return (static_cast<unsigned char>(flac[10]) << 8) | static_cast<unsigned char>(flac[11]);
}

// Where the Vorbis comment's vendor length lies (after its block header).
std::size_t vorbisCommentAt(const std::string& flac)
{
    std::size_t pos = 4;
    for (;;) {
        const auto type = static_cast<unsigned char>(flac.at(pos)) & 0x7F;
        const std::size_t length = (std::size_t(static_cast<unsigned char>(flac[pos + 1])) << 16)
            | (std::size_t(static_cast<unsigned char>(flac[pos + 2])) << 8) | static_cast<unsigned char>(flac[pos + 3]);
        if (type == 4)
            return pos + 4;
        EXPECT_FALSE(static_cast<unsigned char>(flac[pos]) & 0x80) << "no Vorbis comment";
        pos += 4 + length;
    }
}

void setLittleEndian32(std::string& bytes, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + std::size_t(i)] = char(v >> (8 * i));
}

std::string oggOf(const TempDir& dir, int format, double seconds, int rate, int channels)
{
    const std::string path = dir.path("fixture.ogg");
    writeWithSndfile(path, SF_FORMAT_OGG | format, rate, channels, seconds);
    const std::string bytes = readFile(path);
    std::filesystem::remove(path);
    return bytes;
}

std::string oggVorbisOf(const TempDir& dir, double seconds, int rate = 44100)
{
    return oggOf(dir, SF_FORMAT_VORBIS, seconds, rate, 2);
}

std::string oggOpusOf(const TempDir& dir, double seconds, int channels = 2)
{
    return oggOf(dir, SF_FORMAT_OPUS, seconds, 48000, channels);
}


// The pages of an Ogg file: where each starts and how long it is.
std::vector<std::pair<std::size_t, std::size_t>> oggPages(const std::string& ogg)
{
    std::vector<std::pair<std::size_t, std::size_t>> pages;
    for (std::size_t pos = 0; pos + 27 <= ogg.size();) {
        EXPECT_EQ(ogg.substr(pos, 4), "OggS");
        const std::size_t segments = static_cast<unsigned char>(ogg[pos + 26]);
        std::size_t size = 27 + segments;
        for (std::size_t i = 0; i < segments; ++i)
            size += static_cast<unsigned char>(ogg[pos + 27 + i]);
        pages.emplace_back(pos, size);
        pos += size;
    }
    return pages;
}

// Sets a page's granule position and makes its checksum right again: a page that lies,
// not a damaged one.
void setOggGranule(std::string& ogg, std::pair<std::size_t, std::size_t> page, std::uint64_t granule)
{
    for (int i = 0; i < 8; ++i)
        ogg[page.first + 6 + std::size_t(i)] = char(granule >> (8 * i));
    setLittleEndian32(ogg, page.first + 22, 0);
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < page.second; ++i) {
        crc ^= std::uint32_t(static_cast<unsigned char>(ogg[page.first + i])) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    setLittleEndian32(ogg, page.first + 22, crc);
}

// 64 random bytes every 20 KB, from the first 20 KB on; the number of hits.
int damageEvery20KB(std::string& bytes)
{
    int hits = 0;
    for (std::size_t at = 20000; at + 64 <= bytes.size(); at += 20000, ++hits)
        bytes.replace(at, 64, randomBytes(64, unsigned(at)));
    return hits;
}

// Where an Opus stream's audio ends by the granule position of the page before its last: an
// end-of-stream page that claims to end before that page (less than its own packets hold)
// trims its packets away, as Opus end trimming says, but never what came before.
double opusSecondsBeforeLastPage(const std::string& ogg)
{
    const auto pages = oggPages(ogg);
    const std::size_t before = pages[pages.size() - 2].first;
    std::uint64_t granule = 0;
    for (int i = 7; i >= 0; --i)
        granule = (granule << 8) | static_cast<unsigned char>(ogg[before + 6 + std::size_t(i)]);
    const std::size_t head = 27 + static_cast<unsigned char>(ogg[26]);
    const unsigned preSkip = static_cast<unsigned char>(ogg[head + 10]) | static_cast<unsigned char>(ogg[head + 11]) << 8;
    return double(granule - preSkip) / 48000.0;
}

// Where the whole pages of an Opus file cut off part way end.
double opusSecondsOfWholePages(const std::string& ogg)
{
    std::uint64_t granule = 0;
    for (std::size_t pos = 0; pos + 27 <= ogg.size();) {
        const std::size_t segments = static_cast<unsigned char>(ogg[pos + 26]);
        std::size_t size = 27 + segments;
        for (std::size_t i = 0; i < segments && pos + 27 + i < ogg.size(); ++i)
            size += static_cast<unsigned char>(ogg[pos + 27 + i]);
        if (pos + size > ogg.size())
            break;
        granule = 0;
        for (int i = 7; i >= 0; --i)
            granule = (granule << 8) | static_cast<unsigned char>(ogg[pos + 6 + std::size_t(i)]);
        pos += size;
    }
    const std::size_t head = 27 + static_cast<unsigned char>(ogg[26]);
    const unsigned preSkip = static_cast<unsigned char>(ogg[head + 10]) | static_cast<unsigned char>(ogg[head + 11]) << 8;
    return double(granule - preSkip) / 48000.0;
}

struct LosslessCase {
    const char* name;
    // Makes the source; sets the seconds the MP3 must hold at least and at most.
    std::function<std::string(const TempDir&, double& from, double& to)> make;
    const char* warning; // the start of the one warning line, "" for none
};

void PrintTo(const LosslessCase& c, std::ostream* os)
{
    *os << c.name;
}

} // namespace

// FLAC and Ogg sources whose headers claim another length than their stream holds, that are
// joined from two files, or that are damaged over and over: what the stream holds is
// converted, whatever a header says, and every loss is named in one line with its place.
class LosslessStreamTest : public ::testing::TestWithParam<LosslessCase> {};

TEST_P(LosslessStreamTest, ConvertsWhatTheStreamHolds)
{
    const LosslessCase& c = GetParam();
    TempDir dir;
    double from = 0, to = 0;
    writeFile(dir.path("source"), c.make(dir, from, to));
    RunOptions options;
    options.timeoutSeconds = 30;
    const RunResult r = runFastencc({dir.path("source"), dir.path("out.mp3")}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = r.warningLines();
    const double out = decodeMp3(dir.path("out.mp3")).seconds();
    EXPECT_GE(out, from);
    EXPECT_LE(out, to);
    if (*c.warning == '\0') {
        EXPECT_TRUE(lines.empty()) << r.err;
        return;
    }
    ASSERT_EQ(lines.size(), 1u) << r.err;
    const std::string expected = std::string("fastencc: warning: ") + c.warning;
    EXPECT_EQ(lines[0].substr(0, expected.size()), expected);
    // The figure in the line is what the MP3 holds (rounded down to a tenth).
    const double said = std::stod(lines[0].substr(lines[0].find('(') + 1));
    EXPECT_GE(out, said - 0.03) << lines[0];
    EXPECT_LT(out, said + 0.13) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Sources, LosslessStreamTest,
    ::testing::Values(
        LosslessCase {"flac_streaminfo_claims_1s_of_20s",
            [](const TempDir& d, double& from, double& to) {
                std::string flac = flacOf(d, 20.0);
                setFlacLength(flac, 44100);
                from = 19.95, to = 20.05;
                return flac;
            },
            ""},
        // Written without its length, then zeroed over 4000 bytes in the middle: one or two
        // frames lost, and said so.
        LosslessCase {"streamed_flac_damaged_in_the_middle",
            [](const TempDir& d, double& from, double& to) {
                std::string flac = flacOf(d, 20.0);
                setFlacLength(flac, 0);
                flac.replace(flac.size() / 2, 4000, 4000, '\0');
                const double frame = flacBlockSize(flac) / 44100.0;
                from = 20.0 - 2 * frame - 0.05, to = 20.0 - frame + 0.05;
                return flac;
            },
            "the audio data is damaged at 0:"},
        // Each hit costs the frame it falls in (two where it falls across the seam of two),
        // never the frames after it.
        LosslessCase {"flac_64_bad_bytes_every_20KB_20s",
            [](const TempDir& d, double& from, double& to) {
                std::string flac = flacOf(d, 20.0);
                const int hits = damageEvery20KB(flac);
                const double frame = flacBlockSize(flac) / 44100.0;
                from = 20.0 - (hits + 3) * frame, to = 20.0 - (hits - 3) * frame;
                return flac;
            },
            "the audio data is damaged at 0:00 ("},
        LosslessCase {"flac_64_bad_bytes_every_20KB_60s",
            [](const TempDir& d, double& from, double& to) {
                std::string flac = flacOf(d, 60.0);
                const int hits = damageEvery20KB(flac);
                const double frame = flacBlockSize(flac) / 44100.0;
                from = 60.0 - (hits + 6) * frame, to = 60.0 - (hits - 6) * frame;
                return flac;
            },
            "the audio data is damaged at 0:00 ("},
        // `cat` of two files, and an ID3v1 tag at the end: every frame up to the tag.
        LosslessCase {"flac_joined_with_a_tag_at_the_end",
            [](const TempDir& d, double& from, double& to) {
                from = 7.95, to = 8.05;
                return flacOf(d, 3.0) + flacOf(d, 5.0) + "TAG" + std::string(125, '\0');
            },
            ""},
        // The frames of a file at another rate are not played at this one's: where they
        // start is said.
        LosslessCase {"flac_joined_to_one_at_another_rate",
            [](const TempDir& d, double& from, double& to) {
                from = 2.95, to = 3.05;
                return flacOf(d, 3.0) + flacOf(d, 5.0, "", 48000);
            },
            "the audio data is damaged at 0:03 (3.0 s converted)"},
        // A Vorbis comment whose vendor length (or a comment's) runs far past its block: the
        // tag is broken, the audio whole.
        LosslessCase {"flac_vorbis_comment_vendor_length_broken",
            [](const TempDir& d, double& from, double& to) {
                std::string flac = flacOf(d, 5.0, "A title");
                setLittleEndian32(flac, vorbisCommentAt(flac), 0x7FFFFF00);
                from = 4.95, to = 5.05;
                return flac;
            },
            ""},
        LosslessCase {"flac_vorbis_comment_length_broken",
            [](const TempDir& d, double& from, double& to) {
                std::string flac = flacOf(d, 5.0, "A title");
                const std::size_t at = vorbisCommentAt(flac);
                const std::uint32_t vendor = static_cast<unsigned char>(flac[at]) | (static_cast<unsigned char>(flac[at + 1]) << 8);
                setLittleEndian32(flac, at + 4 + vendor + 4, 0x7FFFFF00);
                from = 4.95, to = 5.05;
                return flac;
            },
            ""},
        // The last page says 882 samples of 20 s (its checksum made right).
        LosslessCase {"ogg_last_granule_small",
            [](const TempDir& d, double& from, double& to) {
                std::string ogg = oggVorbisOf(d, 20.0);
                setOggGranule(ogg, oggPages(ogg).back(), 882);
                from = 19.9, to = 20.05;
                return ogg;
            },
            ""},
        // `cat` of a 3 s and a 7 s file.
        LosslessCase {"ogg_chained_unequal_links",
            [](const TempDir& d, double& from, double& to) {
                from = 9.95, to = 10.05;
                return oggVorbisOf(d, 3.0) + oggVorbisOf(d, 7.0);
            },
            ""},
        // A link at another sample rate is not converted: where the sound stops is said.
        LosslessCase {"ogg_chained_link_at_another_rate",
            [](const TempDir& d, double& from, double& to) {
                from = 2.95, to = 3.05;
                return oggVorbisOf(d, 3.0) + oggVorbisOf(d, 7.0, 48000);
            },
            "the source ends early (3.0 s converted)"},
        // The same for Opus, whose granule positions count at 48 kHz after the pre-skip; a
        // last page that claims less than its packets hold trims them (Opus end trimming).
        LosslessCase {"opus_last_granule_small",
            [](const TempDir& d, double& from, double& to) {
                std::string ogg = oggOpusOf(d, 20.0);
                setOggGranule(ogg, oggPages(ogg).back(), 960);
                from = opusSecondsBeforeLastPage(ogg) - 0.03, to = 20.05;
                EXPECT_GT(from, 19.0);
                return ogg;
            },
            ""},
        LosslessCase {"opus_chained_equal_links",
            [](const TempDir& d, double& from, double& to) {
                from = 9.95, to = 10.05;
                const std::string link = oggOpusOf(d, 5.0);
                return link + link;
            },
            ""},
        LosslessCase {"opus_chained_unequal_links",
            [](const TempDir& d, double& from, double& to) {
                from = 9.95, to = 10.05;
                return oggOpusOf(d, 3.0) + oggOpusOf(d, 7.0);
            },
            ""},
        // A link with other channels is not converted: where the sound stops is said.
        LosslessCase {"opus_chained_link_with_other_channels",
            [](const TempDir& d, double& from, double& to) {
                from = 2.95, to = 3.05;
                return oggOpusOf(d, 3.0) + oggOpusOf(d, 7.0, 1);
            },
            "the source ends early (3.0 s converted)"}),
    [](const auto& info) { return std::string(info.param.name); });

// --facts gives a FLAC's or an Ogg file's length as its stream holds it, not as a header
// claims it; a length that cannot be measured is marked "+": what is known to be there.
TEST(LosslessStreamFacts, LengthOfTheStreamNotOfTheHeader)
{
    TempDir dir;
    struct Source {
        std::string name;
        std::string bytes;
        double from, to; // the seconds said
        bool atLeast;
    };
    std::vector<Source> sources;
    std::string flac = flacOf(dir, 20.0);
    setFlacLength(flac, 0);
    sources.push_back({"streamed.flac", flac, 20.0, 20.0, false});
    std::string tail = flac;
    tail.replace(tail.size() - 300000, 300000, randomBytes(300000, 3));  // no whole frame in reach of the end
    sources.push_back({"streamed_junk_at_the_end.flac", tail, 1.0, 20.0, true});
    setFlacLength(flac, 44100);
    sources.push_back({"claims_1s.flac", flac, 20.0, 20.0, false});
    sources.push_back({"chained.ogg", oggVorbisOf(dir, 3.0) + oggVorbisOf(dir, 7.0), 10.0, 10.0, false});
    std::string ogg = oggVorbisOf(dir, 20.0);
    sources.push_back({"cut.ogg", ogg.substr(0, ogg.size() / 2), 1.0, 20.0, true});
    // A last page that claims five days: no page reaches further than its packets can.
    setOggGranule(ogg, oggPages(ogg).back(), 44100ull * 438262);
    sources.push_back({"claims_438262s.ogg", ogg, 19.9, 21.0, false});
    sources.push_back({"chained.opus", oggOpusOf(dir, 3.0) + oggOpusOf(dir, 7.0), 10.0, 10.0, false});
    std::string opus = oggOpusOf(dir, 20.0);
    // Only whole pages count: a page cut off names a granule position its audio lacks.
    const std::string cutOpus = opus.substr(0, opus.size() / 2);
    sources.push_back({"cut.opus", cutOpus, opusSecondsOfWholePages(cutOpus) - 0.001, opusSecondsOfWholePages(cutOpus) + 0.001, true});
    setOggGranule(opus, oggPages(opus).back(), 960);
    const double beforeLastPage = opusSecondsBeforeLastPage(opus);
    sources.push_back({"last_granule_small.opus", opus, beforeLastPage - 0.001, beforeLastPage + 0.001, false});
    std::string input;
    for (const Source& s : sources) {
        writeFile(dir.path(s.name), s.bytes);
        input += dir.path(s.name) + '\0';
    }
    writeFile(dir.path("list"), input);
    const std::string command = std::string(FASTENCC_PATH) + " --facts < " + dir.path("list") + " > " + dir.path("facts");
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::istringstream lines(readFile(dir.path("facts")));
    for (const Source& s : sources) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        ASSERT_EQ(line.compare(0, 3, "ok\t"), 0) << s.name << ": " << line;
        const std::string seconds = line.substr(3, line.find('\t', 3) - 3);
        EXPECT_EQ(seconds.back() == '+', s.atLeast) << s.name << ": " << line;
        EXPECT_GE(std::atof(seconds.c_str()), s.from) << s.name << ": " << line;
        EXPECT_LE(std::atof(seconds.c_str()), s.to) << s.name << ": " << line;
    }
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
