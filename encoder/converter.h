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

private:
    void checkTargetIsNotSource() const;
    double encode(double gain, double surveyedSeconds);

    CommandLine m_options;
    Progress m_progress;
    std::string m_target; // the regular file to write: the target, or the file its link names
    std::vector<std::string> m_warnings;
    std::vector<std::string> m_notes;
};
