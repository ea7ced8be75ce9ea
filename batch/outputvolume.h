#pragma once
#include <QString>

#include <optional>
#include <string>

// The file system an output folder lies on, as the batch, the forecast and the options ask
// about it: where it is, how much room it has, which names it takes, and when two output
// paths name one file.
class OutputVolume {
public:
    // The output folder as the encoder meets it: an empty folder box means the program's
    // current folder, where the encoder resolves a bare name.
    static QString FolderPath(const QString& folderText);
    // The bytes the user may still write on the folder's file system; nothing when the folder
    // cannot be found.
    static std::optional<double> FreeBytes(const QString& folder);
    // True when the folder lies on a FAT or exFAT file system, or on any that refuses the
    // characters FAT refuses in a name: outputs there get portable names.
    static bool TakesOnlyPortableNames(const QString& folder);
    // An output path folded so that two paths of one file are equal, however the folder is
    // written ("out/", "out//", "./out", a link to it), and so that paths a case-insensitive
    // file system takes for one file are equal too.
    static std::string FoldPath(const std::string& path);
};
