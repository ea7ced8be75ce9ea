#pragma once
#include "sizeforecast.h"

#include <QObject>
#include <QPointer>
#include <QProcess>

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
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

    // The number by which a source (path and its size text, as the entry holds them, and the
    // time it was last changed) is known from now on; the first time, its facts are asked for
    // with the next Send(). A file edited since (its tags written again, its size the same)
    // is another source with a number of its own.
    int Request(const std::string& path, const std::string& sizeText, std::int64_t changed);
    // When the file at path was last changed, in nanoseconds (-1 when it cannot be read).
    static std::int64_t ChangeTime(const std::string& path);
    // Sends what was asked for to the encoder, unless one reads already (it takes the rest
    // when it is done).
    void Send();
    // The facts of a source by its number, or nullptr while they are not read.
    const vardune::SizeForecast::Facts* Find(int source) const;

signals:
    // New facts have come in.
    void Read();

private:
    void StartNext();
    void ReadLines();
    void Ended();
    void Answer(int source, vardune::SizeForecast::Facts facts);

    struct Source {
        std::string path;
        bool read = false;
        vardune::SizeForecast::Facts facts;
    };
    std::vector<Source> sources_;
    std::unordered_map<std::string, int> numbers_;  // path + size -> number
    std::deque<int> queue_;     // not yet sent
    std::deque<int> inFlight_;  // sent to the running process, in order
    QPointer<QProcess> process_;
};
