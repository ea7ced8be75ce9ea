#include "configcodec.h"
#include "configtable.h"
#include "inifile.h"

#include <gtest/gtest.h>

#include <cmath>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <unistd.h>

using namespace vardune;
namespace fs = std::filesystem;

namespace {

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vardune-config-" + std::to_string(std::random_device()()));
        fs::create_directories(dir);
        path = (dir / "Vardune.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void Write(const std::string& bytes) const
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string Read() const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static std::string Line(const std::string& key, const std::string& plainValue)
    {
        return EncodeConfigText(key) + "=" + EncodeConfigText(plainValue);
    }
    static std::string Section() { return "[" + EncodeConfigText("CONFIG") + "]"; }

    fs::path dir;
    std::string path;
    const std::string home = "/home/user/";
};

void ExpectDefaults(const Settings& s, const std::string& home)
{
    EXPECT_EQ(s.versionText, "03.00.01");
    EXPECT_EQ(s.sourceFolder, home);
    EXPECT_EQ(s.targetFolder, home);
    EXPECT_EQ(s.profile, EncodingProfile());
}

} // namespace

TEST_F(ConfigFile, FirstStartGivesDefaultsAndSaveCreatesAnEncodedFile)
{
    ExpectDefaults(ReadConfig(path, home), home);

    ASSERT_TRUE(WriteConfig(path, ReadConfig(path, home)));
    const std::string text = Read();
    EXPECT_EQ(text.find_first_not_of("0123456789[]=\n"), std::string::npos) << text;
    EXPECT_EQ(text.rfind(Section(), 0), 0u);
    for (const char* key : {"VERSION", "SOURCE_", "TARGET_", "MCHANNE", "MQUALIT", "MKBPS__", "MDEVICE"})
        EXPECT_NE(text.find("\n" + EncodeConfigText(key) + "="), std::string::npos) << key;
    // An optional key that was never set stays out of the file.
    EXPECT_EQ(text.find(EncodeConfigText("MJOBS__")), std::string::npos);
    ExpectDefaults(ReadConfig(path, home), home);
}

TEST_F(ConfigFile, JobsKeyIsKeptAsWritten)
{
    Write(Section() + "\n" + Line("MJOBS__", "3") + "\n");
    Settings s = ReadConfig(path, home);
    EXPECT_EQ(s.jobs, "3");
    s.jobs = "not a number";  // kept as the user wrote it; the batch reads it as missing
    ASSERT_TRUE(WriteConfig(path, s));
    EXPECT_EQ(ReadConfig(path, home).jobs, "not a number");
    const std::string text = Read();
    EXPECT_EQ(text.find(EncodeConfigText("MJOBS__")), text.rfind(EncodeConfigText("MJOBS__")));  // replaced in place
}

TEST_F(ConfigFile, EveryValueRoundTripsWhole)
{
    Settings s;
    s.versionText = "01.02.03";                 // a stored version is written back as it was
    s.sourceFolder = "/media/zoë/Müsik/日本語 \"live\"/";
    s.targetFolder = "/out/" + std::string(300, 'x') + "/";
    s.profile = {"4- Mobile Phone with MP3 Module", "3- TAPE QUALITY", "typed mono", "128"};
    ASSERT_TRUE(WriteConfig(path, s));
    const Settings back = ReadConfig(path, home);
    EXPECT_EQ(back.versionText, s.versionText);
    EXPECT_EQ(back.sourceFolder, s.sourceFolder);
    EXPECT_EQ(back.targetFolder, s.targetFolder);
    EXPECT_EQ(back.profile, s.profile);
}

TEST_F(ConfigFile, EmptyValuesGiveDefaultsAndShortPlainValuesGiveEmptyText)
{
    Settings s = ReadConfig(path, home);
    s.targetFolder = "";
    ASSERT_TRUE(WriteConfig(path, s));
    EXPECT_EQ(ReadConfig(path, home).targetFolder, home);

    Write(Section() + "\n" + EncodeConfigText("MKBPS__") + "=\n" + EncodeConfigText("MDEVICE") + "=ab\n");
    const Settings back = ReadConfig(path, home);
    EXPECT_EQ(back.profile.kbps, "96");
    EXPECT_EQ(back.profile.device, "");
}

TEST_F(ConfigFile, SavingKeepsForeignLinesAndReplacesValuesInPlace)
{
    const std::string before = "; kept comment\r\n[other]\r\nx=1\r\n\r\n" + Section() + "\r\n"
        + EncodeConfigText("TARGET_") + " = " + EncodeConfigText("/old/") + "\r\nnoise line\r\n\r\n[last]\r\ny=2\r\n";
    Write(before);
    Settings s = ReadConfig(path, home);
    EXPECT_EQ(s.targetFolder, "/old/");
    s.targetFolder = "/new/";
    ASSERT_TRUE(WriteConfig(path, s));
    const std::string after = Read();
    EXPECT_EQ(after.rfind("; kept comment\r\n[other]\r\nx=1\r\n\r\n" + Section() + "\r\n" + Line("TARGET_", "/new/") + "\r\nnoise line\r\n", 0), 0u) << after;
    EXPECT_NE(after.find("\r\n\r\n[last]\r\ny=2\r\n"), std::string::npos) << after;
    EXPECT_EQ(after.find("\n\n"), std::string::npos) << "line endings kept as CRLF";
    EXPECT_EQ(ReadConfig(path, home).targetFolder, "/new/");
    // No temporary file is left beside the configuration.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(ConfigFile, BadFilesGiveDefaultsOrWhatDecodes)
{
    std::mt19937 random(7);
    std::string noise(10 * 1024 * 1024, '\0');
    for (auto& c : noise)
        c = static_cast<char>(random());
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>(i % 256);

    const std::string target = Line("TARGET_", "/music/");
    const struct {
        const char* name;
        std::string bytes;
        std::string expectedTarget;
    } cases[] = {
        {"empty", "", home},
        {"binary", binary, home},
        {"noise", noise, home},
        {"no section", target + "\n", home},
        {"other section", "[" + EncodeConfigText("OTHER") + "]\n" + target + "\n", home},
        {"plain text values", "[CONFIG]\nTARGET_=/music/\n" + Section() + "\n" + EncodeConfigText("TARGET_") + "=/music/\n", ""},
        {"lines without =", Section() + "\njunk\n" + EncodeConfigText("TARGET_") + "\n" + target + "\n", "/music/"},
        {"CRLF", Section() + "\r\n" + target + "\r\n", "/music/"},
        {"LF without a final break", Section() + "\n" + target, "/music/"},
        {"key twice: the first wins", Section() + "\n" + target + "\n" + Line("TARGET_", "/second/") + "\n", "/music/"},
        {"NUL inside the value", Section() + "\n" + target + std::string(1, '\0') + "601\n", "/music/"},
        {"section name in another case", "[" + EncodeConfigText("CONFIG") + "]\n" + target + "\n", "/music/"},
        {"blank padded", "  " + Section() + "  \n  " + EncodeConfigText("TARGET_") + "  =  " + EncodeConfigText("/music/") + "  \n", "/music/"},
    };
    for (const auto& c : cases) {
        Write(c.bytes);
        const Settings s = ReadConfig(path, home);
        EXPECT_EQ(s.targetFolder, c.expectedTarget) << c.name;
        EXPECT_EQ(s.versionText, "03.00.01") << c.name;
        // A later save still works on such a file and makes it readable again.
        ASSERT_TRUE(WriteConfig(path, s)) << c.name;
        EXPECT_EQ(ReadConfig(path, home).targetFolder, c.expectedTarget.empty() ? home : c.expectedTarget) << c.name;
    }
}

TEST_F(ConfigFile, AFailedSaveLeavesNothingBehind)
{
    Write(Section() + "\n" + Line("TARGET_", "/kept/") + "\n");
    const std::string before = Read();
    Settings s = ReadConfig(path, home);
    EXPECT_FALSE(WriteConfig((dir / "missing" / "Vardune.ini").string(), s));
    // The configuration is a folder here: the rename fails and the temporary file goes.
    fs::create_directories(dir / "sub" / "Vardune.ini" / "x");
    EXPECT_FALSE(WriteConfig((dir / "sub" / "Vardune.ini").string(), s));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator()), 1);
    EXPECT_EQ(Read(), before);
}

TEST(IniFile, NamesMatchWithoutRegardToCase)
{
    const auto path = fs::temp_directory_path() / ("vardune-ini-" + std::to_string(std::random_device()()));
    std::ofstream(path) << "[Section]\nKey=\"quoted value\"\n";
    IniFile ini(path.string());
    ini.Load();
    EXPECT_EQ(ini.Value("SECTION", "key"), "quoted value");
    ini.SetValue("section", "KEY", "new");
    ini.SetValue("section", "added", "1");
    ini.SetValue("fresh", "k", "v");
    ASSERT_TRUE(ini.Save());
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), "[Section]\nKEY=new\nadded=1\n[fresh]\nk=v\n");
    fs::remove(path);
}

TEST_F(ConfigFile, ALinkedFileIsWrittenThroughTheLinkAndKeepsItsMode)
{
    const fs::path real = dir / "kept" / "settings.ini";
    fs::create_directories(real.parent_path());
    std::ofstream(real) << Section() << "\n" << Line("TARGET_", "/old/") << "\n";
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    // A relative link to a relative link: the chain is followed to the file.
    fs::create_symlink("kept/settings.ini", dir / "middle.ini");
    fs::create_symlink("middle.ini", path);

    Settings s = ReadConfig(path, home);
    EXPECT_EQ(s.targetFolder, "/old/");
    s.targetFolder = "/new/";
    ASSERT_TRUE(WriteConfig(path, s));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_TRUE(fs::is_symlink(dir / "middle.ini"));
    EXPECT_EQ(ReadConfig(real.string(), home).targetFolder, "/new/");
    EXPECT_EQ(fs::status(real).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), fs::directory_iterator()), 1);

    // A link to a file not yet there creates that file.
    fs::remove(real);
    ASSERT_TRUE(WriteConfig(path, s));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(ReadConfig(real.string(), home).targetFolder, "/new/");
}

TEST_F(ConfigFile, AWritableFileInAFolderThatIsNotIsWrittenInPlace)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "the superuser writes into any folder";
    const fs::path locked = dir / "locked";
    fs::create_directories(locked);
    const fs::path real = locked / "Vardune.ini";
    std::ofstream(real) << Section() << "\n" << Line("TARGET_", "/a rather long old folder name/") << "\n";
    fs::create_symlink(real, path);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    Settings s = ReadConfig(path, home);
    s.targetFolder = "/new/";
    const bool saved = WriteConfig(path, s);
    fs::permissions(locked, fs::perms::owner_all, fs::perm_options::replace);
    ASSERT_TRUE(saved);
    EXPECT_EQ(ReadConfig(real.string(), home).targetFolder, "/new/");
}

TEST_F(ConfigFile, TheMainWindowsPlacementRoundTripsAndBadTextsGiveTheDesignedWindow)
{
    Settings s = ReadConfig(path, home);
    EXPECT_FALSE(s.window.normal);
    EXPECT_FALSE(s.window.maximized);
    EXPECT_TRUE(s.window.columnWidths.empty());

    s.window.normal = TwipsRect{-450, 300, 15000, 9000};
    s.window.maximized = true;
    s.window.columnWidths = {300, 1500, 4500, 1000, 2500, 15, 1000};
    ASSERT_TRUE(WriteConfig(path, s));
    const std::string text = Read();
    EXPECT_EQ(text.find_first_not_of("0123456789[]=\n"), std::string::npos) << text;
    EXPECT_NE(text.find(Line("WINLEFT", "-450")), std::string::npos) << text;
    EXPECT_NE(text.find(Line("COLUMNS", "300,1500,4500,1000,2500,15,1000")), std::string::npos) << text;
    const WindowPlacement back = ReadConfig(path, home).window;
    ASSERT_TRUE(back.normal);
    EXPECT_EQ(back.normal->left, -450);
    EXPECT_EQ(back.normal->top, 300);
    EXPECT_EQ(back.normal->width, 15000);
    EXPECT_EQ(back.normal->height, 9000);
    EXPECT_TRUE(back.maximized);
    EXPECT_EQ(back.columnWidths, s.window.columnWidths);

    const struct {
        const char* name;
        WindowPlacement::Texts texts;
        bool hasRect;
        bool hasColumns;
    } cases[] = {
        {"all good", {"0", "0", "15", "15", "0", "15,15,15,15,15,15,15"}, true, true},
        {"one key missing", {"100", "", "9000", "6000", "0", ""}, false, false},
        {"not a number", {"100", "x", "9000", "6000", "0", "1,2"}, false, false},
        {"a number with more after it", {"100", "100", "9000px", "6000", "0", ""}, false, false},
        {"no size", {"100", "100", "0", "6000", "0", ""}, false, false},
        {"beyond any screen", {"100", "100", "9000", "99999999", "0", ""}, false, false},
        {"six columns", {"", "", "", "", "", "300,1500,2500,1000,2500,1000"}, false, false},
        {"eight columns", {"", "", "", "", "", "300,1500,2500,1000,2500,1000,1000,1000"}, false, false},
        {"a column of nothing", {"", "", "", "", "", "300,1500,,1000,2500,1000,1000"}, false, false},
        {"a negative column", {"", "", "", "", "", "300,1500,-2500,1000,2500,1000,1000"}, false, false},
        {"blanks in the list", {"", "", "", "", "", "300, 1500,2500,1000,2500,1000,1000"}, false, false},
    };
    for (const auto& c : cases) {
        const WindowPlacement p = WindowPlacement::FromTexts(c.texts);
        EXPECT_EQ(bool(p.normal), c.hasRect) << c.name;
        EXPECT_EQ(!p.columnWidths.empty(), c.hasColumns) << c.name;
    }
}

TEST_F(ConfigFile, SplitterBarsTheFileTypeAndTheOutputLayoutComeBackAndTheirAbsenceKeepsTheDesignedOnes)
{
    Settings s = ReadConfig(path, home);
    EXPECT_EQ(s.evenLoudness, ""); // off unless asked for
    EXPECT_FALSE(s.window.treeWidth);
    EXPECT_FALSE(s.window.treeHeight);
    EXPECT_EQ(s.fileType, "");
    ASSERT_TRUE(WriteConfig(path, s));
    EXPECT_EQ(s.outputLayout, "");
    EXPECT_EQ(s.namePattern, "");
    for (const char* key : {"TREEWID", "TREEHEI", "FILETYP", "OUTLAYO", "OUTPATT", "EVENLOU"})
        EXPECT_EQ(Read().find(EncodeConfigText(key)), std::string::npos) << key;

    s.window.treeWidth = 5210;
    s.window.treeHeight = 2843;
    s.fileType = "*.FLAC;*.ogg";
    s.outputLayout = "TAGS";
    s.namePattern = "{artist}/{album}/{track:02} \xc3\x9c {title}";
    s.evenLoudness = "album";
    ASSERT_TRUE(WriteConfig(path, s));
    const std::string text = Read();
    EXPECT_EQ(text.find_first_not_of("0123456789[]=\n"), std::string::npos) << text;
    EXPECT_NE(text.find(Line("TREEWID", "5210")), std::string::npos) << text;
    EXPECT_NE(text.find(Line("FILETYP", "*.FLAC;*.ogg")), std::string::npos) << text;
    const Settings back = ReadConfig(path, home);
    EXPECT_EQ(back.window.treeWidth, 5210.0f);
    EXPECT_EQ(back.window.treeHeight, 2843.0f);
    EXPECT_EQ(back.fileType, "*.FLAC;*.ogg");
    EXPECT_EQ(back.outputLayout, "TAGS");
    EXPECT_EQ(back.namePattern, s.namePattern);
    EXPECT_EQ(back.evenLoudness, "album");
    EXPECT_NE(text.find(Line("EVENLOU", "album")), std::string::npos) << text;
    // A bar's place that is no size at all is not one the user left.
    WindowPlacement::Texts texts;
    texts[6] = "-300";
    texts[7] = "2843x";
    const WindowPlacement bad = WindowPlacement::FromTexts(texts);
    EXPECT_FALSE(bad.treeWidth);
    EXPECT_FALSE(bad.treeHeight);
}

TEST(WindowPlacement, AFirstStartUsesAboutTwoThirdsOfTheScreenInTheDesignedProportions)
{
    const struct {
        float width, height;
        float scale;
    } cases[] = {
        {1600, 1000, 1600.0f / 681 * 2 / 3},  // the width comes first
        {2400, 900, 900.0f / 408 * 2 / 3},    // a wide screen: the height does
        {1024, 600, 1.0f},                    // smaller than designed: as designed
        {0, 0, 1.0f},                         // no screen known
    };
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(WindowPlacement::FirstStartScale(c.width, c.height, 681, 408), c.scale) << c.width << "x" << c.height;
    // On 1600 x 1000: 1067 x 639, not 681 x 408.
    EXPECT_EQ(std::lround(681 * WindowPlacement::FirstStartScale(1600, 1000, 681, 408)), 1067);
    EXPECT_EQ(std::lround(408 * WindowPlacement::FirstStartScale(1600, 1000, 681, 408)), 639);
}

// A restored window on the screen it lands on: no larger than the free area, moved inside it
// the least way; one that fits stays where it was.
TEST(WindowPlacement, ARestoredWindowIsFittedToTheScreen)
{
    using Box = WindowPlacement::Box;
    const Box screen{0, 28, 1600, 972};  // a panel along the top
    const struct {
        Box kept, fitted;
    } cases[] = {
        {{532, 372, 2134, 1256}, {0, 28, 1600, 972}},    // kept at 2x, started at 1x
        {{100, 100, 900, 600}, {100, 100, 900, 600}},    // fits: as it was
        {{1400, 900, 900, 600}, {700, 400, 900, 600}},   // past the bottom right
        {{-50, 0, 900, 600}, {0, 28, 900, 600}},         // under the panel, past the left
        {{200, 50, 900, 2000}, {200, 28, 900, 972}},     // too tall only
    };
    for (const auto& c : cases) {
        const Box got = WindowPlacement::Fitted(c.kept, screen);
        EXPECT_TRUE(got == c.fitted) << c.kept.left << "," << c.kept.top << " " << c.kept.width << "x" << c.kept.height
                                     << " -> " << got.left << "," << got.top << " " << got.width << "x" << got.height;
    }
    // A second screen to the right of the first.
    EXPECT_TRUE(WindowPlacement::Fitted({3000, 100, 900, 600}, {1600, 0, 1280, 1024}) == (Box{1980, 100, 900, 600}));
    // No screen known: the window as kept.
    EXPECT_TRUE(WindowPlacement::Fitted({5, 6, 7, 8}, {}) == (Box{5, 6, 7, 8}));
}
