#include "statedlength.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vardune {

namespace {

std::uint32_t BigEndian32(const std::string& s, std::size_t at)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

// Reads up to size bytes at offset; fewer where the file ends.
std::string ReadAt(int fd, std::size_t size, std::uint64_t offset)
{
    std::string bytes(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = pread(fd, &bytes[got], size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

} // namespace

std::uint64_t StatedLength::TagEnd(const std::string& tagHeader)
{
    if (tagHeader.size() < 10 || tagHeader.compare(0, 3, "ID3") != 0)
        return 0;
    std::uint64_t size = 0;
    for (std::size_t i = 6; i < 10; ++i) {
        const unsigned char c = static_cast<unsigned char>(tagHeader[i]);
        if (c & 0x80)
            return 0;
        size = (size << 7) | c;
    }
    // ID3v2.4's footer repeats the header after the tag.
    const bool footer = static_cast<unsigned char>(tagHeader[3]) == 4 && (static_cast<unsigned char>(tagHeader[5]) & 0x10);
    return 10 + size + (footer ? 10 : 0);
}

bool StatedLength::Whole(const std::string& tagHeader, const std::string& afterTag, std::uint64_t fileBytes)
{
    const std::uint64_t tagEnd = TagEnd(tagHeader);
    if (tagEnd == 0 || afterTag.size() < 4 || fileBytes < tagEnd + 4)
        return false;
    const unsigned char b1 = static_cast<unsigned char>(afterTag[1]);
    const unsigned char b3 = static_cast<unsigned char>(afterTag[3]);
    const int version = (b1 >> 3) & 3;  // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    const int layer = (b1 >> 1) & 3;    // 1 layer III, 2 layer II, 3 layer I
    if (static_cast<unsigned char>(afterTag[0]) != 0xFF || (b1 & 0xE0) != 0xE0 || version == 1 || layer == 0)
        return false;
    if (layer != 1)
        return true;  // no Info frame in layers I and II: nothing more is stated
    const bool mono = (b3 >> 6) == 3;
    const std::size_t sideInfoEnd = version == 3 ? (mono ? 4 + 17 : 4 + 32) : (mono ? 4 + 9 : 4 + 17);
    // A frame with a CRC has it before the side information; writers place the tag after both,
    // or (some) as if there were none.
    const bool crc = (b1 & 1) == 0;
    for (const std::size_t at : {sideInfoEnd + (crc ? 2 : 0), sideInfoEnd}) {
        if (at + 8 > afterTag.size() || (afterTag.compare(at, 4, "Xing") != 0 && afterTag.compare(at, 4, "Info") != 0))
            continue;
        const std::uint32_t flags = BigEndian32(afterTag, at + 4);
        if (!(flags & 2))
            return true;
        const std::size_t bytesAt = at + 8 + ((flags & 1) ? 4 : 0);
        if (bytesAt + 4 > afterTag.size())
            return true;
        return fileBytes == tagEnd + BigEndian32(afterTag, bytesAt);
    }
    return true;
}

bool StatedLength::Whole(int fd, std::uint64_t fileBytes)
{
    const std::string header = ReadAt(fd, 10, 0);
    const std::uint64_t tagEnd = TagEnd(header);
    if (tagEnd == 0 || tagEnd >= fileBytes)
        return false;
    return Whole(header, ReadAt(fd, kReadBytes, tagEnd), fileBytes);
}

bool StatedLength::WholeFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool whole = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && Whole(fd, static_cast<std::uint64_t>(st.st_size));
    close(fd);
    return whole;
}

} // namespace vardune
