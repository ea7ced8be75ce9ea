#pragma once
#include <functional>
#include <string>
#include <vector>

namespace vardune {

// The files of a folder and its subfolders that go into the Vardo list together: a folder
// dropped onto the list, or one added from the folder tree.
struct MediaFolder {
    // Every regular file in folder and in the folders below it whose name is wanted, as full
    // paths, in path order: the entries of each folder, files and folders alike, are taken as
    // their names sort (letter case ignored), and a folder's contents come where its name
    // comes. Folders that cannot be read are passed over, and a folder reached again through a
    // link is not walked twice.
    static std::vector<std::string> Files(const std::string& folder,
                                          const std::function<bool(const std::string& name)>& wanted);
    // The MP3 and WAV files, as a dropped folder gives them.
    static std::vector<std::string> Files(const std::string& folder);
    // True for a name ending in ".mp3" or ".wav", in any letter case.
    static bool IsMediaName(const std::string& name);
};

} // namespace vardune
