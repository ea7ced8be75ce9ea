#include "vardolist.h"
#include "vardolistfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vardune;
namespace fs = std::filesystem;

namespace {

class VardoListFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vardune-list-" + std::to_string(std::random_device()()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Make(const std::string& name, std::size_t bytes) const
    {
        const fs::path p = dir / fs::u8path(name);
        std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
        return p.u8string();
    }
    fs::path dir;
};

std::vector<std::string> Names(const VardoList& list)
{
    std::vector<std::string> names;
    for (const auto& e : list.Entries())
        names.push_back(e.sourceName);
    return names;
}

} // namespace

TEST_F(VardoListFiles, FileSizeTextOfEachKindOfPath)
{
    const std::string song = Make("song.wav", 1048576);
    fs::create_symlink(song, dir / "link.wav");
    fs::create_symlink(dir / "gone.wav", dir / "broken.wav");
    ::mkfifo((dir / "pipe").c_str(), 0600);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "sock").string();
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const struct {
        std::string path;
        const char* text;
    } cases[] = {
        {song, " 1048576"},
        {Make("empty.mp3", 0), " 0"},
        {Make("naïve \"x\"\nname.mp3", 3), " 3"},
        {(dir / "link.wav").string(), " 1048576"},
        {(dir / "broken.wav").string(), " "},
        {(dir / "missing.mp3").string(), " "},
        {dir.string(), " "},
        {(dir / "pipe").string(), " "},
        {socketPath, " "},
        {"/dev/null", " "},
        {"", " "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VardoList::GetFileSize(c.path), c.text) << c.path;
    ::close(sock);
}

TEST(VardoList, FileNameOfAPath)
{
    EXPECT_EQ(VardoList::GetFileName("/music/song.mp3"), "song.mp3");
    EXPECT_EQ(VardoList::GetFileName("song.mp3"), "song.mp3");
    EXPECT_EQ(VardoList::GetFileName("/music/"), "");
}

TEST(VardoList, AnEntryHoldsFolderNameAndSizeAndWaits)
{
    VardoList list;
    const auto id = list.Append("/music/song.wav", " 1048576");
    const VardoEntry& e = list.At(0);
    EXPECT_EQ(e.id, id);
    EXPECT_EQ(e.state, EntryState::Waiting);
    EXPECT_EQ(e.sourcePath, "/music/");
    EXPECT_EQ(e.sourceName, "song.wav");
    EXPECT_EQ(e.sourceSize, " 1048576");
    EXPECT_EQ(e.targetPath + e.targetSize + e.rate, "");
}

TEST(VardoList, OnlyWaitingEntriesWithTheExactPathAreDuplicates)
{
    VardoList list;
    const auto first = list.Append("/music/song.mp3", " 10");
    list.Append("/music/song.mp3", " 10");  // the caller decides; the list just counts
    EXPECT_TRUE(list.IsDuplicatedEntry("/music/song.mp3"));
    EXPECT_FALSE(list.IsDuplicatedEntry("/music/Song.mp3"));
    EXPECT_FALSE(list.IsDuplicatedEntry("/music/song.mp3 "));

    list.SetResult(first, "/out/V_song.mp3", " 5", " 50%", EntryState::Done);
    EXPECT_TRUE(list.IsDuplicatedEntry("/music/song.mp3")) << "the second entry still waits";
    list.SetState(list.At(1).id, EntryState::Failed);
    EXPECT_FALSE(list.IsDuplicatedEntry("/music/song.mp3"));
    list.Append("/music/song.mp3", " 10");
    EXPECT_TRUE(list.IsDuplicatedEntry("/music/song.mp3"));
    EXPECT_EQ(list.Count(), 3u);

    list.RemoveSelected({false, false, true});
    EXPECT_FALSE(list.IsDuplicatedEntry("/music/song.mp3"));
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_FALSE(list.IsDuplicatedEntry("/music/song.mp3"));
}

TEST(VardoList, RemovingKeepsOrderAndIdsStillFindTheirEntries)
{
    VardoList list;
    for (const char* name : {"/a/1.mp3", "/a/2.mp3", "/a/3.mp3", "/a/4.mp3"})
        list.Append(name, " 1");
    const auto fourth = list.At(3).id;
    const auto second = list.At(1).id;
    list.RemoveSelected({false, true, true, false});
    EXPECT_EQ(Names(list), (std::vector<std::string>{"1.mp3", "4.mp3"}));
    EXPECT_EQ(list.Find(fourth), 1);
    EXPECT_EQ(list.Find(second), -1);
    list.SetResult(second, "/x", " 1", " 1%", EntryState::Done);  // gone: nothing happens
    list.SetResult(fourth, "/out/V_4.mp3", " 1", " 100%", EntryState::Done);
    EXPECT_EQ(list.At(1).targetPath, "/out/V_4.mp3");
    EXPECT_EQ(list.At(1).state, EntryState::Done);
    const auto fifth = list.Append("/a/5.mp3", " 1");
    EXPECT_GT(fifth, fourth);
    EXPECT_EQ(list.Find(fifth), 2);
}

TEST(VardoList, RetrySetsOnlyFailedEntriesWaitingAgainAndNeverTwiceForOneFile)
{
    VardoList list;
    const auto failed = list.Append("/a/1.mp3", " 10");
    const auto done = list.Append("/a/2.mp3", " 10");
    const auto waiting = list.Append("/a/3.mp3", " 10");
    list.SetResult(failed, "/out/V_1.mp3", " 0", "", EntryState::Failed);
    list.SetNote(failed, "the encoder left no output");
    list.SetResult(done, "/out/V_2.mp3", " 5", " 50%", EntryState::Done);

    EXPECT_FALSE(list.Retry(done));
    EXPECT_FALSE(list.Retry(waiting));
    EXPECT_FALSE(list.Retry(999));
    EXPECT_EQ(list.At(1).state, EntryState::Done);

    ASSERT_TRUE(list.Retry(failed));
    const VardoEntry& e = list.At(0);
    EXPECT_EQ(e.state, EntryState::Waiting);
    EXPECT_EQ(e.targetPath + e.targetSize + e.rate + e.note, "");
    EXPECT_EQ(e.sourceSize, " 10");
    EXPECT_TRUE(list.IsDuplicatedEntry("/a/1.mp3"));

    // The file was added again meanwhile: the failed entry stays as it is.
    list.SetState(failed, EntryState::Failed);
    list.Append("/a/1.mp3", " 10");
    EXPECT_FALSE(list.Retry(failed));
    EXPECT_EQ(list.At(0).state, EntryState::Failed);
}

TEST(VardoListFile, EntriesComeBackAsTheyWereWhateverTheirNamesHold)
{
    std::vector<VardoEntry> entries(4);
    entries[0] = {0, EntryState::Done, "/music/A\tB/", "01 Tab\there.mp3", " 1048576", "/out/V_01.mp3", " 400000", " 38%", ""};
    entries[1] = {0, EntryState::Failed, "/music/\xc3\x9cml\\aut/", "line\nbreak\r.wav", " 7", "", "", "",
                  "not an audio file: \\x"};
    entries[2] = {0, EntryState::Waiting, "/m/", "w.flac", " 9", "", "", "", ""};
    entries[2].converting = true;  // its encoder ran when the program closed: it waits again
    // Named in Latin-1 by an old archive: bytes that are not UTF-8 come back as they were.
    entries[3] = {0, EntryState::Waiting, "/m/été/", "Café.wav", " 5", "", "", "", ""};
    entries[3].root = "/m/été/";
    entries[0].root = "/music/";   // added with its folder; the others on their own
    const auto back = VardoListFile::Parse(VardoListFile::Encode(entries));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const VardoEntry& a = entries[i];
        const VardoEntry& b = (*back)[i];
        EXPECT_EQ(b.state, a.state);
        EXPECT_EQ(std::tie(b.sourcePath, b.sourceName, b.sourceSize, b.targetPath, b.targetSize, b.rate, b.note, b.root),
                  std::tie(a.sourcePath, a.sourceName, a.sourceSize, a.targetPath, a.targetSize, a.rate, a.note, a.root));
        EXPECT_FALSE(b.converting);
    }
    // One line per entry: nothing inside a name can start a line of its own.
    const std::string text = VardoListFile::Encode(entries);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
    EXPECT_EQ(VardoListFile::Parse(VardoListFile::Encode({}))->size(), 0u);
}

// A list written before entries knew the folder they were added from reads as entries added
// on their own; a root reads back only where its entry's file lies below it.
TEST(VardoListFile, ListsWithoutRootsStillRead)
{
    const std::string head = std::string(VardoListFile::kHeader) + "\n";
    const auto older = VardoListFile::Parse(head + "D\t/m/a/\tx.mp3\t 5\t/out/V_x.mp3\t 2\t 40%\t\n");
    ASSERT_TRUE(older);
    ASSERT_EQ(older->size(), 1u);
    EXPECT_EQ((*older)[0].root, "");
    EXPECT_EQ((*older)[0].targetPath, "/out/V_x.mp3");
    // And entries without one are written so, as earlier versions read them.
    EXPECT_EQ(VardoListFile::Encode(*older), head + "D\t/m/a/\tx.mp3\t 5\t/out/V_x.mp3\t 2\t 40%\t\n");
    const auto rooted = VardoListFile::Parse(head + "W\t/m/a/\tx.mp3\t 5\t\t\t\t\t/m/\n" + "W\t/m/a/\ty.mp3\t 5\t\t\t\t\t\n");
    ASSERT_TRUE(rooted);
    EXPECT_EQ((*rooted)[0].root, "/m/");
    EXPECT_EQ((*rooted)[1].root, "");
    for (const char* root : {"/m", "/n/", "/m/a/b/"})
        EXPECT_FALSE(VardoListFile::Parse(head + "W\t/m/a/\tx.mp3\t 5\t\t\t\t\t" + root + "\n")) << root;
    // A folder added from keeps its separator in the list, whichever way it was given.
    VardoList list;
    list.Append("/m/a/x.mp3", " 5", "/m");
    list.Append("/m/a/y.mp3", " 5", "/m/");
    EXPECT_EQ(list.At(0).root, "/m/");
    EXPECT_EQ(list.At(1).root, "/m/");
}

TEST(VardoListFile, AnythingButAWholeWellFormedFileIsRefused)
{
    const std::string head = std::string(VardoListFile::kHeader) + "\n";
    const std::string good = "W\t/m/\ta.mp3\t 5\t\t\t\t\n";
    ASSERT_TRUE(VardoListFile::Parse(head + good));
    const std::string cases[] = {
        "",                                                 // empty
        "[CONFIG]\nx=1\n",                                // another program's file
        "Vardune Vardo list 2\n" + good,                   // a later format
        head + good.substr(0, good.size() - 1),             // the last line cut short
        head + "W\t/m/\ta.mp3\t 5\t\t\t\n",              // a field short
        head + "W\t/m/\ta.mp3\t 5\t\t\t\t\t/m/\tx\n",      // a field too many
        head + "X\t/m/\ta.mp3\t 5\t\t\t\t\n",             // no such state
        head + "W\t/m/\t\t 5\t\t\t\t\n",                  // no name
        head + "W\tm\ta.mp3\t 5\t\t\t\t\n",               // a folder without its separator
        head + "W\t/m/\tx/a.mp3\t 5\t\t\t\t\n",           // a name with a folder in it
        head + "W\t/m/\ta\\q.mp3\t 5\t\t\t\t\n",          // an escape never written
        head + "W\t/m/\ta.mp3\\\t 5\t\t\t\t\n",           // a lone backslash at a field's end
        head + std::string("W\t/m/\ta\0.mp3\t 5\t\t\t\t\n", 20),  // a NUL
    };
    for (const std::string& text : cases)
        EXPECT_FALSE(VardoListFile::Parse(text)) << text;
    // Bounded: a file larger than any list the program keeps is not read through.
    std::string huge = head;
    while (huge.size() <= VardoListFile::kMaxBytes)
        huge += good;
    EXPECT_FALSE(VardoListFile::Parse(huge));
}

// The playlists the list carries: back as they were, and only from a whole, sound file.
TEST(VardoListFile, CarriedPlaylistsComeBackOrNotAtAll)
{
    const std::vector<VardoListFile::Playlist> playlists {{"/m/Road\tTrip.m3u8", "/m/"}, {"/m/a/b\\c.m3u", "/m/a/"}};
    const auto back = VardoListFile::ParsePlaylists(VardoListFile::EncodePlaylists(playlists));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    EXPECT_EQ((*back)[0].path, playlists[0].path);
    EXPECT_EQ((*back)[1].root, playlists[1].root);
    const std::string head = std::string(VardoListFile::kPlaylistsHeader) + "\n";
    ASSERT_TRUE(VardoListFile::ParsePlaylists(head + "/m/a.m3u\t/m/\n"));
    for (const std::string& text : {
             std::string(VardoListFile::kHeader) + "\n",  // the list's own file
             head + "/m/a.m3u\t/m/",                       // cut short
             head + "/m/a.m3u\n",                          // no root
             head + "/m/a.m3u\t/x/\n",                     // not below its root
             head + "/m/a.m3u\tm/\n",                      // a relative root
             head + "/m/\t/m/\n",                          // the root itself
             head + "/m/a\\q.m3u\t/m/\n",                 // an escape never written
         })
        EXPECT_FALSE(VardoListFile::ParsePlaylists(text)) << text;
}
