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

    bool operator==(const EncodingProfile& other) const;

    static const std::array<std::string, 5>& DeviceList();
    static const std::array<std::string, 4>& QualityList();
    static const std::array<std::string, 2>& ChannelList();

    // The entry number a text stands for: its leading number ("2- Mono" -> 2, "Mono" -> 0).
    static double EntryNumber(const std::string& text);
    // A text whose entry number is greater than 0.
    static bool IsUsableText(const std::string& text);

    // The status bar line: device, quality and channel joined by two blanks, nothing trimmed.
    std::string StatusLine() const;
};

} // namespace vardune
