// Output names as the folder takes them: cut to its limit, in ASCII where it refuses other
// characters, and numbered past a file that was not made from the entry's source.
#include "batchwalk.h"
#include "outputplan.h"
#include "portablename.h"
#include "sourcemark.h"
#include "takennames.h"
#include "vardolist.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vardune;

namespace {

bool ValidUtf8(const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || at + length > text.size())
            return false;
        for (std::size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
                return false;
        at += length;
    }
    return true;
}

std::string NameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// An output as the encoder writes one: a tag holding the mark that names source.
std::string MarkedFor(const std::string& source)
{
    const std::string frame = SourceMark::Frame(SourceMark::Value(*SourceMark::Of(source)));
    std::string tag = "ID3\x03";
    tag += std::string(2, '\0');
    for (int shift = 21; shift >= 0; shift -= 7)
        tag += static_cast<char>((frame.size() >> shift) & 0x7F);
    return tag + frame + std::string(100, '\xff');
}

} // namespace

TEST(PortableName, AsciiNames)
{
    const struct {
        const char* name;
        const char* ascii;
    } cases[] = {
        {"\xc3\x9cn\xc3\xaf" "c\xc3\xb8" "d\xc3\xa9.mp3", "Unicode.mp3"},                   // Ünïcødé
        {"\xc3\x86r\xc3\xb8 \xe2\x80\x93 Stra\xc3\x9f" "e.flac", "AEro - Strasse.flac"},      // Ærø – Straße
        {"U\xcc\x88" "ber \xc5\x81\xc3\xb3" "d\xc5\xba.wav", "Uber Lodz.wav"},                // decomposed Ü, Łódź
        {"plain name.mp3", "plain name.mp3"},
        // Other scripts in Latin letters, as ICU writes them.
        {"01 \xd0\x9f\xd0\xb5\xd1\x81\xd0\xbd\xd1\x8f.flac", "01 Pesna.flac"},              // Песня
        {"\xce\x95\xce\xbb\xce\xbb\xce\xac\xce\xb4\xce\xb1.mp3", "Ellada.mp3"},             // Ελλάδα
        {"03 \xe3\x81\xa8\xe3\x81\x86\xe3\x81\x8d\xe3\x82\x87\xe3\x81\x86.wav", "03 toukyou.wav"},  // とうきょう
        {"01 Caf\xc3\xa9 \xe6\x9d\xb1\xe4\xba\xac.ogg", "01 Cafe dong jing.ogg"},              // Café 東京
        // A separator the transliteration writes never splits the name.
        {"x\xc2\xbdy.mp3", "x 1_2y.mp3"},                                                     // x½y
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortableName::Ascii(c.name), c.ascii) << c.name;

    // Nothing readable comes out: the track number and a hash that keeps two titles apart.
    const std::string notes = PortableName::Ascii("01 \xf0\x9f\x8e\xb5.flac");      // 01 🎵
    const std::string moreNotes = PortableName::Ascii("01 \xf0\x9f\x8e\xb6.flac");  // 01 🎶
    EXPECT_TRUE(notes.size() == 16 && notes.compare(0, 3, "01 ") == 0 && notes.compare(11, 5, ".flac") == 0) << notes;
    EXPECT_NE(notes, moreNotes);
    EXPECT_EQ(PortableName::Ascii("01 \xf0\x9f\x8e\xb5.flac"), notes);
    const std::string untitled = PortableName::Ascii("\xe2\x99\xaa\xe2\x99\xab");  // ♪♫
    EXPECT_EQ(untitled.size(), 8u);
    EXPECT_EQ(untitled.find_first_not_of("0123456789abcdef"), std::string::npos) << untitled;
}

// Source names near the limit: "V_" and ".MP3" would take the output past it. The name is cut
// at a character, in bytes, its number and extension kept.
TEST(BatchWalk, LongNamesAreCutToTheFolderLimit)
{
    std::string accented;
    for (int i = 0; i < 125; ++i)
        accented += "\xc3\xa9";
    const struct {
        std::string name;
        std::size_t maxBytes;
        bool portable;
        const char* ending;
    } cases[] = {
        {std::string(251, 'a') + ".wav", 255, false, ".MP3"},
        {std::string(251, 'a') + ".mp3", 255, false, ".mp3"},
        {accented + ".flac", 255, false, ".MP3"},
        {accented + ".flac", 143, false, ".MP3"},  // an encrypted home's shorter limit
        {accented + accented + ".mp3", 1530, true, ".mp3"},  // FAT: 255 UTF-16 units
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BatchWalk walk;
        TakenNames running;
        BatchWalk::NameRules rules;
        rules.maxBytes = c.maxBytes;
        rules.portable = c.portable;
        const std::string first = NameOf(walk.OutputPath("/out/", c.name, running, rules));
        const std::string second = NameOf(walk.OutputPath("/out/", c.name, running, rules));
        for (const std::string& name : {first, second}) {
            EXPECT_LE(name.size(), c.maxBytes);
            EXPECT_LE(PortableName::Units(name), 255u);
            EXPECT_TRUE(ValidUtf8(name));
            EXPECT_EQ(name.compare(0, 2, "V_"), 0);
        }
        EXPECT_EQ(first.substr(first.size() - 4), c.ending);
        EXPECT_EQ(second.substr(second.size() - 8), std::string(" (2)") + c.ending);
    }
    // A name that fits stays whole.
    BatchWalk walk;
    TakenNames running;
    EXPECT_EQ(walk.OutputPath("/out/", std::string(245, 'b') + ".wav", running, BatchWalk::NameRules{}),
              "/out/V_" + std::string(245, 'b') + ".wav.MP3");
}

// A file at an output path is numbered past unless its mark names the entry's source, which
// makes it that source's own earlier output, replaced as before.
TEST(BatchWalk, FilesOfOtherSourcesAreNumberedPast)
{
    char pattern[] = "/tmp/outputnames-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    const std::string dir = pattern;
    const std::string a = dir + "/A/01 Intro.mp3";
    const std::string b = dir + "/B/01 Intro.mp3";
    std::filesystem::create_directories(dir + "/A");
    std::filesystem::create_directories(dir + "/B");
    std::filesystem::create_directories(dir + "/out");
    Write(a, "a");
    Write(b, "b");
    Write(dir + "/out/V_01 Intro.mp3", MarkedFor(a));
    Write(dir + "/out/V_01 Intro (2).mp3", MarkedFor(b));
    Write(dir + "/out/V_mine.wav.MP3", "the user's own file");

    const auto pathFor = [&](const std::string& name, const std::string& source) {
        BatchWalk walk;  // each its own batch
        TakenNames running;
        return NameOf(walk.OutputPath(dir + "/out/", name, running, BatchWalk::NameRules{}, source));
    };
    EXPECT_EQ(pathFor("01 Intro.mp3", a), "V_01 Intro.mp3");
    EXPECT_EQ(pathFor("01 Intro.mp3", b), "V_01 Intro (2).mp3");
    EXPECT_EQ(pathFor("01 Intro.mp3", dir + "/A/../B/01 Intro.mp3"), "V_01 Intro (2).mp3");  // by real path
    EXPECT_EQ(pathFor("mine.wav", dir + "/A/01 Intro.mp3"), "V_mine.wav (2).MP3");
    Write(dir + "/C.mp3", "c");
    EXPECT_EQ(pathFor("01 Intro.mp3", dir + "/C.mp3"), "V_01 Intro (3).mp3");
    std::filesystem::remove_all(dir);
}

// An output is up to date only when its mark names this very source, unchanged, and the very
// profile asked; every profile has the same length, so a forecast of an output's size needs
// no profile.
TEST(SourceMark, UpToDateOnlyForTheSameSourceAndProfile)
{
    SourceMark::Source source;
    source.path = "/m/A;1/01.flac";
    source.size = 4013311;
    source.seconds = 1700000000;
    source.nanoseconds = 250000000;
    const std::string profile = SourceMark::Profile(96000, false);
    EXPECT_EQ(profile, "br096000,mono0");
    const std::string value = SourceMark::Value(source, profile);
    EXPECT_EQ(value, "path=/m/A%3B1/01.flac;size=4013311;mtime=1700000000.250000000;profile=br096000,mono0");
    EXPECT_TRUE(SourceMark::UpToDate(value, source, profile));
    EXPECT_TRUE(SourceMark::UpToDate("later=x;" + value + ";encoder=2", source, profile));  // fields by name

    SourceMark::Source other = source;
    other.path = "/m/A;1/02.flac";
    SourceMark::Source larger = source;
    larger.size += 1;
    SourceMark::Source touched = source;
    touched.nanoseconds += 1;
    SourceMark::Source earlier = source;
    earlier.seconds -= 1;
    const struct {
        const char* what;
        std::string value;
        SourceMark::Source source;
        std::string profile;
    } notUpToDate[] = {
        {"another source", value, other, profile},
        {"another size", value, larger, profile},
        {"touched", value, touched, profile},
        {"another second", value, earlier, profile},
        {"another bitrate", value, source, SourceMark::Profile(64000, false)},
        {"mono", value, source, SourceMark::Profile(96000, true)},
        {"a mark without a profile", SourceMark::Value(source), source, profile},
        {"no profile asked", SourceMark::Value(source), source, ""},
        {"a profile with a setting added", value, source, profile + ",rs44100"},
        {"no size", "path=/m/A%3B1/01.flac;mtime=1700000000.250000000;profile=br096000,mono0", source, profile},
    };
    for (const auto& c : notUpToDate)
        EXPECT_FALSE(SourceMark::UpToDate(c.value, c.source, c.profile)) << c.what;

    for (const bool mono : {false, true})
        for (const int bitrate : {8000, 16000, 32000, 64000, 96000, 128000, 320000})
            EXPECT_EQ(SourceMark::Profile(bitrate, mono).size(), profile.size()) << bitrate;
}

// The batch tells an output up to date as the encoder does, from the output's mark and the
// source as it stands, without starting the encoder.
TEST(BatchWalk, UpToDateByTheMarkAndTheSourceAsItStands)
{
    const std::string dir = ::testing::TempDir() + "uptodate-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string source = dir + "/a.wav";
    const std::string output = dir + "/V_a.wav.MP3";
    Write(source, "sound");
    const std::string profile = SourceMark::Profile(96000, false);
    const auto outputWith = [&](const std::string& value) {
        const std::string frame = SourceMark::Frame(value);
        std::string tag = "ID3\x03";
        tag += std::string(2, '\0');
        for (int shift = 21; shift >= 0; shift -= 7)
            tag += static_cast<char>((frame.size() >> shift) & 0x7F);
        Write(output, tag + frame + std::string(100, '\xff'));
    };
    EXPECT_FALSE(BatchWalk::UpToDate(output, source, profile));  // no output yet
    outputWith(SourceMark::Value(*SourceMark::Of(source), profile));
    EXPECT_TRUE(BatchWalk::UpToDate(output, source, profile));
    EXPECT_FALSE(BatchWalk::UpToDate(output, source, SourceMark::Profile(96000, true)));
    EXPECT_FALSE(BatchWalk::UpToDate(output, source, ""));  // a quality the encoder picks the bitrate for
    outputWith(SourceMark::Value(*SourceMark::Of(source)));
    EXPECT_FALSE(BatchWalk::UpToDate(output, source, profile));  // an older output without a profile
    outputWith(SourceMark::Value(*SourceMark::Of(source), profile));
    Write(source, "sound, longer");
    EXPECT_FALSE(BatchWalk::UpToDate(output, source, profile));  // the source changed
    std::filesystem::remove_all(dir);
}

// Planned places below the output folder are numbered as one-folder names are: only the same
// path collides (letter case folded), within an album or across two whose plans meet, and a
// file there of another source, or of the user's, is numbered past; its own is replaced.
TEST(BatchWalk, PlannedPlacesAreNumberedPastWhatTheyMayNotTake)
{
    char pattern[] = "/tmp/outputplaces-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    const std::string dir = pattern;
    const std::string out = dir + "/out/";
    std::filesystem::create_directories(dir + "/out/Alpha/First");
    const std::string a = dir + "/a.flac", b = dir + "/b.flac", c = dir + "/c.flac";
    for (const std::string& source : {a, b, c})
        Write(source, source);
    Write(out + "Alpha/First/01 Intro.mp3", MarkedFor(a));  // a's own earlier output
    Write(out + "Alpha/First/02 Song.mp3", "the user's own file");

    const BatchWalk::NameRules rules;
    const auto place = [&](const std::string& folders, const std::string& stem) {
        return [folders, stem, rules](int number) {
            return folders + PortableName::Fit(stem, number >= 2 ? " (" + std::to_string(number) + ")" : "", ".mp3",
                                                rules.maxBytes, rules.portable);
        };
    };
    BatchWalk walk;
    TakenNames running;
    running.Take(out + "Beta/Live/01 intro.mp3");  // an encoder of an earlier batch still writes it
    const auto placed = [&](const std::string& folders, const std::string& stem, const std::string& source) {
        return walk.PlacePath(out, place(folders, stem), running, source).substr(out.size());
    };
    EXPECT_EQ(placed("Alpha/First/", "01 Intro", a), "Alpha/First/01 Intro.mp3");          // its own: replaced
    EXPECT_EQ(placed("Alpha/First/", "01 Intro", b), "Alpha/First/01 Intro (2).mp3");      // same album, same name
    EXPECT_EQ(placed("Alpha/First/", "01 INTRO", c), "Alpha/First/01 INTRO (3).mp3");      // letter case alone
    EXPECT_EQ(placed("Alpha/Second/", "01 Intro", c), "Alpha/Second/01 Intro.mp3");        // another album
    EXPECT_EQ(placed("Beta/Live/", "01 Intro", c), "Beta/Live/01 Intro (2).mp3");          // still being written
    EXPECT_EQ(placed("Alpha/First/", "02 Song", a), "Alpha/First/02 Song (2).mp3");        // the user's file
    EXPECT_EQ(placed("", "loose", a), "loose.mp3");
    // The places belong to this batch only: the next starts afresh.
    VardoList list;
    walk.Start(list);
    EXPECT_EQ(placed("Alpha/First/", "01 Intro", a), "Alpha/First/01 Intro.mp3");
    std::filesystem::remove_all(dir);
}

// The mark is found only where the encoder puts it, in a bounded start of the file, and a
// damaged tag never reads past what is there.
TEST(SourceMark, ReadOnlyFromAWellFormedTag)
{
    const std::string value = "path=/m/a%3Bb%25c%C3%A9.wav;size=12;mtime=5.000000000;quality=3";
    const std::string frame = SourceMark::Frame(value);
    const auto tag = [](const std::string& frames, int version = 3) {
        std::string t = "ID3";
        t += static_cast<char>(version);
        t += std::string(2, '\0');
        for (int shift = 21; shift >= 0; shift -= 7)
            t += static_cast<char>((frames.size() >> shift) & 0x7F);
        return t + frames;
    };
    const auto found = SourceMark::Find(tag(frame));
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, value);
    EXPECT_EQ(SourceMark::PathIn(*found), "/m/a;b%c\xc3\xa9.wav");
    EXPECT_EQ(SourceMark::Field(*found, "quality"), "3");  // a later field reads too
    EXPECT_EQ(SourceMark::Field(*found, "mono"), std::nullopt);

    const std::string damaged[] = {
        tag(frame).substr(0, 40),                              // cut inside the frame
        "ID3\x02" + tag(frame).substr(4),                      // another version
        tag(frame.substr(0, 4) + "\x7f\xff\xff\xff" + frame.substr(8)),  // a frame size of 2 GB
        tag(SourceMark::Frame("size=1")),                      // no path
        tag(SourceMark::Frame("path=relative/a.wav")),
        tag(SourceMark::Frame("path=/a%Zb.wav")),              // a broken escape
        "xID3" + tag(frame),
    };
    for (const std::string& bytes : damaged) {
        const auto value = SourceMark::Find(bytes);
        EXPECT_FALSE(value && SourceMark::PathIn(*value)) << bytes;
    }
}

// One plan for every path: each waiting entry named as the batch names it (numbered past a
// file of another source standing there, in ASCII where the card takes no other), and what
// stands at its output: its own output up to date (with its profile), its own output of a
// source changed since (only its size), nothing.
TEST(OutputPlan, NamesAndWhatStandsThere)
{
    const std::string dir = ::testing::TempDir() + "plan-" + std::to_string(getpid());
    std::filesystem::create_directories(dir + "/out");
    const std::string profile = SourceMark::Profile(96000, false);
    const auto marked = [&](const std::string& output, const std::string& source, const std::string& madeWith) {
        const std::string frame = SourceMark::Frame(SourceMark::Value(*SourceMark::Of(source), madeWith));
        std::string tag = "ID3\x03";
        tag += std::string(2, '\0');
        for (int shift = 21; shift >= 0; shift -= 7)
            tag += static_cast<char>((frame.size() >> shift) & 0x7F);
        Write(output, tag + frame + std::string(1000, '\xff'));
    };
    VardoList list;
    for (const char* name : {"same.wav", "changed.wav", "other.wav", "new.wav", "\xc3\x89mile.wav"}) {
        Write(dir + "/" + name, "sound");
        list.Append(dir + "/" + name, " 5");
    }
    marked(dir + "/out/V_same.wav.MP3", dir + "/same.wav", profile);
    marked(dir + "/out/V_changed.wav.MP3", dir + "/changed.wav", profile);
    Write(dir + "/changed.wav", "sound, longer");
    marked(dir + "/out/V_other.wav.MP3", dir + "/same.wav", profile);  // another source's output

    OutputPlan::Rules rules;
    rules.folder = dir + "/out/";
    rules.names.ascii = true;
    const auto plan = OutputPlan::Make(list, rules, TakenNames(), nullptr);
    ASSERT_EQ(plan.size(), 5u);
    const auto size = [&](const char* name) { return double(std::filesystem::file_size(dir + "/out/" + name)); };
    const struct {
        std::string target;
        double bytes;
        std::string profile;
    } expected[] = {
        {"V_same.wav.MP3", size("V_same.wav.MP3"), profile},
        {"V_changed.wav.MP3", size("V_changed.wav.MP3"), ""},
        {"V_other.wav (2).MP3", 0, ""},
        {"V_new.wav.MP3", 0, ""},
        {"V_Emile.wav.MP3", 0, ""},
    };
    for (std::size_t i = 0; i < plan.size(); ++i) {
        EXPECT_EQ(plan[i].entry, list.At(i).id);
        EXPECT_EQ(plan[i].target, rules.folder + expected[i].target);
        EXPECT_EQ(plan[i].standing.bytes, expected[i].bytes) << i;
        EXPECT_EQ(plan[i].standing.profile, expected[i].profile) << i;
    }
    std::filesystem::remove_all(dir);
}
