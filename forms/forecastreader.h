#pragma once
#include "sizeforecast.h"

#include <QObject>
#include <QPointer>
#include <QProcess>

#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Reads what the encoder says of each source (`fastencc --facts`), in a process of its own
// that reads the files while the window goes on: a list of ten thousand files never makes the
// window wait. The paths go to the encoder on its standard input, its answers come back line
// by line as signals, and each is kept for as long as the program runs, by path and size, so
// a file added again is not read again.
class ForecastReader : public QObject {
    Q_OBJECT
public:
    explicit ForecastReader(QObject* parent = nullptr);
    ~ForecastReader() override;

    // Asks for the facts of these sources (path and its size text, as the entry holds them);
    // those known or asked already are not asked again.
    void Request(const std::vector<std::pair<std::string, std::string>>& sources);
    // The facts of a source, or nullptr while they are not read.
    const vardune::SizeForecast::Facts* Find(const std::string& path, const std::string& sizeText) const;
    // Sources asked for and not answered yet.
    int Pending() const { return static_cast<int>(queue_.size() + inFlight_.size()); }

signals:
    // New facts have come in.
    void Read();

private:
    static std::string Key(const std::string& path, const std::string& sizeText);
    void StartNext();
    void ReadLines();
    void Ended();
    // Sources the encoder can no longer answer count as unreadable, so the forecast completes.
    void GiveUp(std::deque<std::string>& keys);

    std::unordered_map<std::string, vardune::SizeForecast::Facts> facts_;
    std::unordered_set<std::string> asked_;
    std::deque<std::string> queue_;     // keys not yet sent
    std::deque<std::string> inFlight_;  // keys sent to the running process, in order
    std::unordered_map<std::string, std::string> paths_; // key -> path, until answered
    QPointer<QProcess> process_;
};
