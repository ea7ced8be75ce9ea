#pragma once

#include <cstdint>
#include <optional>

// Recognises MPEG audio by content. libmpg123's own probe accepts far too much (most ELF
// shared objects look like layer I to it), so a file only counts as MPEG audio when, after
// any ID3v2 tags and zero padding, at least four consecutive frame headers of the same
// version, layer and rate follow each other by their computed lengths, the first of them
// within the first 2 KiB.
//
// A damaged download may carry junk before the stream or inside its first frames. When no
// chain starts within the first 2 KiB, one that starts within the first 64 KiB (ID3v2 tags
// met in the junk are stepped over) still makes the file MPEG audio. Frames of the same
// stream before that chain that follow each other, cut off by the junk, are where the audio
// starts: MpegFrameChain hands out what of them is whole (often the Info frame). A tag
// header whose size leads nowhere (junk that begins "ID3") is searched behind instead.
// Free-format frames count once their length is measured from where the next one starts.
class MpegDetector {
public:
    static constexpr int kSearchWindow = 2048;
    static constexpr int kJunkWindow = 64 * 1024;
    static constexpr int kFramesRequired = 4;

    // Offset of the first audio frame in the open file, or nothing when the file is not
    // MPEG audio. Reads with pread: the file position of fd is left alone.
    static std::optional<std::int64_t> findAudioStart(int fd);
};
