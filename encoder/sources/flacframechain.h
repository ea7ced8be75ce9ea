#pragma once

#include "sources/flacsurvey.h"

#include <cstdint>
#include <vector>

// The whole frames of a native FLAC stream, each proved by its checksum (CRC-16) before it
// is decoded. A damaged frame is dropped and the next one is found where it really starts:
// libFLAC's own search after damage starts where the broken frame made it stop reading,
// often past the next frame, so that every hit would cost two frames. Anything between
// frames (junk, a tag block whose length is wrong) is stepped over.
class FlacFrameChain {
public:
    // fd is read with pread only; start: where the first frame should be, after the metadata
    // blocks by their lengths; searchFrom: where the frames are searched for from when no
    // frame starts there (a block's length is wrong); stream: as STREAMINFO describes it.
    FlacFrameChain(int fd, std::int64_t fileSize, std::int64_t start, std::int64_t searchFrom, const FlacSurvey::Stream& stream);

    struct Frame {
        const std::uint8_t* bytes = nullptr; // valid until the next call
        std::size_t size = 0;
        std::int64_t sample = 0;             // its first sample, as its header numbers it
        int blockSize = 0;
        bool afterSkip = false;              // bytes before it were not frames
        bool afterForeign = false;           // whole frames of another stream were skipped before it
    };
    // The next whole frame, false at the end of the data. Throws EncodeError when the file
    // cannot be read.
    bool next(Frame& frame);

    // Once next() has returned false: what followed the last whole frame.
    enum class Tail {
        Clean,    // nothing, or a tag
        Cut,      // the start of a frame that the file ends inside
        Damaged,  // bytes that are no frame
    };
    Tail tail() const { return m_tail; }
    // Where the frame the file ends inside would end, by its header's numbers; -1 when not
    // known.
    std::int64_t tailFrameEnd() const { return m_tailFrameEnd; }
    // Whole frames of another stream (another sample rate or channel count: a file joined
    // on) came after the last frame of this one.
    bool foreignAtEnd() const { return m_foreign; }
    // How far the file has been read, in bytes from its start.
    std::int64_t position() const { return m_pos; }

private:
    // Makes [offset, offset + n) (or up to the end of the file) readable in m_buffer; the
    // bytes available from offset.
    std::size_t fill(std::int64_t offset, std::size_t n);
    const std::uint8_t* at(std::int64_t offset) const { return m_buffer.data() + (offset - m_bufferStart); }
    // The frame starting at offset: its length, 0 when none ends where a checksum proves it.
    std::size_t frameAt(std::int64_t offset, const FlacSurvey::Stream& stream, std::int64_t& sample, int& blockSize);
    Tail tailAt(std::int64_t offset);

    int m_fd;
    std::int64_t m_fileSize;
    FlacSurvey::Stream m_stream;
    std::int64_t m_pos;
    std::int64_t m_lastEnd;       // of the last whole frame
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_bufferStart = 0;
    std::int64_t m_work = 0;      // bytes checked in vain, against a budget for hostile files
    Tail m_tail = Tail::Clean;
    std::int64_t m_tailFrameEnd = -1;
    bool m_foreign = false;       // frames of another stream skipped since the last frame
};
