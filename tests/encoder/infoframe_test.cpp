// Our Info frame (written where LAME's own frame does not fit) must say what LAME's says.
// At 128 kbit/s both can be made from the same sound and compared field by field.

#include "testsupport.h"

#include "mpeg/infoframe.h"
#include "mpeg/mpegheader.h"
#include "output/atomicfile.h"
#include "output/mp3writer.h"

#include <tuple>

using namespace enctest;

namespace {

struct Tag {
    int frameLength = 0;
    std::uint32_t frames = 0;
    std::uint32_t bytes = 0;
    int delay = 0;
    int padding = 0;
    int lowpass = 0;
    int bitrateByte = 0;
    int quality = 0;
    std::uint32_t musicLength = 0;
    std::uint16_t musicCrc = 0;
    bool tagCrcValid = false;
    std::string audio; // the stream after the Info frame
};

std::uint32_t be32(const std::string& s, std::size_t at)
{
    return std::uint32_t(std::uint8_t(s[at])) << 24 | std::uint32_t(std::uint8_t(s[at + 1])) << 16
        | std::uint32_t(std::uint8_t(s[at + 2])) << 8 | std::uint8_t(s[at + 3]);
}

Tag readTag(const std::string& mp3)
{
    Tag t;
    const auto header = MpegHeader::parse(reinterpret_cast<const std::uint8_t*>(mp3.data()));
    EXPECT_TRUE(header.has_value());
    if (!header)
        return t;
    const std::size_t x = std::size_t(header->sideInfoEnd());
    EXPECT_EQ(mp3.substr(x, 4), "Info");
    t.frameLength = header->frameLength();
    t.frames = be32(mp3, x + 8);
    t.bytes = be32(mp3, x + 12);
    t.quality = int(be32(mp3, x + 116));
    const std::size_t l = x + 120;
    EXPECT_EQ(mp3.substr(l, 4), "LAME");
    t.lowpass = std::uint8_t(mp3[l + 10]);
    t.bitrateByte = std::uint8_t(mp3[l + 20]);
    const std::uint32_t dp = be32(mp3, l + 20) & 0xFFFFFF;
    t.delay = int(dp >> 12);
    t.padding = int(dp & 0xFFF);
    t.musicLength = be32(mp3, l + 28);
    t.musicCrc = std::uint16_t(std::uint8_t(mp3[l + 32]) << 8 | std::uint8_t(mp3[l + 33]));
    const std::uint16_t tagCrc = std::uint16_t(std::uint8_t(mp3[l + 34]) << 8 | std::uint8_t(mp3[l + 35]));
    t.tagCrcValid = tagCrc == InfoFrame::crc16(reinterpret_cast<const std::uint8_t*>(mp3.data()), l + 34);
    t.audio = mp3.substr(std::size_t(t.frameLength));
    return t;
}

std::string encode(const std::string& path, int channels, int rate, bool mono, bool ownInfoFrame)
{
    {
        AtomicFile out(path, path);
        Mp3Writer::Settings settings;
        settings.bitrate = 128000;
        settings.mono = mono;
        settings.ownInfoFrame = ownInfoFrame;
        Mp3Writer writer(out, rate, channels, settings);
        std::vector<float> pcm(std::size_t(rate) * 2 * std::size_t(channels));
        for (std::size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = signal(int(i % std::size_t(channels)), std::int64_t(i / std::size_t(channels)), rate);
        writer.encode(pcm.data(), pcm.size() / std::size_t(channels));
        writer.finish();
        out.commit();
    }
    return readFile(path);
}

} // namespace

class InfoFrameTest : public ::testing::TestWithParam<std::tuple<int, int, bool>> {};

TEST_P(InfoFrameTest, SaysWhatLamesFrameSays)
{
    const auto [channels, rate, mono] = GetParam();
    TempDir dir;
    const Tag lame = readTag(encode(dir.path("lame.mp3"), channels, rate, mono, false));
    const Tag ours = readTag(encode(dir.path("ours.mp3"), channels, rate, mono, true));

    EXPECT_LT(ours.frameLength, lame.frameLength); // a frame of a lower bitrate than the stream
    EXPECT_EQ(ours.audio, lame.audio) << "the audio frames differ";
    EXPECT_EQ(ours.frames, lame.frames);
    EXPECT_EQ(ours.bytes - std::uint32_t(ours.frameLength), lame.bytes - std::uint32_t(lame.frameLength));
    EXPECT_EQ(ours.musicLength - std::uint32_t(ours.frameLength), lame.musicLength - std::uint32_t(lame.frameLength));
    EXPECT_EQ(ours.delay, lame.delay);
    EXPECT_EQ(ours.padding, lame.padding);
    EXPECT_EQ(ours.musicCrc, lame.musicCrc);
    EXPECT_EQ(ours.lowpass, lame.lowpass);
    EXPECT_EQ(ours.bitrateByte, lame.bitrateByte);
    EXPECT_EQ(ours.quality, lame.quality);
    EXPECT_TRUE(lame.tagCrcValid);
    EXPECT_TRUE(ours.tagCrcValid);
}

INSTANTIATE_TEST_SUITE_P(Layouts, InfoFrameTest,
    ::testing::Values(std::make_tuple(2, 44100, false), std::make_tuple(2, 48000, true),
        std::make_tuple(1, 22050, false)));
