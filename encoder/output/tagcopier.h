#pragma once

#include "sources/audiosource.h"

#include <taglib/tbytevector.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Carries the source's tags to the MP3 as an ID3v2.3 tag: title, artist, album, album
// artist, track, disc, year, genre, comment and the front cover. Reads the source only
// (TagLib never opens it for writing here); a tag that cannot be read is dropped, never the
// conversion.
class TagCopier {
public:
    // The rendered tag to put before the first MPEG frame, as pieces to write one after the
    // other. Its first frame is the mark that names the source and the profile (SourceMark's
    // Profile, which every output of these settings carries); a source with no
    // tag worth carrying gets a tag holding the mark alone. The picture is its own
    // piece, holding the very bytes TagLib read: a cover of 100 MB costs 100 MB, not a copy
    // per rendering step.
    // A cover larger than a small player takes is scaled first (CoverScaler).
    // extraFrames: whole ID3v2.3 frames put right after the mark (the ReplayGain tags).
    static std::vector<TagLib::ByteVector> id3v2For(const std::string& path, AudioSource::Container container,
        const std::string& profile, const std::string& extraFrames = std::string());

    // The size in bytes of what id3v2For gives, for forecasts of many files: the tags are
    // read, and a cover to scale is measured by scaledSize (the bytes it comes to, 0 when it
    // is left out), which may remember the covers an album's files share.
    // With texts, the text tags that would be carried are put there too, by their TagLib key
    // (ARTIST, ALBUMARTIST, ALBUM, TITLE, TRACKNUMBER, DISCNUMBER, DATE, GENRE...), each with
    // its first value in UTF-8: what output names are made from.
    using ScaledSize = std::function<std::size_t(const TagLib::ByteVector& picture)>;
    using Texts = std::map<std::string, std::string>;
    static std::size_t id3v2SizeFor(const std::string& path, AudioSource::Container container,
        const ScaledSize& scaledSize, Texts* texts = nullptr);

    // Of a tag of tagBytes that id3v2For gives for path, the bytes that are there only for the
    // mark: its frame, and the tag's header where the mark stands alone. They are the
    // program's bookkeeping, not the listener's, and are left out where an output is weighed
    // against its source.
    static std::size_t markBytesFor(const std::string& path, std::size_t tagBytes);
};
