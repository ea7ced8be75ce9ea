#pragma once

#include "audiosource.h"

#include <taglib/tbytevector.h>

#include <string>
#include <vector>

// Carries the source's tags to the MP3 as an ID3v2.3 tag: title, artist, album, album
// artist, track, disc, year, genre, comment and the front cover. Reads the source only
// (TagLib never opens it for writing here); a tag that cannot be read is dropped, never the
// conversion.
class TagCopier {
public:
    // The rendered tag to put before the first MPEG frame, as pieces to write one after the
    // other, or nothing when the source has no tag worth carrying. The picture is its own
    // piece, holding the very bytes TagLib read: a cover of 100 MB costs 100 MB, not a copy
    // per rendering step.
    // A cover larger than a small player takes is scaled first (CoverScaler).
    static std::vector<TagLib::ByteVector> id3v2For(const std::string& path, AudioSource::Container container);

    // The size in bytes of what id3v2For gives, reading the tags but scaling no picture (its
    // scaled size is estimated): for forecasts of many files.
    static std::size_t id3v2SizeFor(const std::string& path, AudioSource::Container container);
};
