#pragma once
#include "loudnesslevel.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QProcess;

// The measuring pass of even loudness: `fastencc --loudness` decodes each source of a batch
// and measures it, off the window's thread, in as many processes as the batch runs encoders.
// Each process is given one source at a time, the next as soon as it answers, so a long file
// holds up one process only. A source the encoder could not answer for (it is not audio, the
// encoder ended on it) has no measure and is converted as it is.
class LoudnessPass : public QObject {
    Q_OBJECT
public:
    using Measure = vardune::LoudnessLevel::Measure;

    // options: the sound's as the encoder is given them (EncoderCommand::SoundOptions), so that
    // each source is measured as the output at that quality will carry it.
    LoudnessPass(std::vector<std::pair<std::uint64_t, std::string>> sources, int processes,
        std::vector<std::string> options, QObject* parent);
    ~LoudnessPass() override;
    void Start();
    // The measuring processes running now.
    int Running() const { return static_cast<int>(workers_.size()); }

    // By entry id; nothing for a source that could not be measured.
    const std::map<std::uint64_t, std::optional<Measure>>& Measures() const { return measures_; }

signals:
    void Measured(std::uint64_t id);
    void Finished();

private:
    struct Worker {
        QProcess* process = nullptr;
        std::optional<std::pair<std::uint64_t, std::string>> current;
    };
    bool StartWorker();
    void Feed(Worker& worker);
    void ReadLines(QProcess* process);
    void Ended(QProcess* process);
    Worker* WorkerOf(const QProcess* process);
    void Answer(std::uint64_t id, std::optional<Measure> measure);

    std::deque<std::pair<std::uint64_t, std::string>> queue_;
    std::vector<Worker> workers_;
    std::map<std::uint64_t, std::optional<Measure>> measures_;
    std::vector<std::string> options_;
    std::size_t total_ = 0;
    int processes_ = 1;
    int restarts_ = 0;
    bool finished_ = false;
};
