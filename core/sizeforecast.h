#pragma once
#include "encodingprofile.h"
#include "outputlayout.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vardune {

// How much room the waiting files' outputs will take, before the batch: from what the
// encoder says of each source (`fastencc --facts`), at the chosen quality and channel mode,
// against the free space of the output folder.
class SizeForecast {
public:
    // What the encoder said of one source.
    struct Facts {
        bool readable = false;  // false: the encoder cannot read it, the file will fail
        double seconds = 0;
        // The source's length could not be measured (a stream cut or damaged at its end):
        // seconds and sizes are what is known to be there, the least the output takes.
        bool atLeast = false;
        struct Size {
            int bitrate = 0;    // bits per second
            double stereo = 0;  // bytes of the output without and with the mono option
            double mono = 0;
        };
        std::vector<Size> sizes;
        // The tags output names are made of, as the encoder read them.
        OutputLayout::Tags tags;
    };
    // One line of `fastencc --facts`; a line it cannot read counts as an unreadable source.
    // A "+" after the seconds marks a length known only as a least. The "tag:KEY=VALUE"
    // fields after the sizes give the tags; a key this program does not name is passed over.
    static Facts Parse(const std::string& line);

    // The bitrate the encoder writes at for a profile (its -br value, or the encoder's own
    // default) and whether it gets the mono option: as the batch calls it.
    static int Bitrate(const EncodingProfile& profile);
    static bool Mono(const EncodingProfile& profile);

    explicit SizeForecast(const EncodingProfile& profile);

    // Adds a waiting file, in list order: its source size in bytes and its facts, or nullptr
    // while they are not read yet.
    void Add(double sourceBytes, const Facts* facts);

    int Waiting() const { return static_cast<int>(files_.size()); }
    int Read() const { return read_; }
    double Seconds() const { return seconds_; }
    // Whether a file read so far is known only as a least: Seconds() and Bytes() are too.
    bool AtLeast() const { return atLeast_; }
    // The outputs' bytes, every file counted: a file not read yet is reckoned at the share of
    // its source that the files read so far come to (its source size while none is read).
    double Bytes() const;

    // How many files, from the first in list order, fit into free bytes together.
    std::size_t FittingCount(double freeBytes) const;

    // What the main window shows beside the list: "3 files waiting, 12:34 long, about
    // 8.6 MB; 180.0 MB free", with how many are read while the encoder still reads them.
    std::string Text(std::optional<double> freeBytes) const;
    // The question before a batch that does not fit (needBytes the least it takes where
    // atLeast).
    static std::string Question(double needBytes, double freeBytes, bool atLeast = false);
    // "0:07", "12:34", "1:02:03".
    static std::string DurationText(double seconds);

private:
    struct File {
        double source = 0;
        double output = -1;  // -1: not read yet
    };
    double Reckoned(const File& f) const;

    int bitrate_;
    bool mono_;
    std::vector<File> files_;
    int read_ = 0;
    double seconds_ = 0;
    bool atLeast_ = false;
    double readSource_ = 0;
    double readOutput_ = 0;
};

} // namespace vardune
