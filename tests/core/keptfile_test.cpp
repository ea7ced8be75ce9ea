#include "configcodec.h"
#include "configtable.h"
#include "inifile.h"
#include "keptfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

using namespace vardune;
namespace fs = std::filesystem;

namespace {

class KeptFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vardune-kept-" + std::to_string(std::random_device()()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir;
};

} // namespace

// Only a regular file of a size the program could have written is read. What else stands at
// the name is refused at once, never waited on or read: a FIFO without a writer, a link to
// /dev/zero, a file far larger than the limit (sparse here: nothing of it is on the disk).
TEST_F(KeptFiles, OnlyARegularFileOfASaneSizeIsRead)
{
    Write("kept", "[a]\nb=c\n");
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", Path("zero"));
    fs::create_symlink(Path("kept"), Path("link"));
    fs::create_symlink(Path("nothing"), Path("dangling"));
    fs::create_directory(Path("folder"));
    Write("large", "");
    ASSERT_EQ(truncate(Path("large").c_str(), 300 << 20), 0);
    Write("limit", std::string(1024, 'x'));
    Write("past", std::string(1025, 'x'));

    struct Case {
        const char* name;
        KeptFile::State state;
        const char* why;
    };
    const Case cases[] = {
        {"kept", KeptFile::State::Read, ""},
        {"link", KeptFile::State::Read, ""},
        {"limit", KeptFile::State::Read, ""},
        {"missing", KeptFile::State::Missing, ""},
        {"fifo", KeptFile::State::Refused, "it is a FIFO"},
        {"zero", KeptFile::State::Refused, "it is a device"},
        {"folder", KeptFile::State::Refused, "it is a folder"},
        {"dangling", KeptFile::State::Refused, "it is a link to a file that does not exist"},
        {"large", KeptFile::State::Refused, "it is larger than 1 kB"},
        {"past", KeptFile::State::Refused, "it is larger than 1 kB"},
    };
    for (const Case& c : cases) {
        const KeptFile::Reading reading = KeptFile::Read(Path(c.name), 1024);
        EXPECT_EQ(reading.state, c.state) << c.name;
        EXPECT_EQ(reading.why, c.why) << c.name;
        if (c.state != KeptFile::State::Read) {
            EXPECT_TRUE(reading.text.empty()) << c.name;
        }
    }
    EXPECT_EQ(KeptFile::Read(Path("link"), 1024).text, "[a]\nb=c\n");
    EXPECT_EQ(KeptFile::Read(Path("limit"), 1024).text.size(), 1024u);
}

// Set aside beside itself, the link itself and not what it names, and never over a file that
// already has the name: a second one in the same second gets a number.
TEST_F(KeptFiles, SetAsideNeverReplacesAnything)
{
    ASSERT_EQ(mkfifo(Path("VardoList.txt").c_str(), 0600), 0);
    const std::time_t now = std::time(nullptr);
    const std::string first = KeptFile::SetAside(Path("VardoList.txt"), now);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.rfind(Path("VardoList.txt.damaged-"), 0), 0u) << first;
    EXPECT_TRUE(fs::is_fifo(first));

    fs::create_symlink("/dev/zero", Path("VardoList.txt"));
    const std::string second = KeptFile::SetAside(Path("VardoList.txt"), now);
    EXPECT_EQ(second, first + "-2");
    EXPECT_TRUE(fs::is_symlink(second));
    EXPECT_TRUE(fs::is_fifo(first));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("VardoList.txt"))));
    EXPECT_TRUE(KeptFile::SetAside(Path("VardoList.txt"), now).empty());  // nothing there
}

// A settings file that is none is not read: every key has its default, and why is said. It
// is not saved over either, until it is set aside.
TEST_F(KeptFiles, SettingsThatAreNoFileGiveTheDefaults)
{
    ASSERT_EQ(mkfifo(Path("Vardune.ini").c_str(), 0600), 0);
    std::string refused;
    const Settings settings = ReadConfig(Path("Vardune.ini"), "/home/user/", &refused);
    EXPECT_EQ(refused, "it is a FIFO");
    EXPECT_EQ(settings.targetFolder, "/home/user/");
    EXPECT_EQ(settings.profile, EncodingProfile());
    EXPECT_FALSE(WriteConfig(Path("Vardune.ini"), settings));
    EXPECT_TRUE(fs::is_fifo(Path("Vardune.ini")));

    fs::remove(Path("Vardune.ini"));
    Write("Vardune.ini", "[" + EncodeConfigText("CONFIG") + "]\n" + EncodeConfigText("TARGET_") + "=" + EncodeConfigText("/x/") + "\n");
    ASSERT_EQ(truncate(Path("Vardune.ini").c_str(), IniFile::kMaxBytes + 1), 0);
    EXPECT_EQ(ReadConfig(Path("Vardune.ini"), "/home/user/", &refused).targetFolder, "/home/user/");
    EXPECT_EQ(refused, "it is larger than 1 MB");
    ASSERT_EQ(truncate(Path("Vardune.ini").c_str(), IniFile::kMaxBytes), 0);
    EXPECT_EQ(ReadConfig(Path("Vardune.ini"), "/home/user/", &refused).targetFolder, "/x/");
    EXPECT_EQ(refused, "");
}
