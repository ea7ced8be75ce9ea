#pragma once

#include "sources/audiosource.h"

#include <taglib/tbytevector.h>

#include <string>
#include <vector>

// Carries the source's tags to the MP3 as an ID3v2.3 tag (SourceTags reads and renders
// them), with the mark in front. A tag that cannot be read is dropped, never the conversion.
class TagCopier {
public:
    // The rendered tag to put before the first MPEG frame, as pieces to write one after the
    // other. Its first frame is the mark that names the source and the profile (SourceMark's
    // Profile, which every output of these settings carries); a source with no
    // tag worth carrying gets a tag holding the mark alone.
    // extraFrames: whole ID3v2.3 frames put right after the mark (the ReplayGain tags).
    static std::vector<TagLib::ByteVector> id3v2For(const std::string& path, AudioSource::Container container,
        const std::string& profile, const std::string& extraFrames = std::string());
};
