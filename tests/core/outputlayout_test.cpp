// Where outputs go below the output folder: one folder with "V_" names, the source's folders
// kept, or paths made from tags by a pattern; every part as the folder's file system takes it.
#include "batchwalk.h"
#include "outputlayout.h"
#include "portablename.h"
#include "takennames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace vardune;
using Kind = OutputLayout::Kind;

namespace {

BatchWalk::NameRules Rules(bool portable, bool ascii = false, std::size_t maxBytes = 255)
{
    BatchWalk::NameRules rules;
    rules.portable = portable;
    rules.ascii = ascii;
    rules.maxBytes = maxBytes;
    return rules;
}

// A small library added as the folder /music: two albums whose tracks share names, a file
// without tags, one whose tags hold separators and a colon, one with a FAT-hostile album, and
// a file added on its own from elsewhere.
std::vector<OutputLayout::Source> Library()
{
    std::vector<OutputLayout::Source> sources(10);
    sources[0] = {"/music/Alpha/First/01 Intro.flac", "/music", {"Alpha", "", "First", "Intro", "1/10", "", "2001", "Rock"}};
    sources[1] = {"/music/Alpha/Second/01 Intro.flac", "/music/",
                  {"Alpha", "Alpha & Friends", "Second", "Intro", "1", "2/2", "2003", ""}};
    sources[2] = {"/music/Loose/track.ogg", "/music", {}};
    sources[3] = {"/music/Beta/Odd/02 Odd.wav", "/music", {"AC/DC", "", "..", "Time: 10:00", "2", "", "", ""}};
    sources[4] = {"/music/Beta/Live/07 Who.mp3", "/music",
                  {"  Beta\\Band ", "", "Who? \"Live\".", "Tab\there", "7", "", "", ""}};
    sources[5] = {"/elsewhere/03 Solo.mp3", "/music", {"", "", "", "", "", "", "", ""}};
    sources[6] = {"/music/Alpha/First/.hidden", "/music", {"", "", ".", "", "", "", "", ""}};
    sources[7] = {"/musical/Gamma/x.flac", "/music", {}};  // its path only starts like the root's
    sources[8] = {"/music/./Delta: Two//Side?/y.aiff", "/music", {}};
    sources[9] = {"/music/Delta/z.wav", "", {}};  // added on its own
    return sources;
}

} // namespace

TEST(OutputLayout, EachLayoutPlansItsPathsForALibrary)
{
    const char* const pattern = OutputLayout::kDefaultPattern;
    const struct {
        Kind kind;
        const char* pattern;
        bool fat;
        std::size_t source;
        const char* path;
    } cases[] = {
        // One folder: the batch's "V_" names, whatever the tags say.
        {Kind::OneFolder, pattern, false, 0, "V_01 Intro.flac.MP3"},
        {Kind::OneFolder, pattern, false, 1, "V_01 Intro.flac.MP3"},  // numbered by the batch
        {Kind::OneFolder, pattern, false, 5, "V_03 Solo.mp3"},
        {Kind::OneFolder, pattern, true, 4, "V_07 Who.mp3"},
        // Keep the folders: the path below the root, ".mp3" for the extension.
        {Kind::KeepFolders, pattern, false, 0, "Alpha/First/01 Intro.mp3"},
        {Kind::KeepFolders, pattern, false, 1, "Alpha/Second/01 Intro.mp3"},  // root with a trailing "/"
        {Kind::KeepFolders, pattern, false, 2, "Loose/track.mp3"},
        {Kind::KeepFolders, pattern, false, 5, "03 Solo.mp3"},  // not below its root
        {Kind::KeepFolders, pattern, false, 6, "Alpha/First/.hidden.mp3"},
        {Kind::KeepFolders, pattern, true, 4, "Beta/Live/07 Who.mp3"},
        {Kind::KeepFolders, pattern, false, 7, "x.mp3"},
        {Kind::KeepFolders, pattern, false, 8, "Delta: Two/Side?/y.mp3"},
        {Kind::KeepFolders, pattern, true, 8, "Delta_ Two/Side_/y.mp3"},
        {Kind::KeepFolders, pattern, false, 9, "z.mp3"},
        // Names from tags, the default pattern.
        {Kind::NamesFromTags, pattern, false, 0, "Alpha/First/01 Intro.mp3"},
        {Kind::NamesFromTags, pattern, false, 1, "Alpha & Friends/Second/2-01 Intro.mp3"},
        {Kind::NamesFromTags, pattern, false, 2, "Unknown Artist/Unknown Album/track.mp3"},
        {Kind::NamesFromTags, pattern, false, 3, "AC_DC/_/02 Time: 10:00.mp3"},
        {Kind::NamesFromTags, pattern, false, 4, "Beta_Band/Who? \"Live\"./07 Tab_here.mp3"},
        {Kind::NamesFromTags, pattern, false, 5, "Unknown Artist/Unknown Album/03 Solo.mp3"},
        {Kind::NamesFromTags, pattern, false, 6, "Unknown Artist/_/.hidden.mp3"},
        // ... on a FAT player: portable names at every level.
        {Kind::NamesFromTags, pattern, true, 3, "AC_DC/_/02 Time_ 10_00.mp3"},
        {Kind::NamesFromTags, pattern, true, 4, "Beta_Band/Who_ _Live_/07 Tab_here.mp3"},
        // Other patterns: optional text, widths, the source's own name and folder.
        {Kind::NamesFromTags, "{artist}/{year - }{album}/{track:03}. {title}", false, 0, "Alpha/2001 - First/001. Intro.mp3"},
        {Kind::NamesFromTags, "{artist}/{year - }{album}/{track:03}. {title}", false, 2, "Unknown Artist/Unknown Album/. track.mp3"},
        {Kind::NamesFromTags, "{album}x/{name}", false, 3, "_x/02 Odd.mp3"},  // ".." as a value, with text
        {Kind::NamesFromTags, "{genre}/{folder}/{name}", false, 0, "Rock/First/01 Intro.mp3"},
        {Kind::NamesFromTags, "{genre}/{folder}/{name}", false, 1, "Unknown Genre/Second/01 Intro.mp3"},
        {Kind::NamesFromTags, "{Disc-}/{ALBUM} {disc:02}", false, 0, "First.mp3"},  // an empty level is left out
        {Kind::NamesFromTags, "{Disc-}/{ALBUM} {disc:02}", false, 1, "2-/Second 02.mp3"},
    };
    const std::vector<OutputLayout::Source> sources = Library();
    for (const auto& c : cases) {
        const OutputLayout layout(c.kind, c.pattern);
        EXPECT_EQ(layout.PlanFor(sources[c.source], Rules(c.fat)).Relative(Rules(c.fat)), c.path)
            << static_cast<int>(c.kind) << " " << c.pattern << " " << sources[c.source].path << (c.fat ? " FAT" : "");
    }
}

TEST(OutputLayout, OneFolderNamesAreTheBatchs)
{
    const std::string longName = std::string(300, 'x') + ".flac";
    const std::string accents = "\xc3\x86r\xc3\xb8: Stra\xc3\x9f" "e.wav";  // Ærø: Straße.wav
    for (const std::string& name : {std::string("song.wav"), std::string("Song.Mp3"), longName, accents,
                                    std::string("trailing. .ogg"), std::string("a*b?.flac")})
        for (const auto& rules : {Rules(false), Rules(true), Rules(true, true), Rules(false, false, 40)}) {
            const OutputLayout::Plan plan = OutputLayout().PlanFor({"/music/" + name, "/music", {}}, rules);
            BatchWalk walk;
            const std::string batch = walk.OutputPath("/out/", name, TakenNames(), rules);
            EXPECT_EQ("/out/" + plan.Relative(rules), batch) << name;
            EXPECT_EQ("/out/" + plan.Relative(rules, 2), walk.OutputPath("/out/", name, TakenNames(), rules)) << name;
        }
}

TEST(OutputLayout, EveryPartStaysWithinTheFoldersRules)
{
    // Tags long enough to pass any name limit, in ASCII and not, on each kind of folder.
    OutputLayout::Tags tags;
    tags.artist = std::string(300, 'a');
    tags.album = std::string(200, 'b') + "\xe6\x9d\xb1\xe4\xba\xac" + std::string(200, '.');  // 東京 then dots
    tags.title = "\xc3\x86r\xc3\xb8 " + std::string(400, 'c');
    const OutputLayout::Source source{"/music/x.flac", "/music", tags};
    for (const auto& rules : {Rules(false), Rules(true), Rules(true, true), Rules(false, false, 100)}) {
        const std::string path = OutputLayout(Kind::NamesFromTags).PlanFor(source, rules).Relative(rules, 12);
        std::vector<std::string> parts;
        for (std::size_t at = 0, next; at <= path.size(); at = next + 1) {
            next = std::min(path.find('/', at), path.size());
            parts.push_back(path.substr(at, next - at));
        }
        ASSERT_EQ(parts.size(), 3u) << path;
        for (const std::string& part : parts) {
            EXPECT_LE(part.size(), rules.maxBytes) << path;
            if (rules.portable) {
                EXPECT_EQ(PortableName::Make(part), part) << path;
                EXPECT_LE(PortableName::Units(part), PortableName::kMaxUnits) << path;
            }
            if (rules.ascii) {
                EXPECT_EQ(PortableName::Ascii(part), part) << path;
            }
        }
        EXPECT_NE(parts[2].find(" (12).mp3"), std::string::npos) << path;  // the number survives the cut
    }
    // ASCII names at every level when the folder refused other characters.
    OutputLayout::Tags latin;
    latin.artist = "Bj\xc3\xb6rk";
    latin.album = "Ærø";
    latin.title = "Stra\xc3\x9f" "e";
    EXPECT_EQ(OutputLayout(Kind::NamesFromTags).PlanFor({"/m/1.flac", "/m", latin}, Rules(true, true)).Relative(Rules(true, true)),
              "Bjork/AEro/Strasse.mp3");
    EXPECT_EQ(OutputLayout(Kind::KeepFolders).PlanFor({"/m/Bj\xc3\xb6rk/x\x01y.flac", "/m", {}}, Rules(true, true)).Relative(Rules(true, true)),
              "Bjork/x_y.mp3");
}

TEST(OutputLayout, PlansThatFoldEqualAreOneNameToTheBatch)
{
    // Two albums whose names differ only in letter case give one folder on a FAT player.
    const std::vector<OutputLayout::Source> sources = Library();
    OutputLayout::Source shouting = sources[0];
    shouting.tags.album = "FIRST";
    const OutputLayout layout(Kind::NamesFromTags);
    TakenNames taken;
    taken.Take("/out/" + layout.PlanFor(sources[0], Rules(true)).Relative(Rules(true)));
    EXPECT_TRUE(taken.Contains("/out/" + layout.PlanFor(shouting, Rules(true)).Relative(Rules(true))));
    EXPECT_FALSE(taken.Contains("/out/" + layout.PlanFor(sources[1], Rules(true)).Relative(Rules(true))));
}

TEST(OutputLayout, PatternsThatCannotServeAreRefusedWithTheReason)
{
    const struct {
        const char* pattern;
        const char* reason;  // a part of the reason; empty: the pattern serves
    } cases[] = {
        {OutputLayout::kDefaultPattern, ""},
        {"{title}", ""},
        {"{ALBUM}/{Title}", ""},
        {"x/{disc-}y", ""},
        {"{artist}//{title}", ""},
        {"{artist}/..{title}", ""},  // ".." only as part of a name
        {"", "is empty"},
        {"   ", "is empty"},
        {"/", "starts with \"/\""},
        {"///", "starts with \"/\""},
        {"/{album}/{title}", "starts with \"/\""},
        {"../{title}", "climbs out of the output folder"},
        {"{album}/ .. /{title}", "climbs out of the output folder"},
        {"{album}/..", "climbs out of the output folder"},
        {"{album}/./{title}", "names no folder"},
        {"{album}/", "ends with \"/\""},
        {"{album}/{disc-}", "can come out empty"},
        {"{track:02}", "can come out empty"},
        {"{album}/ ", "can come out empty"},
        {"{titel}", "\"{titel}\" is no field"},
        {"{ti tle}", "\"{ti}\" is no field"},
        {"{track2}", "\"{track2}\" is no field"},
        {"{}", "holds no field name"},
        {"{-}", "holds no field name"},
        {"{title", "is not closed"},
        {"{{title}}", "is not closed"},
        {"{title}}", "has no \"{\" before it"},
        {"{title:02}", "only track, disc and year take a width"},
        {"{track:2}", "a width is"},
        {"{track:0}", "a width is"},
        {"{track:00}", "a width is"},
        {"{track:023}", "a width is"},
        {"{disc/}{title}", "cannot hold \"/\""},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> reason = OutputLayout::Check(c.pattern);
        if (*c.reason == '\0') {
            EXPECT_FALSE(reason) << c.pattern << ": " << *reason;
            continue;
        }
        ASSERT_TRUE(reason) << c.pattern;
        EXPECT_NE(reason->find(c.reason), std::string::npos) << c.pattern << ": " << *reason;
    }
    // A refused pattern (a broken stored setting) plans as the default one does.
    const OutputLayout::Source source = Library()[0];
    const std::string expected = OutputLayout(Kind::NamesFromTags).PlanFor(source, Rules(false)).Relative(Rules(false));
    for (const char* broken : {"../../{title}", "/etc/{title}", "{album}/"})
        EXPECT_EQ(OutputLayout(Kind::NamesFromTags, broken).PlanFor(source, Rules(false)).Relative(Rules(false)), expected)
            << broken;
}

TEST(OutputLayout, TheChoiceReadsBackFromItsSettingsText)
{
    for (const Kind kind : {Kind::OneFolder, Kind::KeepFolders, Kind::NamesFromTags})
        EXPECT_EQ(OutputLayout::KindFromText(OutputLayout::KindText(kind)), kind);
    for (const char* text : {"", "tags", "FOLDERS ", "2"})
        EXPECT_EQ(OutputLayout::KindFromText(text), Kind::OneFolder) << text;
    const OutputLayout fromNothing = OutputLayout::FromSettings("", "");
    EXPECT_EQ(fromNothing.Layout(), Kind::OneFolder);
    const OutputLayout tags = OutputLayout::FromSettings("TAGS", "");
    EXPECT_EQ(tags.Layout(), Kind::NamesFromTags);
    EXPECT_EQ(tags.Pattern(), OutputLayout::kDefaultPattern);
    EXPECT_EQ(OutputLayout::FromSettings("TAGS", "{title}").Pattern(), "{title}");
}

// A stored pattern that cannot serve is said where it is used (names from tags), and only
// there; the layout then names as the default pattern does.
TEST(OutputLayout, AStoredPatternsFaultIsSaidWhereItIsUsed)
{
    const std::string tags = OutputLayout::KindText(OutputLayout::Kind::NamesFromTags);
    const std::string folders = OutputLayout::KindText(OutputLayout::Kind::KeepFolders);
    for (const char* pattern : {"../x", "/abs", "{bad}"}) {
        const auto fault = OutputLayout::StoredPatternFault(tags, pattern);
        ASSERT_TRUE(fault) << pattern;
        EXPECT_EQ(*fault, *OutputLayout::Check(pattern));
        EXPECT_FALSE(OutputLayout::StoredPatternFault(folders, pattern)) << pattern;
        EXPECT_EQ(OutputLayout::FromSettings(tags, pattern).Pattern(), OutputLayout::kDefaultPattern);
    }
    EXPECT_FALSE(OutputLayout::StoredPatternFault(tags, ""));  // none stored: the default
    EXPECT_FALSE(OutputLayout::StoredPatternFault(tags, "{artist}/{title}"));
}
