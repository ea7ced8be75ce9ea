#include "encodercommand.h"

namespace vardune {

namespace {

bool Mono(const EncodingProfile& profile)
{
    return profile.channel != "1- Stereo";
}

// The bitrate in bits per second for a quality text, or an empty text for none.
std::string Bitrate(const EncodingProfile& profile)
{
    static const char* const rates[] = {"96000", "64000", "32000", "16000"};
    const auto& qualities = EncodingProfile::QualityList();
    for (std::size_t i = 0; i < qualities.size(); ++i)
        if (profile.quality == qualities[i])
            return rates[i];
    return {};
}

} // namespace

std::string EncoderCommand::ProgramName()
{
#ifdef _WIN32
    return "fastencc.exe";
#else
    return "fastencc";
#endif
}

std::string EncoderCommand::OptionText(const EncodingProfile& profile)
{
    std::string options = " ";
    if (Mono(profile))
        options += " -dm";
    const std::string rate = Bitrate(profile);
    if (!rate.empty())
        options += " -br " + rate;
    return options;
}

std::string EncoderCommand::CommandLine(const std::string& programFolder, const std::string& source,
                                        const std::string& target, const EncodingProfile& profile)
{
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    return programFolder + separator + ProgramName() + " \"" + source + "\" \"" + target + "\"" + OptionText(profile);
}

std::vector<std::string> EncoderCommand::Arguments(const std::string& source, const std::string& target,
                                                   const EncodingProfile& profile)
{
    std::vector<std::string> arguments = {source, target};
    if (Mono(profile))
        arguments.push_back("-dm");
    const std::string rate = Bitrate(profile);
    if (!rate.empty()) {
        arguments.push_back("-br");
        arguments.push_back(rate);
    }
    return arguments;
}

} // namespace vardune
