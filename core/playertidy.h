#pragma once
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vardune {

// Tidying the player: outputs under the output folder that Vardune made (they carry its
// source mark) whose source no longer counts are listed, and on the user's word removed.
// A source counts when it still exists and either lies below one of the given folders or is
// one of the given files: the window passes the Vardo list's folders and files. A file
// without the mark is someone else's and is never listed nor removed.
class PlayerTidy {
public:
    // Folders and files as the list names them; links in them are resolved, so they compare
    // with the real paths the marks record.
    PlayerTidy(const std::vector<std::string>& folders, const std::vector<std::string>& files);

    struct Stale {
        std::string output;  // the marked file under the output folder
        std::string source;  // the real path its mark names
    };
    struct Removal {
        std::vector<std::string> removed;
        // Listed files left where they are, each with why: its mark changed or went, its
        // source counts again, or the system refused.
        std::vector<std::pair<std::string, std::string>> kept;
        std::vector<std::string> foldersRemoved;  // emptied by the removal
    };

    // Whether a source named by its real path still counts.
    bool Counts(const std::string& sourcePath) const;

    // The marked *.mp3 files (letter case aside) below outputFolder whose source no longer
    // counts, in path order; a mark that names no source keeps its file. Linked folders are
    // not entered, links and special files are passed over, and of each file no more than
    // the mark's search is read.
    std::vector<Stale> Scan(const std::string& outputFolder) const;

    // Removes exactly the listed files, each only when it still carries a mark whose source
    // does not count (a file put there meanwhile is kept), then the folders below
    // outputFolder that this left empty; outputFolder itself stays.
    Removal Remove(const std::string& outputFolder, const std::vector<Stale>& listed) const;

private:
    // Why the file at path may not be removed now, or empty when it may.
    std::string Keeps(const std::string& path) const;

    std::set<std::string> folders_;
    std::set<std::string> files_;
};

} // namespace vardune
