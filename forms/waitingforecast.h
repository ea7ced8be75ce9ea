#pragma once
#include "loudnesslevel.h"
#include "outputlayout.h"
#include "sizeforecast.h"
#include "vardolist.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <optional>
#include <string>
#include <unordered_map>

class EncoderPool;
class ForecastReader;
class LoudnessPass;
class QLabel;
class QLineEdit;
class QTimer;
class VardoListModel;

// What is known of the Vardo list's waiting files before a batch takes them up, and what the
// main window shows of it: what the encoder reads of each source (its playing time, its tags,
// the size its output will take), where each output will go (greyed in the list), the size
// forecast at the right end of the status bar, and, with even loudness, each source's loudness,
// measured while the list is put together so that a batch started later has no measuring left.
// It follows the list, the output folder box and the encoder's answers, on timers of its own:
// the window never waits for it.
class WaitingForecast : public QObject {
    Q_OBJECT
public:
    // batchShown: whether the status board runs a batch now (nothing is measured ahead then).
    WaitingForecast(VardoListModel* list, QLineEdit* outputFolder, QLabel* panel, EncoderPool* pool,
                    std::function<bool()> batchShown, QObject* parent);

    // The waiting files' outputs at the chosen quality, with what is known of them now.
    vardune::SizeForecast Forecast() const;
    // The tags the encoder read of an entry's source for the forecast, or nullptr while they
    // are not read (or it cannot be read).
    const vardune::OutputLayout::Tags* SourceTags(std::uint64_t entry) const;
    // Whether the encoder has yet to say what it read of an entry's source (its tags among it).
    bool SourceTagsPending(std::uint64_t entry) const;
    // The playing time of an entry's source as the encoder measured it, 0 while unknown.
    double SourceSeconds(std::uint64_t entry) const;
    // Even loudness: what was measured of an entry's source ahead of the batch, its file
    // unchanged since; nullptr while it is not measured (or the file has changed).
    const std::optional<vardune::LoudnessLevel::Measure>* MeasuredAhead(std::uint64_t entry) const;
    // Even loudness: whether waiting files are being measured ahead of the batch.
    bool MeasuringAhead() const { return aheadPass_ != nullptr; }
    // A batch starts: measuring ahead stops, keeping what it has measured (the batch measures
    // what is left with every core).
    void StopMeasuringAhead();

    // Shows the forecast beside the list: now, or soon when called again and again.
    void ShowForecast();
    void ScheduleForecast();
    // Before a batch names outputs by tags: every waiting source edited since the encoder read
    // it (tags written again in place, the size unchanged) is read again, then ShowForecast.
    void ReadEditedSources();

    // Where a waiting entry's output will go, by the layout and output folder chosen now,
    // named as a batch started now names it (OutputPlan): numbered past names that collide
    // within the list and files standing there of another source; empty while it cannot be
    // said.
    std::string PlannedOutput(const vardune::VardoEntry& entry) const;
    // Plans every waiting entry's output again, soon: the layout, the output folder, the
    // list or a source's tags have changed.
    void SchedulePlans();
    // Plans them now, asking the folder's name rules again: before a batch asks whether its
    // files fit, what stands at each output counts as it is now.
    void PlanNow();

private:
    // Plans the waiting entries' outputs in list order, as the batch will take them up: once
    // after a change, never each time a row is drawn (ten thousand entries take some 30 ms).
    void PlanOutputs();
    // Even loudness: the waiting files are measured while the list is put together, in one
    // process beside the window. Not while a batch runs (the batch measures what is left with
    // every core).
    void MeasureAhead();

    VardoListModel* list_;
    QLineEdit* outputFolder_;
    QLabel* panel_;
    EncoderPool* pool_;
    std::function<bool()> batchShown_;
    ForecastReader* reader_;
    QTimer* forecastTimer_;
    QTimer* freeSpaceTimer_;
    QTimer* planTimer_;
    // Each entry's source as the forecast reader numbers it, and when the file was changed
    // as it was asked for, by entry id.
    struct Source {
        int number = -1;
        std::int64_t changed = -1;
    };
    std::unordered_map<std::uint64_t, Source> sources_;
    struct Planned {
        std::string target;
        vardune::SizeForecast::Standing standing;  // what stands there when it was planned
    };
    std::unordered_map<std::uint64_t, Planned> plannedOutputs_;  // by entry id
    // The names the output folder takes, and the folder they were asked of.
    vardune::BatchWalk::NameRules names_;
    std::optional<QString> rulesFolder_;
    struct Ahead {
        std::int64_t changed = -1;  // the file's change time when it was measured
        std::vector<std::string> options; // the quality it was measured for
        std::optional<vardune::LoudnessLevel::Measure> measure;
    };
    std::unordered_map<std::uint64_t, Ahead> measuredAhead_;      // by entry id
    std::unordered_map<std::uint64_t, std::int64_t> aheadAsked_;  // by entry id: change time asked at
    std::vector<std::string> aheadOptions_; // the quality the pass running measures for
    LoudnessPass* aheadPass_ = nullptr;
};
