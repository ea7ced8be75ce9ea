#pragma once

#include "audiosource.h"

#include <cstdint>
#include <string>
#include <vector>

// Carries the source's tags to the MP3 as an ID3v2.3 tag: title, artist, album, album
// artist, track, disc, year, genre, comment and the front cover. Reads the source only
// (TagLib never opens it for writing here); a tag that cannot be read is dropped, never the
// conversion.
class TagCopier {
public:
    // The rendered tag to put before the first MPEG frame, or nothing when the source has no
    // tag worth carrying.
    static std::vector<std::uint8_t> id3v2For(const std::string& path, AudioSource::Container container);
};
