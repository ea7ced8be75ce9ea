#include "encoderleftover.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using vardune::EncoderLeftover;
namespace fs = std::filesystem;

TEST(EncoderLeftover, TheTemporaryNameForm)
{
    for (const char* name : {".V_one.wav.MP3.fastencc-aB3xYz", "..fastencc-000000", ".folder.jpg.fastencc-ZZZZZZ",
                             ".fastencc-probe-abcdef", ". .fastencc-Q1w2E3"})
        EXPECT_TRUE(EncoderLeftover::IsTemporaryName(name)) << name;
    for (const char* name : {"V_one.wav.MP3.fastencc-aB3xYz", ".V_one.MP3.fastencc-aB3xY", ".V_one.MP3.fastencc-aB3xYz1",
                             ".V_one.MP3.fastencc-aB3x-z", ".V_one.MP3.fastencc-aB3x.z", ".fastencc-", "V_one.wav.MP3",
                             ".V_one.MP3.tmp-aB3xYz", ".fastencc-probe-abc"})
        EXPECT_FALSE(EncoderLeftover::IsTemporaryName(name)) << name;
}

// Only what an encoder killed outright left goes: a file of the form, regular, older than the
// batch, that no encoder holds. A running encoder's file (it holds its lock), one newer than
// the batch, the user's own files, a link and a folder of that name all stay.
TEST(EncoderLeftover, OnlyUnheldOldTemporariesGo)
{
    const fs::path dir = fs::temp_directory_path() / ("vardune-leftover-" + std::to_string(std::random_device()()));
    fs::create_directories(dir);
    const auto make = [&](const std::string& name, std::time_t changed) {
        std::ofstream((dir / name).string()) << "ID3";
        const timespec times[2] = {{changed, 0}, {changed, 0}};
        utimensat(AT_FDCWD, (dir / name).c_str(), times, 0);
    };
    const std::time_t began = std::time(nullptr);
    make(".V_a.wav.MP3.fastencc-killed", began - 60);
    make(".fastencc-probe-Killed", began - 60);
    make(".V_b.wav.MP3.fastencc-runnin", began - 60);
    make(".V_c.wav.MP3.fastencc-newOne", began + 1);
    make("V_a.wav.MP3", began - 60);
    make(".V_d.MP3.fastencc-notour1", began - 60);
    fs::create_symlink(dir / "V_a.wav.MP3", dir / ".V_e.MP3.fastencc-alink1");
    fs::create_directory(dir / ".V_f.MP3.fastencc-folder");
    // A running encoder holds its file under a lock.
    const int held = open((dir / ".V_b.wav.MP3.fastencc-runnin").c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    auto found = EncoderLeftover::Find(dir.string(), began);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string> {".V_a.wav.MP3.fastencc-killed", ".fastencc-probe-Killed"}));
    EXPECT_EQ(EncoderLeftover::Clear(dir.string(), began), 2);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string> {".V_b.wav.MP3.fastencc-runnin", ".V_c.wav.MP3.fastencc-newOne",
                                               ".V_d.MP3.fastencc-notour1", ".V_e.MP3.fastencc-alink1",
                                               ".V_f.MP3.fastencc-folder", "V_a.wav.MP3"}));
    // Once its encoder has gone, its file is a leftover too.
    close(held);
    EXPECT_EQ(EncoderLeftover::Clear(dir.string(), began), 1);
    EXPECT_EQ(EncoderLeftover::Clear((dir / "no such folder").string(), began), 0);
    fs::remove_all(dir);
}
