// Tags travel from the source to the MP3 as ID3v2.3: text fields and the front cover, from
// every container's own tag format. The source is never written.

#include "testsupport.h"

#include "sourcemark.h"

#include <sndfile.h>
#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

using namespace enctest;
using TagLib::PropertyMap;
using TagLib::String;
using TagLib::StringList;

namespace {

PropertyMap fullTags()
{
    PropertyMap m;
    m.insert("TITLE", StringList(String("Über den Wolken — 雲", String::UTF8)));
    m.insert("ARTIST", StringList("The Testers"));
    m.insert("ALBUM", StringList("Fixtures"));
    m.insert("ALBUMARTIST", StringList("Various"));
    m.insert("TRACKNUMBER", StringList("7/12"));
    m.insert("DISCNUMBER", StringList("2/3"));
    m.insert("DATE", StringList("1999"));
    m.insert("GENRE", StringList("Jazz"));
    m.insert("COMMENT", StringList("made by a test"));
    return m;
}

// A small JPEG (within 600 x 600 and 300 KB): the output holds its bytes unchanged.
TagLib::ByteVector coverBytes()
{
    static const std::string jpeg = [] {
        startVips();
        VipsImage* image = nullptr;
        EXPECT_EQ(vips_black(&image, 40, 30, "bands", 3, nullptr), 0);
        void* buffer = nullptr;
        std::size_t length = 0;
        EXPECT_EQ(vips_jpegsave_buffer(image, &buffer, &length, nullptr), 0);
        g_object_unref(image);
        std::string bytes(static_cast<char*>(buffer), length);
        g_free(buffer);
        return bytes;
    }();
    return TagLib::ByteVector(jpeg.data(), unsigned(jpeg.size()));
}

TagLib::ID3v2::AttachedPictureFrame* coverFrame()
{
    auto* f = new TagLib::ID3v2::AttachedPictureFrame;
    f->setPicture(coverBytes());
    f->setMimeType("image/jpeg");
    f->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    return f;
}

TagLib::FLAC::Picture* flacCover()
{
    auto* p = new TagLib::FLAC::Picture;
    p->setData(coverBytes());
    p->setMimeType("image/jpeg");
    p->setType(TagLib::FLAC::Picture::FrontCover);
    return p;
}

void makeMp3(const TempDir& dir, const std::string& path)
{
    writeWav(dir.path("plain.wav"), WavSpec {});
    ASSERT_EQ(runFastencc({dir.path("plain.wav"), path}).exitCode, 0);
}

void makeSndfile(const std::string& path, int format)
{
    SF_INFO info {};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> buf(44100 * 2);
    for (std::size_t i = 0; i < buf.size(); ++i)
        buf[i] = signal(int(i % 2), std::int64_t(i / 2), 44100);
    sf_writef_float(f, buf.data(), 44100);
    sf_close(f);
}

struct TagCase {
    const char* name;
    std::function<void(const TempDir&, const std::string&)> make;
    std::vector<std::string> expectedKeys; // keys of fullTags() the format can hold
    bool cover;
};

void PrintTo(const TagCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::vector<std::string> kAllKeys = {"TITLE", "ARTIST", "ALBUM", "ALBUMARTIST", "TRACKNUMBER",
    "DISCNUMBER", "DATE", "GENRE", "COMMENT"};

} // namespace

class TagCarryTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(TagCarryTest, CarriedAsId3v23)
{
    const TagCase& c = GetParam();
    TempDir dir;
    const std::string source = dir.path("source.any");
    c.make(dir, source);
    const std::string before = readFile(source);

    const RunResult r = runFastencc({source, dir.path("out.mp3")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(source), before) << "the source was modified";
    ASSERT_TRUE(decodeMp3(dir.path("out.mp3")).ok);

    TagLib::MPEG::File out(dir.path("out.mp3").c_str());
    ASSERT_TRUE(out.hasID3v2Tag());
    EXPECT_EQ(out.ID3v2Tag()->header()->majorVersion(), 3u);
    const PropertyMap got = out.ID3v2Tag()->properties();
    const PropertyMap want = fullTags();
    for (const auto& key : c.expectedKeys) {
        ASSERT_TRUE(got.contains(key)) << key;
        // ID3v1 and RIFF INFO keep only the track number; the year stays a year.
        EXPECT_EQ(got[key].front().split("/").front(), want[key].front().split("/").front()) << key;
    }
    const auto pictures = out.ID3v2Tag()->frameList("APIC");
    if (c.cover) {
        ASSERT_EQ(pictures.size(), 1u);
        const auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(pictures.front());
        ASSERT_NE(apic, nullptr);
        EXPECT_EQ(apic->picture(), coverBytes());
        EXPECT_EQ(apic->type(), TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    } else {
        EXPECT_TRUE(pictures.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, TagCarryTest,
    ::testing::Values(
        TagCase {"wav_id3_chunk",
            [](const TempDir&, const std::string& p) {
                writeWav(p, WavSpec {});
                TagLib::RIFF::WAV::File f(p.c_str());
                f.ID3v2Tag()->setProperties(fullTags());
                f.ID3v2Tag()->addFrame(coverFrame());
                ASSERT_TRUE(f.save());
            },
            kAllKeys, true},
        TagCase {"wav_riff_info",
            [](const TempDir&, const std::string& p) {
                writeWav(p, WavSpec {});
                TagLib::RIFF::WAV::File f(p.c_str());
                auto* info = f.InfoTag();
                info->setTitle(fullTags()["TITLE"].front());
                info->setArtist("The Testers");
                info->setAlbum("Fixtures");
                info->setGenre("Jazz");
                info->setYear(1999);
                info->setTrack(7);
                info->setComment("made by a test");
                ASSERT_TRUE(f.save(TagLib::RIFF::WAV::File::Info));
            },
            {"TITLE", "ARTIST", "ALBUM", "GENRE", "DATE", "TRACKNUMBER", "COMMENT"}, false},
        TagCase {"flac_vorbis_comment",
            [](const TempDir&, const std::string& p) {
                makeSndfile(p, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
                TagLib::FLAC::File f(p.c_str());
                PropertyMap m = fullTags();
                m.erase("COMMENT");
                m.insert("DESCRIPTION", StringList("made by a test")); // the Vorbis name
                f.xiphComment(true)->setProperties(m);
                f.addPicture(flacCover());
                ASSERT_TRUE(f.save());
            },
            kAllKeys, true},
        TagCase {"ogg_vorbis_comment",
            [](const TempDir&, const std::string& p) {
                makeSndfile(p, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
                TagLib::Ogg::Vorbis::File f(p.c_str());
                f.tag()->setProperties(fullTags());
                f.tag()->addPicture(flacCover());
                ASSERT_TRUE(f.save());
            },
            kAllKeys, true},
        TagCase {"mp3_id3v24",
            [](const TempDir& d, const std::string& p) {
                makeMp3(d, p);
                TagLib::MPEG::File f(p.c_str());
                f.ID3v2Tag(true)->setProperties(fullTags());
                f.ID3v2Tag(true)->addFrame(coverFrame());
                ASSERT_TRUE(f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
            },
            kAllKeys, true},
        TagCase {"mp3_ape_and_id3v1",
            [](const TempDir& d, const std::string& p) {
                makeMp3(d, p);
                TagLib::MPEG::File f(p.c_str());
                f.APETag(true)->setProperties(fullTags());
                f.ID3v1Tag(true)->setProperties(fullTags());
                ASSERT_TRUE(f.save(TagLib::MPEG::File::APE | TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers));
            },
            kAllKeys, false},
        TagCase {"mp3_id3v1_only",
            [](const TempDir& d, const std::string& p) {
                makeMp3(d, p);
                TagLib::MPEG::File f(p.c_str());
                PropertyMap m = fullTags();
                m.replace("TITLE", StringList("Plain title"));
                m.replace("TRACKNUMBER", StringList("7")); // ID3v1.1 holds a number only
                f.ID3v1Tag(true)->setProperties(m);
                ASSERT_TRUE(f.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers));
            },
            {"ARTIST", "ALBUM", "DATE", "GENRE", "COMMENT", "TRACKNUMBER"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A source without tags gives an MP3 whose tag holds the mark that names its source, and
// nothing invented.
TEST(Tags, NoTagsOnlyTheMark)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("out.mp3")}).exitCode, 0);
    TagLib::MPEG::File out(dir.path("out.mp3").c_str());
    ASSERT_TRUE(out.hasID3v2Tag());
    const auto frames = out.ID3v2Tag()->frameList();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames.front()->frameID(), TagLib::ByteVector("TXXX"));
    EXPECT_EQ(out.ID3v2Tag()->header()->tagSize(), markSize(readFile(dir.path("out.mp3"))));
}

// --facts gives the tags output names are made of after the sizes, one field each, escaped so
// that nothing in a value can end the field or the line, and bounded in length.
TEST(Facts, NamingTagsFollowTheSizes)
{
    TempDir dir;
    const std::string tagged = dir.path("tagged.flac");
    makeSndfile(tagged, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    {
        TagLib::FLAC::File f(tagged.c_str());
        PropertyMap m = fullTags();
        m.replace("TITLE", StringList(String("Tab\there\nnext \\ \x01 end", String::UTF8)));
        m.replace("ARTIST", StringList(String(std::string(1500, 'a') + "\xc3\xa9", String::UTF8)));
        f.xiphComment(true)->setProperties(m);
        ASSERT_TRUE(f.save());
    }
    const std::string bare = dir.path("bare.wav");
    writeWav(bare, WavSpec {});
    writeFile(dir.path("list"), tagged + '\0' + bare + '\0');
    const std::string command = std::string(FASTENCC_PATH) + " --facts < " + dir.path("list") + " > " + dir.path("facts");
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string facts = readFile(dir.path("facts"));
    const std::size_t end = facts.find('\n');
    ASSERT_NE(end, std::string::npos);
    const std::string line = facts.substr(0, end);
    const std::string rest = facts.substr(end + 1);
    const std::string tags = line.substr(line.find("\ttag:"));
    EXPECT_EQ(tags,
        "\ttag:ARTIST=" + std::string(1024, 'a') + "\ttag:ALBUMARTIST=Various\ttag:ALBUM=Fixtures"
        "\ttag:TITLE=Tab\\there\\nnext \\\\  end\ttag:TRACKNUMBER=7/12\ttag:DISCNUMBER=2/3\ttag:DATE=1999"
        "\ttag:GENRE=Jazz");
    EXPECT_EQ(rest.compare(0, 3, "ok\t"), 0) << rest;
    EXPECT_EQ(rest.find("tag:"), std::string::npos) << rest;
    EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 1);
}

// Every text property TagLib maps to ID3 frames travels whole from a Vorbis comment and from
// an ID3v2.4 tag: totals joined to their numbers ("1/4"), the compilation flag, sort names,
// credits and dates ID3v2.3 has no frame for (as user text frames of the same name). What
// describes the source file alone stays behind.
TEST(Tags, EveryTextPropertyTravels)
{
    const std::vector<std::pair<std::string, std::string>> carried = {
        {"ALBUM", "Fixtures"}, {"ARTIST", "The Testers"}, {"ALBUMARTIST", "Various"}, {"TITLE", "Über — 雲"},
        {"COMPILATION", "1"}, {"DATE", "1999-05-06"}, {"ORIGINALDATE", "1970"}, {"GENRE", "Jazz"}, {"COMPOSER", "Ann"},
        {"LYRICIST", "Bo"}, {"CONDUCTOR", "Cy"}, {"REMIXER", "Di"}, {"LABEL", "Ed Records"}, {"BPM", "120"},
        {"COPYRIGHT", "2000 Ed"}, {"ENCODEDBY", "Fay"}, {"ISRC", "USXXX0000001"}, {"MEDIA", "CD"},
        {"ALBUMSORT", "Fixtures, The"}, {"ARTISTSORT", "Testers, The"}, {"TITLESORT", "Uber"},
        {"ALBUMARTISTSORT", "Various"}, {"COMPOSERSORT", "Ann"}, {"SUBTITLE", "Live"}, {"CONTENTGROUP", "Group"},
        {"LANGUAGE", "deu"}, {"MOOD", "Calm"}, {"RELEASEDATE", "2001-02-03"}, {"ARRANGER", "Gus"}, {"PRODUCER", "Hal"},
        {"MUSICBRAINZ_ALBUMID", "0b2c4a9e-0000-4000-8000-000000000001"}, {"CATALOGNUMBER", "ED-001"},
        {"COMMENT", "made by a test"}, {"LYRICS", "la la"}, {"DISCSUBTITLE", "Side A"}};
    const std::vector<std::string> leftOut = {"REPLAYGAIN_TRACK_GAIN", "ENCODING"};
    PropertyMap tags;
    for (const auto& [key, value] : carried)
        tags.insert(String(key), StringList(String(value, String::UTF8)));
    tags.insert("REPLAYGAIN_TRACK_GAIN", StringList("-3.00 dB"));
    tags.insert("VARDUNE_SOURCE", StringList("path=/elsewhere"));

    struct Source {
        const char* name;
        std::function<void(const TempDir&, const std::string&)> make;
    };
    const Source sources[] = {
        {"flac", [&](const TempDir&, const std::string& p) {
             makeSndfile(p, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
             TagLib::FLAC::File f(p.c_str());
             PropertyMap m = tags;
             m.insert("TRACKNUMBER", StringList("1"));
             m.insert("TRACKTOTAL", StringList("4"));
             m.insert("DISCNUMBER", StringList("2"));
             m.insert("TOTALDISCS", StringList("3"));  // as some taggers name it
             m.insert("ENCODER", StringList("some encoder 1.0"));
             f.xiphComment(true)->setProperties(m);
             ASSERT_TRUE(f.save());
         }},
        {"mp3_id3v24", [&](const TempDir& d, const std::string& p) {
             makeMp3(d, p);
             TagLib::MPEG::File f(p.c_str());
             PropertyMap m = tags;
             m.insert("TRACKNUMBER", StringList("1/4"));
             m.insert("DISCNUMBER", StringList("2/3"));
             m.insert("ENCODING", StringList("LAME 3.100"));
             f.ID3v2Tag(true)->setProperties(m);
             ASSERT_TRUE(f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
         }},
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        TempDir dir;
        const std::string source = dir.path("source.any");
        s.make(dir, source);
        const RunResult r = runFastencc({source, dir.path("out.mp3")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        TagLib::MPEG::File out(dir.path("out.mp3").c_str());
        ASSERT_TRUE(out.hasID3v2Tag());
        EXPECT_EQ(out.ID3v2Tag()->header()->majorVersion(), 3u);
        const PropertyMap got = out.ID3v2Tag()->properties();
        for (const auto& [key, value] : carried) {
            ASSERT_TRUE(got.contains(key)) << key;
            EXPECT_EQ(got[key].front().to8Bit(true), value) << key;
        }
        EXPECT_EQ(got["TRACKNUMBER"].front(), "1/4");
        EXPECT_EQ(got["DISCNUMBER"].front(), "2/3");
        EXPECT_EQ(out.ID3v2Tag()->frameList("TCMP").size(), 1u);
        for (const std::string& key : leftOut)
            EXPECT_FALSE(got.contains(key)) << key;
        EXPECT_FALSE(got.contains("ENCODER"));
        EXPECT_FALSE(got.contains("TRACKTOTAL"));
        EXPECT_FALSE(got.contains("DISCTOTAL"));
        // The mark is the output's own, alone, naming this source.
        ASSERT_EQ(got["VARDUNE_SOURCE"].size(), 1u);
        EXPECT_EQ(got["VARDUNE_SOURCE"].front().find("elsewhere"), -1);
        const auto mark = vardune::SourceMark::ReadFile(dir.path("out.mp3"));
        ASSERT_TRUE(mark);
        EXPECT_NE(mark->find("source.any"), std::string::npos);
    }
}
