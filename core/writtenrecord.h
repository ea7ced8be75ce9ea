#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vardune {

// The record of what Vardune wrote in an output folder: for each file a batch wrote there
// (an output, a folder picture, a playlist), its path below the folder, its size and time as
// it was left, and what it was made from. It lies in the output folder itself, as the hidden
// file ".vardune-record", so it goes wherever the folder goes (a card moved to another
// computer, mounted elsewhere: paths in it are relative), and it is written only by vardune,
// never by the encoder: a batch records each output when its encoder has ended whole, and
// an output it finds up to date at the very path it plans for its source (so the outputs of
// a plan run elsewhere are recorded by the next batch or plan over them).
//
// A mark proves what an output was made from, not that Vardune put it where it stands (a
// copy carries the mark too); the record proves that: a file is Vardune's when the record
// names its path with its size and time. Only such files are ever removed.
//
// The file is text: a first line "vardune-record 1", then a line per event, each ending with
// a checksum of its own. A line that fails its checksum makes the whole record damaged: then
// nothing in it proves anything and nothing is removed by it, and the next batch sets it aside
// (".vardune-record.damaged") and starts a new one. A last line cut short (a card pulled while
// it was written) proves nothing and is dropped by the next writer. Writers take an advisory
// lock on the file; it is rewritten without what no longer counts once it holds far more lines
// than files.
class WrittenRecord {
public:
    static constexpr const char* kName = ".vardune-record";
    static constexpr const char* kDamagedName = ".vardune-record.damaged";
    // A record larger than this is not read: it is damaged (or not ours).
    static constexpr std::size_t kMaxBytes = 64u * 1024 * 1024;

    enum class Kind { Output, Picture, Playlist };

    struct Entry {
        Kind kind = Kind::Output;
        std::string path;  // below the output folder, "/" between levels
        std::uint64_t size = 0;
        std::int64_t seconds = 0;
        long nanoseconds = 0;
        // What it was made from: the source's real path (an output), the picture or the
        // playlist it was copied from.
        std::string source;
        // Of an output: where its source's file system was mounted and its identity
        // (SourcePlace), so that a source found missing can be told gone from out of reach.
        std::string mount;
        std::string fileSystem;
        std::uint64_t order = 0;  // its line: a later line is newer
    };

    enum class State {
        Kept,     // read whole (or there was none: an empty record)
        Missing,  // no record: nothing was recorded here, or it was removed
        Damaged,  // a line fails its checksum, or it is no record: nothing in it counts
        Newer,    // written by a later version: read as nothing, never written over
    };

    struct Contents {
        State state = State::Missing;
        std::map<std::string, Entry> entries;  // by path: the latest line for each, removals applied
        std::size_t lines = 0;                 // event lines read
    };

    // One event to append: a file written (entry), or a path whose file is gone (removed).
    struct Event {
        Entry entry;
        bool removed = false;
    };

    // Reads the record in the output folder (an open descriptor of it).
    static Contents Read(int folderfd);
    // Appends events under the record's lock, making the record when there is none. A
    // damaged record is set aside first and a new one begun; a cut last line is dropped. A
    // record of a later version is left alone. Rewrites the record without what no longer
    // counts when it has grown far beyond its entries. False when nothing could be written.
    static bool Append(int folderfd, const std::vector<Event>& events);

    // The entry's line (without its checksum and line end), and an entry read back from one.
    static std::string Encode(const Event& event);
    static bool Decode(const std::string& line, Event& event);

    // Whether the file now at an entry's path (its status, the link not followed) is the one
    // recorded: a regular file of the same size and time. A file system that keeps local
    // times (FAT) shows them shifted by whole quarter hours on a computer in another time
    // zone, or after a change of summer time: such a shift, within a day, is the same time.
    static bool Matches(const Entry& entry, const struct stat& st);
};

} // namespace vardune
