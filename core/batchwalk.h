#pragma once
#include "takennames.h"
#include "vardolist.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vardune {

// One batch over the Vardo list: which entries it takes up, in which order, under which output
// names, and how an encoder's outcome is written into an entry. The window side runs the
// encoder and shows the counters; everything it decides is here.
class BatchWalk {
public:
    explicit BatchWalk(TakenNames::Fold fold = TakenNames::AsciiFold);

    // Counts the entries that wait now (and whose encoder is not still running from an
    // earlier batch) and starts the walk over them; over the chosen ones only, when a choice
    // is given (the files that fit into the output folder).
    void Start(const VardoList& list, const std::optional<std::vector<std::uint64_t>>& chosen = std::nullopt);
    int Total() const { return static_cast<int>(ids_.size()); }
    // The entries of the walk, in list order.
    const std::vector<std::uint64_t>& Ids() const { return ids_; }
    int Current() const { return current_; }

    // The next entry to take up, or nothing when the walk is over. An entry that is gone or
    // no longer waits is passed over; it is not counted.
    std::optional<std::uint64_t> Next(const VardoList& list);

    // How output names are formed in the output folder.
    struct NameRules {
        bool portable = false;       // the folder takes only portable names (PortableName)
        bool ascii = false;          // it refused a name for its characters: ASCII names only
        std::size_t maxBytes = 255;  // its longest name in bytes (NameMax)
    };

    // The output path for an entry's name in the folder. Two entries of one batch with the same
    // name (Track01.mp3 from two albums) get different outputs: the later one is numbered, and
    // so is one whose name an encoder still running (of any batch) writes. With a source, a
    // file standing at a path that was not made from that source (SourceMark: an earlier
    // batch's output of another file, or a file of the user's) is numbered past too; one made
    // from it is replaced. A name too long for the folder is cut at a character, its number
    // and extension kept.
    std::string OutputPath(const std::string& folder, const std::string& name, const TakenNames& running,
                           const NameRules& rules, const std::string& source = std::string());
    std::string OutputPath(const std::string& folder, const std::string& name, const TakenNames& running,
                           bool portable = false)
    {
        NameRules rules;
        rules.portable = portable;
        return OutputPath(folder, name, running, rules);
    }
    // Whether the file at output was made from source, unchanged since, with this profile
    // (SourceMark::UpToDate), and whole (StatedLength::Whole): the encoder would leave it as it
    // is, so it need not be started. Only the output's first bytes are read. An empty profile
    // is never up to date.
    static bool UpToDate(const std::string& output, const std::string& source, const std::string& profile);
    // The output path for a place planned below the output folder (folder, ending with its
    // separator): folder + relative(1), else folder + relative(2), relative(3)... (relative
    // gives the path below the output folder with a number, as OutputLayout::Plan::Relative
    // does), past the paths this batch gave, those an encoder still running writes, and, with
    // a source, files standing there that were not made from it, as OutputPath numbers names.
    // Only the same path collides: "CD1/01 Intro.mp3" and "CD2/01 Intro.mp3" stay unnumbered.
    std::string PlacePath(const std::string& folder, const std::function<std::string(int)>& relative,
                          const TakenNames& running, const std::string& source = std::string());
    // Whether a file stands at a path that was not made from a source, as numbering past
    // files asks it (by lstat and SourceMark::MadeFrom unless told otherwise: a plan reads
    // each output once, PlanReader::SomeoneElses).
    using SomeoneElses = std::function<bool(const std::string& output, const std::string& source)>;
    void SetSomeoneElses(SomeoneElses someoneElses) { someoneElses_ = std::move(someoneElses); }

    // The longest name the folder takes, in bytes: what its file system says, at most 255
    // (the encoder's limit; FAT's 255 characters are held by the portable rules).
    static std::size_t NameMax(const std::string& folder);

    // How many encoders run at once: the setting when it is a positive whole number (at most
    // kMaxJobs), else one per core the process may use.
    static constexpr int kMaxJobs = 64;
    static int JobLimit(const std::string& setting, int cores);

    // A counter as three digits: 7 -> "007", 1000 -> "000".
    static std::string CounterText(int n);
    // The output folder with the separator at its end, unless it is empty.
    static std::string NormaliseOutputFolder(const std::string& folder);
    // "V_" + name, then ".MP3" unless the name is longer than four characters and already
    // ends with ".mp3" in any letter case.
    static std::string OutputName(const std::string& name);
    // The output size as a whole percentage of the source size (" 45%"), or nothing when the
    // source size is 0 or the percentage rounds down to 0.
    static std::optional<std::string> RateText(const std::string& sourceSize, const std::string& targetSize);

    // The encoder's exit status when the output folder has no room left: the batch starts no
    // further file.
    static constexpr int kFolderFullStatus = 3;
    // A file that was not made from the source stands at the target: the entry is given the
    // next number.
    static constexpr int kTargetTakenStatus = 4;
    // The folder's file system refused the name for its characters: the entry, and every
    // later one of the batch, gets an ASCII name.
    static constexpr int kNameRefusedStatus = 5;
    // The output folder can no longer be written (removed, read-only, no more names): the
    // batch starts no further file, as when it is full.
    static constexpr int kFolderUnwritableStatus = 6;

    // What becomes of an entry after its encoder call.
    struct Outcome {
        EntryState state = EntryState::Failed;
        bool writeTarget = false;  // output path and size are written
        std::string targetSize;
        std::optional<std::string> rate;
        std::string note;  // why it failed, or the encoder's warning about a file it converted
        // Done without encoding: the output already there was made from the same source,
        // unchanged since, with the same settings.
        bool upToDate = false;
    };
    // The encoder's words for a target it left as it was, being up to date.
    static constexpr const char* kUpToDateNote = "up to date: not converted again";
    // started: 0 when the encoder ran, -1 when it could not be started. exitStatus and
    // errorLine are the encoder's (the program's name before its words is not repeated). A
    // non-zero exit fails the entry whatever file stands at the target: such a file is not this
    // run's output.
    static Outcome Judge(int started, int exitStatus, const std::string& errorLine,
                         const std::string& targetSizeText, const std::string& sourceSizeText);

private:
    std::vector<std::uint64_t> ids_;
    std::size_t at_ = 0;
    int current_ = 0;
    TakenNames outputs_;
    SomeoneElses someoneElses_;
};

} // namespace vardune
