// Playlists carried over to the outputs: every kind of entry a playlist holds is found, the
// written playlist names the outputs by paths relative to itself, and what is left out is
// counted; hostile playlists stay bounded.
#include "batchwalk.h"
#include "outputlayout.h"
#include "playlistcarrier.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>

using namespace vardune;
namespace fs = std::filesystem;
using Kind = OutputLayout::Kind;

namespace {

class PlaylistCarrierTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vardune-playlist-" + std::to_string(std::random_device()()));
        fs::create_directories(dir);
        dir = fs::canonical(dir);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    std::string Make(const std::string& relative, const std::string& bytes = "x")
    {
        const fs::path path = dir / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    static std::string Slurp(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < text.size()) {
            const auto end = text.find('\n', start);
            lines.push_back(text.substr(start, end - start));
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }

    fs::path dir;
};

BatchWalk::NameRules Rules(bool portable = false)
{
    BatchWalk::NameRules rules;
    rules.portable = portable;
    return rules;
}

} // namespace

// A library added as the folder music/, with a playlist in music/Lists/ that names its tracks
// in every way playlists do; the outputs lie at nested paths below out/, the folders kept.
TEST_F(PlaylistCarrierTest, WrittenLinesOpenTheOutputsAndTheRestIsCounted)
{
    const std::string music = (dir / "music").string();
    const std::string one = Make("music/Ünïcødé/01 Ünïcødé.flac");
    const std::string two = Make("music/日本/02 日本.flac");
    const std::string three = Make("music/Loose/03 a b%.ogg");
    const std::string four = Make("music/Lists/#4 hash.wav");
    Make("music/Other/05 failed.flac");
    fs::create_directory_symlink(dir / "music/日本", dir / "linked");

    const std::string out = (dir / "out").string();
    const std::map<std::string, std::string> outputs = {
        {one, Make("out/Ünïcødé/01 Ünïcødé.mp3")},
        {two, Make("out/日本/02 日本.mp3")},
        {three, Make("out/Loose/deep/er/03 a b%.mp3")},
        {four, Make("out/Lists/#4 hash.mp3")},
    };

    const std::string d = dir.string();
    const std::string bytes = std::string("\xEF\xBB\xBF#EXTM3U\r\n") +
                              "#PLAYLIST:Mix\r\n"
                              "#EXTINF:201,Ünïcødé - One\r\n"
                              "../Ünïcødé/01 Ünïcødé.flac\r\n"
                              "# a plain comment\r\n"
                              "#EXTBYT:12345\r\n" +
                              d + "/music/日本/02 日本.flac\r\n"
                              "\r\n"
                              "#EXTINF:10,Three\r\n"
                              "file://" + d + "/music/Loose/03%20a%20b%25.ogg\r\n"
                              "  FILE://localhost" + d + "/music/Lists/%234%20hash.wav  \r\n"
                              "..\\Other\\05 failed.flac\r\n"
                              "missing.flac\r\n"
                              "http://example.com/x.mp3\r\n"
                              "file://elsewhere/music/x.flac\r\n" +
                              d + "/linked/./02 日本.flac\r\n"
                              "#EXTINF:1,the track of a line too long\r\n" +
                              std::string(PlaylistCarrier::kMaxLineBytes + 1, 'a') + "\r\n"
                              "#EXTINF:2,a dangling directive\r\n";
    const std::string source = Make("music/Lists/Mix 日本.m3u8", bytes);

    const std::string planned =
        PlaylistCarrier::OutputPath(source, music, OutputLayout(Kind::KeepFolders), Rules(), out);
    EXPECT_EQ(planned, out + "/Lists/Mix 日本.m3u8");
    const std::string target = PlaylistCarrier::FreePath(planned, source);
    EXPECT_EQ(target, planned);

    const auto playlist = PlaylistCarrier::Read(source);
    ASSERT_TRUE(playlist);
    const PlaylistCarrier::Carried carried = PlaylistCarrier::Carry(*playlist, outputs, target);
    EXPECT_EQ(carried.written, 5u);
    EXPECT_EQ(carried.missing, 3u);       // missing.flac, an http:// URL, a file:// URL of another host
    EXPECT_EQ(carried.notConverted, 1u);  // 05 failed.flac, named with "\" separators
    EXPECT_EQ(carried.unusable, 1u);      // the line too long
    EXPECT_EQ(carried.LeftOut(), 5u);
    EXPECT_FALSE(carried.cut);
    EXPECT_EQ(carried.Summary(), "5 tracks written, 5 left out");
    ASSERT_TRUE(PlaylistCarrier::Write(target, carried.text));

    const std::string written = Slurp(target);
    EXPECT_EQ(written.find('\r'), std::string::npos);
    EXPECT_EQ(written.rfind("#EXTM3U\n", 0), 0u) << "an .m3u8 starts with the header, no byte order mark";
    const std::vector<std::string> lines = Lines(written);
    ASSERT_EQ(lines.size(), 10u) << written;
    EXPECT_EQ(lines[1].rfind(PlaylistCarrier::kMarkPrefix, 0), 0u);
    const std::vector<std::string> expected = {
        "#EXTM3U",
        lines[1],
        "#PLAYLIST:Mix",
        "#EXTINF:201,Ünïcødé - One",
        "../Ünïcødé/01 Ünïcødé.mp3",
        "../日本/02 日本.mp3",
        "#EXTINF:10,Three",
        "../Loose/deep/er/03 a b%.mp3",
        "./#4 hash.mp3",
        "../日本/02 日本.mp3",
    };
    EXPECT_EQ(lines, expected);
    // Every entry, resolved against the written playlist's folder, is exactly an output.
    for (const std::string& line : lines) {
        if (line[0] == '#')
            continue;
        const fs::path resolved = (fs::path(target).parent_path() / line).lexically_normal();
        bool isOutput = false;
        for (const auto& [from, to] : outputs)
            isOutput = isOutput || resolved == fs::path(to);
        EXPECT_TRUE(isOutput) << line;
        EXPECT_TRUE(fs::is_regular_file(resolved)) << line;
    }
}

// An .m3u is read as UTF-8 when it is valid UTF-8 or starts with a byte order mark, else as
// Latin-1; it keeps its name and is written in UTF-8, with a byte order mark only when it
// holds more than ASCII. Lines may end in CR alone. A name the file system holds in the
// playlist's own bytes (a Latin-1 name on disk) is found by those bytes.
TEST_F(PlaylistCarrierTest, AnM3uIsReadInItsEncodingAndWrittenInUtf8)
{
    const std::string track = Make("music/Ünïcødé.flac");
    const std::string plain = Make("music/plain.flac");
    const std::string latin = Make("music/caf\xE9.flac");
    const std::string out = (dir / "out").string();
    const std::map<std::string, std::string> outputs = {
        {track, Make("out/Ünïcødé.mp3")}, {plain, Make("out/plain.mp3")}, {latin, Make("out/café.mp3")}};
    const struct {
        const char* name;
        std::string bytes;
        bool bom;
        const char* body;  // after the header and the mark
        std::size_t missing;
    } cases[] = {
        {"latin1.m3u", "#EXTINF:1,\xDCn\xEF\x63\xF8\x64\xE9\r\xDCn\xEF\x63\xF8\x64\xE9.flac\rplain.flac\rcaf\xE9.flac", true,
         "#EXTINF:1,Ünïcødé\nÜnïcødé.mp3\nplain.mp3\ncafé.mp3\n", 0},
        {"utf8.m3u", "\xC3\x9Cn\xC3\xAF\x63\xC3\xB8\x64\xC3\xA9.flac\n", true, "Ünïcødé.mp3\n", 0},
        {"bom.m3u", "\xEF\xBB\xBF\xC3\x9Cn\xC3\xAF\x63\xC3\xB8\x64\xC3\xA9.flac\n", true, "Ünïcødé.mp3\n", 0},
        {"ascii.m3u", "plain.flac\n", false, "plain.mp3\n", 0},
        // An .m3u8 is UTF-8 whatever it holds: Latin-1 bytes name only a file named by those
        // bytes, and a broken directive is mended so that the written playlist stays UTF-8.
        {"stray.m3u8", "\xDCn\xEF\x63\xF8\x64\xE9.flac\n#EXTINF:1,\xDC!\nplain.flac\ncaf\xE9.flac\n", false,
         "#EXTINF:1,\xEF\xBF\xBD!\nplain.mp3\ncafé.mp3\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = Make(std::string("music/") + c.name, c.bytes);
        const std::string target =
            PlaylistCarrier::OutputPath(source, "", OutputLayout(Kind::NamesFromTags), Rules(), out);
        EXPECT_EQ(target, out + "/" + c.name);
        const auto playlist = PlaylistCarrier::Read(source);
        ASSERT_TRUE(playlist);
        const auto carried = PlaylistCarrier::Carry(*playlist, outputs, target);
        EXPECT_EQ(carried.text.rfind("\xEF\xBB\xBF#EXTM3U\n", 0) == 0, c.bom) << carried.text;
        const std::size_t body = carried.text.find('\n', carried.text.find(PlaylistCarrier::kMarkPrefix)) + 1;
        EXPECT_EQ(carried.text.substr(body), c.body);
        EXPECT_EQ(carried.missing, c.missing);
    }
}

// A hostile playlist costs bounded memory and time: beyond kMaxBytes or kMaxEntries the rest
// is left out and said to be; a NUL byte spoils only its own line; a pipe named like a
// playlist is never opened for reading (it would block the batch's end).
TEST_F(PlaylistCarrierTest, HostilePlaylistsStayBounded)
{
    std::string many;
    for (std::size_t i = 0; i <= PlaylistCarrier::kMaxEntries; ++i)
        many += "t" + std::to_string(i) + ".flac\n";
    const auto entries = PlaylistCarrier::Parse(many, "/music/many.m3u8");
    EXPECT_EQ(entries.entries.size(), PlaylistCarrier::kMaxEntries);
    EXPECT_TRUE(entries.cut);
    PlaylistCarrier::Carried one;
    one.written = 1;
    one.cut = true;
    EXPECT_EQ(one.Summary(), "1 track written, and more left out: the playlist is too long");
    EXPECT_EQ(entries.entries.back().path, "/music/t" + std::to_string(PlaylistCarrier::kMaxEntries - 1) + ".flac");

    // Past kMaxBytes in comments alone: the line cut by the limit is not read as a track.
    std::string huge(PlaylistCarrier::kMaxBytes - 4, '#');
    huge += "\nabcdefgh.flac\n";
    const std::string path = Make("music/huge.m3u", huge);
    const auto read = PlaylistCarrier::Read(path);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->cut);
    EXPECT_TRUE(read->entries.empty());

    const auto nul = PlaylistCarrier::Parse(std::string("a.flac\nb\0c.flac\nd.flac", 22), "/m/x.m3u");
    ASSERT_EQ(nul.entries.size(), 2u);
    EXPECT_EQ(nul.entries[1].path, "/m/d.flac");
    EXPECT_EQ(nul.unusable, 1u);
    // A NUL byte hidden behind a URL escape names no file either.
    const auto escaped = PlaylistCarrier::Parse("file:///m/a%00b.flac\n", "/m/x.m3u8");
    ASSERT_EQ(escaped.entries.size(), 1u);
    EXPECT_EQ(escaped.entries[0].path, "");

    const std::string fifo = (dir / "pipe.m3u").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string error;
    EXPECT_FALSE(PlaylistCarrier::Read(fifo, &error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos);
}

// Where a playlist's copy goes: the matching folder when the folders are kept, else the
// output folder's top; the folder's name rules hold for its name.
TEST_F(PlaylistCarrierTest, OutputPathFollowsTheLayout)
{
    const struct {
        Kind kind;
        const char* source;
        const char* root;
        bool fat;
        const char* path;
    } cases[] = {
        {Kind::KeepFolders, "/music/A/B/Best.m3u8", "/music", false, "/out/A/B/Best.m3u8"},
        {Kind::KeepFolders, "/music/Top.M3U", "/music/", false, "/out/Top.M3U"},
        {Kind::KeepFolders, "/else/Loose.m3u", "/music", false, "/out/Loose.m3u"},  // not below its root
        {Kind::KeepFolders, "/music/Loose.m3u", "", false, "/out/Loose.m3u"},      // added on its own
        {Kind::KeepFolders, "/music/Why? No: A/Mix*.m3u8", "/music", true, "/out/Why_ No_ A/Mix_.m3u8"},
        {Kind::OneFolder, "/music/A/Best.m3u8", "/music", false, "/out/V_Best.m3u8"},
        {Kind::OneFolder, "/music/A/Mix: 1?.m3u", "/music", true, "/out/V_Mix_ 1_.m3u"},
        {Kind::NamesFromTags, "/music/A/B/Best.m3u8", "/music", false, "/out/Best.m3u8"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlaylistCarrier::OutputPath(c.source, c.root, OutputLayout(c.kind), Rules(c.fat), "/out"), c.path)
            << c.source;
}

// A later batch replaces the playlist it wrote from the same source, and never a file of the
// user's or a playlist made from another source: those get a number.
TEST_F(PlaylistCarrierTest, OnlyItsOwnPlaylistIsReplaced)
{
    const std::string first = Make("music/A/Mix.m3u8", "a.flac\n");
    const std::string second = Make("music/B/Mix.m3u8", "b.flac\n");
    const std::string planned = (dir / "out/V_Mix.m3u8").string();

    ASSERT_EQ(PlaylistCarrier::FreePath(planned, first), planned);
    ASSERT_TRUE(PlaylistCarrier::Write(planned, "#EXTM3U\n" + PlaylistCarrier::MarkLine(first) + "\n"));
    EXPECT_TRUE(PlaylistCarrier::MadeFrom(planned, first));
    EXPECT_EQ(PlaylistCarrier::FreePath(planned, first), planned);
    const std::string numbered = (dir / "out/V_Mix (2).m3u8").string();
    EXPECT_EQ(PlaylistCarrier::FreePath(planned, second), numbered);

    const std::string users = Make("out/Own.m3u8", "#EXTM3U\nmine.mp3\n");
    EXPECT_FALSE(PlaylistCarrier::MadeFrom(users, first));
    EXPECT_EQ(PlaylistCarrier::FreePath(users, first), (dir / "out/Own (2).m3u8").string());
    // A link standing at the path is not followed: it is someone else's.
    fs::create_symlink(planned, dir / "out/Link.m3u8");
    EXPECT_EQ(PlaylistCarrier::FreePath((dir / "out/Link.m3u8").string(), first), (dir / "out/Link (2).m3u8").string());

    // Written through a temporary file that does not stay behind.
    ASSERT_TRUE(PlaylistCarrier::Write((dir / "out/new/deep/x.m3u8").string(), "#EXTM3U\n"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out/new/deep"), fs::directory_iterator()), 1);
}
