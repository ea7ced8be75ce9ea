#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vardune {

// Even loudness: the gain that brings a track, or an album as a whole, to the ReplayGain 2.0
// reference loudness, measured by EBU R128 (`fastencc --loudness`), without letting the true
// peak after the gain pass kPeakLimitDb. No limiter and no compression: one gain per track,
// or one per album so that its tracks keep their levels relative to each other.
//
// An album's loudness is the gated loudness over all 400 ms blocks of its tracks, not a mean
// of the tracks' figures: the encoder gives each track's blocks as a histogram of 0.1 LU
// bins, and the album's gating is done again over their sum (the bin's middle standing for
// its blocks, as libebur128's own histogram mode does: within 0.05 LU).
class LoudnessLevel {
public:
    static constexpr double kReferenceLufs = -18.0;
    static constexpr double kPeakLimitDb = -1.0;
    // The gains fastencc takes; a gain outside means a measurement gone wrong.
    static constexpr double kMaxGainDb = 40.0;
    // The histogram's bins: 0.1 LU each from -70 LUFS (the absolute gate) upwards.
    static constexpr double kBinLu = 0.1;
    static constexpr int kBins = 1000;

    enum class Mode { Off, Track, Album };

    // One source as `fastencc --loudness` measured it.
    struct Measure {
        bool loud = false;          // it has blocks above the absolute gate
        double lufs = 0;            // integrated loudness, when loud
        double peak = 0;            // true peak, linear (1.0 = full scale)
        double seconds = 0;         // measured
        std::map<int, std::uint64_t> bins; // block counts by bin, only those that hold any
        std::string album;          // the album tag, as the line gives it (escaped)
    };

    // What the encoder is given for one source: the gain, the source's peak, and its
    // ReplayGain 2.0 figures (gain to the reference and true peak of the track and of its
    // album) for the output's tags.
    struct Level {
        bool measured = false;
        double gainDb = 0;
        double peak = 0;
        double trackGainDb = 0;
        double trackPeak = 0;
        double albumGainDb = 0;
        double albumPeak = 0;
    };
    // A source of a batch: its folder and its measure (nullptr where it could not be measured).
    struct Source {
        std::string folder;
        const Measure* measure = nullptr;
    };

    // Reads one line of `fastencc --loudness`:
    //   ok <TAB> LUFS|none <TAB> PEAK <TAB> SECONDS <TAB> BIN:COUNT,BIN:COUNT... <TAB> ALBUM
    //   error <TAB> REASON
    // Nothing for an error line or one that does not read.
    static std::optional<Measure> Parse(const std::string& line);
    // The line Parse reads (the encoder writes it).
    static std::string Line(const Measure& measure);
    // The bin of a block of this loudness, -1 below the absolute gate.
    static int BinOf(double blockLufs);

    // The gated loudness (EBU R128) over the blocks of all these measures; nothing when none
    // is above the gates (silence).
    static std::optional<double> GatedLoudness(const std::vector<const Measure*>& measures);
    // The same with each measure's blocks raised by its gain (offsetsDb, one per measure): the
    // loudness of their outputs levelled each by its own gain.
    static std::optional<double> GatedLoudness(const std::vector<const Measure*>& measures,
        const std::vector<double>& offsetsDb);

    // The gain for a loudness and a true peak (linear): to the reference, lowered so the
    // peak after it stays at kPeakLimitDb, rounded to 0.01 dB and kept within kMaxGainDb.
    // No loudness (silence, a source too short to measure) gets 0.
    static double GainDb(std::optional<double> lufs, double peak);

    // The gain of each measure: its own (Track), the album's (Album: the gated loudness of
    // all, limited by the highest peak of all), or 0 (Off). A measure missing (nullptr, an
    // error) gets 0 and counts for nothing in its album.
    static std::vector<double> Gains(Mode mode, const std::vector<const Measure*>& measures);

    // The levels of a batch's sources: an album is the sources of one folder with the same
    // album tag (a source without one is an album of its own). Off gives no level at all.
    // The album figures describe the album as its outputs will be (its gated loudness and its
    // highest peak once each track has its gain), referred to this source's level before its
    // own gain: per album one gain for all, so they are the sources' album figures; per track
    // each output has a gain of its own, and the album of the outputs is another than the
    // sources'.
    static std::vector<Level> Levels(Mode mode, const std::vector<Source>& sources);
    // The encoder's options for a level ("-gain", "-2.35", "-peak", ...); none when not measured.
    static std::vector<std::string> Arguments(const Level& level);
    // What the encoder adds to the profile its mark records for these options (its
    // CommandLine::profile): ",gain-02.35"; empty when not measured.
    static std::string ProfileSuffix(const Level& level);

    // The mode as the settings file keeps it ("track", "album"; empty for off), and back: a
    // text of no mode is off.
    static std::string ModeText(Mode mode);
    static Mode ModeFrom(const std::string& text);

    // "+3.5 dB", "-12.0 dB", "0.0 dB": the gain as a tool tip says it.
    static std::string GainText(double gainDb);
};

} // namespace vardune
