// Tidying the player: marked outputs whose source no longer counts are listed and removed,
// and nothing else under the output folder is touched.
#include "playertidy.h"
#include "sourcemark.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vardune;
namespace fs = std::filesystem;

namespace {

void Write(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
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

class PlayerTidyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/playertidy-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        dir = pattern;
        out = dir + "/out";
        fs::create_directories(out);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A source file and its marked output.
    void Made(const std::string& source, const std::string& output)
    {
        Write(dir + source, "source " + source);
        Write(out + output, MarkedFor(dir + source));
    }
    std::vector<std::string> Outputs(const std::vector<PlayerTidy::Stale>& stale) const
    {
        std::vector<std::string> names;
        for (const auto& s : stale)
            names.push_back(s.output.substr(out.size()));
        return names;
    }

    std::string dir;
    std::string out;
};

} // namespace

// One tree with every kind of file the output folder may hold.
TEST_F(PlayerTidyTest, ListsOnlyMarkedOutputsOfSourcesThatNoLongerCount)
{
    Made("/lib/A/01.wav", "/A/01.mp3");                // in a list folder: kept
    Made("/lib/A/deep/07.wav", "/A/07.mp3");           // below a list folder: kept
    Made("/single/04.wav", "/04.mp3");                 // a file of the list: kept
    Made("/lib/B/02.wav", "/B/x/02.mp3");              // source removed below
    Made("/elsewhere/03.wav", "/C/03.MP3");            // exists, outside the list's folders
    Made("/lib/AB/06.wav", "/C/06.mp3");               // "/lib/A" is no prefix of "/lib/AB"
    Made("/lib/B/gone.wav", "/C/gone.wav.bak");        // marked, but not an mp3 name
    Write(out + "/C/mine.mp3", "the user's own file"); // unmarked
    {
        // Marked, but naming no source: nothing proves its source gone.
        const std::string frame = SourceMark::Frame("size=1;mtime=1.0");
        std::string tag = "ID3\x03";
        tag += std::string(2, '\0');
        for (int shift = 21; shift >= 0; shift -= 7)
            tag += static_cast<char>((frame.size() >> shift) & 0x7F);
        Write(out + "/C/nameless.mp3", tag + frame);
        ASSERT_TRUE(SourceMark::ReadFile(out + "/C/nameless.mp3"));
    }
    fs::remove(dir + "/lib/B/02.wav");
    fs::remove(dir + "/lib/B/gone.wav");
    fs::create_symlink(out, out + "/A/loop");          // a loop: never entered
    fs::create_symlink(out + "/C/03.MP3", out + "/link.mp3");
    ASSERT_EQ(mkfifo((out + "/fifo.mp3").c_str(), 0600), 0);  // read, it would block

    const PlayerTidy tidy({dir + "/lib/A/"}, {dir + "/single/04.wav"});
    const auto stale = tidy.Scan(out + "/");
    EXPECT_EQ(Outputs(stale), (std::vector<std::string>{"/B/x/02.mp3", "/C/03.MP3", "/C/06.mp3"}));
    ASSERT_EQ(stale.size(), 3u);
    char real[PATH_MAX];
    ASSERT_TRUE(realpath(dir.c_str(), real));
    EXPECT_EQ(stale[1].source, std::string(real) + "/elsewhere/03.wav");

    // A list that names the other folder keeps its output, and no longer the single file.
    EXPECT_EQ(Outputs(PlayerTidy({dir + "/lib/A", dir + "/elsewhere"}, {}).Scan(out)),
              (std::vector<std::string>{"/04.mp3", "/B/x/02.mp3", "/C/06.mp3"}));
}

TEST_F(PlayerTidyTest, RemovesTheListedFilesAndTheFoldersTheyLeaveEmpty)
{
    Made("/lib/A/01.wav", "/A/01.mp3");
    Made("/lib/B/02.wav", "/B/x/y/02.mp3");
    Made("/lib/B/03.wav", "/B/x/03.mp3");
    Made("/lib/C/04.wav", "/C/04.mp3");
    Made("/lib/D/05.wav", "/D/05.mp3");
    Made("/lib/E/08.wav", "/E/08.mp3");
    Write(out + "/D/cover.jpg", "picture");
    fs::create_directories(out + "/empty");  // empty before: not the removal's doing
    fs::remove_all(dir + "/lib/B");
    fs::remove_all(dir + "/lib/C");
    fs::remove_all(dir + "/lib/D");
    fs::remove_all(dir + "/lib/E");
    fs::create_symlink(out + "/B", out + "/B/x/loop");

    const PlayerTidy tidy({dir + "/lib/A"}, {});
    const auto stale = tidy.Scan(out);
    ASSERT_EQ(Outputs(stale), (std::vector<std::string>{"/B/x/03.mp3", "/B/x/y/02.mp3", "/C/04.mp3", "/D/05.mp3", "/E/08.mp3"}));
    // Meanwhile one is replaced by the user's own file, one is gone already.
    Write(out + "/C/04.mp3", "the user's own file");
    fs::remove(out + "/E/08.mp3");

    const auto result = tidy.Remove(out, stale);
    std::vector<std::string> removed;
    for (const auto& path : result.removed)
        removed.push_back(path.substr(out.size()));
    EXPECT_EQ(removed, (std::vector<std::string>{"/B/x/03.mp3", "/B/x/y/02.mp3", "/D/05.mp3"}));
    std::vector<std::string> kept;
    for (const auto& k : result.kept)
        kept.push_back(k.first.substr(out.size()));
    EXPECT_EQ(kept, (std::vector<std::string>{"/C/04.mp3", "/E/08.mp3"}));
    EXPECT_TRUE(fs::exists(out + "/C/04.mp3"));
    EXPECT_TRUE(fs::exists(out + "/A/01.mp3"));
    // B/x still holds the link, so only y went; D keeps its picture, E was emptied by the
    // user, not by the removal.
    EXPECT_FALSE(fs::exists(out + "/B/x/y"));
    EXPECT_TRUE(fs::is_symlink(out + "/B/x/loop"));
    EXPECT_TRUE(fs::exists(out + "/D/cover.jpg"));
    EXPECT_TRUE(fs::exists(out + "/E"));
    EXPECT_TRUE(fs::exists(out + "/empty"));

    // Without the link, a nested tree emptied by the removal goes up to the output folder,
    // which stays even when nothing is left in it.
    fs::remove_all(out);
    Made("/lib/F/09.wav", "/F/g/h/09.mp3");
    Made("/lib/F/10.wav", "/F/10.mp3");
    fs::remove_all(dir + "/lib/F");
    const auto second = PlayerTidy({}, {}).Remove(out, PlayerTidy({}, {}).Scan(out));
    EXPECT_EQ(second.removed.size(), 2u);
    EXPECT_EQ(second.foldersRemoved.size(), 3u);
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_TRUE(fs::is_empty(out));
}

// Remove takes nothing outside the output folder, whatever list it is given.
TEST_F(PlayerTidyTest, RemovesNothingOutsideTheOutputFolder)
{
    Made("/lib/B/02.wav", "/B/02.mp3");
    Write(dir + "/other/02.mp3", MarkedFor(dir + "/lib/B/02.wav"));
    fs::remove_all(dir + "/lib/B");
    const auto result = PlayerTidy({}, {}).Remove(out + "/B", {{dir + "/other/02.mp3", ""}, {out + "/B", ""}});
    EXPECT_TRUE(result.removed.empty());
    EXPECT_TRUE(fs::exists(dir + "/other/02.mp3"));
    EXPECT_TRUE(fs::exists(out + "/B/02.mp3"));
}
