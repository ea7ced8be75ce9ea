#pragma once
#include <cstddef>
#include <optional>

namespace vardune {

// What a picture's own first bytes say of it, without decoding a pixel: its kind and its size.
// Read only where the header is plain: a PNG's IHDR, or a JPEG's frame header (baseline,
// extended or progressive) reached from its start through well-formed segments that carry
// nothing but markers, tables, application data and comments. Anything less plain (a stray
// byte, another kind of frame, another format) says nothing, and whoever asked leaves the
// picture to a decoder that reads it whole.
class PictureHeader {
public:
    enum class Kind { Jpeg, Png };
    struct Header {
        Kind kind;
        unsigned width;
        unsigned height;
    };
    static std::optional<Header> Read(const unsigned char* bytes, std::size_t size);
    // Plainly within side x side pixels (and at least one pixel each way).
    static bool PlainlyWithin(const unsigned char* bytes, std::size_t size, unsigned side);
};

} // namespace vardune
