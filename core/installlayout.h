#pragma once

#include <string>

namespace vardune {

// Where the program's own files are. A build tree or a portable copy keeps the encoder and the
// manual beside the program. An installed copy keeps the program in bin/ and the encoder and
// the manual in folders of their own, found from the program's folder by relative paths so
// that an installation moved elsewhere as a whole still finds them.
class InstallLayout {
public:
    // The installed folders, relative to the program's folder ("../lib/vardune" and
    // "../share/vardune" unless the build says otherwise).
    static const char* EncoderFolderFromProgram();
    static const char* ManualFolderFromProgram();
    // "VarduneManual.chm".
    static const char* ManualName();

    explicit InstallLayout(std::string programFolder);

    // A copy in the installed layout: its encoder folder exists. Such a copy keeps its
    // settings in the user's configuration folder, never beside the program, even when the
    // program's folder is writable (as it is for root).
    bool Installed() const;
    // The folder that holds the encoder, and the one that holds the manual: the program's
    // own folder when the file is there (a build tree, a portable copy); otherwise the
    // installed folder of an installed copy, or the program's folder of any other copy (that
    // folder is then named when the file is missing).
    std::string EncoderFolder() const;
    std::string ManualFolder() const;

private:
    std::string Find(const std::string& name, const char* installedFolder) const;

    std::string programFolder_;
};

} // namespace vardune
