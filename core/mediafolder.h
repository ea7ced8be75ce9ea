#pragma once
#include <string>
#include <vector>

namespace vardune {

// The media files of a folder dropped onto the Vardo list.
struct MediaFolder {
    // Every MP3 and WAV file in folder and in the folders below it, as full paths, in name
    // order: the entries of each folder, files and folders alike, are taken as their names
    // sort (letter case ignored), and a folder's contents come where its name comes. Folders
    // that cannot be read are passed over, and a folder reached again through a link is not
    // walked twice.
    static std::vector<std::string> Files(const std::string& folder);
    // True for a name ending in ".mp3" or ".wav", in any letter case.
    static bool IsMediaName(const std::string& name);
};

} // namespace vardune
