#pragma once

#include "mpeg/mpegheader.h"

#include <cstdint>
#include <string>
#include <vector>

// The frames of an MPEG audio file that really are audio. libmpg123 resyncs on any four
// bytes that look like a frame header, so a block of junk inside a file (a damaged
// download) plays as loud noise. Here a frame counts only when it chains: the next header
// of the same stream (version, layer, rate) follows exactly where its length says, or the
// data ends there, or a tag follows, or another stream's chain starts there. After junk the
// stream resumes only where frames chain again as the start-of-file detector requires (four
// in a row, or at least two that end the file), so false headers in the junk are never
// decoded. Runs of bytes without a frame's first byte are passed over a buffer at a time,
// and holes of a sparse file without reading them.
//
// Files joined end to end (`cat a.mp3 b.mp3`: podcasts, audiobooks, radio recordings) are
// parts: a part starts where the stream changes (another rate, version or layer) or where an
// encoder's Info frame stands after the first frame. Each part has its own Info frame, so
// its own length and the samples gapless decoding trims.
//
// A layer III frame may take its main data from the frames before it (the bit reservoir).
// The first frames after a gap would take it from the frames before the junk and decode to
// noise; their side information is cleared, so they decode to silence while their bytes
// still feed the reservoir of the frames after them.
class MpegFrameChain {
public:
    // fd is read with pread only (its position is left alone); start: the first frame, as
    // MpegDetector found it; path: for messages.
    MpegFrameChain(int fd, std::int64_t start, std::string path);

    // The next frame that counts, or false at the end of the data. The bytes stay valid
    // until the next call. afterGap: frames were skipped right before this one. Throws
    // EncodeError when the file cannot be read.
    bool next(const std::uint8_t*& frame, std::size_t& size, bool& afterGap);
    // The header of the frame next() handed out last, and whether that frame starts a part
    // after the first (the decoder starts afresh there, as at the start of a file).
    const MpegHeader& header() const { return m_header; }
    // The stream of the current part (before the first next(): the first part's).
    const MpegHeader& stream() const { return m_stream; }
    bool partStart() const { return m_partStart; }

    // How far the file has been read, in bytes from its start.
    std::int64_t position() const { return m_pos; }

    // What the Xing/Info frame at the start of the current part says (LAME and most encoders
    // write one): frames and bytes of the part, and the samples that gapless decoding trims
    // from its start and end. -1 where the frame does not say.
    struct StreamInfo {
        bool present = false; // the part's first frame is such a frame, not audio
        std::int64_t frames = -1;
        std::int64_t bytes = -1;
        int delay = 0;
        int padding = 0;
    };
    const StreamInfo& streamInfo() const { return m_info; }
    // Once next() has returned false: the data stopped before the last part was as complete
    // as its Info frame describes it (the file was cut off), as opposed to junk inside it.
    bool endsEarly() const;
    int samplesPerFrame() const { return m_stream.samplesPerFrame(); }

private:
    const std::uint8_t* bytesAt(std::int64_t offset, std::size_t n);
    // Whether the bytes at offset continue stream: a header of it, the end of the data or a
    // tag, or (orNewStream) the chain of another stream.
    bool continuesAt(std::int64_t offset, const MpegHeader& stream, bool orNewStream);
    // Whether frames chain from offset as at the start of a file; stream: their stream.
    bool chainAt(std::int64_t offset, MpegHeader& stream);
    bool findChain();
    // For a free-format header at offset: its frames' length without padding, or 0.
    int freeFormatSizeAt(std::int64_t offset);
    // Moves m_pos past a hole of a sparse file; false when only holes are left.
    bool skipHole();
    void startPart(const MpegHeader& stream);
    bool isInfoFrame(const std::uint8_t* frame, const MpegHeader& header) const;
    void readStreamInfo(const std::uint8_t* frame, const MpegHeader& header);
    void muteIfReservoirMissing(const MpegHeader& header);

    int m_fd;
    std::string m_path;
    MpegHeader m_stream;
    std::int64_t m_pos;
    std::int64_t m_dataEnd = -1;            // the end of the file, once a read has found it
    std::vector<std::uint8_t> m_buffer;     // file bytes from m_bufferStart on
    std::int64_t m_bufferStart = 0;
    std::vector<std::uint8_t> m_frame;      // the frame handed out
    bool m_inChain = true;
    bool m_cutInFrame = false;              // the data ended inside a frame
    MpegHeader m_header;                    // of the frame handed out
    bool m_partStart = false;
    bool m_newPart = true;                  // the next frame handed out starts a part
    std::int64_t m_partOffset = 0;          // where the current part starts
    std::int64_t m_partFrames = 0;          // frames of the current part handed out
    std::int64_t m_framesOut = 0;
    std::int64_t m_reservoir = 0;           // main data bytes handed out since the last gap
    StreamInfo m_info;
};
