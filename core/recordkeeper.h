#pragma once
#include "outputtree.h"
#include "sourceplace.h"
#include "writtenrecord.h"

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vardune {

// A batch's side of the record of what was written in its output folder (WrittenRecord): it
// records each file the batch wrote, or found up to date where it planned it, and removes a
// source's earlier output once its output has a new path and is whole (a retitled track with
// names from tags, another layout). What it records waits a moment in memory and is written
// in one go (a re-run of thousands of files writes a few lines, not thousands of times), and
// always before anything is removed.
class RecordKeeper {
public:
    // The output folder as the batch writes into it (with or without its separator).
    explicit RecordKeeper(const std::string& outputFolder);
    ~RecordKeeper();
    RecordKeeper(const RecordKeeper&) = delete;
    RecordKeeper& operator=(const RecordKeeper&) = delete;

    // A file Vardune put at path (absolute, below the output folder) from source (an output's
    // source by its real path, or the picture or playlist it was copied from). A file not
    // below the output folder, or no longer a plain file there, is not recorded.
    void Wrote(WrittenRecord::Kind kind, const std::string& path, const std::string& source);

    // The files of this kind made from source that the record names at other paths than
    // path, still the very files recorded there and still marked as made from source: removed,
    // with the folders that leaves empty (a folder picture Vardune put there goes with its
    // folder). Returns what was removed, by path below the output folder.
    std::vector<std::string> Supersede(WrittenRecord::Kind kind, const std::string& source, const std::string& path);

    // Writes what waits.
    void Flush();

    // Whether the file open at fd carries the mark of an output made from source, or of a
    // playlist copied from it.
    static bool MarkedFrom(WrittenRecord::Kind kind, int fd, const std::string& source);
    // The folder pictures below the output folder that the record proves Vardune's: what may
    // go with a folder that holds nothing else.
    static OutputTree::Spare PicturesOf(OutputTree& tree, const WrittenRecord::Contents& record);

private:
    std::string Relative(const std::string& path) const;

    std::string folder_;  // with its separator
    OutputTree tree_;
    WrittenRecord::Contents known_;
    std::map<std::string, std::set<std::string>> bySource_;  // the paths recorded for each source
    std::vector<WrittenRecord::Event> pending_;
    // Where each source folder's file system is mounted, looked at once per folder.
    std::map<std::string, std::optional<SourcePlace::Place>> places_;
    std::chrono::steady_clock::time_point flushed_;
    std::uint64_t order_ = 0;  // the latest entry's
};

} // namespace vardune
