#include "encodingprofile.h"

#include "numerictext.h"

namespace vardune {

bool EncodingProfile::operator==(const EncodingProfile& other) const
{
    return device == other.device && quality == other.quality && channel == other.channel
        && kbps == other.kbps && bitrate == other.bitrate;
}

const std::array<std::string, 5>& EncodingProfile::DeviceList()
{
    static const std::array<std::string, 5> list = {
        "1- MP3 Potable Player",
        "2- Palm PDA with MP3 Module",
        "3- WinCE PDA with MP3 Module",
        "4- Mobile Phone with MP3 Module",
        "5- Other MP3 Device",
    };
    return list;
}

const std::array<std::string, 4>& EncodingProfile::QualityList()
{
    static const std::array<std::string, 4> list = {
        "1- CD Quality",
        "2- FM Radio Quality",
        "3- Tape Quality",
        "4- Telephone Quality",
    };
    return list;
}

const std::array<std::string, 2>& EncodingProfile::ChannelList()
{
    static const std::array<std::string, 2> list = {"1- Stereo", "2- Mono"};
    return list;
}

const std::array<int, 18>& EncodingProfile::Mp3Bitrates()
{
    static const std::array<int, 18> list = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};
    return list;
}

double EncodingProfile::EntryNumber(const std::string& text)
{
    return LeadingNumber(text);
}

bool EncodingProfile::IsUsableText(const std::string& text)
{
    return EntryNumber(text) > 0;
}

std::string EncodingProfile::StatusLine() const
{
    return device + "  " + quality + "  " + channel;
}

} // namespace vardune
