#include "output/sourcetags.h"

#include "output/coverscaler.h"

#include "sourcemark.h"

#include <taglib/aifffile.h>
#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2synchdata.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tdebuglistener.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <memory>

namespace {

using TagLib::PropertyMap;
using TagLib::String;

// Every text property TagLib reads is carried, keyed as TagLib's property names, but these:
// they describe the source file, not the output, or are the program's own.
// - ReplayGain: the source's loudness and peak; an output levelled gets its own.
// - The mark: the output names its own source first.
// - The encoder's settings (ID3 TSSE, Vorbis ENCODER), the source's length (TLEN) and file
//   type (TFLT), and iTunes' gapless and loudness notes on the source (iTunSMPB, iTunNORM).
bool leftOut(const String& key)
{
    static const char* const kLeftOut[] = {"VARDUNE_SOURCE", "ENCODING", "ENCODER", "LENGTH", "FILETYPE", "ITUNSMPB", "ITUNNORM",
        "COMMENT:ITUNSMPB", "COMMENT:ITUNNORM", "COMMENT:ITUNPGAP"};
    if (key.startsWith("REPLAYGAIN_"))
        return true;
    for (const char* k : kLeftOut)
        if (key == k)
            return true;
    return false;
}

// Vorbis comment names some taggers write for what TagLib's keys call otherwise.
String keyOf(String key)
{
    key = key.upper();
    if (key == "DESCRIPTION")
        return "COMMENT";
    if (key == "YEAR")
        return "DATE";
    if (key == "ALBUM ARTIST")
        return "ALBUMARTIST";
    if (key == "ORGANIZATION")
        return "LABEL";
    if (key == "UNSYNCEDLYRICS")
        return "LYRICS";
    if (key == "TOTALTRACKS")
        return "TRACKTOTAL";
    if (key == "TOTALDISCS")
        return "DISCTOTAL";
    return key;
}

// Frames of ID3v2.4 that TagLib leaves out of an ID3v2.3 tag: their properties go as user
// text frames (TXXX) named by the property, which TagLib and other readers read back as the
// same property.
bool onlyInId3v24(const String& key)
{
    static const char* const kKeys[] = {"MOOD", "PRODUCEDNOTICE", "RELEASEDATE", "TAGGINGDATE", "ARRANGER", "ENGINEER",
        "PRODUCER", "DJMIXER", "MIXER"};
    for (const char* k : kKeys)
        if (key == k)
            return true;
    return key.startsWith("PERFORMER:");
}

// The tag's size field has 28 bits; what the text frames and padding take stays free.
constexpr unsigned int kMaxPicture = 0x0FFFFFFF - (1u << 20);

void overwrite(TagLib::ByteVector& bytes, unsigned int offset, const TagLib::ByteVector& with)
{
    for (unsigned int i = 0; i < with.size(); ++i)
        bytes[offset + i] = with[i];
}

struct Picture {
    TagLib::ByteVector data;
    String mimeType;
    String description;
    int type = 0; // ID3v2/FLAC picture type; 3 = front cover
};

// Collects properties from several tags of one file; the first tag that has a key wins
// (ID3v2 before APE before ID3v1, as players read them).
class Collector {
public:
    const PropertyMap& properties() const { return m_properties; }

    // Called with the tag's own type: TagLib 1.13 only maps the full key set (ALBUMARTIST,
    // DISCNUMBER...) through the derived classes' properties(), not through TagLib::Tag.
    template <class TagType>
    void addTag(const TagType* tag)
    {
        if (tag && !tag->isEmpty())
            addProperties(tag->properties());
    }

    void addProperties(const PropertyMap& map)
    {
        for (const auto& entry : map) {
            const String key = keyOf(entry.first);
            if (!leftOut(key) && !entry.second.isEmpty() && !entry.second.front().isEmpty() && !m_properties.contains(key))
                m_properties.insert(key, entry.second);
        }
    }

    // Once every tag is read: a total kept apart (Vorbis TRACKTOTAL, DISCTOTAL) joins its
    // number as ID3 writes it ("1/4").
    void complete()
    {
        joinTotal("TRACKNUMBER", "TRACKTOTAL");
        joinTotal("DISCNUMBER", "DISCTOTAL");
    }

    void addPicture(const Picture& picture)
    {
        if (picture.data.isEmpty())
            return;
        // Keep one picture: the front cover, or failing that the first one found.
        if (!m_picture || (m_picture->type != 3 && picture.type == 3))
            m_picture = std::make_unique<Picture>(picture);
    }

    void addPictures(const TagLib::ID3v2::Tag* tag)
    {
        if (!tag)
            return;
        for (const auto* frame : tag->frameList("APIC")) {
            const auto* apic = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
            if (apic)
                addPicture({apic->picture(), apic->mimeType(), apic->description(), static_cast<int>(apic->type())});
        }
    }

    void addPictures(const TagLib::List<TagLib::FLAC::Picture*>& pictures)
    {
        for (const auto* p : pictures)
            addPicture({p->data(), p->mimeType(), p->description(), static_cast<int>(p->type())});
    }

    // Brings the cover to what a small player shows: scaled when it is too large, left out
    // when it is too large and cannot be decoded, or is no picture the decoder can read.
    void fitPicture()
    {
        if (!m_picture)
            return;
        switch (CoverScaler::fitOf(m_picture->data)) {
        case CoverScaler::Fit::Kept:
            return;
        case CoverScaler::Fit::Scaled:
            m_picture->data = CoverScaler::scale(m_picture->data);
            m_picture->mimeType = "image/jpeg";
            if (m_picture->data.isEmpty())
                m_picture.reset();
            return;
        case CoverScaler::Fit::LeftOut:
            m_picture.reset();
            return;
        }
    }

    // What render() gives after fitPicture(), in bytes, a picture to scale measured by
    // scaledSize.
    std::size_t renderedSize(const SourceTags::ScaledSize& scaledSize) const
    {
        if (m_properties.isEmpty() && !m_picture)
            return 0;
        std::size_t picture = 0;
        if (m_picture) {
            switch (CoverScaler::fitOf(m_picture->data)) {
            case CoverScaler::Fit::Kept:
                picture = m_picture->data.size();
                break;
            case CoverScaler::Fit::Scaled:
                picture = scaledSize(m_picture->data);
                break;
            case CoverScaler::Fit::LeftOut:
                break;
            }
        }
        if (m_picture && picture == 0)
            return m_properties.isEmpty() ? 0 : renderTag(false).size(); // left out
        return renderTag(m_picture != nullptr).size() + picture;
    }

    std::vector<TagLib::ByteVector> render() const
    {
        if (m_properties.isEmpty() && !m_picture)
            return {};
        // The picture frame is rendered without its picture; the picture follows as a piece
        // of its own, and the two sizes that count it are raised by its length.
        const bool withPicture = m_picture && m_picture->data.size() <= kMaxPicture;
        TagLib::ByteVector bytes = renderTag(withPicture);
        if (!withPicture)
            return {bytes};
        const unsigned int extra = m_picture->data.size();
        // Frames of ID3v2.3: 4-byte id, 4-byte big-endian size, 2 flag bytes; padding (zero
        // bytes) after the last.
        unsigned int pos = 10;
        while (pos + 10 <= bytes.size() && bytes[pos] != 0) {
            const unsigned int size = bytes.toUInt(pos + 4, true);
            if (bytes.mid(pos, 4) == "APIC") {
                const unsigned int end = pos + 10 + size;
                overwrite(bytes, pos + 4, TagLib::ByteVector::fromUInt(size + extra, true));
                const unsigned int tagSize = TagLib::ID3v2::SynchData::toUInt(bytes.mid(6, 4)) + extra;
                overwrite(bytes, 6, TagLib::ID3v2::SynchData::fromUInt(tagSize));
                return {bytes.mid(0, end), m_picture->data, bytes.mid(end)};
            }
            pos += 10 + size;
        }
        return {}; // not reached: the frame was added above
    }

private:
    // The tag with its text and, when asked, a picture frame without its picture; without
    // the padding TagLib leaves for editing in place, which an output never needs.
    TagLib::ByteVector renderTag(bool withPictureFrame) const
    {
        TagLib::ID3v2::Tag tag;
        PropertyMap inFrames;
        for (const auto& entry : m_properties)
            if (!onlyInId3v24(entry.first))
                inFrames.insert(entry.first, entry.second);
        tag.setProperties(inFrames);
        for (const auto& entry : m_properties)
            if (onlyInId3v24(entry.first))
                tag.addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(entry.first, entry.second, String::UTF16));
        if (withPictureFrame) {
            auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
            frame->setMimeType(m_picture->mimeType.isEmpty() ? String("image/jpeg") : m_picture->mimeType);
            frame->setDescription(m_picture->description);
            frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(m_picture->type));
            tag.addFrame(frame);
        }
        TagLib::ByteVector bytes = tag.render(TagLib::ID3v2::v3);
        unsigned int end = 10;
        while (end + 10 <= bytes.size() && bytes[end] != 0)
            end += 10 + bytes.toUInt(end + 4, true);
        if (end < bytes.size()) {
            bytes.resize(end);
            overwrite(bytes, 6, TagLib::ID3v2::SynchData::fromUInt(end - 10));
        }
        return bytes;
    }

    void joinTotal(const String& numberKey, const String& totalKey)
    {
        if (!m_properties.contains(totalKey))
            return;
        const String total = m_properties[totalKey].front().stripWhiteSpace();
        if (m_properties.contains(numberKey)) {
            const String number = m_properties[numberKey].front().stripWhiteSpace();
            if (number.find("/") < 0 && !total.isEmpty())
                m_properties.replace(numberKey, TagLib::StringList(number + "/" + total));
            m_properties.erase(totalKey);
        }
    }

    PropertyMap m_properties;
    std::unique_ptr<Picture> m_picture;
};

// TagLib reports malformed tags on standard error; fastencc's standard error is one line.
class QuietListener : public TagLib::DebugListener {
public:
    void printMessage(const String&) override {}
};

void quietTagLib()
{
    static QuietListener quiet;
    TagLib::setDebugListener(&quiet);
}

void collectTags(TagLib::IOStream* stream, AudioSource::Container container, Collector& out)
{
    using Container = AudioSource::Container;
    switch (container) {
    case Container::Mpeg: {
        TagLib::MPEG::File file(stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (!file.isValid())
            return;
        out.addTag(file.ID3v2Tag(false));
        out.addTag(file.APETag(false));
        out.addTag(file.ID3v1Tag(false));
        out.addPictures(file.ID3v2Tag(false));
        return;
    }
    case Container::Wav: {
        TagLib::RIFF::WAV::File file(stream, false);
        if (!file.isValid())
            return;
        if (file.hasID3v2Tag()) {
            out.addTag(file.ID3v2Tag());
            out.addPictures(file.ID3v2Tag());
        }
        if (file.hasInfoTag())
            out.addTag(file.InfoTag());
        return;
    }
    case Container::Aiff: {
        TagLib::RIFF::AIFF::File file(stream, false);
        if (!file.isValid())
            return;
        if (file.hasID3v2Tag()) {
            out.addTag(file.tag());
            out.addPictures(file.tag());
        }
        return;
    }
    case Container::Flac: {
        TagLib::FLAC::File file(stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (!file.isValid())
            return;
        out.addTag(file.xiphComment(false));
        out.addTag(file.ID3v2Tag(false));
        out.addTag(file.ID3v1Tag(false));
        out.addPictures(file.pictureList());
        return;
    }
    case Container::OggVorbis: {
        TagLib::Ogg::Vorbis::File file(stream, false);
        if (!file.isValid() || !file.tag())
            return;
        out.addTag(file.tag());
        out.addPictures(file.tag()->pictureList());
        return;
    }
    case Container::OggOpus: {
        TagLib::Ogg::Opus::File file(stream, false);
        if (!file.isValid() || !file.tag())
            return;
        out.addTag(file.tag());
        out.addPictures(file.tag()->pictureList());
        return;
    }
    case Container::Other:
        return;
    }
}

void collect(TagLib::IOStream* stream, AudioSource::Container container, Collector& out)
{
    collectTags(stream, container, out);
    out.complete();
}

// The size of the mark's frame for path: every profile has the same length, so that of any
// bitrate stands for the one an output will be made with, and so has every fingerprint of the
// content, which is not read for this (a forecast over a library reads each source's start
// only).
std::size_t markFrameSize(const std::string& path)
{
    constexpr int kAnyBitrate = 128000;
    const auto source = vardune::SourceMark::Of(path);
    const std::string anyContent(16, '0');
    return source ? vardune::SourceMark::Frame(vardune::SourceMark::Value(*source, vardune::SourceMark::Profile(kAnyBitrate, false), anyContent))
                        .size()
                  : 0;
}

} // namespace

std::vector<TagLib::ByteVector> SourceTags::id3v2Of(const std::string& path, AudioSource::Container container)
{
    quietTagLib();
    // Read-only stream: the source must never be written, even by accident.
    TagLib::FileStream stream(path.c_str(), true);
    if (!stream.isOpen())
        return {};
    Collector collector;
    collect(&stream, container, collector);
    collector.fitPicture();
    return collector.render();
}

std::string SourceTags::markFrameFor(const std::string& path, const std::string& profile)
{
    const auto source = vardune::SourceMark::Of(path);
    // With the fingerprint of the source's content, by which the output is known as its own
    // after the source has moved.
    return source ? vardune::SourceMark::Frame(vardune::SourceMark::Value(*source, profile, vardune::SourceMark::Content(source->path)))
                  : std::string();
}

std::size_t SourceTags::markBytesFor(const std::string& path, std::size_t tagBytes)
{
    const std::size_t frame = markFrameSize(path);
    if (frame == 0 || tagBytes < frame)
        return 0;
    return tagBytes == frame + 10 ? tagBytes : frame;
}

std::size_t SourceTags::id3v2SizeFor(const std::string& path, AudioSource::Container container,
    const ScaledSize& scaledSize, Texts* texts)
{
    quietTagLib();
    const std::size_t mark = markFrameSize(path);
    // The mark makes a tag of its own (its 10-byte header) where the source carries none.
    const auto marked = [mark](std::size_t tag) { return mark == 0 ? tag : tag + mark + (tag == 0 ? 10 : 0); };
    try {
        TagLib::FileStream stream(path.c_str(), true);
        if (!stream.isOpen())
            return marked(0);
        Collector collector;
        collect(&stream, container, collector);
        if (texts)
            for (const auto& entry : collector.properties())
                if (!entry.second.isEmpty())
                    (*texts)[entry.first.to8Bit(true)] = entry.second.front().to8Bit(true);
        return marked(collector.renderedSize(scaledSize));
    } catch (...) {
        return marked(0);
    }
}
