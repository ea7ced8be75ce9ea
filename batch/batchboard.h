#pragma once
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class QObject;

// What a batch shows while it runs, and whether it may go on: the status board, or the
// command line's progress.
class BatchBoard {
public:
    virtual ~BatchBoard() = default;

    virtual QObject* BoardObject() = 0;
    // True while the batch may take up further entries.
    virtual bool Going() const = 0;
    // Only these waiting entries are converted (those that fit in the output folder); all of
    // them when empty.
    virtual std::optional<std::vector<std::uint64_t>> FilesChosen() const = 0;
    // The bitrate (bit/s) the user chose for this batch instead of the quality's (every file
    // at the highest bitrate that fits), or 0.
    virtual int ChosenBitrate() const { return 0; }
    // The batch starts with so many files (a counter's text, "012"); from now on it is going.
    virtual void BatchStarted(const QString& total) = 0;
    // A word on what the batch does before its first file ("Reading tags...").
    virtual void ShowStatus(const QString& text) = 0;
    // The file taken up now: its number in the batch (a counter's text) and its source.
    virtual void ShowSource(const QString& current, const QString& source) = 0;
    virtual void ShowTarget(const QString& target) = 0;
    // How far the whole batch is and the time left.
    virtual void ShowBatchLine(const QString& line) = 0;
    // The batch is over: the board goes.
    virtual void EndBoard() = 0;
};
