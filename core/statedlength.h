#pragma once
#include <cstdint>
#include <string>

namespace vardune {

// Whether an output is as long as it says it is. An output is the ID3v2 tag holding its mark,
// then an MPEG stream whose first frame, the Xing/Info frame, counts the stream's bytes (Info
// frame included). A file cut short after it was written (a card pulled, a copy broken off)
// keeps its mark but no longer its length: it is not up to date, and is made again.
//
// Only the tag's header and the first bytes after the tag are read, whatever the file's length:
// judging ten thousand outputs costs two small reads each beside the mark's.
class StatedLength {
public:
    // The bytes read after the tag: the frame header, the side information and the Info
    // frame's fields up to its byte count, with room to spare.
    static constexpr std::size_t kReadBytes = 64;

    // Whether the file of fileBytes open at fd is whole: an ID3v2 tag at its start, an MPEG
    // audio frame header right after it, and, where that frame is a Xing/Info frame that counts
    // the stream's bytes, exactly that many bytes after the tag. A stream without such a count
    // (a copy of an MP3 that had none) is judged by its tag and first frame header alone.
    static bool Whole(int fd, std::uint64_t fileBytes);
    // The same for the regular file at path (never blocking on anything else there).
    static bool WholeFile(const std::string& path);
    // The same, from the tag's first 10 bytes and the bytes that follow the tag (up to
    // kReadBytes of them).
    static bool Whole(const std::string& tagHeader, const std::string& afterTag, std::uint64_t fileBytes);
    // Where the tag described by its first 10 bytes ends (the first byte after it); 0 when they
    // are no ID3v2 header.
    static std::uint64_t TagEnd(const std::string& tagHeader);
};

} // namespace vardune
