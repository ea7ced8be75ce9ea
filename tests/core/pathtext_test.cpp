// Paths are bytes: a name from an old archive (Latin-1 "Caf\xe9.wav") is walked, kept and
// named by its bytes, shown with its odd bytes visible, and gives output names a card takes.
#include "batchwalk.h"
#include "mediafolder.h"
#include "outputlayout.h"
#include "pathtext.h"
#include "portablename.h"
#include "takennames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace vardune;
namespace fs = std::filesystem;

TEST(PathText, OddBytesShowAndNameAsThemselves)
{
    const struct {
        std::string bytes;
        bool utf8;
        std::string shown;
        std::string name;
    } cases[] = {
        {"/music/song.wav", true, "/music/song.wav", "/music/song.wav"},
        {"Caf\xc3\xa9.wav", true, "Caf\xc3\xa9.wav", "Caf\xc3\xa9.wav"},               // Café in UTF-8
        {"Caf\xe9.wav", false, "Caf\\xE9.wav", "Caf_.wav"},                           // Café in Latin-1
        {"\xf0\x9f\x8e\xb5 x", true, "\xf0\x9f\x8e\xb5 x", "\xf0\x9f\x8e\xb5 x"},       // beyond U+FFFF
        {"a\xc0\xaf" "b", false, "a\\xC0\\xAF" "b", "a__b"},                          // an overlong "/"
        {"\xed\xa0\x80", false, "\\xED\\xA0\\x80", "___"},                            // a UTF-16 surrogate
        {"end\xe6\x9d", false, "end\\xE6\\x9D", "end__"},                             // cut inside a character
        {"\x80\xbf", false, "\\x80\\xBF", "__"},                                      // continuations alone
        {"\xf4\x90\x80\x80", false, "\\xF4\\x90\\x80\\x80", "____"},                  // past U+10FFFF
        {"", true, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathText::IsUtf8(c.bytes), c.utf8) << c.shown;
        EXPECT_EQ(PathText::Shown(c.bytes), c.shown);
        EXPECT_EQ(PathText::NameText(c.bytes), c.name) << c.shown;
        EXPECT_TRUE(PathText::IsUtf8(PathText::Shown(c.bytes))) << c.shown;
    }
}

TEST(PathText, OutputNamesFromLatin1SourcesAreNamesACardTakes)
{
    // A Latin-1 file in a Latin-1 folder, added with the folder above it, in every layout on
    // every kind of folder: each part is UTF-8 (ASCII where the folder takes only that), the
    // batch names a one-folder output as the plan does, and two sources that differ only in
    // their odd byte get names of their own.
    const OutputLayout::Source source {"/music/\xc9t\xe9/Caf\xe9.wav", "/music", {}};
    const auto rules = [](bool portable, bool ascii) {
        BatchWalk::NameRules made;
        made.portable = portable;
        made.ascii = ascii;
        return made;
    };
    const struct {
        OutputLayout layout;
        std::string plain;  // the relative path on a folder that takes any UTF-8
    } layouts[] = {
        {OutputLayout(), "V_Caf_.wav.MP3"},
        {OutputLayout(OutputLayout::Kind::KeepFolders), "_t_/Caf_.mp3"},
        {OutputLayout(OutputLayout::Kind::NamesFromTags), "Unknown Artist/Unknown Album/Caf_.mp3"},
        {OutputLayout(OutputLayout::Kind::NamesFromTags, "{folder}/{name}"), "_t_/Caf_.mp3"},
    };
    for (const auto& l : layouts) {
        for (const auto& r : {rules(false, false), rules(true, false), rules(true, true)}) {
            const std::string path = l.layout.PlanFor(source, r).Relative(r);
            EXPECT_TRUE(PathText::IsUtf8(path)) << PathText::Shown(path);
            if (r.ascii) {
                EXPECT_EQ(path.find_first_not_of(" !#$%&'()+,-./0123456789;=@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{}~"),
                          std::string::npos) << path;
            }
            if (!r.portable) {
                EXPECT_EQ(path, l.plain);
            }
        }
    }
    BatchWalk walk;
    const std::string first = walk.OutputPath("/out/", "Caf\xe9.wav", TakenNames(), rules(false, false));
    EXPECT_EQ(first, "/out/" + OutputLayout().PlanFor(source, rules(false, false)).Relative(rules(false, false)));
    EXPECT_EQ(walk.OutputPath("/out/", "Caf\xe8.wav", TakenNames(), rules(false, false)), "/out/V_Caf_.wav (2).MP3");
}

TEST(PathText, AFolderWalkGivesTheNamesBytes)
{
    const fs::path root = fs::temp_directory_path() / ("vardune-bytes-" + std::to_string(std::random_device()()));
    const std::string folder = root.string() + "/\xc9t\xe9";
    fs::create_directories(folder);
    for (const std::string name : {"Caf\xe9.wav", "plain.wav", "notes\xe9.txt"})
        std::ofstream(folder + "/" + name) << "RIFF";
    const std::vector<std::string> files = MediaFolder::Files(root.string());
    EXPECT_EQ(files, (std::vector<std::string> {folder + "/Caf\xe9.wav", folder + "/plain.wav"}));
    for (const std::string& file : files)
        EXPECT_TRUE(fs::is_regular_file(file)) << PathText::Shown(file);
    fs::remove_all(root);
}
