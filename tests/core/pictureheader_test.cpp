#include "pictureheader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using vardune::PictureHeader;

namespace {

std::vector<unsigned char> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

// A JPEG's start: SOI, the given segments, then a frame header of the given marker and size.
std::vector<unsigned char> Jpeg(const std::string& segments, unsigned char frame, unsigned width, unsigned height)
{
    std::string b = std::string("\xFF\xD8", 2) + segments;
    b += std::string("\xFF", 1) + char(frame) + std::string("\x00\x11\x08", 3);
    b += char(height >> 8);
    b += char(height & 0xFF);
    b += char(width >> 8);
    b += char(width & 0xFF);
    b += std::string("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10);
    return Bytes(b);
}

std::vector<unsigned char> Png(unsigned width, unsigned height)
{
    std::string b("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR", 16);
    for (const unsigned v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            b += char((v >> shift) & 0xFF);
    b += std::string("\x08\x02\x00\x00\x00\x00\x00\x00\x00", 9);
    return Bytes(b);
}

} // namespace

// What a header says plainly is read; anything less plain says nothing, so the picture goes to
// a decoder that reads it whole.
TEST(PictureHeader, ReadsOnlyWhatIsPlain)
{
    const std::string app0("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
    const std::string dqt = std::string("\xFF\xDB\x00\x43", 4) + std::string(65, '\x01');
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        bool read;
        unsigned width, height;
        bool within600;
    } cases[] = {
        {"a PNG", Png(600, 400), true, 600, 400, true},
        {"a PNG one pixel too wide", Png(601, 400), true, 601, 400, false},
        {"a PNG of no pixels", Png(0, 400), true, 0, 400, false},
        {"a baseline JPEG after JFIF and tables", Jpeg(app0 + dqt, 0xC0, 500, 300), true, 500, 300, true},
        {"a progressive JPEG", Jpeg(app0, 0xC2, 1400, 1400), true, 1400, 1400, false},
        {"a lossless JPEG frame", Jpeg(app0, 0xC3, 100, 100), false, 0, 0, false},
        {"a stray byte between segments", Jpeg(app0 + "x", 0xC0, 100, 100), false, 0, 0, false},
        {"an unknown segment first", Jpeg(std::string("\xFF\xCC\x00\x04\x00\x00", 6), 0xC0, 100, 100), false, 0, 0, false},
        {"a JPEG cut before its frame", Bytes(std::string("\xFF\xD8", 2) + app0), false, 0, 0, false},
        {"a GIF", Bytes("GIF89a\x10\x00\x10\x00"), false, 0, 0, false},
        {"nothing", {}, false, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto header = PictureHeader::Read(c.bytes.data(), c.bytes.size());
        ASSERT_EQ(header.has_value(), c.read);
        if (header) {
            EXPECT_EQ(header->width, c.width);
            EXPECT_EQ(header->height, c.height);
        }
        EXPECT_EQ(PictureHeader::PlainlyWithin(c.bytes.data(), c.bytes.size(), 600), c.within600);
    }
}
