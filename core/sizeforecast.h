#pragma once
#include "encodingprofile.h"
#include "outputlayout.h"

#include <cstddef>
#include <cstdint>
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

    // What stands at a file's output path before the batch, as far as its room goes: an
    // earlier output of this very source, which the new one replaces, and, while the source
    // is unchanged since, the profile that output was made with (its mark's).
    struct Standing {
        double bytes = 0;     // 0: no output of this source stands there, the output is new
        std::string profile;  // empty: the source has changed, the output is not its own or
                              // is cut short
    };

    // levelling: even loudness is on, so an output of the same profile may still be made
    // again at another gain: it is counted as replacing itself, never as up to date.
    explicit SizeForecast(const EncodingProfile& profile, bool levelling = false);

    // Adds a waiting file, in list order: its source size in bytes, its facts (nullptr while
    // they are not read, or not needed: an output up to date is not read), what stands at its
    // output path, and the entry it is (what Fitting gives back).
    void Add(double sourceBytes, const Facts* facts, const Standing& standing, std::uint64_t entry = 0);
    void Add(double sourceBytes, const Facts* facts);

    int Waiting() const { return static_cast<int>(files_.size()); }
    // The files whose outputs are up to date at the profile: nothing is written for them.
    int UpToDate() const;
    // The entries whose outputs are to be written (not up to date), in list order.
    std::vector<std::uint64_t> ToConvert() const;
    int Read() const { return read_; }
    // The playing time of the files to convert, as far as they are read.
    double Seconds() const;
    // Whether a file read so far is known only as a least: Seconds() and Bytes() are too.
    bool AtLeast() const { return atLeast_; }
    // The room the batch needs in the output folder: nothing for an output up to date; the
    // whole of a new output; for one that replaces its own earlier output, what it grows by,
    // and, once for the batch, the largest of those while it is written beside the output it
    // replaces. A file not read yet is reckoned at the share of its source that the files read
    // so far come to (its source size while none is read).
    double Bytes() const { return Need(bitrate_, markProfile_); }

    // The entries to take when the free bytes do not hold them all: in list order, each that
    // still fits; one that does not is passed over and the smaller ones after it still go.
    std::vector<std::uint64_t> Fitting(double freeBytes) const;
    // The highest MP3 bitrate below the profile's (bit/s) at which every file fits into the
    // free bytes, by the same count; nothing when none does. Outputs up to date at that
    // bitrate need no room there.
    std::optional<int> FittingBitrate(double freeBytes) const;
    // The room needed at another bitrate of the same channel mode.
    double BytesAt(int bitrate) const;

    // What the main window shows beside the list: "3 files waiting, 12:34 long, about
    // 8.6 MB; 180.0 MB free", with how many are read while the encoder still reads them; with
    // outputs up to date, "2 files to convert, 3 up to date, 4:10 long, about 5.1 MB".
    std::string Text(std::optional<double> freeBytes) const;
    // The question before a batch that does not fit (needBytes the least it takes where
    // atLeast); fitBitrate: the highest bitrate (bit/s) at which all of them fit, offered too.
    static std::string Question(double needBytes, double freeBytes, bool atLeast = false,
                                std::optional<int> fitBitrate = std::nullopt);
    // "0:07", "12:34", "1:02:03".
    static std::string DurationText(double seconds);

private:
    struct File {
        std::uint64_t entry = 0;
        double source = 0;
        bool read = false;
        bool atLeast = false;
        double seconds = 0;
        std::vector<Facts::Size> sizes;  // as read
        Standing standing;
    };
    bool IsUpToDate(const File& f, const std::string& markProfile) const;
    // The output's bytes at a bitrate, as read; -1 while not read.
    double Output(const File& f, int bitrate) const;
    // The room needed at a bitrate whose outputs carry markProfile.
    double Need(int bitrate, const std::string& markProfile) const;
    // The bytes of the files not read yet, by the share the read ones come to at a bitrate.
    double Share(int bitrate) const;

    int bitrate_;
    bool mono_;
    bool levelling_;
    std::string markProfile_;
    std::vector<File> files_;
    int read_ = 0;
    bool atLeast_ = false;
};

} // namespace vardune
