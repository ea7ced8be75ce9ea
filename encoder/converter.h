#pragma once

#include "commandline.h"

#include <functional>
#include <string>
#include <vector>

// One conversion, shaped like LAME's frontend: decode -> chunk -> encode -> flush -> tag.
// Opens the source by content, reads its tags, writes the MP3 through a temporary file and
// puts it in place only when it is complete. Throws EncodeError with the reason on failure,
// leaving no temporary file and the target as it was.
class Converter {
public:
    // The note of a run that found the target up to date and wrote nothing.
    static constexpr const char* kUpToDateNote = "up to date: not converted again";

    // Called with whole percents 0..99 as the source is consumed, only when the value changes.
    using Progress = std::function<void(int percent)>;

    explicit Converter(const CommandLine& options, Progress progress = {});
    void run();
    // After a successful run: what the user should know of a conversion that succeeded with
    // a reservation (LAME writes another bitrate, the source ends early), in that order, so
    // that the source's state is the last word.
    const std::vector<std::string>& warnings() const { return m_warnings; }
    // After a successful run: what the user should know that is no reservation (the target
    // was up to date and left as it is, an MP3 that was already small enough was copied, a
    // source smaller than the bitrate asked kept the output's bitrate to its own); printed
    // before the warnings.
    const std::vector<std::string>& notes() const { return m_notes; }

    // "+3.50 dB": a gain as the lines of the encoder say it.
    static std::string gainText(double gainDb);

    // What LAME's rounding takes from the loudness of most sound (0.2 to 0.45 dB at every
    // bitrate, noise-like sound anywhere from -0.6 to +0.5): a levelled encoding starts with
    // this much more gain, and the output, measured as written, says what it really took.
    static constexpr double kCodecLossDb = 0.4;
    // How far a levelled output may land from where its figures put it before it is encoded
    // again with the gain corrected by the miss: well inside 0.2 LU for any meter.
    static constexpr double kLandingLu = 0.1;
    // The most the gain is corrected by, either way: more than any codec takes, so figures
    // measured for another quality still land, but figures that do not belong to the source
    // at all move the gain no further.
    static constexpr double kMostCorrectionDb = 3.0;

private:
    // One encoding at a gain: the highest sample given to LAME (dBFS) and, when the output
    // was measured, its loudness and true peak as a player decodes it.
    struct Encoded {
        double inputPeakDb = -200;
        bool measured = false;
        bool loud = false;
        double lufs = 0;
        double truePeakDb = -200;
    };
    // Whether an encoding is put in place; otherwise its temporary file goes.
    using Accept = std::function<bool(const Encoded&)>;

    void checkTargetIsNotSource() const;
    // Encodes the source with gain applied; the ReplayGain tags say the output stands
    // levelled by tagGain (the loudness it gained, where LAME's rounding takes some of the
    // gain). measure: the written output is decoded and measured before accept is asked.
    Encoded encode(double gain, double tagGain, double surveyedSeconds, bool measure, const Accept& accept);

    CommandLine m_options;
    Progress m_progress;
    std::string m_target; // the regular file to write: the target, or the file its link names
    std::vector<std::string> m_warnings;
    std::vector<std::string> m_notes;
    int m_shown = -1; // the last percent shown: an encoding again goes on from there
};
