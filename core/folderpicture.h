#pragma once
#include <optional>
#include <string>
#include <vector>

namespace vardune {

// A folder's cover picture, which goes along into the matching output folder in the layouts
// that keep folders, so that players that show folder art find it there.
//
// The cover is the best-ranked of the folder's JPEG and PNG files (".jpg", ".jpeg", ".png";
// letter case does not matter anywhere) by its name without the extension:
//   "folder"                    first: the name most players look for
//   "cover"
//   "front"
//   "AlbumArt_{…}_Large"        what a media player stores for an album, its large picture
//   other "AlbumArt…" names     ("AlbumArt.jpg", "AlbumArt_{…}.jpg")
//   "AlbumArt…Small"            last: a thumbnail
// Between two pictures of one rank a JPEG comes before a PNG (every player shows JPEG), and
// then the name that sorts first, so the choice never depends on the order names were listed
// in. Any other picture ("back.jpg", "scan01.png") is not a cover and stays behind.
class FolderPicture {
public:
    // The rank of a file name as a cover: 0 when it is none, higher for a better one.
    static int Rank(const std::string& name);
    // The cover among a folder's file names (names only, of regular files), or nothing.
    static std::optional<std::string> Pick(const std::vector<std::string>& names);
    // The name the cover takes in the output folder: always "folder", the name players look
    // for first, whatever it was called in the source; ".jpg" when it is written as JPEG (a
    // JPEG source, or a PNG that shrinking turned into a JPEG), else ".png" (a PNG copied as
    // it is).
    static std::string OutputName(const std::string& picked, bool writtenAsJpeg);
};

} // namespace vardune
