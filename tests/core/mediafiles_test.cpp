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
        {"All audio (*.MP3;*.WAV)", {"*.MP3", "*.WAV"}},
        {"*.mp3 (live)", {"*.mp3 (live)"}},  // brackets in a pattern are the pattern's
        {"Songs ()", {"Songs ()"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NameFilters(c.pattern), c.filters) << c.pattern;
}

TEST(MediaFolder, AudioFilesBelowTheFolderInNameOrder)
{
    const fs::path root = fs::temp_directory_path() / ("vardune-drop-" + std::to_string(std::random_device()()));
    for (const char* folder : {"b folder/deeper", "A folder", "unreadable"})
        fs::create_directories(root / folder);
    for (const char* file : {"c.WAV", "a.mp3", "B.Mp3", "notes.txt", "mp3", "A folder/x.wav", "b folder/deeper/y.mp3",
                             "b folder/a.wav", "unreadable/hidden.mp3", "d.flac", "folder.jpg", "e.Opus"})
        std::ofstream(root / file) << "x";
    fs::create_directories(root / "folder.mp3");
    // A link back up would walk forever if followed blindly.
    fs::create_directory_symlink(root, root / "b folder" / "loop");
    fs::permissions(root / "unreadable", fs::perms::none, fs::perm_options::replace);

    const std::string r = root.string() + "/";
    // "a folder" sorts before "a.mp3": a blank comes before a dot.
    std::vector<std::string> expected = {r + "A folder/x.wav", r + "a.mp3", r + "b folder/a.wav",
                                         r + "b folder/deeper/y.mp3", r + "B.Mp3", r + "c.WAV", r + "d.flac", r + "e.Opus"};
    if (::access((root / "unreadable").c_str(), R_OK) == 0)  // the superuser reads it all the same
        expected.push_back(r + "unreadable/hidden.mp3");
    EXPECT_EQ(MediaFolder::Files(root.string()), expected);
    EXPECT_EQ(MediaFolder::Files(r), expected);
    EXPECT_TRUE(MediaFolder::Files((root / "missing").string()).empty());

    fs::permissions(root / "unreadable", fs::perms::owner_all, fs::perm_options::replace);
    fs::remove_all(root);
}

TEST(MediaFolder, AudioNamesAreTheTypesTheEncoderReads)
{
    for (const char* name : {"a.mp3", "B.MP2", "c.mp1", "d.mpa", "e.wav", "f.WAVE", "g.w64", "h.rf64", "i.aif", "j.AIFF",
                             "k.aifc", "l.flac", "m.ogg", "n.oga", "o.opus", "p.au", "q.caf", "x.y.Mp3"})
        EXPECT_TRUE(MediaFolder::IsAudioName(name)) << name;
    for (const char* name : {"folder.jpg", "notes.txt", "mp3", ".mp3", "a.mp3.part", "a.m4a", "a.", "playlist.m3u", ""})
        EXPECT_FALSE(MediaFolder::IsAudioName(name)) << name;
    // The type box's choice takes exactly these names.
    const std::vector<std::string> filters = NameFilters(MediaFolder::AudioPattern());
    EXPECT_EQ(MediaFolder::AudioPattern().rfind("*.MP3;*.WAV;*.FLAC;*.OGG;", 0), 0u) << MediaFolder::AudioPattern();
    for (const char* name : {"a.mp3", "f.WAVE", "q.caf", "folder.jpg", "mp3", "a.m4a"})
        EXPECT_EQ(MatchesNameFilters(name, filters), MediaFolder::IsAudioName(name)) << name;
    EXPECT_EQ(NameFilters(MediaFolder::AudioChoice()), filters);
}

TEST(NameFilters, NamesMatchAsTheFileViewMatchesThem)
{
    const struct {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"song.mp3", "*.MP3", true},
        {"SONG.Mp3", "*.mp3", true},
        {"song.mp3.txt", "*.mp3", false},
        {"noext", "*.*", true},
        {"a.wav", "*.mp3;*.WAV", true},
        {"track1.mp3", "track?.mp3", true},
        {"track10.mp3", "track?.mp3", false},
        {"日本.mp3", "??.mp3", true},  // one character, however many bytes
        {"b.mp3", "[abc].mp3", true},
        {"B.mp3", "[a-c].mp3", true},
        {"d.mp3", "[a-c].mp3", false},
        {"d.mp3", "[!a-c].mp3", true},
        {"[x.mp3", "[x.mp3", true},  // a "[" that opens no set is itself
        {"Café.MP3", "café*", true},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*c", false},  // at once, not exponential
        {"", "*", true},
        {"x", "", true},  // no pattern at all: every file
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesNameFilters(c.name, NameFilters(c.pattern)), c.matches) << c.name << " ~ " << c.pattern;
}

TEST(MediaFolder, TheFilesOfThreeLevelsThatMatchInPathOrder)
{
    const fs::path root = fs::temp_directory_path() / ("vardune-tree-" + std::to_string(std::random_device()()));
    for (const char* file : {"Album/02 b.MP3", "Album/01 a.mp3", "Album/cover.jpg", "Album/CD 2/01 c.mp3",
                             "Album/CD 2/notes.txt", "Album/CD 2/Bonus/x.mp3", "top.wav", "z.mp3"}) {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << "x";
    }
    fs::create_directories(root / "folder.mp3");  // a folder is never one of the files
    const std::vector<std::string> filters = NameFilters("*.MP3");
    const auto wanted = [&](const std::string& name) { return MatchesNameFilters(name, filters); };
    const std::string r = root.string() + "/";
    EXPECT_EQ(MediaFolder::Files(root.string(), wanted),
              (std::vector<std::string>{r + "Album/01 a.mp3", r + "Album/02 b.MP3", r + "Album/CD 2/01 c.mp3",
                                        r + "Album/CD 2/Bonus/x.mp3", r + "z.mp3"}));
    fs::remove_all(root);
}
