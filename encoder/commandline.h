#pragma once

#include <optional>
#include <string>
#include <vector>

// `fastencc SOURCE TARGET [-dm] [-br BITS] [-reencode] [-threads N] [-gain DB] [-peak P]
// [-rg-track DB,P] [-rg-album DB,P]`. The first two arguments are always the paths,
// whatever they look like (they may begin with "-"); options are only read after them.
class CommandLine {
public:
    static constexpr int kDefaultBitrate = 128000;
    static constexpr int kMinBitrate = 8000;
    static constexpr int kMaxBitrate = 320000;
    static constexpr int kMaxThreads = 64;

    std::string source;
    std::string target;
    bool mono = false;
    int bitrate = kDefaultBitrate;
    // Encode, whatever stands at the target: even an MP3 that is already at or below the
    // bitrate (it is copied otherwise), even when the target is up to date (it is left as it
    // is otherwise).
    bool reencode = false;
    // Encoders working on one source at once, each on its own segment: 1 is one encoder, 0
    // one per processor the process may run on.
    int threads = 0;
    // Lines "threads N" on standard input change the number between segments: only when the
    // caller says so. Standard input is otherwise someone else's (a shell loop's list of files,
    // a terminal) and is never read.
    bool threadsFromStdin = false;

    // threads with 0 resolved to the processors this process may run on.
    int encoderThreads() const;

    // Even loudness: the gain in dB applied to the sound before it is encoded, or as the
    // MP3's own gain steps where it is copied (0: the sound as it is). Never more than the
    // peak rule allows: the sound is not clipped.
    static constexpr double kMaxGainDb = 40.0;
    // The highest true peak after the gain, in dBTP.
    static constexpr double kPeakLimitDb = -1.0;
    double gainDb = 0;
    bool gainGiven = false;
    // The source's true peak (linear, 1.0 full scale) as `fastencc --loudness` measured it;
    // with it the gain is held to the peak rule before encoding; 0 when not given.
    double peak = 0;
    // ReplayGain 2.0 of the source, for the output's tags: the gain to the reference loudness
    // in dB and the true peak (linear), of the track and of its album. Written as they hold
    // for the output, once the gain is applied.
    struct ReplayGain {
        bool given = false;
        double gainDb = 0;
        double peak = 0;
    };
    ReplayGain trackGain;
    ReplayGain albumGain;

    // The settings that change the sound, as the output's mark records them (SourceMark).
    std::string profile() const;
    // The ReplayGain 2.0 frames (ID3v2.3 TXXX) an output carries, as they hold once its
    // loudness has gained loudnessDb and its peaks peakDb (the gain applied: LAME's rounding
    // takes some of it from the loudness); empty when none were asked for.
    std::string replayGainFrames(double loudnessDb, double peakDb) const;

    // Returns nothing and sets error (a short reason) when the arguments are not usable.
    static std::optional<CommandLine> parse(const std::vector<std::string>& args, std::string& error);
    static const char* usage();
};
