// A folder's cover picture: which of its files is the cover, and the name it takes beside the
// outputs.
#include "folderpicture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vardune;

TEST(FolderPicture, PicksTheBestRankedCover)
{
    const struct {
        std::vector<std::string> names;
        const char* cover;  // nullptr: none
    } cases[] = {
        {{"01 a.flac", "back.jpg", "scan01.png", "cover.gif", "folder.txt"}, nullptr},
        {{}, nullptr},
        {{"AlbumArtSmall.jpg", "AlbumArt_{A1}_Large.jpg", "front.png", "cover.jpg", "Folder.JPG"}, "Folder.JPG"},
        {{"AlbumArtSmall.jpg", "AlbumArt_{A1}_Large.jpg", "front.png", "COVER.PNG"}, "COVER.PNG"},
        {{"AlbumArtSmall.jpg", "AlbumArt_{A1}_Large.jpg", "Front.jpeg"}, "Front.jpeg"},
        {{"AlbumArt_{A1}_Small.jpg", "AlbumArtSmall.jpg", "AlbumArt_{A1}_Large.jpg", "AlbumArt.jpg"},
         "AlbumArt_{A1}_Large.jpg"},
        {{"AlbumArtSmall.jpg", "AlbumArt_{A1}_Small.jpg", "AlbumArt.png"}, "AlbumArt.png"},
        {{"AlbumArtSmall.jpg"}, "AlbumArtSmall.jpg"},
        // One rank: a JPEG before a PNG, then the name that sorts first, in any listing order.
        {{"cover.png", "cover.jpeg"}, "cover.jpeg"},
        {{"cover.jpeg", "cover.png"}, "cover.jpeg"},
        {{"folder.jpg", "Folder.jpg"}, "Folder.jpg"},
        {{"Folder.jpg", "folder.jpg"}, "Folder.jpg"},
        // Only the whole name counts: neither a hidden file nor a longer name is the cover.
        {{".folder.jpg", "folder.jpg.bak", "my cover.jpg", "covers.jpg", "folder"}, nullptr},
    };
    for (const auto& c : cases) {
        const auto cover = FolderPicture::Pick(c.names);
        if (c.cover) {
            ASSERT_TRUE(cover) << c.cover;
            EXPECT_EQ(*cover, c.cover);
        } else {
            EXPECT_FALSE(cover) << *cover;
        }
    }
}

TEST(FolderPicture, TakesTheNamePlayersLookFor)
{
    EXPECT_EQ(FolderPicture::OutputName("Folder.JPG", true), "folder.jpg");
    EXPECT_EQ(FolderPicture::OutputName("AlbumArt_{A1}_Large.jpg", true), "folder.jpg");
    EXPECT_EQ(FolderPicture::OutputName("front.jpeg", false), "folder.jpg");
    EXPECT_EQ(FolderPicture::OutputName("cover.png", true), "folder.jpg");
    EXPECT_EQ(FolderPicture::OutputName("COVER.PNG", false), "folder.png");
}
