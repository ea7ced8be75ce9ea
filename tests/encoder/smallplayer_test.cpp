// What fastencc does for small players: an MP3 already small enough is copied instead of
// re-encoded, the forecast of --facts matches the real outputs, large covers are scaled to
// 600 x 600 baseline JPEGs, and a full target folder says so with its own exit status.

#include "testsupport.h"

#include <lame/lame.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <vips/vips.h>

#include <dirent.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>

using namespace enctest;

namespace {

const char kCopied[] = "fastencc: already small: copied, not re-encoded";

std::string wav(const TempDir& dir, const std::string& name, double seconds, int channels = 2, int rate = 44100)
{
    WavSpec spec;
    spec.seconds = seconds;
    spec.channels = channels;
    spec.rate = rate;
    writeWav(dir.path(name), spec);
    return dir.path(name);
}

// A constant-bitrate MP3 made by fastencc itself.
std::string cbrMp3(const TempDir& dir, const std::string& name, int bits, bool mono, double seconds = 3.0)
{
    const std::string source = wav(dir, name + ".wav", seconds, mono ? 1 : 2);
    std::vector<std::string> args = {source, dir.path(name), "-br", std::to_string(bits)};
    const RunResult r = runFastencc(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::remove(source.c_str());
    return dir.path(name);
}

// A variable-bitrate MP3 (LAME's average bitrate mode) with LAME's Xing frame, as an encoder
// that is not fastencc writes one.
std::string vbrMp3(const TempDir& dir, const std::string& name, int averageKbps, double seconds = 4.0)
{
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, 44100);
    lame_set_num_channels(lame, 2);
    lame_set_VBR(lame, vbr_abr);
    lame_set_VBR_mean_bitrate_kbps(lame, averageKbps);
    lame_set_bWriteVbrTag(lame, 1);
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
    unsigned char tag[2880];
    const std::size_t tagSize = lame_get_lametag_frame(lame, tag, sizeof tag);
    std::copy(tag, tag + tagSize, out.begin()); // over the placeholder at the start
    lame_close(lame);
    writeFile(dir.path(name), std::string(reinterpret_cast<char*>(out.data()), static_cast<std::size_t>(size)));
    return dir.path(name);
}

// The bytes after an ID3v2 tag at the start and before an ID3v1 tag at the end: the frames.
std::string framesOf(const std::string& mp3)
{
    std::string bytes = readFile(mp3);
    if (bytes.size() >= 10 && bytes.compare(0, 3, "ID3") == 0) {
        const auto b = [&](int i) { return static_cast<std::size_t>(static_cast<unsigned char>(bytes[i])); };
        bytes.erase(0, 10 + ((b(6) << 21) | (b(7) << 14) | (b(8) << 7) | b(9)));
    }
    if (bytes.size() >= 128 && bytes.compare(bytes.size() - 128, 3, "TAG") == 0)
        bytes.resize(bytes.size() - 128);
    return bytes;
}

void setCover(const std::string& mp3, const std::string& picture, const char* mime)
{
    TagLib::MPEG::File file(mp3.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->setTitle("Small Player Song");
    tag->setArtist("Vardune");
    auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setMimeType(mime);
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(TagLib::ByteVector(picture.data(), static_cast<unsigned>(picture.size())));
    tag->addFrame(frame);
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2 | TagLib::MPEG::File::ID3v1));
}

std::string coverOf(const std::string& mp3)
{
    TagLib::MPEG::File file(mp3.c_str());
    if (!file.ID3v2Tag())
        return {};
    const auto frames = file.ID3v2Tag()->frameList("APIC");
    if (frames.isEmpty())
        return {};
    const auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frames.front());
    return std::string(apic->picture().data(), apic->picture().size());
}

// A picture of coloured noise (it compresses badly, as a photograph does).
std::string picture(int width, int height, bool png, bool progressive)
{
    // Stopped again before the process ends: the leak check cannot look at threads that are
    // torn down under it.
    static const bool started = VIPS_INIT("smallplayer_test") == 0 && std::atexit(vips_shutdown) == 0;
    EXPECT_TRUE(started);
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
    unsigned state = 12345;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        state = state * 1103515245u + 12345u;
        pixels[i] = static_cast<unsigned char>((i / 3 % width) * 255 / width / 2 + (state >> 25));
    }
    VipsImage* image = vips_image_new_from_memory(pixels.data(), pixels.size(), width, height, 3, VIPS_FORMAT_UCHAR);
    void* buffer = nullptr;
    std::size_t length = 0;
    const int failed = png ? vips_pngsave_buffer(image, &buffer, &length, "compression", 1, nullptr)
                           : vips_jpegsave_buffer(image, &buffer, &length, "Q", 90, "interlace", progressive ? TRUE : FALSE, nullptr);
    g_object_unref(image);
    EXPECT_EQ(failed, 0) << vips_error_buffer();
    std::string bytes(static_cast<char*>(buffer), length);
    g_free(buffer);
    return bytes;
}

// A picture of one colour, cheap to make at any size.
std::string flatPicture(int width, int height, bool progressive)
{
    picture(1, 1, false, false); // libvips started
    VipsImage* image = nullptr;
    EXPECT_EQ(vips_black(&image, width, height, "bands", 3, nullptr), 0);
    void* buffer = nullptr;
    std::size_t length = 0;
    // Below quality 90 libvips halves the colour planes, as most cameras' JPEGs do.
    const int failed = vips_jpegsave_buffer(image, &buffer, &length, "Q", 80, "interlace", progressive ? TRUE : FALSE, nullptr);
    g_object_unref(image);
    EXPECT_EQ(failed, 0) << vips_error_buffer();
    std::string bytes(static_cast<char*>(buffer), length);
    g_free(buffer);
    return bytes;
}

struct JpegShape {
    int width = 0;
    int height = 0;
    bool baseline = false;
    bool progressive = false;
};

JpegShape shapeOf(const std::string& jpeg)
{
    JpegShape shape;
    if (jpeg.size() < 4 || static_cast<unsigned char>(jpeg[0]) != 0xFF || static_cast<unsigned char>(jpeg[1]) != 0xD8)
        return shape;
    std::size_t pos = 2;
    while (pos + 9 < jpeg.size() && static_cast<unsigned char>(jpeg[pos]) == 0xFF) {
        const unsigned marker = static_cast<unsigned char>(jpeg[pos + 1]);
        const auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(jpeg[pos + i])); };
        if (marker == 0xC0 || marker == 0xC2) {
            shape.baseline = marker == 0xC0;
            shape.progressive = marker == 0xC2;
            shape.height = static_cast<int>((byte(5) << 8) | byte(6));
            shape.width = static_cast<int>((byte(7) << 8) | byte(8));
            return shape;
        }
        pos += 2 + ((byte(2) << 8) | byte(3));
    }
    return shape;
}

} // namespace

// Which sources are copied and which encoded, at the program's default quality (96 kbit/s).
TEST(NeverGrow, CopiesOnlyWhatIsAlreadySmallEnough)
{
    TempDir dir;
    const struct Case {
        const char* name;
        std::function<std::string()> make;
        std::vector<std::string> options;
        bool copied;
        int channels;
    } cases[] = {
        {"64k stereo at 96k", [&] { return cbrMp3(dir, "s64.mp3", 64000, false); }, {"-br", "96000"}, true, 2},
        {"64k stereo at 64k", [&] { return cbrMp3(dir, "s64b.mp3", 64000, false); }, {"-br", "64000"}, true, 2},
        {"128k stereo at 96k", [&] { return cbrMp3(dir, "s128.mp3", 128000, false); }, {"-br", "96000"}, false, 2},
        {"96k stereo, mono asked", [&] { return cbrMp3(dir, "s96.mp3", 96000, false); }, {"-br", "96000", "-dm"}, false, 1},
        {"64k mono, mono asked", [&] { return cbrMp3(dir, "m64.mp3", 64000, true); }, {"-br", "96000", "-dm"}, true, 1},
        {"VBR averaging 80k at 96k", [&] { return vbrMp3(dir, "vbr80.mp3", 80); }, {"-br", "96000"}, true, 2},
        {"WAV at 96k", [&] { return wav(dir, "in.wav", 2.0); }, {"-br", "96000"}, false, 2},
        {"64k with -reencode", [&] { return cbrMp3(dir, "r64.mp3", 64000, false); }, {"-br", "96000", "-reencode"}, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = c.make();
        std::vector<std::string> args = {source, dir.path("out.mp3")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = runFastencc(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const Decoded d = decodeMp3(dir.path("out.mp3"));
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.channels, c.channels);
        if (c.copied) {
            ASSERT_EQ(r.errLines(), std::vector<std::string>{kCopied});
            EXPECT_EQ(framesOf(dir.path("out.mp3")), framesOf(source)) << "the audio frames are not the source's";
            // Never larger than the source, but for the mark that names it (in a tag of its
            // own, with its 10-byte header, where the source has none).
            const std::string out = readFile(dir.path("out.mp3"));
            EXPECT_LE(out.size(), readFile(source).size() + markSize(out) + 10);
        } else {
            EXPECT_TRUE(r.err.empty()) << r.err;
            EXPECT_EQ(d.bitratesKbps, std::set<int>{96});
        }
        std::remove(dir.path("out.mp3").c_str());
    }
}

// A copied file carries the source's tags as an encoding does, and its output never grows
// even when the source had its tags in ID3v1 and APE form.
TEST(NeverGrow, CopyCarriesTheTagsAndNoPadding)
{
    TempDir dir;
    const std::string source = cbrMp3(dir, "tagged.mp3", 64000, false);
    {
        TagLib::MPEG::File file(source.c_str());
        file.ID3v1Tag(true)->setTitle("Old Title");
        file.ID3v1Tag(true)->setArtist("Old Artist");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers));
    }
    const RunResult r = runFastencc({source, dir.path("out.mp3"), "-br", "96000"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.errLines(), std::vector<std::string>{kCopied});
    TagLib::MPEG::File out(dir.path("out.mp3").c_str());
    ASSERT_NE(out.ID3v2Tag(), nullptr);
    EXPECT_EQ(out.ID3v2Tag()->title(), "Old Title");
    EXPECT_EQ(out.ID3v2Tag()->artist(), "Old Artist");
    const std::string copy = readFile(dir.path("out.mp3"));
    EXPECT_LE(copy.size(), readFile(source).size() + markSize(copy));
}

// --facts: for each source and each of the program's qualities, stereo and mono, the size it
// forecasts is within 1 % of the output the conversion then writes.
TEST(Forecast, WithinOnePercentOfTheRealOutput)
{
    TempDir dir;
    std::vector<std::string> sources = {
        wav(dir, "stereo.wav", 8.0),
        wav(dir, "mono22.wav", 7.0, 1, 22050),
        cbrMp3(dir, "cbr128.mp3", 128000, false, 8.0),
        cbrMp3(dir, "cbr64.mp3", 64000, false, 8.0),
        vbrMp3(dir, "vbr80.mp3", 80, 8.0),
        dir.path("flac.flac"),
    };
    writeWithSndfile(sources.back(), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, 8.0);
    setCover(sources[2], picture(300, 300, false, false), "image/jpeg");
    // Scaled in every output, copied or encoded: a fine-grained one, far from any rule of thumb.
    setCover(sources[3], picture(800, 800, false, false), "image/jpeg");

    std::string input;
    for (const std::string& s : sources)
        input += s + '\0';
    writeFile(dir.path("list"), input);
    // The list goes in on standard input.
    const std::string command = std::string(FASTENCC_PATH) + " --facts < " + dir.path("list") + " > " + dir.path("facts");
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::istringstream lines(readFile(dir.path("facts")));
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        ASSERT_EQ(line.compare(0, 3, "ok\t"), 0) << line;
        std::map<int, std::pair<double, double>> forecast;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) {
            int bits = 0;
            long long stereo = 0, mono = 0;
            if (std::sscanf(field.c_str(), "%d:%lld:%lld", &bits, &stereo, &mono) == 3)
                forecast[bits] = {static_cast<double>(stereo), static_cast<double>(mono)};
        }
        for (const int bits : {16000, 32000, 64000, 96000, 128000}) {
            for (const bool mono : {false, true}) {
                std::vector<std::string> args = {source, dir.path("out.mp3"), "-br", std::to_string(bits)};
                if (mono)
                    args.push_back("-dm");
                std::remove(dir.path("out.mp3").c_str()); // another source's output is never replaced
                ASSERT_EQ(runFastencc(args).exitCode, 0);
                const double real = static_cast<double>(readFile(dir.path("out.mp3")).size());
                const double expected = mono ? forecast[bits].second : forecast[bits].first;
                EXPECT_NEAR(expected, real, real * 0.01) << bits << (mono ? " mono" : " stereo");
            }
        }
    }
    EXPECT_FALSE(std::getline(lines, input)) << "more lines than sources";
}

// A stream whose frames average just above 96 kbit/s: every 40th frame of a 96 kbit/s one
// raised to 112 kbit/s (its header, and 72 bytes more), the Info frame's byte count set to
// match. Judged by its byte count alone it passes for 96 kbit/s with padding; its frames say
// 96.4, so the conversion encodes it, and the forecast must reckon with an encoding too.
TEST(Forecast, DecidesCopyOrEncodeAsTheConversionDoes)
{
    TempDir dir;
    const std::string base = readFile(cbrMp3(dir, "base.mp3", 96000, false, 30.0));
    std::size_t start = 0;
    if (base.compare(0, 3, "ID3") == 0)
        start = 10 + ((base[6] & 0x7F) << 21 | (base[7] & 0x7F) << 14 | (base[8] & 0x7F) << 7 | (base[9] & 0x7F));
    constexpr std::size_t kFrame = 432; // 96 kbit/s at 32 kHz: never padded
    ASSERT_EQ(static_cast<unsigned char>(base[start + 2]) >> 4, 7) << "not 96 kbit/s";
    std::string stream = base.substr(start, kFrame); // the Info frame
    std::size_t pos = start + kFrame;
    for (int n = 0; pos + kFrame <= base.size() && static_cast<unsigned char>(base[pos]) == 0xFF; pos += kFrame, ++n) {
        std::string frame = base.substr(pos, kFrame);
        if (n % 40 == 20) {
            frame[2] = static_cast<char>((frame[2] & 0x0F) | 0x80); // bitrate index 8: 112 kbit/s
            frame.append(72, '\0');
        }
        stream += frame;
    }
    const std::size_t info = stream.find("Info");
    ASSERT_NE(info, std::string::npos);
    ASSERT_EQ(stream[info + 7] & 3, 3) << "no frame and byte counts";
    for (int i = 0; i < 4; ++i)
        stream[info + 12 + i] = static_cast<char>(stream.size() >> (24 - 8 * i));
    const std::string source = dir.path("vbr96.4.mp3");
    writeFile(source, base.substr(0, start) + stream + base.substr(pos));

    writeFile(dir.path("list"), source + '\0');
    const std::string command = std::string(FASTENCC_PATH) + " --facts < " + dir.path("list") + " > " + dir.path("facts");
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string facts = readFile(dir.path("facts"));
    const std::size_t field = facts.find("\t96000:");
    ASSERT_NE(field, std::string::npos) << facts;
    const double forecast = std::atof(facts.c_str() + field + 7);

    const RunResult r = runFastencc({source, dir.path("out.mp3"), "-br", "96000"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("already small"), std::string::npos) << "copied: " << r.err;
    const double real = static_cast<double>(readFile(dir.path("out.mp3")).size());
    const double copy = static_cast<double>(readFile(source).size());
    EXPECT_LT(std::fabs(forecast - real), std::fabs(copy - real) / 2) << "forecast " << forecast << ", output " << real
                                                                      << ", a copy " << copy;
}

// Every record on standard input gets exactly one line, whatever it names.
TEST(Forecast, AnswersEveryRecordInOrder)
{
    TempDir dir;
    const std::string good = wav(dir, "good.wav", 1.0);
    writeFile(dir.path("text.wav"), "not audio at all, only words");
    std::string input = good + '\0' + dir.path("missing.mp3") + '\0' + dir.root() + '\0' + '\0'
        + std::string(10000, 'x') + '\0' + dir.path("text.wav") + '\0' + good; // the last without its NUL
    writeFile(dir.path("list"), input);
    const std::string command = std::string(FASTENCC_PATH) + " --facts < " + dir.path("list") + " > " + dir.path("facts");
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::istringstream lines(readFile(dir.path("facts")));
    std::vector<std::string> kinds;
    for (std::string line; std::getline(lines, line);)
        kinds.push_back(line.substr(0, line.find('\t')));
    EXPECT_EQ(kinds, (std::vector<std::string> {"ok", "error", "error", "error", "error", "error", "ok"}));
}

// Covers: large or heavy pictures become baseline JPEGs within 600 x 600, on the encoding and
// on the copy path; a small one stays byte for byte.
TEST(Covers, LargeOnesAreScaledSmallOnesKept)
{
    TempDir dir;
    const std::string bigJpeg = picture(3000, 3000, false, true);
    const std::string heavyPng = picture(1200, 1200, true, false);
    const std::string small = picture(300, 300, false, false);
    // Decoding a progressive JPEG holds all its coefficients: 108 MB for this one.
    const std::string hugeProgressive = flatPicture(6000, 6000, true);
    ASSERT_GT(heavyPng.size(), 4000000u);
    ASSERT_TRUE(shapeOf(bigJpeg).progressive);
    ASSERT_TRUE(shapeOf(hugeProgressive).progressive);
    enum Outcome { Scaled, Kept, LeftOut };
    const struct {
        const char* name;
        const std::string& picture;
        const char* mime;
        Outcome outcome;
    } cases[] = {
        {"3000 x 3000 progressive JPEG", bigJpeg, "image/jpeg", Scaled},
        {"4 MB PNG", heavyPng, "image/png", Scaled},
        {"300 x 300 JPEG", small, "image/jpeg", Kept},
        {"6000 x 6000 progressive JPEG", hugeProgressive, "image/jpeg", LeftOut},
    };
    for (const auto& c : cases) {
        for (const int sourceBits : {128000, 64000}) { // encoded, and copied
            SCOPED_TRACE(std::string(c.name) + (sourceBits == 64000 ? " (copied)" : " (encoded)"));
            const std::string source = cbrMp3(dir, "covered.mp3", sourceBits, false, 1.0);
            setCover(source, c.picture, c.mime);
            const RunResult r = runFastencc({source, dir.path("out.mp3"), "-br", "96000"}, RunOptions {});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const std::string cover = coverOf(dir.path("out.mp3"));
            if (c.outcome == Kept) {
                EXPECT_EQ(cover, c.picture);
                continue;
            }
            if (c.outcome == LeftOut) {
                EXPECT_TRUE(cover.empty());
#if !defined(__SANITIZE_ADDRESS__) // its allocator keeps freed memory
                EXPECT_LT(r.peakKiB, 100 * 1024) << "peak memory";
#endif
                continue;
            }
            const JpegShape shape = shapeOf(cover);
            EXPECT_TRUE(shape.baseline);
            EXPECT_GT(shape.width, 0);
            EXPECT_LE(shape.width, 600);
            EXPECT_LE(shape.height, 600);
            EXPECT_EQ(std::max(shape.width, shape.height), 600); // fitted, not shrunk further
            EXPECT_LE(cover.size(), 300000u);
        }
    }
}

// A target folder that runs out of room fails the conversion with exit status 3, and leaves
// nothing behind. Needs a small file system of its own: a tmpfs mounted for the test.
TEST(FolderFull, ExitStatusThreeAndNothingLeft)
{
    TempDir dir;
    const std::string mountPoint = dir.path("small");
    mkdir(mountPoint.c_str(), 0755);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights): " << std::strerror(errno);
    const std::string source = wav(dir, "long.wav", 20.0);
    const RunResult r = runFastencc({source, mountPoint + "/out.mp3", "-br", "96000"});
    EXPECT_EQ(r.exitCode, 3);
    expectOneErrorLine(r, "No space left on device");
    DIR* folder = opendir(mountPoint.c_str());
    int entries = 0;
    while (const dirent* e = readdir(folder))
        entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    closedir(folder);
    EXPECT_EQ(entries, 0);
    umount2(mountPoint.c_str(), MNT_DETACH);
}
