// Tidying the player: only files the record proves Vardune's, at their very paths, whose
// sources are gone or whose outputs were replaced, are offered by default; nothing else under
// the output folder is touched, and nothing outside it whatever is swapped in meanwhile.
#include "playertidy.h"
#include "playlistcarrier.h"
#include "recordkeeper.h"
#include "sourcemark.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace vardune;
namespace fs = std::filesystem;

namespace {

void Write(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
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

using Why = PlayerTidy::Why;

class PlayerTidyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/playertidy-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        char real[PATH_MAX];
        ASSERT_TRUE(realpath(pattern, real));
        dir = real;
        out = dir + "/out";
        fs::create_directories(out);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Source(const std::string& name) const { return dir + "/lib/" + name; }

    // A source and its marked output, recorded as a batch records what it wrote.
    void Made(const std::string& source, const std::string& output)
    {
        Write(Source(source), "source " + source);
        Write(out + "/" + output, MarkedFor(Source(source)));
        RecordKeeper(out).Wrote(WrittenRecord::Kind::Output, out + "/" + output, Source(source));
    }
    void Recorded(WrittenRecord::Kind kind, const std::string& output, const std::string& source)
    {
        RecordKeeper(out).Wrote(kind, out + "/" + output, source);
    }

    static std::vector<std::string> Paths(const std::vector<PlayerTidy::Item>& items)
    {
        std::vector<std::string> paths;
        for (const auto& item : items)
            paths.push_back(item.path);
        return paths;
    }
    PlayerTidy::Scan Look(const PlayerTidy& tidy) const { return tidy.Look(out, std::time(nullptr) - 60); }

    std::string dir;
    std::string out;
};

} // namespace

// Every case the issue names, in one tree: what is offered, what only on the user's word,
// and what never.
TEST_F(PlayerTidyTest, OffersOnlyWhatIsProvablyOursAndUnwanted)
{
    Made("A/01.wav", "A/01.mp3");           // in the list: kept
    Made("B/02.wav", "B/02.mp3");           // source gone
    Made("B/03.wav", "B/03.mp3");           // source gone, output renamed by the user
    Made("C/04.wav", "C/04.mp3");           // exists, no longer in the list
    Made("D/05.wav", "D/05.mp3");           // source gone, output changed since
    Made("E/06.wav", "E/06.mp3");           // source gone, the output gone too
    // A copy of an output elsewhere in the tree carries its mark, but was never written there.
    fs::create_directories(out + "/my_favourites");
    fs::copy_file(out + "/B/02.mp3", out + "/my_favourites/echoes_copy.mp3");
    fs::rename(out + "/B/03.mp3", out + "/B/renamed.mp3");
    Write(out + "/D/05.mp3", MarkedFor(Source("D/05.wav")) + "edited");
    Write(out + "/mine.mp3", "the user's own file");
    fs::remove(out + "/E/06.mp3");
    for (const char* gone : {"B/02.wav", "B/03.wav", "D/05.wav", "E/06.wav"})
        fs::remove(Source(gone));

    const PlayerTidy tidy({Source("A")}, {});
    const auto scan = Look(tidy);
    EXPECT_EQ(scan.record, WrittenRecord::State::Kept);
    EXPECT_EQ(Paths(scan.unwanted), (std::vector<std::string>{"B/02.mp3"}));
    EXPECT_EQ(scan.unwanted[0].why, Why::SourceGone);
    EXPECT_EQ(Paths(scan.outOfList), (std::vector<std::string>{"C/04.mp3"}));
    EXPECT_EQ(scan.unreachable, 0u);

    // The default choice removes what it offered, and the folder it leaves empty.
    const auto result = tidy.Remove(out, scan, scan.unwanted, std::time(nullptr) - 60);
    EXPECT_EQ(result.removed, (std::vector<std::string>{"B/02.mp3"}));
    EXPECT_TRUE(result.kept.empty());
    EXPECT_TRUE(fs::exists(out + "/my_favourites/echoes_copy.mp3"));
    EXPECT_TRUE(fs::exists(out + "/B/renamed.mp3"));
    EXPECT_TRUE(fs::exists(out + "/C/04.mp3"));
    EXPECT_TRUE(fs::exists(out + "/D/05.mp3"));
    EXPECT_TRUE(fs::exists(out + "/mine.mp3"));
    // Asked once more: nothing of it is left to offer.
    EXPECT_TRUE(Look(tidy).unwanted.empty());

    // On the user's explicit word, the output whose source is out of the list goes too.
    const auto second = Look(tidy);
    EXPECT_EQ(tidy.Remove(out, second, second.outOfList, std::time(nullptr) - 60).removed,
              (std::vector<std::string>{"C/04.mp3"}));
    EXPECT_FALSE(fs::exists(out + "/C"));
}

// A source whose file system is not where it was (a disk not mounted, the card read on
// another computer) is out of reach: its output stays, and is not offered as out of the list.
TEST_F(PlayerTidyTest, KeepsOutputsOfSourcesOutOfReach)
{
    Made("A/01.wav", "A/01.mp3");
    Made("A/02.wav", "A/02.mp3");
    // As recorded on another computer: the same paths, another file system.
    std::string record = Read(out + "/.vardune-record");
    WrittenRecord::Event event;
    const auto contents = [&] {
        int fd = open(out.c_str(), O_RDONLY | O_DIRECTORY);
        auto c = WrittenRecord::Read(fd);
        close(fd);
        return c;
    }();
    WrittenRecord::Entry foreign = contents.entries.at("A/02.mp3");
    foreign.fileSystem = "fsid:00000000deadbeef";
    {
        int fd = open(out.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_TRUE(WrittenRecord::Append(fd, {{foreign, false}}));
        close(fd);
    }
    fs::remove_all(Source("A"));
    const PlayerTidy tidy({}, {});
    const auto scan = Look(tidy);
    EXPECT_EQ(Paths(scan.unwanted), (std::vector<std::string>{"A/01.mp3"}));
    EXPECT_TRUE(scan.outOfList.empty());
    EXPECT_EQ(scan.unreachable, 1u);
}

// Without a record, or with a damaged one, nothing is provably ours: nothing is offered,
// whatever the marks say. Leftovers of killed encoders are offered all the same.
TEST_F(PlayerTidyTest, WithoutARecordNothingIsOffered)
{
    Made("A/01.wav", "A/01.mp3");
    fs::remove(Source("A/01.wav"));
    const std::string leftover = "A/.01.mp3.fastencc-Qw3rty";
    Write(out + "/" + leftover, "half");
    const std::time_t old = std::time(nullptr) - 3600;
    const struct timespec times[2] = {{old, 0}, {old, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (out + "/" + leftover).c_str(), times, 0), 0);

    // One an encoder still writes (it holds its lock), and one changed just now: neither is a
    // leftover.
    const std::string held = "A/.02.mp3.fastencc-Hold00";
    Write(out + "/" + held, "half");
    ASSERT_EQ(utimensat(AT_FDCWD, (out + "/" + held).c_str(), times, 0), 0);
    const int holder = open((out + "/" + held).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    Write(out + "/A/.03.mp3.fastencc-Fresh0", "half");
    std::string record = Read(out + "/.vardune-record");
    record[record.size() - 5] ^= 1;
    Write(out + "/.vardune-record", record);
    const PlayerTidy tidy({}, {});
    auto scan = Look(tidy);
    EXPECT_EQ(scan.record, WrittenRecord::State::Damaged);
    ASSERT_EQ(Paths(scan.unwanted), (std::vector<std::string>{leftover}));
    EXPECT_EQ(scan.unwanted[0].why, Why::Leftover);
    fs::remove(out + "/.vardune-record");
    scan = Look(tidy);
    EXPECT_EQ(scan.record, WrittenRecord::State::Missing);
    EXPECT_EQ(tidy.Remove(out, scan, scan.unwanted, std::time(nullptr) - 60).removed, (std::vector<std::string>{leftover}));
    EXPECT_TRUE(fs::exists(out + "/A/01.mp3"));
    EXPECT_TRUE(fs::exists(out + "/" + held));
    EXPECT_TRUE(fs::exists(out + "/A/.03.mp3.fastencc-Fresh0"));
    close(holder);
}

// A folder of the output tree swapped for a link between the listing and the removal leads
// nowhere: the marked, recorded-looking file outside stays.
TEST_F(PlayerTidyTest, AFolderSwappedForALinkLeadsNowhere)
{
    Made("A/01.wav", "A/01.mp3");
    fs::remove(Source("A/01.wav"));
    const PlayerTidy tidy({}, {});
    const auto scan = Look(tidy);
    ASSERT_EQ(Paths(scan.unwanted), (std::vector<std::string>{"A/01.mp3"}));
    // The same file, with the same size and time, stands outside the output folder.
    fs::create_directories(dir + "/precious");
    fs::rename(out + "/A", dir + "/precious/A");
    fs::create_symlink(dir + "/precious/A", out + "/A");
    const auto result = tidy.Remove(out, scan, scan.unwanted, std::time(nullptr) - 60);
    EXPECT_TRUE(result.removed.empty());
    ASSERT_EQ(result.kept.size(), 1u);
    EXPECT_TRUE(fs::exists(dir + "/precious/A/01.mp3"));
    // The output folder itself swapped for another folder: nothing is removed there either.
    fs::remove(out + "/A");
    fs::rename(dir + "/precious/A", out + "/A");
    fs::rename(out, dir + "/old-out");
    fs::create_directories(out);
    fs::copy(dir + "/old-out", out, fs::copy_options::recursive);
    EXPECT_TRUE(tidy.Remove(out, scan, scan.unwanted, std::time(nullptr) - 60).removed.empty());
}

// An output whose path changed: its successor whole, the earlier one goes, and with it the
// folder it leaves holding only the folder picture Vardune put there and the playlist that
// named it only; a picture of the user's keeps its folder.
TEST_F(PlayerTidyTest, AReplacedOutputGoesWithWhatVarduneLeftAroundIt)
{
    Made("A/01.wav", "Old/01 Echoes.mp3");
    Made("A/02.wav", "Old/02 Time.mp3");
    Made("B/03.wav", "Mine/03.mp3");
    Write(out + "/Old/folder.jpg", "picture");
    Recorded(WrittenRecord::Kind::Picture, "Old/folder.jpg", Source("A/folder.jpg"));
    Write(out + "/Mine/folder.jpg", "the user's picture");
    Write(Source("A/Road.m3u8"), "01.wav\n02.wav\n");
    const std::string playlist = "#EXTM3U\n" + PlaylistCarrier::MarkLine(Source("A/Road.m3u8"))
                                 + "\n#EXTINF:1,Echoes\nOld/01 Echoes.mp3\n#EXTINF:1,Time\nOld/02 Time.mp3\n";
    Write(out + "/Road.m3u8", playlist);
    Recorded(WrittenRecord::Kind::Playlist, "Road.m3u8", Source("A/Road.m3u8"));

    // Each source's new output, whole, recorded after its old one: a plan run elsewhere.
    for (const auto& [source, output] : {std::pair<std::string, std::string>{"A/01.wav", "New/01 Echoes (Live).mp3"},
                                         {"A/02.wav", "New/02 Time.mp3"}, {"B/03.wav", "New/03.mp3"}}) {
        Write(out + "/" + output, MarkedFor(Source(source)));
        Recorded(WrittenRecord::Kind::Output, output, Source(source));
    }
    const PlayerTidy tidy({Source("A"), Source("B")}, {});
    const auto scan = Look(tidy);
    EXPECT_EQ(Paths(scan.unwanted), (std::vector<std::string>{"Mine/03.mp3", "Old/01 Echoes.mp3", "Old/02 Time.mp3"}));
    for (const auto& item : scan.unwanted)
        EXPECT_EQ(item.why, Why::Replaced);
    EXPECT_TRUE(scan.outOfList.empty());

    // A batch removes them itself, once each successor is whole.
    RecordKeeper keeper(out);
    EXPECT_EQ(keeper.Supersede(WrittenRecord::Kind::Output, Source("A/01.wav"), out + "/New/01 Echoes (Live).mp3"),
              (std::vector<std::string>{"Old/01 Echoes.mp3"}));
    EXPECT_TRUE(fs::exists(out + "/Old/02 Time.mp3"));
    const auto result = tidy.Remove(out, scan, scan.unwanted, std::time(nullptr) - 60);
    EXPECT_EQ(result.removed, (std::vector<std::string>{"Mine/03.mp3", "Old/02 Time.mp3"}));
    EXPECT_EQ(result.kept.size(), 1u);  // removed by the batch already
    EXPECT_FALSE(fs::exists(out + "/Old"));
    EXPECT_EQ(result.picturesRemoved, (std::vector<std::string>{"Old/folder.jpg"}));
    EXPECT_TRUE(fs::exists(out + "/Mine/folder.jpg"));
    // The playlist loses the track Tidy removed (the batch writes its playlists again itself).
    EXPECT_EQ(result.playlistsWritten, (std::vector<std::string>{"Road.m3u8"}));
    EXPECT_EQ(Read(out + "/Road.m3u8").find("Time"), std::string::npos);
    EXPECT_TRUE(fs::exists(out + "/New/01 Echoes (Live).mp3"));
    EXPECT_TRUE(fs::exists(out + "/New/02 Time.mp3"));
}

// A playlist Vardune wrote is written again without the tracks removed; one of the user's
// stays as it is.
TEST_F(PlayerTidyTest, PlaylistsAreWrittenAgainWithoutRemovedTracks)
{
    Made("A/01.wav", "A/01.mp3");
    Made("A/02.wav", "A/02.mp3");
    Write(Source("A/Road.m3u8"), "01.wav\n02.wav\n");
    const std::string head = "#EXTM3U\n" + PlaylistCarrier::MarkLine(Source("A/Road.m3u8")) + "\n#PLAYLIST:Road\n";
    Write(out + "/A/Road.m3u8", head + "#EXTINF:1,One\n01.mp3\n#EXTINF:1,Two\n./02.mp3\n");
    Recorded(WrittenRecord::Kind::Playlist, "A/Road.m3u8", Source("A/Road.m3u8"));
    Write(out + "/Mine.m3u", "A/01.mp3\n");
    fs::remove(Source("A/01.wav"));
    const PlayerTidy tidy({Source("A")}, {});
    const auto scan = Look(tidy);
    ASSERT_EQ(Paths(scan.unwanted), (std::vector<std::string>{"A/01.mp3"}));
    const auto result = tidy.Remove(out, scan, scan.unwanted, std::time(nullptr) - 60);
    EXPECT_EQ(result.playlistsWritten, (std::vector<std::string>{"A/Road.m3u8"}));
    EXPECT_EQ(Read(out + "/A/Road.m3u8"), head + "#EXTINF:1,Two\n./02.mp3\n");
    EXPECT_EQ(Read(out + "/Mine.m3u"), "A/01.mp3\n");
    // Still Vardune's as written again: a later removal rewrites it once more.
    fs::remove(Source("A/02.wav"));
    const auto again = Look(tidy);
    EXPECT_EQ(tidy.Remove(out, again, again.unwanted, std::time(nullptr) - 60).playlistsRemoved,
              (std::vector<std::string>{"A/Road.m3u8"}));
}

TEST(PlaylistWithout, LeavesOutTracksWithTheirDirectives)
{
    const std::string text = "\xEF\xBB\xBF#EXTM3U\n#VARDUNE_SOURCE:path=/x.m3u\n#EXTINF:1,A\n../B/a.mp3\n#EXTINF:2,B\nb.mp3\n/abs/c.mp3\n";
    std::size_t left = 0;
    EXPECT_EQ(PlaylistCarrier::Without(text, "A", {"B/a.mp3"}, left),
              "\xEF\xBB\xBF#EXTM3U\n#VARDUNE_SOURCE:path=/x.m3u\n#EXTINF:2,B\nb.mp3\n/abs/c.mp3\n");
    EXPECT_EQ(left, 2u);
    EXPECT_EQ(PlaylistCarrier::Without(text, "A", {"A/b.mp3", "B/a.mp3"}, left),
              "\xEF\xBB\xBF#EXTM3U\n#VARDUNE_SOURCE:path=/x.m3u\n/abs/c.mp3\n");
    EXPECT_EQ(left, 1u);
    EXPECT_EQ(PlaylistCarrier::Without(text, "A", {"a.mp3"}, left), text);
}
