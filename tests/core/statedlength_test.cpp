// An output is whole when it is as long as its Info frame says; one cut short after it was
// written keeps its mark, but is no longer up to date, by every path that judges it.
#include "batchwalk.h"
#include "planreader.h"
#include "sourcemark.h"
#include "statedlength.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace vardune;

namespace {

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string BigEndian32(std::uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// An ID3v2 tag holding the frame (version 3, or 4 with a footer).
std::string Tag(const std::string& frame, bool footer = false)
{
    std::string tag = footer ? std::string("ID3\x04\x00\x10", 6) : std::string("ID3\x03\x00\x00", 6);
    for (int shift = 21; shift >= 0; shift -= 7)
        tag += static_cast<char>((frame.size() >> shift) & 0x7F);
    tag += frame;
    if (footer)
        tag += "3DI" + tag.substr(3, 7);
    return tag;
}

struct Stream {
    std::string header = std::string("\xFF\xFB\x90\x00", 4);  // MPEG-1 layer III, 128 kbit/s, 44.1 kHz, stereo
    std::size_t sideInfo = 32;
    std::size_t frameBytes = 417;
    bool crc = false;           // two bytes of CRC after the header
    std::string tagName = "Info";  // "" for no Info frame
    std::uint32_t flags = 0x0F;
    int audioFrames = 20;
    long statedOffBy = 0;       // the count stated, less the bytes there are
};

// The stream: its Info frame (stating its bytes), then audio frames.
std::string Bytes(const Stream& s)
{
    const std::size_t total = s.frameBytes * static_cast<std::size_t>(s.audioFrames + 1);
    std::string first = s.header + std::string(s.crc ? 2 : 0, '\x5A') + std::string(s.sideInfo, '\0');
    if (!s.tagName.empty()) {
        first += s.tagName + BigEndian32(s.flags);
        if (s.flags & 1)
            first += BigEndian32(static_cast<std::uint32_t>(s.audioFrames));
        if (s.flags & 2)
            first += BigEndian32(static_cast<std::uint32_t>(static_cast<long>(total) + s.statedOffBy));
    }
    first.resize(s.frameBytes, '\0');
    std::string stream = first;
    for (int i = 0; i < s.audioFrames; ++i)
        stream += s.header + std::string(s.frameBytes - 4, static_cast<char>(0x11 * (i % 15)));
    return stream;
}

class StatedLengthTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = ::testing::TempDir() + "statedlength-" + std::to_string(getpid());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

} // namespace

TEST_F(StatedLengthTest, WholeOnlyAtTheLengthItStates)
{
    const std::string tag = Tag(SourceMark::Frame("path=/music/a.wav;size=5;mtime=1.0;profile=br128000,mono0"));
    Stream mpeg2Mono;
    mpeg2Mono.header = std::string("\xFF\xF3\x80\xC0", 4);  // MPEG-2 layer III, 64 kbit/s, 22.05 kHz, mono
    mpeg2Mono.sideInfo = 9;
    mpeg2Mono.frameBytes = 208;
    Stream withCrc;
    withCrc.header = std::string("\xFF\xFA\x90\x00", 4);
    withCrc.crc = true;
    Stream xingFramesOnly;
    xingFramesOnly.tagName = "Xing";
    xingFramesOnly.flags = 0x01;
    Stream noInfo;
    noInfo.tagName.clear();
    Stream statedWrong;
    statedWrong.statedOffBy = 417;
    Stream layer2;
    layer2.header = std::string("\xFF\xFD\x90\x00", 4);
    layer2.tagName.clear();
    const std::string stream = Bytes(Stream {});
    const struct {
        const char* what;
        std::string bytes;
        bool whole;
    } cases[] = {
        {"as written", tag + stream, true},
        {"one byte short", tag + stream.substr(0, stream.size() - 1), false},
        {"a frame short", tag + stream.substr(0, stream.size() - 417), false},
        {"cut to 1,000 bytes", (tag + stream).substr(0, 1000), false},
        {"cut inside the tag", tag.substr(0, 40), false},
        {"cut right after the tag", tag, false},
        {"a byte added", tag + stream + "x", false},
        {"a tag with a footer", Tag("TXXX", true) + stream, true},
        {"MPEG-2 mono", tag + Bytes(mpeg2Mono), true},
        {"MPEG-2 mono cut", tag + Bytes(mpeg2Mono).substr(0, 2000), false},
        {"a frame with a CRC", tag + Bytes(withCrc), true},
        {"a frame with a CRC, cut", tag + Bytes(withCrc).substr(0, 2000), false},
        {"a Xing frame counting no bytes: its header is all", tag + Bytes(xingFramesOnly).substr(0, 2000), true},
        {"no Info frame: its header is all", tag + Bytes(noInfo).substr(0, 2000), true},
        {"a count that is not the stream's", tag + Bytes(statedWrong), false},
        {"layer II: its header is all", tag + Bytes(layer2).substr(0, 2000), true},
        {"no tag", stream, false},
        {"no frame after the tag", tag + std::string(5000, 'x'), false},
    };
    for (const auto& c : cases) {
        const std::string path = dir_ + "/out.mp3";
        Write(path, c.bytes);
        EXPECT_EQ(StatedLength::WholeFile(path), c.whole) << c.what;
    }
    EXPECT_FALSE(StatedLength::WholeFile(dir_));  // a folder
    EXPECT_FALSE(StatedLength::WholeFile(dir_ + "/nothing.mp3"));
}

// The batch's look (BatchWalk), the plan's and the forecast's (PlanReader) agree: a cut output
// is not up to date, but still its source's own, to be replaced where it stands.
TEST_F(StatedLengthTest, ACutOutputIsNotUpToDateOnAnyPath)
{
    const std::string source = dir_ + "/a.wav";
    const std::string output = dir_ + "/V_a.wav.MP3";
    Write(source, "sound");
    const std::string profile = SourceMark::Profile(128000, false);
    const std::string whole = Tag(SourceMark::Frame(SourceMark::Value(*SourceMark::Of(source), profile))) + Bytes(Stream {});
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut" : "whole");
        Write(output, cut ? whole.substr(0, 1000) : whole);
        EXPECT_EQ(BatchWalk::UpToDate(output, source, profile), !cut);
        PlanReader reader;
        EXPECT_EQ(reader.UpToDate(output, source, profile), !cut);
        EXPECT_TRUE(reader.MadeFrom(output, source));
        const SizeForecast::Standing standing = reader.Look(output, source);
        EXPECT_EQ(standing.bytes, cut ? 1000.0 : static_cast<double>(whole.size()));
        EXPECT_EQ(standing.profile, cut ? std::string() : profile);
    }
}
