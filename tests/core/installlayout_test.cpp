#include "installlayout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace vardune;
namespace fs = std::filesystem;

namespace {

class InstallLayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("vardune-layout-" + std::to_string(std::random_device()()));
        bin = root / "bin";
        encoderDir = (bin / InstallLayout::EncoderFolderFromProgram()).lexically_normal();
        manualDir = (bin / InstallLayout::ManualFolderFromProgram()).lexically_normal();
        fs::create_directories(bin);
    }
    void TearDown() override { fs::remove_all(root); }

    static void Touch(const fs::path& file)
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
    }
    static std::string Clean(fs::path folder)
    {
        return (folder.has_filename() ? folder : folder.parent_path()).string();
    }

    fs::path root, bin, encoderDir, manualDir;
    const std::string encoder = "fastencc";
    const std::string manual = InstallLayout::ManualName();
};

} // namespace

TEST_F(InstallLayoutTest, InstalledFoldersLieOutsideBinUnderTheSamePrefix)
{
    EXPECT_EQ(Clean(encoderDir), (root / "lib" / "vardune").string());
    EXPECT_EQ(Clean(manualDir), (root / "share" / "vardune").string());
}

TEST_F(InstallLayoutTest, FilesBesideTheProgramComeFirstThenTheInstalledFolders)
{
    const struct {
        const char* what;
        bool encoderBeside, manualBeside, encoderInstalled, manualInstalled;
        bool installed;
        bool encoderFromInstall, manualFromInstall;
    } cases[] = {
        {"build tree", true, true, false, false, false, false, false},
        {"portable copy without its files", false, false, false, false, false, false, false},
        {"installed copy", false, false, true, true, true, true, true},
        {"installed copy with a link to the encoder in bin", true, false, true, true, true, false, true},
        {"installed copy with a manual put beside it", false, true, true, true, true, true, false},
        // The installed folder is still where a missing manual is looked for and named.
        {"installed copy without its manual", false, false, true, false, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root);
        fs::create_directories(bin);
        if (c.encoderBeside)
            Touch(bin / encoder);
        if (c.manualBeside)
            Touch(bin / manual);
        if (c.encoderInstalled)
            Touch(encoderDir / encoder);
        if (c.manualInstalled)
            Touch(manualDir / manual);

        const InstallLayout layout(bin.string());
        EXPECT_EQ(layout.Installed(), c.installed);
        EXPECT_EQ(layout.EncoderFolder(), c.encoderFromInstall ? Clean(encoderDir) : bin.string());
        EXPECT_EQ(layout.ManualFolder(), c.manualFromInstall ? Clean(manualDir) : bin.string());
    }
}

TEST_F(InstallLayoutTest, AnEmptyEncoderFolderStillMarksAnInstalledCopy)
{
    // Settings must not land beside an installed program whose encoder went missing.
    fs::create_directories(encoderDir);
    EXPECT_TRUE(InstallLayout(bin.string()).Installed());
    // A file of that name is not the installed layout.
    fs::remove_all(root / "lib");
    Touch(root / "lib" / "vardune");
    EXPECT_FALSE(InstallLayout(bin.string()).Installed());
}
