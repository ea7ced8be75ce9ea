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
    // The audio files (IsAudioName), as a dropped folder gives them.
    static std::vector<std::string> Files(const std::string& folder);
    // True for a name whose ending (any letter case) is one of the audio types the encoder
    // reads: MPEG audio (.mp3 .mp2 .mp1 .mpa), WAV (.wav .wave .w64 .rf64), AIFF (.aif .aiff
    // .aifc), FLAC, Ogg (.ogg .oga .opus), .au and .caf. Decided by the name alone, so a folder
    // of thousands is sorted at once, without opening a file on a slow card or share; the
    // encoder still reads each file by its content, and says why when one is not what its
    // name claims.
    static bool IsAudioName(const std::string& name);
    // The file type box's choice for every one of them: "*.MP3;*.WAV;*.FLAC;*.OGG;...".
    static std::string AudioPattern();
    // That choice as the type box names it: "All audio (*.MP3;*.WAV;...)".
    static std::string AudioChoice();
};

} // namespace vardune
