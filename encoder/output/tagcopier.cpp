#include "output/tagcopier.h"

#include "output/sourcetags.h"

#include <taglib/id3v2synchdata.h>

namespace {

// The tag with the mark as its first frame, where a reader of the output's first bytes finds
// it before any picture; a tag of its own when the source has none to carry.
std::vector<TagLib::ByteVector> withMark(std::vector<TagLib::ByteVector> pieces, const std::string& mark)
{
    if (mark.empty())
        return pieces;
    const TagLib::ByteVector frame(mark.data(), static_cast<unsigned int>(mark.size()));
    if (pieces.empty()) {
        TagLib::ByteVector header("ID3\x03\x00\x00", 6);
        header.append(TagLib::ID3v2::SynchData::fromUInt(frame.size()));
        return {header + frame};
    }
    TagLib::ByteVector& first = pieces.front();
    const unsigned int tagSize = TagLib::ID3v2::SynchData::toUInt(first.mid(6, 4)) + frame.size();
    TagLib::ByteVector marked = first.mid(0, 6);
    marked.append(TagLib::ID3v2::SynchData::fromUInt(tagSize));
    marked.append(frame);
    marked.append(first.mid(10));
    first = marked;
    return pieces;
}

} // namespace

std::vector<TagLib::ByteVector> TagCopier::id3v2For(const std::string& path, AudioSource::Container container,
    const std::string& profile, const std::string& extraFrames)
{
    std::string mark = SourceTags::markFrameFor(path, profile);
    if (!mark.empty())
        mark += extraFrames;
    try {
        return withMark(SourceTags::id3v2Of(path, container), mark);
    } catch (...) {
        // Tags are a courtesy: a tag TagLib cannot read never stops the conversion.
        return withMark({}, mark);
    }
}
