#include "outputfolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace vardune;
namespace fs = std::filesystem;

class OutputFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vardune-out-" + std::to_string(std::random_device()()));
        fs::create_directories(dir);
        std::ofstream(dir / "a file") << "x";
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(OutputFolderTest, WhatStandsThereDecidesWhatTheBatchMayDo)
{
    using State = OutputFolder::State;
    const struct {
        std::string folder;
        State state;
    } cases[] = {
        {dir.string(), State::Ready},
        {dir.string() + "/", State::Ready},
        {(dir / "Müsik 日本" / "deeper").string(), State::Missing},
        {(dir / "a file").string(), State::NotFolder},
        {(dir / "a file" / "below" / "deeper").string(), State::Uncreatable},  // not offered for creating
        {"/proc", State::Unwritable},  // no file can be made there, not even by the superuser
    };
    for (const auto& c : cases) {
        const auto check = OutputFolder::Inspect(c.folder);
        EXPECT_EQ(check.state, c.state) << c.folder;
        const bool why = c.state == State::Unwritable || c.state == State::Uncreatable;
        EXPECT_EQ(check.reason.empty(), !why) << c.folder << ": " << check.reason;
    }
    EXPECT_EQ(OutputFolder::Inspect((dir / "a file" / "below").string()).reason, "Not a directory");
    // The probe leaves nothing behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(OutputFolderTest, CreatingMakesTheParentsOrSaysWhyNot)
{
    const fs::path deep = dir / "Müsik 日本" / "a" / "b";
    EXPECT_EQ(OutputFolder::Create(deep.u8string()), "");
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_EQ(OutputFolder::Inspect(deep.u8string()).state, OutputFolder::State::Ready);
    EXPECT_EQ(OutputFolder::Create(deep.u8string()), "") << "a folder that is there already";
    EXPECT_EQ(OutputFolder::Create((dir / "a file" / "below").string()), "Not a directory");
    EXPECT_EQ(OutputFolder::Create((dir / "a file").string()), "Not a directory");
}

TEST(OutputFolder, MessagesNameTheFolderWithoutItsLastSeparator)
{
    EXPECT_EQ(OutputFolder::DisplayName("/x/y/"), "/x/y");
    EXPECT_EQ(OutputFolder::DisplayName("/x/y"), "/x/y");
    EXPECT_EQ(OutputFolder::DisplayName("/x//"), "/x");
    EXPECT_EQ(OutputFolder::DisplayName("/"), "/");
}
