#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// One MPEG audio frame header (layers I, II and III; MPEG-1, 2 and 2.5), decoded from its
// four bytes. Used to recognise MPEG audio by content and to build the Info frame.
class MpegHeader {
public:
    enum Version { Mpeg1, Mpeg2, Mpeg25 };

    // Returns nothing for bytes that are not a usable header: no sync, a reserved version,
    // layer or rate, or an invalid bitrate. A free-format header (bitrate index 0) is usable
    // only with the length of its stream's frames without padding (freeFormatSize, as
    // measureFreeFormat found it): the header alone does not give it.
    static std::optional<MpegHeader> parse(const std::uint8_t* bytes, int freeFormatSize = 0);
    // For a free-format header at bytes: the length of its frame without padding, taken from
    // where the next header of the same stream starts within the available bytes; 0 when
    // none does. Only a chain of frames at that length proves it.
    static int measureFreeFormat(const std::uint8_t* bytes, std::size_t available);

    // The header of a layer III frame as LAME writes it for this output rate and channel
    // count (used before LAME has produced a frame).
    static MpegHeader layer3(int sampleRate, bool mono, int bitrateKbps);
    // Bitrate index of a layer III bitrate at this header's version, or 0 if none.
    int layer3BitrateIndex(int kbps) const;

    Version version() const { return m_version; }
    int layer() const { return m_layer; }
    int bitrateIndex() const { return m_bitrateIndex; }
    // Free format: the encoder chose a bitrate outside the table (few players play it).
    bool freeFormat() const { return m_bitrateIndex == 0; }
    int freeFormatSize() const { return m_freeSize; }
    // For free format, the bitrate its frame length gives (rounded).
    int bitrateKbps() const;
    int sampleRate() const;
    bool padding() const { return m_padding; }
    bool mono() const { return m_channelMode == 3; }
    int channelMode() const { return m_channelMode; }
    // A 16-bit CRC follows the header (the side information starts 2 bytes later).
    bool hasCrc() const { return (m_raw[1] & 1) == 0; }
    // Total length of the frame in bytes, header included.
    int frameLength() const;
    // Audio samples per channel that one frame carries.
    int samplesPerFrame() const;
    // Bytes from the start of the frame to the end of the layer III side information (where
    // an Info/Xing tag starts).
    int sideInfoEnd() const;

    // Frame length of a layer III frame of this version and rate at another bitrate index,
    // without padding.
    int frameLengthAt(int bitrateIndex) const;
    // Same header with another bitrate index, padding and CRC protection off.
    void toBytes(std::uint8_t* out, int bitrateIndex) const;

    // Same version, layer and rate (and the same free-format length): the frames of one
    // encoding. The channel mode may change between frames.
    bool sameStream(const MpegHeader& other) const;

private:
    Version m_version = Mpeg1;
    int m_layer = 3;
    int m_bitrateIndex = 0;
    int m_rateIndex = 0;
    bool m_padding = false;
    int m_channelMode = 0;
    int m_freeSize = 0;
    std::uint8_t m_raw[4] = {};
};
