#pragma once
#include "sizeforecast.h"
#include "sourcemark.h"

#include <optional>
#include <string>
#include <unordered_map>

namespace vardune {

// What naming and judging outputs read of the disk, each thing once: the real path of each
// source folder (a re-run over ten thousand files in a hundred folders resolves a hundred, not
// ten thousand), and what stands at the output path and the source looked at last (numbering
// past a file and judging it up to date read it once). A plan can keep all it read for a batch
// that follows it at once, each thing for that batch's one look. Lives for one plan or one
// batch, so nothing it holds outlasts the moment it was read for.
class PlanReader {
public:
    // What stands at an output path.
    struct Output {
        bool there = false;    // anything stands there (lstat)
        bool regular = false;  // a regular file
        double bytes = 0;
        std::optional<std::string> mark;  // its mark, as SourceMark::ReadFile gives it
        bool whole = false;  // a marked file as long as it says (StatedLength::Whole)
    };
    const Output& At(const std::string& output);
    // The source as it stands now, as SourceMark::Of gives it.
    std::optional<SourceMark::Source> Source(const std::string& path);
    // The output and the source looked at last are read afresh next time (the batch may have
    // written the one, and the user the other, meanwhile); what a plan kept is not.
    void Forget();
    // Keeps everything read from now on, for a batch that follows at once (Hand).
    void KeepAll() { keepAll_ = true; }
    // What was kept, for that batch's reader: each thing serves one look there.
    PlanReader Hand();

    // As BatchWalk numbers past files, SourceMark::MadeFrom, BatchWalk::UpToDate and
    // OutputPlan::Make judge them, by what is read here.
    bool SomeoneElses(const std::string& output, const std::string& source);
    bool MadeFrom(const std::string& output, const std::string& source);
    bool UpToDate(const std::string& output, const std::string& source, const std::string& profile);
    SizeForecast::Standing Look(const std::string& output, const std::string& source);
    // Whether the output's mark names source moved there (SourceMark::Moved): it is the
    // source's own, and its mark is to be named after the source's new path.
    bool Moved(const std::string& output, const std::string& source);

private:
    std::optional<SourceMark::Source> Resolve(const std::string& path);
    // The output's mark as it holds for the source now (SourceMark::For); nothing without a
    // mark or a source.
    std::optional<std::string> MarkFor(const std::string& output, const std::string& source);

    // Each source's fingerprint, read once (only for a mark that may name it moved).
    std::unordered_map<std::string, std::string> contents_;

    std::unordered_map<std::string, std::string> folders_;  // a source folder -> its real path
    std::optional<std::string> outputPath_;
    Output output_;
    std::optional<std::string> sourcePath_;
    std::optional<SourceMark::Source> source_;
    bool keepAll_ = false;
    std::unordered_map<std::string, Output> keptOutputs_;
    std::unordered_map<std::string, std::optional<SourceMark::Source>> keptSources_;
};

} // namespace vardune
