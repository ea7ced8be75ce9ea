// The record of what Vardune wrote in an output folder, where a source lies, and the output
// folder walked through descriptors.
#include "outputtree.h"
#include "sourceplace.h"
#include "writtenrecord.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/writtenrecord-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        dir = pattern;
        fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override
    {
        close(fd);
        fs::remove_all(dir);
    }

    static WrittenRecord::Event Wrote(const std::string& path, const std::string& source,
                                      WrittenRecord::Kind kind = WrittenRecord::Kind::Output)
    {
        WrittenRecord::Event event;
        event.entry.kind = kind;
        event.entry.path = path;
        event.entry.size = 1234;
        event.entry.seconds = 1700000000;
        event.entry.nanoseconds = 250000000;
        event.entry.source = source;
        event.entry.mount = "/";
        event.entry.fileSystem = "fsid:0123456789abcdef";
        return event;
    }
    static WrittenRecord::Event Removed(const std::string& path)
    {
        WrittenRecord::Event event;
        event.entry.path = path;
        event.removed = true;
        return event;
    }

    std::string dir;
    int fd = -1;
};

} // namespace

// Every byte a path may hold reads back as written.
TEST_F(RecordTest, LinesReadBackAsWritten)
{
    for (const std::string path : {"a.mp3", "Album A/01 Intro.mp3", "-", "100%/x\ty\nz.mp3", "Caf\xe9/\xd0\x96.mp3", "sp ace /-"}) {
        const auto event = Wrote(path, "/music/" + path + ".flac", WrittenRecord::Kind::Playlist);
        const std::string line = WrittenRecord::Encode(event);
        EXPECT_EQ(line.find('\n'), std::string::npos) << path;
        WrittenRecord::Event back;
        ASSERT_TRUE(WrittenRecord::Decode(line, back)) << line;
        EXPECT_EQ(back.entry.path, path);
        EXPECT_EQ(back.entry.source, "/music/" + path + ".flac");
        EXPECT_EQ(back.entry.kind, WrittenRecord::Kind::Playlist);
        EXPECT_EQ(back.entry.size, 1234u);
        EXPECT_EQ(back.entry.seconds, 1700000000);
        EXPECT_EQ(back.entry.nanoseconds, 250000000);
        EXPECT_EQ(back.entry.fileSystem, "fsid:0123456789abcdef");
        EXPECT_FALSE(back.removed);
        // One byte changed anywhere fails the line's checksum.
        std::string bad = line;
        bad[bad.size() / 2] ^= 1;
        EXPECT_FALSE(WrittenRecord::Decode(bad, back)) << bad;
    }
    WrittenRecord::Event back;
    ASSERT_TRUE(WrittenRecord::Decode(WrittenRecord::Encode(Removed("A/b.mp3")), back));
    EXPECT_TRUE(back.removed);
    EXPECT_EQ(back.entry.path, "A/b.mp3");
}

TEST_F(RecordTest, KeepsTheLatestOfEachPathAndDropsWhatWasRemoved)
{
    EXPECT_EQ(WrittenRecord::Read(fd).state, WrittenRecord::State::Missing);
    ASSERT_TRUE(WrittenRecord::Append(fd, {Wrote("A/1.mp3", "/s/1"), Wrote("A/2.mp3", "/s/2")}));
    ASSERT_TRUE(WrittenRecord::Append(fd, {Wrote("A/1.mp3", "/s/1b"), Removed("A/2.mp3"), Wrote("B/3.mp3", "/s/3")}));
    const auto contents = WrittenRecord::Read(fd);
    EXPECT_EQ(contents.state, WrittenRecord::State::Kept);
    ASSERT_EQ(contents.entries.size(), 2u);
    EXPECT_EQ(contents.entries.at("A/1.mp3").source, "/s/1b");
    EXPECT_GT(contents.entries.at("B/3.mp3").order, contents.entries.at("A/1.mp3").order);
    EXPECT_EQ(Read(dir + "/.vardune-record").rfind("vardune-record 1\n", 0), 0u);
}

// A card pulled while a line was written: that line proves nothing, the rest still holds,
// and the next writer goes on from the last whole line.
TEST_F(RecordTest, ALineCutShortProvesNothingAndIsDroppedByTheNextWriter)
{
    ASSERT_TRUE(WrittenRecord::Append(fd, {Wrote("A/1.mp3", "/s/1"), Wrote("A/2.mp3", "/s/2")}));
    const std::string whole = Read(dir + "/.vardune-record");
    ASSERT_EQ(truncate((dir + "/.vardune-record").c_str(), static_cast<off_t>(whole.size() - 20)), 0);
    auto contents = WrittenRecord::Read(fd);
    EXPECT_EQ(contents.state, WrittenRecord::State::Kept);
    EXPECT_EQ(contents.entries.size(), 1u);
    ASSERT_TRUE(WrittenRecord::Append(fd, {Wrote("A/3.mp3", "/s/3")}));
    contents = WrittenRecord::Read(fd);
    EXPECT_EQ(contents.state, WrittenRecord::State::Kept);
    EXPECT_EQ(contents.entries.size(), 2u);
    EXPECT_TRUE(contents.entries.count("A/3.mp3"));
}

// A damaged record proves nothing; the next writer sets it aside and begins anew. A record
// of a later version is neither read nor written.
TEST_F(RecordTest, ADamagedRecordProvesNothingAndIsSetAside)
{
    ASSERT_TRUE(WrittenRecord::Append(fd, {Wrote("A/1.mp3", "/s/1"), Wrote("A/2.mp3", "/s/2")}));
    std::string bytes = Read(dir + "/.vardune-record");
    bytes[bytes.find("A/1.mp3")] = 'B';
    Write(dir + "/.vardune-record", bytes);
    auto contents = WrittenRecord::Read(fd);
    EXPECT_EQ(contents.state, WrittenRecord::State::Damaged);
    EXPECT_TRUE(contents.entries.empty());
    ASSERT_TRUE(WrittenRecord::Append(fd, {Wrote("C/3.mp3", "/s/3")}));
    EXPECT_EQ(Read(dir + "/.vardune-record.damaged"), bytes);
    contents = WrittenRecord::Read(fd);
    EXPECT_EQ(contents.state, WrittenRecord::State::Kept);
    EXPECT_EQ(contents.entries.size(), 1u);

    for (const std::string& text : {std::string("not a record at all\n"), std::string("\0\0\0\n", 4)}) {
        Write(dir + "/.vardune-record", text);
        EXPECT_EQ(WrittenRecord::Read(fd).state, WrittenRecord::State::Damaged);
    }
    Write(dir + "/.vardune-record", "vardune-record 2\nwhatever comes later\n");
    EXPECT_EQ(WrittenRecord::Read(fd).state, WrittenRecord::State::Newer);
    EXPECT_FALSE(WrittenRecord::Append(fd, {Wrote("C/3.mp3", "/s/3")}));
    EXPECT_EQ(Read(dir + "/.vardune-record"), "vardune-record 2\nwhatever comes later\n");
    // A link or a FIFO in its place is no record, and is never written through.
    fs::remove(dir + "/.vardune-record");
    Write(dir + "/elsewhere", "x");
    fs::create_symlink(dir + "/elsewhere", dir + "/.vardune-record");
    EXPECT_EQ(WrittenRecord::Read(fd).state, WrittenRecord::State::Damaged);
    EXPECT_FALSE(WrittenRecord::Append(fd, {Wrote("C/3.mp3", "/s/3")}));
    EXPECT_EQ(Read(dir + "/elsewhere"), "x");
    fs::remove(dir + "/.vardune-record");
    ASSERT_EQ(mkfifo((dir + "/.vardune-record").c_str(), 0600), 0);
    EXPECT_EQ(WrittenRecord::Read(fd).state, WrittenRecord::State::Damaged);
    EXPECT_FALSE(WrittenRecord::Append(fd, {Wrote("C/3.mp3", "/s/3")}));
}

// Rewritten without what no longer counts once it has grown far beyond its files.
TEST_F(RecordTest, StaysNearTheSizeOfWhatItRecords)
{
    for (int run = 0; run < 40; ++run) {
        std::vector<WrittenRecord::Event> events;
        for (int i = 0; i < 50; ++i)
            events.push_back(Wrote("A/" + std::to_string(i) + ".mp3", "/s/" + std::to_string(run)));
        ASSERT_TRUE(WrittenRecord::Append(fd, events));
    }
    const auto contents = WrittenRecord::Read(fd);
    EXPECT_EQ(contents.entries.size(), 50u);
    EXPECT_LE(contents.lines, 2 * 50u + 256 + 50);
    EXPECT_EQ(contents.entries.at("A/7.mp3").source, "/s/39");
    EXPECT_FALSE(fs::exists(dir + "/.vardune-record.new"));
}

TEST(WrittenRecordMatches, SizeAndTimeShiftedOnlyByWholeQuarterHours)
{
    WrittenRecord::Entry entry;
    entry.size = 100;
    entry.seconds = 1700000000;
    entry.nanoseconds = 0;
    struct Case {
        std::int64_t size;
        std::int64_t shift;
        bool same;
    } cases[] = {
        {100, 0, true}, {100, 3600, true}, {100, -3600, true}, {100, 5 * 3600 + 1800, true}, {100, 900, true},
        {100, 1, false}, {100, 2, false}, {100, 3601, false}, {100, 25 * 3600, false}, {101, 0, false},
    };
    for (const Case& c : cases) {
        struct stat st {};
        st.st_mode = S_IFREG | 0644;
        st.st_size = c.size;
        st.st_mtim.tv_sec = static_cast<time_t>(entry.seconds + c.shift);
        EXPECT_EQ(WrittenRecord::Matches(entry, st), c.same) << c.size << " " << c.shift;
    }
    struct stat folder {};
    folder.st_mode = S_IFDIR | 0755;
    folder.st_size = 100;
    folder.st_mtim.tv_sec = static_cast<time_t>(entry.seconds);
    EXPECT_FALSE(WrittenRecord::Matches(entry, folder));
}

TEST_F(RecordTest, ASourceIsGoneOnlyWhereItsFileSystemStillIs)
{
    Write(dir + "/lib/A/01.wav", "source");
    const auto place = SourcePlace::Of(dir + "/lib/A");
    ASSERT_TRUE(place);
    EXPECT_EQ(SourcePlace::Judge(dir + "/lib/A/01.wav", *place), SourcePlace::Standing::Present);
    fs::remove(dir + "/lib/A/01.wav");
    EXPECT_EQ(SourcePlace::Judge(dir + "/lib/A/01.wav", *place), SourcePlace::Standing::Gone);
    // The folder it lay in, and the one above, gone with it: still on a file system that is there.
    fs::remove_all(dir + "/lib");
    EXPECT_EQ(SourcePlace::Judge(dir + "/lib/A/01.wav", *place), SourcePlace::Standing::Gone);
    // Another file system there (another computer), a folder that is no mount point, or a
    // path that does not lie below the mount: out of reach.
    EXPECT_EQ(SourcePlace::Judge(dir + "/lib/A/01.wav", {place->mount, "fsid:00000000deadbeef"}),
              SourcePlace::Standing::Unreachable);
    EXPECT_EQ(SourcePlace::Judge(dir + "/lib/A/01.wav", {dir, place->id}), SourcePlace::Standing::Unreachable);
    EXPECT_EQ(SourcePlace::Judge("/elsewhere/01.wav", {dir, place->id}), SourcePlace::Standing::Unreachable);
    EXPECT_EQ(SourcePlace::Judge(dir + "/lib/A/01.wav", {}), SourcePlace::Standing::Unreachable);
}

// A source on a disk that is not mounted is out of reach, not gone: a FAT image mounted by
// fusefat holds it, then is unmounted.
TEST_F(RecordTest, ASourceOnADiskNotMountedIsOutOfReach)
{
    const std::string image = dir + "/disk.img";
    const std::string disk = dir + "/disk";
    fs::create_directories(disk);
    if (std::system(("mkfs.vfat -C " + image + " 4096 > /dev/null 2>&1").c_str()) != 0
        || std::system(("fusefat -o rw+ " + image + " " + disk + " > /dev/null 2>&1 && mountpoint -q " + disk).c_str()) != 0)
        GTEST_SKIP() << "no mkfs.vfat or fusefat here";
    Write(disk + "/Album/01.wav", "source");
    const auto place = SourcePlace::Of(disk + "/Album");
    ASSERT_TRUE(place);
    EXPECT_EQ(place->mount, disk);
    EXPECT_EQ(SourcePlace::Judge(disk + "/Album/01.wav", *place), SourcePlace::Standing::Present);
    fs::remove(disk + "/Album/01.wav");
    EXPECT_EQ(SourcePlace::Judge(disk + "/Album/01.wav", *place), SourcePlace::Standing::Gone);
    Write(disk + "/Album/01.wav", "source");
    ASSERT_EQ(std::system(("fusermount -u " + disk).c_str()), 0);
    EXPECT_EQ(SourcePlace::Judge(disk + "/Album/01.wav", *place), SourcePlace::Standing::Unreachable);
    // Mounted again, it is the same file system.
    ASSERT_EQ(std::system(("fusefat -o rw+ " + image + " " + disk + " > /dev/null 2>&1 && mountpoint -q " + disk).c_str()), 0);
    EXPECT_EQ(SourcePlace::Judge(disk + "/Album/01.wav", *place), SourcePlace::Standing::Present);
    std::system(("fusermount -u " + disk).c_str());
}

TEST_F(RecordTest, TheTreeNeverFollowsALink)
{
    Write(dir + "/out/A/1.mp3", "one");
    Write(dir + "/outside/A/1.mp3", "outside");
    fs::create_symlink(dir + "/outside/A", dir + "/out/B");
    OutputTree tree(dir + "/out");
    ASSERT_TRUE(tree.IsOpen());
    for (const std::string bad : {"", "/A/1.mp3", "A/../A/1.mp3", "./A/1.mp3", "A//1.mp3", "A/"})
        EXPECT_FALSE(OutputTree::Valid(bad)) << bad;
    EXPECT_TRUE(tree.Stat("A/1.mp3"));
    EXPECT_FALSE(tree.Stat("B/1.mp3"));
    EXPECT_EQ(tree.Folder("B"), -1);
    std::string why;
    EXPECT_FALSE(tree.RemoveFile("B/1.mp3", [](int, const struct stat&, std::string&) { return true; }, why));
    EXPECT_TRUE(fs::exists(dir + "/outside/A/1.mp3"));
    std::vector<std::string> seen;
    tree.Walk([&](const std::string& folder, int, const std::string& name, unsigned char) { seen.push_back(folder + "|" + name); });
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"A|1.mp3", "|A", "|B"}));
}
