#pragma once

#include <taglib/tbytevector.h>

#include <cstddef>
#include <optional>

// Cover pictures as small players show them. Many show no cover, or stall, on a large or
// progressive picture, and every file of an album carries its own copy. A picture larger
// than 600 x 600 pixels or 300 KB is scaled to fit 600 x 600 (never enlarged) and stored as
// a baseline JPEG; a smaller one is kept byte for byte. Scaling is libvips': it shrinks a
// baseline JPEG while decoding it and reads other pictures a few lines at a time, so even a
// huge picture takes little memory. A progressive JPEG is the exception: every coefficient
// of the picture is held until its last scan, so one whose coefficients need more than
// kMaxProgressiveBytes is left out rather than decoded.
class CoverScaler {
public:
    static constexpr int kMaxSide = 600;
    static constexpr std::size_t kMaxBytes = 300 * 1000;
    // Pictures with more pixels than this are not decoded at all (a hostile file can claim
    // 65535 x 65535 in a few bytes); they are left out.
    static constexpr double kMaxPixels = 100e6;
    // 64 MiB: a 3000 x 3000 progressive JPEG without chroma subsampling needs 54 MB.
    static constexpr double kMaxProgressiveBytes = 64.0 * 1024 * 1024;

    struct Size {
        int width = 0;
        int height = 0;
    };
    // The picture's size in pixels as its own header gives it (JPEG, PNG, GIF), without
    // decoding it; nothing for another or a damaged format.
    static std::optional<Size> dimensions(const TagLib::ByteVector& picture);

    // Whether the picture is scaled rather than kept as it is.
    static bool needsScaling(const TagLib::ByteVector& picture);

    // The picture fitted into 600 x 600 as a baseline JPEG, or an empty vector when it cannot
    // be decoded (the cover is then left out).
    static TagLib::ByteVector scale(const TagLib::ByteVector& picture);
};
