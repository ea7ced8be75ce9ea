#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The frames of a layer III stream, cut at their headers as the bytes come from the encoder,
// with what joining two encoders' streams needs to know of each frame: where its main data
// begins (the bit reservoir) and which blocks its granules use.
class Layer3Stream {
public:
    struct Frame {
        std::vector<std::uint8_t> bytes; // header, CRC, side information, main data slot
        int slotStart = 0;               // offset of the main data slot in bytes
        int mainDataBegin = 0;           // bytes of its main data in the slots before it
        // Block type of every granule and channel, two bits each (0 long, 1 start, 2 short,
        // 3 stop): two encoders agree at a frame when these are equal.
        std::uint32_t blockTypes = 0;
        bool allLong() const { return blockTypes == 0; }
        int slotSize() const { return static_cast<int>(bytes.size()) - slotStart; }
    };

    // Adds bytes as the encoder wrote them; whole frames become available through frames().
    // Throws EncodeError when the bytes are no layer III stream (an encoder's fault).
    void append(const std::uint8_t* data, std::size_t size);
    // The complete frames so far, in order. take() hands them over and forgets them.
    const std::vector<Frame>& frames() const { return m_frames; }
    std::vector<Frame> take();
    // Bytes of an incomplete frame still waiting for the rest.
    std::size_t pending() const { return m_pending.size(); }

    // Reads a complete frame's fields from its bytes; false when they are no layer III frame.
    static bool describe(Frame& frame);

private:
    std::vector<Frame> m_frames;
    std::vector<std::uint8_t> m_pending;
};
