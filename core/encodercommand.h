#pragma once
#include "encodingprofile.h"

#include <string>
#include <vector>

namespace vardune {

// What the encoder is given for one file: the source, the target, then the channel option
// and the bitrate option that the profile's texts imply, compared exactly as stored.
class EncoderCommand {
public:
    // "fastencc", or "fastencc.exe" on Windows.
    static std::string ProgramName();
    // The option text: one blank, then " -dm" unless the channel is exactly "1- Stereo", then
    // " -br N" when the quality is exactly one of the four entries (N the profile's own
    // bitrate where it names one).
    static std::string OptionText(const EncodingProfile& profile);
    // The whole command line as one text, the paths in double quotes. Shown to people and
    // kept for reference; the encoder itself is started with Arguments, never through a shell.
    static std::string CommandLine(const std::string& programFolder, const std::string& source,
                                   const std::string& target, const EncodingProfile& profile);
    // The argument list the encoder gets: source, target, then "-dm" and "-br" with its value
    // as separate arguments, in the order of the option text.
    static std::vector<std::string> Arguments(const std::string& source, const std::string& target,
                                              const EncodingProfile& profile);
    // The profile the encoder records in an output it makes with these options
    // (SourceMark::Profile), or an empty text when the quality names no bitrate (the encoder
    // then takes its own default, which is its to know).
    static std::string MarkProfile(const EncodingProfile& profile);
    // The options of Arguments that shape the sound ("-dm", "-br", "96000"): the loudness
    // pass measures with them the sound as the output will carry it.
    static std::vector<std::string> SoundOptions(const EncodingProfile& profile);
    // The encoder's line for a source smaller than the bitrate asked, "kept at 56 kbit/s: the
    // source is smaller than 96 kbit/s", with that bitrate named by the quality that asks
    // for it: "... smaller than CD Quality". Any other line comes back as it is.
    static std::string QualityWords(const std::string& line);
};

} // namespace vardune
