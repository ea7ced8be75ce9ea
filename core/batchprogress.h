#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vardune {

// How far a batch is: each file's percent, as its encoder reports it, weighted by the file's
// source size; the time left, estimated from the time taken so far; and, at the end, what
// the batch did. Several files convert at once, in any order.
class BatchProgress {
public:
    // The files of the batch, each with its source size in bytes.
    void Start(const std::vector<std::pair<std::uint64_t, double>>& files);

    // A file's encoder says how far it is (0 to 100), at elapsedSeconds into the batch when
    // known. A file's percent never goes back.
    void Update(std::uint64_t id, int percent, std::optional<double> elapsedSeconds = std::nullopt);
    // A file's encoder has ended: its share of the batch is complete, whatever the outcome.
    // A done file counts the bytes its output saved against its source; one that was up to
    // date (done without encoding: its output was already there) is counted apart and saves
    // nothing in this batch.
    void Finish(std::uint64_t id, bool done, double targetBytes, bool upToDate = false);

    // The batch's share done, 0 to 1; it only ever rises.
    double Fraction() const;
    int Percent() const;
    // Seconds left, judged from the pace of the work since it was first seen to move, so a
    // batch of one short file gets its estimate from that file's own percents; without such
    // times, from all the seconds taken so far. Nothing until there is enough to judge by.
    std::optional<double> SecondsLeft(double elapsedSeconds) const;
    // The line the status board shows: "Batch 42% done, about 1 min 20 s left".
    std::string Line(double elapsedSeconds) const;

    // "12 done, 1 failed, 38.2 MB saved"; "2 done, 0 failed, 1.2 MB larger" when the outputs
    // came to more than their sources; "3 done, 397 up to date, 0 failed, 4.1 MB saved" when
    // some were up to date.
    std::string Summary() const;
    int Done() const { return done_; }
    int UpToDate() const { return upToDate_; }
    int Failed() const { return failed_; }
    double SavedBytes() const { return saved_; } // below 0 when the outputs are larger

    // "about 45 s left", "about 3 min 10 s left", "about 2 h 5 min left".
    static std::string TimeLeftText(double seconds);
    // Decimal units, one decimal place: "950 B", "12.3 kB", "38.2 MB", "1.5 GB".
    static std::string SizeText(double bytes);

private:
    struct File {
        double weight = 0;
        double sourceBytes = 0;
        int percent = 0;
        bool finished = false;
    };
    std::unordered_map<std::uint64_t, File> files_;
    double totalWeight_ = 0;
    double doneWeight_ = 0;  // sum of weight x percent / 100
    // When the work was first seen to move, and how far the batch was then: the seconds
    // before it are the encoders' start, not their pace.
    std::optional<double> movedAt_;
    double movedFraction_ = 0;
    int done_ = 0;
    int upToDate_ = 0;
    int failed_ = 0;
    double saved_ = 0;
};

} // namespace vardune
