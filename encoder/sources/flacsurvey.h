#pragma once

#include <cstdint>

// The length of a native FLAC stream as its last frames tell it, without decoding: every
// frame header carries the number of its first sample (or of the frame, in a stream of one
// block size), so the last whole frame of the file says where the stream ends. Read from the
// file's end, a little at a time: a stream written without its length (piped, recorded) or
// whose STREAMINFO lies is measured in a few reads.
class FlacSurvey {
public:
    // What STREAMINFO says of the stream's frames: a frame header with another channel count
    // or sample rate is no frame of it (0: any). A stream of one block size numbers its
    // frames, not its samples.
    struct Stream {
        int minBlock = 0;
        int maxBlock = 0;
        int channels = 0;
        int rate = 0;
    };
    struct Result {
        std::int64_t frames = -1; // sample frames up to the end of the last whole frame found
        bool exact = false;       // false: found only short of the file's end, or none found
    };
    static Result measure(int fd, std::int64_t fileSize, const Stream& stream);

    // A frame header at p (up to 16 bytes readable there, fewer at the end of the data):
    // its length in bytes, first sample and block size; false when p holds none.
    struct Header {
        int length = 0;
        std::int64_t sample = 0;
        int blockSize = 0;
    };
    static bool parseHeader(const std::uint8_t* p, std::size_t available, const Stream& stream, Header& header);
    // The checksum a frame ends with (CRC-16, polynomial 0x8005) of size bytes.
    static std::uint16_t crc16(const std::uint8_t* p, std::size_t size);
    // That checksum carried on over one more byte.
    static std::uint16_t crc16Step(std::uint16_t crc, std::uint8_t byte);
};
