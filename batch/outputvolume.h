#pragma once
#include "batchwalk.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The file system an output folder lies on, as the batch, the forecast and the options ask
// about it: where it is, how much room it has, which names it takes, and when two output
// paths name one file. A folder not made yet is judged by the nearest folder above it that
// exists, on whose file system it will be made.
class OutputVolume {
public:
    // The output folder as the encoder meets it: an empty folder box means the program's
    // current folder, where the encoder resolves a bare name.
    static QString FolderPath(const QString& folderText);
    // The folder itself, or while it is not made yet the nearest folder above it that exists;
    // empty when a file (or anything but a folder) stands in the way.
    static QString NearestFolder(const QString& folderText);
    // The bytes the user may still write on the folder's file system; nothing when the folder
    // cannot be found.
    static std::optional<double> FreeBytes(const QString& folder);
    // True when the folder lies on a FAT or exFAT file system, or on any that refuses the
    // characters FAT refuses in a name: outputs there get portable names.
    static bool TakesOnlyPortableNames(const QString& folder);
    // True when the folder's file system refuses names with letters beyond ASCII (a FAT card
    // through fusefat, vfat mounted with iocharset=ascii): asked of the folder itself by
    // making and removing one such name.
    static bool TakesOnlyAsciiNames(const QString& folder);
    // The names outputs get in the folder, learned before anything is planned, so that the
    // forecast, the dry run, the plan and the batch name every output alike.
    static vardune::BatchWalk::NameRules NameRules(const QString& folder);
    // The device the folder lies on; nothing when it is not there (or not a folder).
    static std::optional<std::uint64_t> Device(const QString& folder);
    // An output path folded so that two paths of one file are equal, however the folder is
    // written ("out/", "out//", "./out", a link to it), and so that paths a case-insensitive
    // file system takes for one file are equal too.
    static std::string FoldPath(const std::string& path);
    // The same, with the folder's real path as realFolder gives it (RealFolder, or what it
    // gave a moment ago).
    static std::string FoldPath(const std::string& path, const std::function<QString(const QString&)>& realFolder);
    // A folder's real path, links resolved; as written, made absolute and tidied, when it is
    // gone.
    static QString RealFolder(const QString& folder);
};
