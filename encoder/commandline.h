#pragma once

#include <optional>
#include <string>
#include <vector>

// `fastencc SOURCE TARGET [-dm] [-br BITS] [-reencode] [-threads N]`. The first two arguments are always the paths,
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

    // threads with 0 resolved to the processors this process may run on.
    int encoderThreads() const;

    // The settings that change the sound, as the output's mark records them (SourceMark).
    std::string profile() const;

    // Returns nothing and sets error (a short reason) when the arguments are not usable.
    static std::optional<CommandLine> parse(const std::vector<std::string>& args, std::string& error);
    static const char* usage();
};
