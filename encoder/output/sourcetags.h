#pragma once

#include "sources/audiosource.h"

#include <taglib/tbytevector.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The tags of a source as an output carries them: every text property TagLib reads from it
// (title, artists, album, track and disc with their totals, dates, sort names, the compilation
// flag, MusicBrainz identifiers...) but what describes the source file alone (its ReplayGain,
// encoder settings, length), and the front cover; read from the source only (TagLib never
// opens it for writing here) and rendered as an ID3v2.3 tag, where what only ID3v2.4 has a
// frame for goes as a user text frame of the same name; and, for forecasts of many
// files, the size of that tag with the mark an output puts first, and the texts output names
// are made of. The conversion (TagCopier), the forecast and the loudness pass all read a
// source's tags here, so that each finds the same.
class SourceTags {
public:
    // The source's tags as an ID3v2.3 tag, as pieces to write one after the other, without
    // the mark: empty when the source has no tag worth carrying. The picture is its own
    // piece, holding the very bytes TagLib read: a cover of 100 MB costs 100 MB, not a copy
    // per rendering step. A cover larger than a small player takes is scaled first
    // (CoverScaler). Throws what TagLib throws on a tag it cannot read.
    static std::vector<TagLib::ByteVector> id3v2Of(const std::string& path, AudioSource::Container container);

    // The frame that names the source and the profile (SourceMark), or nothing when the
    // source cannot be looked at (it is then not converted either).
    static std::string markFrameFor(const std::string& path, const std::string& profile);

    // The size in bytes of the tag an output of path carries (what id3v2Of gives, with the
    // mark in front), for forecasts of many files: the tags are read, and a cover to scale is
    // measured by scaledSize (the bytes it comes to, 0 when it is left out), which may
    // remember the covers an album's files share.
    // With texts, the text tags that would be carried are put there too, by their TagLib key
    // (ARTIST, ALBUMARTIST, ALBUM, TITLE, TRACKNUMBER, DISCNUMBER, DATE, GENRE...), each with
    // its first value in UTF-8: what output names are made from.
    using ScaledSize = std::function<std::size_t(const TagLib::ByteVector& picture)>;
    using Texts = std::map<std::string, std::string>;
    static std::size_t id3v2SizeFor(const std::string& path, AudioSource::Container container,
        const ScaledSize& scaledSize, Texts* texts = nullptr);

    // Of a tag of tagBytes that an output of path carries, the bytes that are there only for
    // the mark: its frame, and the tag's header where the mark stands alone. They are the
    // program's bookkeeping, not the listener's, and are left out where an output is weighed
    // against its source.
    static std::size_t markBytesFor(const std::string& path, std::size_t tagBytes);
};
