// What fastencc does for small players: an MP3 already small enough is copied instead of
// re-encoded, the forecast of --facts matches the real outputs, large covers are scaled to
// 600 x 600 baseline JPEGs, and a full target folder says so with its own exit status.

#include "testsupport.h"

#include <lame/lame.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>
#include <vips/vips.h>

#include <dirent.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
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
    startVips();
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
    startVips();
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
        int encodedKbps = 96;
    } cases[] = {
        {"64k stereo at 96k", [&] { return cbrMp3(dir, "s64.mp3", 64000, false); }, {"-br", "96000"}, true, 2},
        {"64k stereo at 64k", [&] { return cbrMp3(dir, "s64b.mp3", 64000, false); }, {"-br", "64000"}, true, 2},
        {"128k stereo at 96k", [&] { return cbrMp3(dir, "s128.mp3", 128000, false); }, {"-br", "96000"}, false, 2},
        {"96k stereo, mono asked", [&] { return cbrMp3(dir, "s96.mp3", 96000, false); }, {"-br", "96000", "-dm"}, false, 1},
        {"64k mono, mono asked", [&] { return cbrMp3(dir, "m64.mp3", 64000, true); }, {"-br", "96000", "-dm"}, true, 1},
        {"VBR averaging 80k at 96k", [&] { return vbrMp3(dir, "vbr80.mp3", 80); }, {"-br", "96000"}, true, 2},
        {"WAV at 96k", [&] { return wav(dir, "in.wav", 2.0); }, {"-br", "96000"}, false, 2},
        // Encoded, not copied, and still never larger.
        {"64k with -reencode", [&] { return cbrMp3(dir, "r64.mp3", 64000, false); }, {"-br", "96000", "-reencode"}, false, 2, 64},
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
            if (c.encodedKbps == 96)
                EXPECT_TRUE(r.err.empty()) << r.err;
            else
                EXPECT_EQ(r.errLines(), std::vector<std::string>{"fastencc: kept at " + std::to_string(c.encodedKbps)
                                                                 + " kbit/s: the source is smaller than 96 kbit/s"});
            EXPECT_EQ(d.bitratesKbps, std::set<int>{c.encodedKbps});
        }
        std::remove(dir.path("out.mp3").c_str());
    }
}

namespace {

// A layer II stream (MPEG-1, 48 kHz, stereo, 64 kbit/s) of silence, made here frame by frame:
// every subband's bit allocation is 0.
std::string mp2Silence(double seconds)
{
    std::string frame(192, '\0');
    frame[0] = '\xFF';
    frame[1] = '\xFD'; // MPEG-1 layer II, no CRC
    frame[2] = '\x44'; // 64 kbit/s, 48 kHz
    std::string stream;
    for (int i = 0; i < static_cast<int>(seconds * 48000 / 1152); ++i)
        stream += frame;
    return stream;
}

// The playing time of a source as libsndfile or libmpg123 decodes it.
double secondsOf(const std::string& path)
{
    SF_INFO info {};
    if (SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info)) {
        sf_close(f);
        if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG)
            return static_cast<double>(info.frames) / info.samplerate;
    }
    return decodeMp3(path).seconds();
}

// The fields of a --facts line: bits per second to the forecast bytes, stereo and mono.
std::map<int, std::pair<double, double>> forecastFields(const std::string& line)
{
    std::map<int, std::pair<double, double>> forecast;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) {
        int bits = 0;
        long long stereo = 0, mono = 0;
        if (std::sscanf(field.c_str(), "%d:%lld:%lld", &bits, &stereo, &mono) == 3)
            forecast[bits] = {static_cast<double>(stereo), static_cast<double>(mono)};
    }
    return forecast;
}

} // namespace

// Never a larger file, whatever the source: at each of the program's qualities the output's
// bitrate is at most the source's own average (its size over its playing time), the output
// is no larger than the source, a bitrate kept below the one asked says so, and --facts
// forecasts what is then written.
TEST(NeverGrow, NoSourceGrowsAtAnyQuality)
{
    TempDir dir;
    // Lossy sources of about 50 kbit/s, and the same Vorbis file with a cover in its comment
    // that takes more room than its sound: its sound's average is the plain file's.
    writeWithSndfile(dir.path("vorbis.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, 4.0, 0.6);
    writeWithSndfile(dir.path("opus.opus"), SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2, 4.0, 0.92);
    const std::string jpeg = picture(300, 300, false, false);
    const auto cover = [&] {
        auto* picture = new TagLib::FLAC::Picture;
        picture->setData(TagLib::ByteVector(jpeg.data(), static_cast<unsigned>(jpeg.size())));
        picture->setMimeType("image/jpeg");
        picture->setType(TagLib::FLAC::Picture::FrontCover);
        return picture;
    };
    writeFile(dir.path("covered.ogg"), readFile(dir.path("vorbis.ogg")));
    {
        TagLib::Ogg::Vorbis::File file(dir.path("covered.ogg").c_str());
        file.tag()->addPicture(cover());
        ASSERT_TRUE(file.save());
    }
    // Low-rate PCM in the other containers: AIFF, and FLAC (whose sound averages less than
    // its PCM) with a cover in a metadata block.
    writeWithSndfile(dir.path("pcm8.aiff"), SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 8000, 1, 4.0);
    writeWithSndfile(dir.path("flac.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 4.0);
    writeFile(dir.path("covered.flac"), readFile(dir.path("flac.flac")));
    {
        TagLib::FLAC::File file(dir.path("covered.flac").c_str());
        file.addPicture(cover());
        ASSERT_TRUE(file.save());
    }
    writeFile(dir.path("layer2.mp2"), mp2Silence(4.0));
    writeWithSndfile(dir.path("ulaw.wav"), SF_FORMAT_WAV | SF_FORMAT_ULAW, 8000, 1, 4.0);
    WavSpec pcm8;
    pcm8.rate = 8000;
    pcm8.channels = 1;
    pcm8.bits = 8;
    pcm8.seconds = 4.0;
    writeWav(dir.path("pcm8.wav"), pcm8);
    const struct Case {
        std::string name;
        bool mono;
        std::string averageOf; // the file whose size over its playing time is the sound's average
    } cases[] = {
        {"vorbis.ogg", false, "vorbis.ogg"}, {"covered.ogg", false, "vorbis.ogg"}, {"opus.opus", false, "opus.opus"},
        {"layer2.mp2", false, "layer2.mp2"}, {"ulaw.wav", false, "ulaw.wav"}, {"pcm8.wav", false, "pcm8.wav"},
        {"pcm8.aiff", false, "pcm8.aiff"}, {"covered.flac", false, "flac.flac"},
        // Not copied: it is stereo and mono is asked.
        {"s64.mp3", true, "s64.mp3"},
    };
    cbrMp3(dir, "s64.mp3", 64000, false, 4.0);

    std::string list;
    for (const Case& c : cases)
        list += dir.path(c.name) + '\0';
    writeFile(dir.path("list"), list);
    const std::string command = std::string(FASTENCC_PATH) + " --facts < " + dir.path("list") + " > " + dir.path("facts");
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::istringstream facts(readFile(dir.path("facts")));

    for (const Case& c : cases) {
        const std::string source = dir.path(c.name);
        const double sourceBytes = static_cast<double>(readFile(source).size());
        const double average = static_cast<double>(readFile(dir.path(c.averageOf)).size()) * 8 / secondsOf(source);
        std::string line;
        ASSERT_TRUE(std::getline(facts, line));
        const auto forecast = forecastFields(line);
        for (const int kbps : {96, 64, 32, 16}) {
            SCOPED_TRACE(c.name + " at " + std::to_string(kbps) + " kbit/s, averaging " + std::to_string(average));
            std::filesystem::remove(dir.path("out.mp3")); // an output of the case before stands there
            std::vector<std::string> args = {source, dir.path("out.mp3"), "-br", std::to_string(kbps * 1000)};
            if (c.mono)
                args.push_back("-dm");
            const RunResult r = runFastencc(args);
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const Decoded d = decodeMp3(dir.path("out.mp3"));
            ASSERT_TRUE(d.ok);
            ASSERT_EQ(d.bitratesKbps.size(), 1u);
            const int written = *d.bitratesKbps.begin();
            EXPECT_LE(written * 1000, average);
            const double outBytes = static_cast<double>(readFile(dir.path("out.mp3")).size());
            EXPECT_LE(outBytes, sourceBytes);
            if (written < kbps)
                EXPECT_EQ(r.errLines(), std::vector<std::string>{"fastencc: kept at " + std::to_string(written)
                                                                 + " kbit/s: the source is smaller than " + std::to_string(kbps) + " kbit/s"});
            else
                EXPECT_TRUE(r.err.empty()) << r.err;
            const auto field = forecast.find(kbps * 1000);
            ASSERT_NE(field, forecast.end()) << line;
            EXPECT_NEAR(c.mono ? field->second.second : field->second.first, outBytes, outBytes * 0.01);
        }
    }
}

// A source that averages less than the lowest bitrate LAME writes: that lowest, at the lowest
// sample rate LAME picks for it, and the line says so.
TEST(NeverGrow, BelowTheLowestBitrateTheLowestIsWritten)
{
    TempDir dir;
    const std::string source = dir.path("low.ogg");
    writeWithSndfile(source, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 8000, 1, 30.0, 1.0);
    const double average = static_cast<double>(readFile(source).size()) * 8 / secondsOf(source);
    ASSERT_LT(average, 8000);
    const RunResult r = runFastencc({source, dir.path("out.mp3"), "-br", "96000"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.errLines(), std::vector<std::string>{"fastencc: kept at 8 kbit/s: the source is smaller than 96 kbit/s"});
    const Decoded d = decodeMp3(dir.path("out.mp3"));
    EXPECT_EQ(d.bitratesKbps, std::set<int>{8});
    EXPECT_EQ(d.rate, 8000);
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
    // Cut short: it would decode to a picture grey or black below the cut.
    const std::string cutPng = heavyPng.substr(0, heavyPng.size() / 2);
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
        {"4 MB PNG cut in half", cutPng, "image/png", LeftOut},
    };
    for (const auto& c : cases) {
        for (const int sourceBits : {128000, 64000}) { // encoded, and copied
            SCOPED_TRACE(std::string(c.name) + (sourceBits == 64000 ? " (copied)" : " (encoded)"));
            const std::string source = cbrMp3(dir, "covered.mp3", sourceBits, false, 1.0);
            setCover(source, c.picture, c.mime);
            RunOptions alone;
            alone.ownPeak = true;
            const RunResult r = runFastencc({source, dir.path("out.mp3"), "-br", "96000"}, alone);
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

// A folder's cover goes along by the same rule, and never over a file that stands there.
TEST(Covers, FolderPictureFittedAndNeverOverAFile)
{
    TempDir dir;
    const auto half = [](const std::string& bytes) { return bytes.substr(0, bytes.size() / 2); };
    const struct {
        const char* name;
        std::string picture;
        int status;
    } cases[] = {
        {"3000 x 3000 progressive JPEG", picture(3000, 3000, false, true), 0},
        {"4 MB PNG", picture(1200, 1200, true, false), 0},
        {"6000 x 6000 progressive JPEG", flatPicture(6000, 6000, true), 1},
        {"no picture", randomBytes(5000, 7), 1},
        // A picture that does not decode whole is refused, not written blank below the cut.
        {"3000 x 3000 PNG, its first 200 bytes", picture(3000, 3000, true, false).substr(0, 200), 1},
        {"4 MB PNG cut in half", half(picture(1200, 1200, true, false)), 1},
        {"3000 x 3000 progressive JPEG cut in half", half(picture(3000, 3000, false, true)), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.path("cover"), c.picture);
        const RunResult r = runFastencc({"--picture", dir.path("cover"), dir.path("folder.jpg")});
        EXPECT_EQ(r.exitCode, c.status) << r.err;
        if (c.status != 0) {
            expectOneErrorLine(r, "cannot read the picture");
            EXPECT_EQ(dir.files(), std::vector<std::string>({"cover"}));
            continue;
        }
        const JpegShape shape = shapeOf(readFile(dir.path("folder.jpg")));
        EXPECT_TRUE(shape.baseline);
        EXPECT_EQ(std::max(shape.width, shape.height), 600);
        // The picture is the user's once written: a second batch leaves it, status 4.
        const RunResult again = runFastencc({"--picture", dir.path("cover"), dir.path("folder.jpg")});
        EXPECT_EQ(again.exitCode, 4) << again.err;
        std::remove(dir.path("folder.jpg").c_str());
    }
    // Not a regular file: nothing waits on a FIFO.
    ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
    const RunResult fifo = runFastencc({"--picture", dir.path("fifo"), dir.path("folder.jpg")});
    expectOneErrorLine(fifo, "not a regular file");
}

namespace {

std::string littleEndian(unsigned value, int bytes)
{
    std::string s;
    for (int i = 0; i < bytes; ++i)
        s.push_back(static_cast<char>(value >> (8 * i)));
    return s;
}

std::string bigEndian(unsigned value, int bytes)
{
    std::string s;
    for (int i = bytes - 1; i >= 0; --i)
        s.push_back(static_cast<char>(value >> (8 * i)));
    return s;
}

std::string saved(VipsImage* image, const std::function<int(VipsImage*, void**, std::size_t*)>& save)
{
    void* buffer = nullptr;
    std::size_t length = 0;
    const int failed = save(image, &buffer, &length);
    g_object_unref(image);
    EXPECT_EQ(failed, 0) << vips_error_buffer();
    std::string bytes(static_cast<char*>(buffer), length);
    g_free(buffer);
    return bytes;
}

VipsImage* black(int width, int height, int bands)
{
    startVips();
    VipsImage* image = nullptr;
    EXPECT_EQ(vips_black(&image, width, height, "bands", bands, nullptr), 0);
    return image;
}

// A GIF whose logical screen is 10 x 10 and whose one frame is side x side, its pixels a clear
// code and an end code; a comment fills it up to at least bytes.
std::string gifWithHugeFrame(int side, std::size_t bytes)
{
    std::string gif = "GIF89a" + littleEndian(10, 2) + littleEndian(10, 2) + std::string("\x80\x00\x00", 3)
        + std::string("\x00\x00\x00\xFF\xFF\xFF", 6);
    while (gif.size() < bytes) {
        gif += "\x21\xFE";
        for (int block = 0; block < 200; ++block)
            gif += '\xFF' + std::string(255, 'c');
        gif += '\0';
    }
    gif += ',' + littleEndian(0, 2) + littleEndian(0, 2) + littleEndian(side, 2) + littleEndian(side, 2) + '\0';
    gif += std::string("\x02\x02\x4C\x01\x00", 5) + ';';
    return gif;
}

// A progressive JPEG of 64 x 64 pixels whose frame header says side x side, with a stray
// byte after its first segment and comments that bring it over 300 KB.
std::string progressiveJpegClaiming(int side)
{
    std::string jpeg = flatPicture(64, 64, true);
    const std::size_t first = 2 + 2 + ((static_cast<unsigned char>(jpeg[4]) << 8) | static_cast<unsigned char>(jpeg[5]));
    std::string comments;
    for (int i = 0; i < 5; ++i)
        comments += "\xFF\xFE" + bigEndian(65000, 2) + std::string(64998, 'c');
    jpeg.insert(first, '\0' + comments);
    const std::size_t frame = jpeg.find("\xFF\xC2");
    EXPECT_NE(frame, std::string::npos);
    jpeg.replace(frame + 5, 4, bigEndian(side, 2) + bigEndian(side, 2));
    return jpeg;
}

// A WebP, lossless, of one colour: every pixel is coded in no bits, so its header can claim
// any size for the same bytes.
std::string webpClaiming(int side)
{
    std::string webp = saved(black(16, 16, 3), [](VipsImage* image, void** buffer, std::size_t* length) {
        return vips_webpsave_buffer(image, buffer, length, "lossless", TRUE, "strip", TRUE, nullptr);
    });
    // Its lossless image alone, without the extended header libvips adds.
    const std::size_t chunk = webp.find("VP8L");
    EXPECT_NE(chunk, std::string::npos);
    std::size_t length = 0;
    for (int i = 3; i >= 0; --i)
        length = length << 8 | static_cast<unsigned char>(webp[chunk + 4 + i]);
    const std::string image = webp.substr(chunk, 8 + length + length % 2);
    webp = "RIFF" + littleEndian(static_cast<unsigned>(4 + image.size()), 4) + "WEBP" + image;
    const std::size_t header = 12;
    const unsigned size = static_cast<unsigned>(side - 1) | static_cast<unsigned>(side - 1) << 14;
    for (int i = 0; i < 4; ++i)
        webp[header + 9 + i] = static_cast<char>((i < 3 ? size >> (8 * i) : (size >> 24) | (webp[header + 12] & 0xF0)));
    return webp;
}

std::string tiff(int side, int bands)
{
    return saved(black(side, side, bands), [](VipsImage* image, void** buffer, std::size_t* length) {
        return vips_tiffsave_buffer(image, buffer, length, "tile", TRUE, "compression",
            VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE, nullptr);
    });
}

// An 8-bit run-length BMP of side x side, all of one colour.
std::string rleBmp(int side)
{
    std::string row;
    for (int left = side; left > 0; left -= 255)
        row += std::string(1, static_cast<char>(std::min(left, 255))) + '\x01';
    row += std::string(2, '\0'); // end of line
    std::string pixels;
    for (int y = 0; y < side; ++y)
        pixels += row;
    pixels += std::string("\x00\x01", 2); // end of picture
    const std::string info = littleEndian(40, 4) + littleEndian(side, 4) + littleEndian(side, 4) + littleEndian(1, 2)
        + littleEndian(8, 2) + littleEndian(1, 4) + littleEndian(static_cast<unsigned>(pixels.size()), 4)
        + littleEndian(2835, 4) + littleEndian(2835, 4) + littleEndian(2, 4) + littleEndian(0, 4);
    const std::string palette("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8);
    const unsigned offset = 14 + static_cast<unsigned>(info.size() + palette.size());
    return "BM" + littleEndian(offset + static_cast<unsigned>(pixels.size()), 4) + littleEndian(0, 4)
        + littleEndian(offset, 4) + info + palette + pixels;
}

std::string interlacedPng16(int side)
{
    VipsImage* wide = nullptr;
    VipsImage* image = black(side, side, 3);
    EXPECT_EQ(vips_cast(image, &wide, VIPS_FORMAT_USHORT, nullptr), 0);
    g_object_unref(image);
    return saved(wide, [](VipsImage* picture, void** buffer, std::size_t* length) {
        return vips_pngsave_buffer(picture, buffer, length, "interlace", TRUE, nullptr);
    });
}

// Width and height as libvips reads them (any loader, BMP too); nothing when it cannot.
std::optional<std::pair<int, int>> sizeOf(const std::string& picture)
{
    startVips();
    VipsImage* image = vips_image_new_from_buffer(picture.data(), picture.size(), "", nullptr);
    if (!image) {
        vips_error_clear();
        return std::nullopt;
    }
    const std::pair<int, int> size(vips_image_get_width(image), vips_image_get_height(image));
    g_object_unref(image);
    return size;
}

} // namespace

// Pictures built small whose headers claim big, as the decoder reads them: none may take more
// than 150 MB to convert or to forecast, and no output carries a picture larger than
// 600 x 600. Each run is a process of its own, so each peak is its own.
TEST(Covers, PicturesClaimingHugeSizesStayWithinMemory)
{
#if defined(__SANITIZE_ADDRESS__) // its allocator keeps freed memory
    const bool judgeMemory = false;
#else
    const bool judgeMemory = true;
#endif
    constexpr long kMaxPeakKiB = 150 * 1000 * 1000 / 1024;
    TempDir dir;
    enum Outcome { Scaled, LeftOut };
    const struct {
        const char* name;
        std::string picture;
        int claimedSide; // as libvips reads the header, in the test process (BMP too)
        Outcome outcome;
    } cases[] = {
        {"GIF, 10 x 10 screen, 8000 x 8000 frame", gifWithHugeFrame(8000, 310000), 8000, LeftOut},
        {"progressive JPEG, stray byte, 12000 x 12000", progressiveJpegClaiming(12000), 12000, LeftOut},
        {"TIFF 20000 x 20000", tiff(20000, 1), 20000, LeftOut},
        {"TIFF 8000 x 8000 under 300 KB", tiff(8000, 1), 8000, LeftOut},
        {"WebP 8000 x 8000 under 300 KB", webpClaiming(8000), 8000, LeftOut},
        {"BMP 4000 x 4000 under 300 KB", rleBmp(4000), 4000, LeftOut},
        {"interlaced 16-bit PNG 7000 x 7000", interlacedPng16(7000), 7000, LeftOut},
        {"WebP 700 x 700 under 300 KB", webpClaiming(700), 700, Scaled},
        {"GIF 1000 x 1000", gifWithHugeFrame(1000, 0), 1000, Scaled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto claimed = sizeOf(c.picture);
        ASSERT_TRUE(claimed) << "the fixture is no picture libvips reads";
        ASSERT_EQ(*claimed, std::make_pair(c.claimedSide, c.claimedSide));
        const std::string source = cbrMp3(dir, "covered.mp3", 128000, false, 1.0);
        setCover(source, c.picture, "image/jpeg");

        RunOptions alone;
        alone.ownPeak = true;
        const RunResult r = runFastencc({source, dir.path("out.mp3"), "-br", "96000"}, alone);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string cover = coverOf(dir.path("out.mp3"));
        if (c.outcome == LeftOut) {
            EXPECT_TRUE(cover.empty());
        } else {
            const auto size = sizeOf(cover);
            ASSERT_TRUE(size);
            EXPECT_EQ(std::max(size->first, size->second), 600);
            EXPECT_TRUE(shapeOf(cover).baseline);
        }

        writeFile(dir.path("list"), source + '\0');
        alone.standardInput = dir.path("list");
        const RunResult f = runFastencc({"--facts"}, alone);
        ASSERT_EQ(f.exitCode, 0) << f.err;
        EXPECT_EQ(f.out.compare(0, 3, "ok\t"), 0) << f.out;
        if (judgeMemory) {
            EXPECT_LE(r.peakKiB, kMaxPeakKiB) << "KiB to convert";
            EXPECT_LE(f.peakKiB, kMaxPeakKiB) << "KiB to forecast";
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
