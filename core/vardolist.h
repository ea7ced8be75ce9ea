#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace vardune {

// State of an entry, as the index of its icon in the list's picture list.
enum class EntryState : int { Failed = 3, Done = 4, Waiting = 5 };

struct VardoEntry {
    std::uint64_t id = 0;  // stable: finds the entry whatever was removed before it
    EntryState state = EntryState::Waiting;
    std::string sourcePath;  // folder, ending with the separator
    std::string sourceName;
    std::string sourceSize;  // " 1048576"
    std::string targetPath;
    std::string targetSize;
    std::string rate;        // " 42%"
    std::string note;        // why a failed entry failed, in the encoder's words
    bool converting = false; // its encoder runs now: no other batch takes it up
    int percent = 0;         // how far its running encoder is
    // The folder it was added from, ending with the separator; empty: added on its own.
    std::string root = std::string();
};

// The Vardo list: the files waiting to be made smaller and, after the batch, its results.
// Entries keep the order they were added in; ids grow with that order.
class VardoList {
public:
    // The size of the file at path as text with one leading blank (" 1048576"), or a single
    // blank when path is not a readable regular file.
    static std::string GetFileSize(const std::string& path);
    // The text after the path's last separator; the whole path when it has none.
    static std::string GetFileName(const std::string& path);

    std::size_t Count() const { return entries_.size(); }
    const VardoEntry& At(std::size_t position) const { return entries_[position]; }
    const std::vector<VardoEntry>& Entries() const { return entries_; }

    // True when a waiting entry has exactly this full path, letter case included.
    bool IsDuplicatedEntry(const std::string& path) const;
    // Appends a waiting entry for path, whose size text is given, added from the folder root
    // (empty: on its own); returns its id.
    std::uint64_t Append(const std::string& path, const std::string& sizeText, const std::string& root = std::string());

    // Position of the entry with this id, or -1 when it has been removed.
    long Find(std::uint64_t id) const;
    // Changes an entry's state, keeping the duplicate test in step.
    void SetState(std::uint64_t id, EntryState state);
    // Writes an entry's results.
    void SetResult(std::uint64_t id, const std::string& targetPath, const std::string& targetSize,
                   const std::string& rate, EntryState state);

    // Marks an entry whose encoder runs, or no longer runs; either way it starts at 0 %.
    void SetConverting(std::uint64_t id, bool converting);
    // How far the entry's running encoder is; false when the entry is gone.
    bool SetPercent(std::uint64_t id, int percent);
    // Sets why an entry failed (empty when it did not).
    void SetNote(std::uint64_t id, const std::string& note);
    // Sets a failed entry waiting again, as an entry just added waits: its output path, size,
    // rate and note are cleared. False, and nothing changes, when the entry is gone, has not
    // failed, or its file already waits in another entry.
    bool Retry(std::uint64_t id);

    // Removes the entries whose flag is set; selected has one flag per entry.
    void RemoveSelected(const std::vector<bool>& selected);
    void Clear();

private:
    static std::string FullPath(const VardoEntry& e) { return e.sourcePath + e.sourceName; }
    void CountWaiting(const VardoEntry& e, int delta);

    std::vector<VardoEntry> entries_;
    // Full paths of the waiting entries, with how many entries wait for each.
    std::unordered_map<std::string, int> waiting_;
    std::uint64_t nextId_ = 1;
};

} // namespace vardune
