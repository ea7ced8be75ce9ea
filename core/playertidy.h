#pragma once
#include "writtenrecord.h"

#include <sys/types.h>

#include <ctime>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vardune {

// Tidying the player: of the files in the output folder, those provably Vardune's and
// provably unwanted are offered for removal, and on the user's word removed.
//
// Vardune's: the output folder's record (WrittenRecord) names the file at that very path with
// its size and time, and an output still carries the mark of the source recorded for it. A
// file without the mark, a copy of an output anywhere else in the tree, a renamed output, a
// file changed since: none of these is ever listed or removed. Without a record, or with a
// damaged one, nothing is provably Vardune's and nothing is removed.
//
// Unwanted, and offered by default:
// - an output whose source is gone: its file missing while the file system it lay on is
//   mounted where it was (SourcePlace). A source out of reach (a disk not mounted, the card
//   read on another computer) is not gone, and its output stays;
// - an output replaced: the record names a later output of the same source elsewhere that
//   stands whole (a retitled track, another layout);
// - a temporary file an encoder killed outright left behind (EncoderLeftover), older than
//   any encoder running.
// On the user's explicit word only: outputs whose sources exist but are no longer in the
// Vardo list.
//
// Removing: each file is looked at again through the output folder's descriptor (OutputTree:
// no link is followed at any level) and removed only while it is still what was listed.
// Folders left empty go, and with them a folder picture Vardune put there (the record says
// so); playlists Vardune wrote that named a removed output are written again without it (and
// removed when they name nothing else). The record says what went.
class PlayerTidy {
public:
    // The Vardo list: folders and files as it names them; links in them are resolved, so
    // they compare with the real paths the marks record. A source counts as in the list when
    // it is one of the files or lies below one of the folders.
    PlayerTidy(const std::vector<std::string>& folders, const std::vector<std::string>& files);

    enum class Why { SourceGone, Replaced, Leftover, NotInList };

    struct Item {
        std::string path;    // below the output folder
        std::string source;  // what the record says it was made from (empty for a leftover)
        Why why = Why::SourceGone;
    };

    struct Scan {
        WrittenRecord::State record = WrittenRecord::State::Missing;
        std::vector<Item> unwanted;   // the default choice, in path order
        std::vector<Item> outOfList;  // only on the user's explicit word, in path order
        std::size_t unreachable = 0;  // outputs kept: their sources are out of reach
        bool opened = false;          // the output folder could be read
        dev_t device = 0;             // the output folder looked at
        ino_t inode = 0;
    };

    struct Removal {
        std::vector<std::string> removed;  // files, below the output folder
        // Listed files left where they are, each with why: changed, its source back, a link
        // on its way, or the system refused.
        std::vector<std::pair<std::string, std::string>> kept;
        std::vector<std::string> foldersRemoved;    // emptied by the removal
        std::vector<std::string> picturesRemoved;   // folder pictures that went with them
        std::vector<std::string> playlistsWritten;  // written again without removed tracks
        std::vector<std::string> playlistsRemoved;  // left naming nothing
    };

    // Whether a source named by its real path counts as in the list (present or not).
    bool InList(const std::string& sourcePath) const;

    // Looks at the output folder. leftoverCutoff: a temporary file changed since then may
    // still be written by an encoder (the start of the oldest encoder running, at the latest
    // a minute ago).
    Scan Look(const std::string& outputFolder, std::time_t leftoverCutoff) const;

    // Removes the chosen items of a scan of the same output folder, each only while it is
    // still what it was listed as (a file put there meanwhile, or a source back, keeps it).
    Removal Remove(const std::string& outputFolder, const Scan& scan, const std::vector<Item>& chosen,
                   std::time_t leftoverCutoff) const;

    // What the window and the command line say of why an item is offered.
    static const char* WhyText(Why why);

private:
    std::set<std::string> folders_;
    std::set<std::string> files_;
};

} // namespace vardune
