#pragma once

#include <cstdint>
#include <optional>

// Recognises MPEG audio by content. libmpg123's own probe accepts far too much (most ELF
// shared objects look like layer I to it), so a file only counts as MPEG audio when, after
// any ID3v2 tags and zero padding, at least four consecutive frame headers of the same
// version, layer and rate follow each other by their computed lengths, the first of them
// within the first 2 KiB.
class MpegDetector {
public:
    static constexpr int kSearchWindow = 2048;
    static constexpr int kFramesRequired = 4;

    // Offset of the first audio frame in the open file, or nothing when the file is not
    // MPEG audio. Reads with pread: the file position of fd is left alone.
    static std::optional<std::int64_t> findAudioStart(int fd);
};
