#pragma once
#include <array>
#include <string>

namespace vardune {

// The user's standing choice of device, quality and channel mode, held as the exact display
// texts of the fixed list entries, plus the kbps text that is only carried through.
struct EncodingProfile {
    std::string device = "1- MP3 Potable Player";
    std::string quality = "1- CD Quality";
    std::string channel = "1- Stereo";
    std::string kbps = "96";
    // A bitrate in bit/s that stands in for the quality's, for one batch asked at any MP3
    // bitrate (the command line's --quality 160, a card filled at the highest bitrate that
    // fits); 0: the quality's. Never kept in the settings file.
    int bitrate = 0;

    bool operator==(const EncodingProfile& other) const;

    static const std::array<std::string, 5>& DeviceList();
    static const std::array<std::string, 4>& QualityList();
    static const std::array<std::string, 2>& ChannelList();
    // Every bitrate an MP3 is written at, in kbit/s, lowest first: MPEG-1's from 32 and
    // MPEG-2's below, as LAME picks the sample rate for them.
    static const std::array<int, 18>& Mp3Bitrates();

    // The entry number a text stands for: its leading number ("2- Mono" -> 2, "Mono" -> 0).
    static double EntryNumber(const std::string& text);
    // A text whose entry number is greater than 0.
    static bool IsUsableText(const std::string& text);

    // The status bar line: device, quality and channel joined by two blanks, nothing trimmed.
    std::string StatusLine() const;
};

} // namespace vardune
