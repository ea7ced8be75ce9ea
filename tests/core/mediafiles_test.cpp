#include "mediafolder.h"
#include "namepattern.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include <unistd.h>

using namespace vardune;
namespace fs = std::filesystem;

TEST(NameFilters, TheAllFilesChoiceMatchesNamesWithoutADot)
{
    const struct {
        const char* pattern;
        std::vector<std::string> filters;
    } cases[] = {
        {"*.*", {"*"}},
        {"*.MP3", {"*.MP3"}},
        {" *.mp3 ; *.wav ", {"*.mp3", "*.wav"}},
        {"*.mp3;*.*", {"*.mp3", "*"}},
        {"*.*x", {"*.*x"}},
        {"", {"*"}},
        {" ; ", {"*"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NameFilters(c.pattern), c.filters) << c.pattern;
}

TEST(MediaFolder, MP3AndWAVFilesBelowTheFolderInNameOrder)
{
    const fs::path root = fs::temp_directory_path() / ("vardune-drop-" + std::to_string(std::random_device()()));
    for (const char* folder : {"b folder/deeper", "A folder", "unreadable"})
        fs::create_directories(root / folder);
    for (const char* file : {"c.WAV", "a.mp3", "B.Mp3", "notes.txt", "mp3", "A folder/x.wav", "b folder/deeper/y.mp3",
                             "b folder/a.wav", "unreadable/hidden.mp3"})
        std::ofstream(root / file) << "x";
    fs::create_directories(root / "folder.mp3");
    // A link back up would walk forever if followed blindly.
    fs::create_directory_symlink(root, root / "b folder" / "loop");
    fs::permissions(root / "unreadable", fs::perms::none, fs::perm_options::replace);

    const std::string r = root.string() + "/";
    // "a folder" sorts before "a.mp3": a blank comes before a dot.
    std::vector<std::string> expected = {r + "A folder/x.wav", r + "a.mp3", r + "b folder/a.wav",
                                         r + "b folder/deeper/y.mp3", r + "B.Mp3", r + "c.WAV"};
    if (::access((root / "unreadable").c_str(), R_OK) == 0)  // the superuser reads it all the same
        expected.push_back(r + "unreadable/hidden.mp3");
    EXPECT_EQ(MediaFolder::Files(root.string()), expected);
    EXPECT_EQ(MediaFolder::Files(r), expected);
    EXPECT_TRUE(MediaFolder::Files((root / "missing").string()).empty());

    fs::permissions(root / "unreadable", fs::perms::owner_all, fs::perm_options::replace);
    fs::remove_all(root);
}
