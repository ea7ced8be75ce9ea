#pragma once

#include <taglib/tbytevector.h>

#include <cstddef>

// Cover pictures as small players show them. Many show no cover, or stall, on a large or
// progressive picture, and every file of an album carries its own copy. A picture larger
// than 600 x 600 pixels or 300 KB is scaled to fit 600 x 600 (never enlarged) and stored as
// a baseline JPEG; a smaller one is kept byte for byte.
//
// What a picture is, and how large, is what the decoder itself reads from its header
// (libvips, with the loaders it trusts with hostile files), never a guess of ours: a picture
// that decoder cannot read is left out, whatever its bytes claim to be. (Only a JPEG or PNG
// whose header plainly shows it small is kept without asking libvips: nothing of it is
// decoded, and anything less plain goes to libvips.) Before any pixel is decoded, the memory
// its decoding holds at once is reckoned from that header, for the way each format is
// decoded: a baseline JPEG is shrunk while it is decoded, but a progressive JPEG holds every
// coefficient until its last scan, a PNG, a GIF and a WebP are reckoned as decoded whole, and
// a TIFF's tiles and strips are not in its header's view at all. A picture that would take
// more than kMaxDecodingBytes, or has more than kMaxPixels, is left out rather than decoded.
class CoverScaler {
public:
    static constexpr int kMaxSide = 600;
    static constexpr std::size_t kMaxBytes = 300 * 1000;
    // Pictures with more pixels than this are never decoded: even decoded a few lines at a
    // time they would take seconds (a hostile file claims 65535 x 65535 in a few bytes).
    static constexpr double kMaxPixels = 100e6;
    // 64 MiB: a 3300 x 3300 progressive JPEG at full colour, a 4700 x 4700 colour PNG, a
    // 4000 x 4000 GIF, a 2900 x 2900 WebP.
    static constexpr double kMaxDecodingBytes = 64.0 * 1024 * 1024;
    // A picture of more bytes than this is not read at all (no cover comes near): reading
    // a header may copy what precedes the pixels.
    static constexpr std::size_t kMaxPictureBytes = 16 * 1024 * 1024;

    enum class Fit {
        Kept,    // within 600 x 600 and 300 KB: carried as it is
        Scaled,  // larger, and decodable within the limits: scale() makes it small
        LeftOut, // unreadable, or too costly to decode
    };
    // What becomes of the picture, from its header alone (nothing is decoded).
    static Fit fitOf(const TagLib::ByteVector& picture);

    // The picture fitted into 600 x 600 as a baseline JPEG, or an empty vector when it cannot
    // be decoded within the limits (the cover is then left out).
    static TagLib::ByteVector scale(const TagLib::ByteVector& picture);
};
