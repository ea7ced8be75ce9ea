// MP3s as they come from joining, odd encoders and odd places: files joined end to end at
// other rates, Info frames that no longer fit the file or lie, free-format streams, a tag
// look-alike in front of the stream, a source cut off while it is copied, and files that
// never end or are mostly holes. fastencc converts all the sound there is, --facts gives its
// real length, and neither waits for ever nor reads without end.

#include "mpeg/mpegheader.h"

#include "testsupport.h"

#include <lame/lame.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>

using namespace enctest;

namespace {

// The test signal as a WAV, encoded by fastencc itself at bits bit/s (LAME keeps the rate
// at these bitrates); the MP3's bytes.
std::string encoded(const TempDir& dir, int rate, int channels, int bits, double seconds)
{
    WavSpec spec;
    spec.rate = rate;
    spec.channels = channels;
    spec.seconds = seconds;
    writeWav(dir.path("part.wav"), spec);
    const RunResult r = runFastencc({dir.path("part.wav"), dir.path("part.mp3"), "-br", std::to_string(bits)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string mp3 = readFile(dir.path("part.mp3"));
    std::filesystem::remove(dir.path("part.wav"));
    std::filesystem::remove(dir.path("part.mp3"));
    // Without the tag fastencc writes (it names the WAV): the bare stream a joiner would join.
    if (mp3.compare(0, 3, "ID3") != 0 || mp3.size() < 10)
        return mp3;
    std::size_t tag = 10;
    for (int i = 6; i < 10; ++i)
        tag += static_cast<std::size_t>(static_cast<unsigned char>(mp3[i]) & 0x7f) << (7 * (9 - i));
    return mp3.substr(tag);
}

// A free-format MP3 of the test signal, as `lame --freeformat -b 128` writes one.
std::string freeFormat(double seconds)
{
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, 44100);
    lame_set_num_channels(lame, 2);
    lame_set_free_format(lame, 1);
    lame_set_brate(lame, 128);
    lame_set_write_id3tag_automatic(lame, 0);
    EXPECT_GE(lame_init_params(lame), 0);
    const int frames = static_cast<int>(seconds * 44100);
    std::vector<short> left(frames), right(frames);
    for (int i = 0; i < frames; ++i) {
        left[i] = static_cast<short>(signal(0, i, 44100) * 20000);
        right[i] = static_cast<short>(signal(1, i, 44100) * 20000);
    }
    std::vector<unsigned char> out(frames + 100000);
    int size = lame_encode_buffer(lame, left.data(), right.data(), frames, out.data(), static_cast<int>(out.size()));
    size += lame_encode_flush(lame, out.data() + size, static_cast<int>(out.size()) - size);
    lame_close(lame);
    return std::string(reinterpret_cast<char*>(out.data()), static_cast<std::size_t>(size));
}

// Where the Info frame's tag starts in an MP3 that fastencc wrote (it has no ID3v2 tag here).
std::size_t infoTag(const std::string& mp3)
{
    const std::size_t at = mp3.find("Info");
    EXPECT_LT(at, 100u);
    return at;
}

// The Info frame's count of frames, and of bytes, which follows it.
std::uint32_t infoField(const std::string& mp3, int field)
{
    const std::size_t at = infoTag(mp3) + 8 + 4 * static_cast<std::size_t>(field); // after "Info" and its flags
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(mp3[at + i]);
    return value;
}

std::string withInfoField(std::string mp3, int field, std::uint32_t value)
{
    const std::size_t at = infoTag(mp3) + 8 + 4 * static_cast<std::size_t>(field);
    for (int i = 0; i < 4; ++i)
        mp3[at + i] = static_cast<char>(value >> (24 - 8 * i));
    return mp3;
}

std::string withFrameCount(const std::string& mp3, std::uint32_t frames)
{
    return withInfoField(mp3, 0, frames);
}

// The line --facts gives for path (the list goes in on standard input); a hang is cut
// short and gives no line.
std::string factsLine(const TempDir& dir, const std::string& path)
{
    writeFile(dir.path("list"), path + std::string(1, '\0'));
    const std::string command = "timeout -s KILL 20 " + std::string(FASTENCC_PATH) + " --facts < " + dir.path("list")
        + " > " + dir.path("facts");
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::string line = readFile(dir.path("facts"));
    std::filesystem::remove(dir.path("list"));
    std::filesystem::remove(dir.path("facts"));
    return line;
}

double factsSeconds(const TempDir& dir, const std::string& path)
{
    const std::string line = factsLine(dir, path);
    EXPECT_EQ(line.compare(0, 3, "ok\t"), 0) << line;
    return line.size() > 3 ? std::atof(line.c_str() + 3) : -1.0;
}

struct SourceCase {
    const char* name;
    // Writes the source to path; returns the seconds of sound in it, as libmpg123 decodes
    // it (each joined file on its own).
    std::function<double(const TempDir&, const std::string& path)> make;
    bool mayCopy = false; // one clean stream: copying its frames loses nothing
};

void PrintTo(const SourceCase& c, std::ostream* os)
{
    *os << c.name;
}

double seconds(const TempDir& dir, const std::string& mp3)
{
    writeFile(dir.path("probe.mp3"), mp3);
    const double s = decodeMp3(dir.path("probe.mp3")).seconds();
    std::filesystem::remove(dir.path("probe.mp3"));
    return s;
}

// Files joined end to end, each part's length as libmpg123 decodes it on its own.
std::function<double(const TempDir&, const std::string&)> joined(std::vector<std::function<std::string(const TempDir&)>> parts)
{
    return [parts](const TempDir& dir, const std::string& path) {
        std::string bytes;
        double total = 0;
        for (const auto& make : parts) {
            const std::string part = make(dir);
            total += seconds(dir, part);
            bytes += part;
        }
        writeFile(path, bytes);
        return total;
    };
}

std::function<std::string(const TempDir&)> part(int rate, int channels, int bits, double length)
{
    return [=](const TempDir& dir) { return encoded(dir, rate, channels, bits, length); };
}

// The same, between an ID3v2 tag (a title and 2000 bytes of padding) and an ID3v1 tag, as
// tagged files are when joined.
std::function<std::string(const TempDir&)> taggedPart(int rate, int bits, double length)
{
    return [=](const TempDir& dir) {
        std::string frame = std::string("TIT2\x00\x00\x00\x06\x00\x00\x00", 11) + "Title";
        const std::size_t body = frame.size() + 2000;
        const std::string size = {char(body >> 21 & 127), char(body >> 14 & 127), char(body >> 7 & 127), char(body & 127)};
        return std::string("ID3\x03\x00\x00", 6) + size + frame + std::string(2000, '\0')
            + encoded(dir, rate, 2, bits, length) + "TAG" + std::string(125, 'x');
    };
}

} // namespace

// Every case is an MP3 at or below the default bitrate, which a single clean stream would
// have copied: each must come out whole, without a warning, and --facts must give the length
// and (within 1 %) the size that come out. A stream that changes, is free format or carries a lying Info frame is
// encoded, never copied: players stumble over all three.
class WholeSoundTest : public ::testing::TestWithParam<SourceCase> {};

TEST_P(WholeSoundTest, ConvertedWholeAndForecastAlike)
{
    TempDir dir;
    const double expected = GetParam().make(dir, dir.path("in.mp3"));
    ASSERT_GT(expected, 1.0);
    const std::string facts = factsLine(dir, dir.path("in.mp3"));
    ASSERT_EQ(facts.compare(0, 3, "ok\t"), 0) << facts;
    EXPECT_NEAR(std::atof(facts.c_str() + 3), expected, 0.03);
    const std::size_t field = facts.find("\t128000:");
    ASSERT_NE(field, std::string::npos) << facts;
    const double forecast = std::atof(facts.c_str() + field + 8);

    const RunResult r = runFastencc({dir.path("in.mp3"), dir.path("out.mp3")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    if (GetParam().mayCopy && !r.err.empty())
        EXPECT_EQ(r.err, "fastencc: already small: copied, not re-encoded\n");
    else
        EXPECT_TRUE(r.warningLines().empty()) << r.err;
    const Decoded d = decodeMp3(dir.path("out.mp3"));
    ASSERT_TRUE(d.ok);
    EXPECT_NEAR(d.seconds(), expected, 0.03);
    EXPECT_NEAR(forecast, std::filesystem::file_size(dir.path("out.mp3")), forecast / 100) << "bytes forecast";
}

INSTANTIATE_TEST_SUITE_P(Sources, WholeSoundTest,
    ::testing::Values(
        SourceCase {"joined_44k_48k", joined({part(44100, 2, 128000, 2.0), part(48000, 2, 128000, 2.5)})},
        // Another MPEG version, and mono then stereo.
        SourceCase {"joined_22k_mono_44k_stereo", joined({part(22050, 1, 32000, 1.5), part(44100, 2, 128000, 2.0)})},
        SourceCase {"joined_48k_44k_48k", joined({part(48000, 2, 96000, 1.0), part(44100, 2, 96000, 1.0), part(48000, 2, 96000, 1.0)})},
        SourceCase {"joined_tagged_files", joined({taggedPart(44100, 128000, 2.0), taggedPart(48000, 128000, 2.0)})},
        // The same format twice: the first Info frame tells of half the file.
        SourceCase {"joined_same_format", joined({part(44100, 2, 128000, 2.0), part(44100, 2, 128000, 3.0)})},
        SourceCase {"info_frame_claims_too_many_frames",
            [](const TempDir& dir, const std::string& path) {
                const std::string mp3 = encoded(dir, 44100, 2, 128000, 3.0);
                writeFile(path, withFrameCount(mp3, 0x7FFFFFFF));
                return seconds(dir, mp3);
            }},
        SourceCase {"info_frame_claims_twice_the_frames",
            [](const TempDir& dir, const std::string& path) {
                const std::string mp3 = encoded(dir, 44100, 2, 128000, 3.0);
                writeFile(path, withFrameCount(mp3, infoField(mp3, 0) * 2));
                return seconds(dir, mp3);
            }},
        SourceCase {"free_format",
            [](const TempDir& dir, const std::string& path) {
                const std::string mp3 = freeFormat(3.0);
                writeFile(path, mp3);
                return seconds(dir, mp3);
            }},
        // "ID3" with a size far past the end, in front of junk and the stream.
        SourceCase {"behind_a_tag_look_alike",
            [](const TempDir& dir, const std::string& path) {
                const std::string mp3 = encoded(dir, 44100, 2, 128000, 2.0);
                writeFile(path, std::string("ID3\x03\x00\x00\x7f\x7f\x7f\x7f", 10) + randomBytes(3000, 5) + mp3);
                return seconds(dir, mp3);
            },
            true},
        SourceCase {"behind_junk_with_a_tag_look_alike",
            [](const TempDir& dir, const std::string& path) {
                const std::string mp3 = encoded(dir, 44100, 2, 128000, 2.0);
                writeFile(path, randomBytes(2000, 6) + std::string("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10)
                        + randomBytes(3000, 7) + mp3);
                return seconds(dir, mp3);
            },
            true}),
    [](const auto& info) { return std::string(info.param.name); });

// The part at another rate is resampled, not decoded at the wrong speed or with aliasing:
// after the 2 s at 44.1 kHz, the 48 kHz part is the test signal again, sample-aligned.
TEST(JoinedMp3, PartAtAnotherRateIsTheSameSound)
{
    TempDir dir;
    writeFile(dir.path("in.mp3"), encoded(dir, 44100, 2, 128000, 2.0) + encoded(dir, 48000, 2, 128000, 2.0));
    const RunResult r = runFastencc({dir.path("in.mp3"), dir.path("out.mp3"), "-br", "192000"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Decoded d = decodeMp3(dir.path("out.mp3"), true);
    ASSERT_EQ(d.rate, 44100);
    ASSERT_GT(d.pcm.size(), 4 * 44100 - 100u);
    // Away from the join and the ends, where the parts' own fades lie.
    const std::vector<float> second(d.pcm.begin() + 2 * 44100 + 4410, d.pcm.begin() + 4 * 44100 - 4410);
    double energy = 0;
    double error = 0;
    for (std::size_t i = 0; i < second.size(); ++i) {
        const double ref = signal(0, std::int64_t(i) + 4410, 44100);
        energy += ref * ref;
        error += (second[i] - ref) * (second[i] - ref);
    }
    EXPECT_GT(energy / error, 100.0) << "the 48 kHz part is not the test signal at 44.1 kHz";
}

// A joined file cut off in its last part converts what is there and says how much of the
// whole that is; --facts gives what the conversion gives.
TEST(JoinedMp3, CutInItsLastPartSaysSoOfTheWhole)
{
    TempDir dir;
    const std::string first = encoded(dir, 44100, 2, 128000, 2.0);
    const std::string last = encoded(dir, 48000, 2, 128000, 4.0);
    writeFile(dir.path("in.mp3"), first + last.substr(0, last.size() / 2));
    const RunResult r = runFastencc({dir.path("in.mp3"), dir.path("out.mp3")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = r.errLines();
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(lines[0].rfind("fastencc: warning: the source ends early (", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" s of 6.0 s converted)"), std::string::npos) << lines[0];
    const double converted = decodeMp3(dir.path("out.mp3")).seconds();
    EXPECT_NEAR(converted, 4.0, 0.1);
    EXPECT_NEAR(factsSeconds(dir, dir.path("in.mp3")), converted, 0.01);
}

// A source cut off while it is copied is not passed off as copied: the copy is dropped and
// the source encoded as it now is, with the usual warning.
TEST(CopyPath, SourceCutWhileCopiedIsEncodedAndSaysSo)
{
    TempDir dir;
    // One long stream: the Info frame of a short MP3, then its audio frames many times over
    // (16 MB, so that the copy is still going when it is cut), the Info frame's counts made
    // to tell of them all.
    const std::string mp3 = encoded(dir, 44100, 2, 128000, 2.0);
    const auto header = MpegHeader::parse(reinterpret_cast<const std::uint8_t*>(mp3.data()));
    ASSERT_TRUE(header);
    const std::size_t infoLength = static_cast<std::size_t>(header->frameLength());
    std::string stream = mp3.substr(0, infoLength);
    const std::string audio = mp3.substr(infoLength);
    std::uint32_t copies = 0;
    for (; stream.size() < 16u * 1024 * 1024; ++copies)
        stream += audio;
    stream = withInfoField(withInfoField(stream, 0, infoField(mp3, 0) * copies), 1, static_cast<std::uint32_t>(stream.size()));
    writeFile(dir.path("long.mp3"), stream);
    const double whole = factsSeconds(dir, dir.path("long.mp3"));

    RunOptions options;
    options.killAtPercent = 1;
    options.atPercent = [&](int pid) {
        kill(pid, SIGSTOP);
        ASSERT_EQ(truncate(dir.path("long.mp3").c_str(), static_cast<off_t>(stream.size() / 4)), 0);
        kill(pid, SIGCONT);
    };
    const RunResult r = runFastencc({dir.path("long.mp3"), dir.path("out.mp3")}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = r.warningLines();
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(lines[0].rfind("fastencc: warning: the source ends early (", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" s of " + std::to_string(static_cast<int>(whole)) + "."), std::string::npos) << lines[0];
    EXPECT_NEAR(decodeMp3(dir.path("out.mp3")).seconds(), whole / 4, 1.0);
}

// Files that never end or are mostly holes are answered at once, in conversion and in
// --facts: a file of the kernel's (read as root, /proc/kmsg waits for ever), a sparse file
// of 16 GB, and an MP3 with a 16 GB hole inside (a download that stopped part way).
TEST(BoundedReading, EndlessAndSparseFilesAreAnsweredAtOnce)
{
    TempDir dir;
    const std::string mp3 = encoded(dir, 44100, 2, 128000, 2.0);
    const off_t hole = off_t(16) << 30;
    {
        const int fd = open(dir.path("sparse.mp3").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, hole), 0);
        close(fd);
    }
    {
        const int fd = open(dir.path("holed.mp3").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, mp3.data(), mp3.size()), static_cast<ssize_t>(mp3.size()));
        ASSERT_EQ(pwrite(fd, mp3.data(), mp3.size(), hole), static_cast<ssize_t>(mp3.size()));
        close(fd);
    }
    RunOptions options;
    options.timeoutSeconds = 20;
    const auto start = std::chrono::steady_clock::now();
    expectOneErrorLine(runFastencc({dir.path("sparse.mp3"), dir.path("out.mp3")}, options), "is not an audio file");
    const RunResult holed = runFastencc({dir.path("holed.mp3"), dir.path("out.mp3")}, options);
    ASSERT_EQ(holed.exitCode, 0) << holed.err;
    EXPECT_NEAR(decodeMp3(dir.path("out.mp3")).seconds(), 2 * seconds(dir, mp3), 0.03);
    EXPECT_NEAR(factsSeconds(dir, dir.path("holed.mp3")), 2 * seconds(dir, mp3), 0.03);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // Only root may read it; anyone else is refused by the kernel, also at once.
    if (access("/proc/kmsg", R_OK) == 0) {
        expectOneErrorLine(runFastencc({"/proc/kmsg", dir.path("kmsg.mp3")}, options), "/proc/kmsg is not an audio file");
        EXPECT_EQ(factsLine(dir, "/proc/kmsg"), "error\t/proc/kmsg is not an audio file\n");
    }
}
