#include "encodercommand.h"

#include "sourcemark.h"

namespace vardune {

namespace {

bool Mono(const EncodingProfile& profile)
{
    return profile.channel != "1- Stereo";
}

// The bitrates of the four qualities, in their order.
const char* const kQualityRates[] = {"96000", "64000", "32000", "16000"};

// The bitrate in bits per second for a quality text, or an empty text for none.
std::string Bitrate(const EncodingProfile& profile)
{
    if (profile.bitrate > 0)
        return std::to_string(profile.bitrate);
    const auto& qualities = EncodingProfile::QualityList();
    for (std::size_t i = 0; i < qualities.size(); ++i)
        if (profile.quality == qualities[i])
            return kQualityRates[i];
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

std::vector<std::string> EncoderCommand::SoundOptions(const EncodingProfile& profile)
{
    std::vector<std::string> options = Arguments(std::string(), std::string(), profile);
    options.erase(options.begin(), options.begin() + 2);
    return options;
}

std::string EncoderCommand::MarkProfile(const EncodingProfile& profile)
{
    const std::string rate = Bitrate(profile);
    return rate.empty() ? std::string() : SourceMark::Profile(std::stoi(rate), Mono(profile));
}

std::string EncoderCommand::QualityWords(const std::string& line)
{
    static const std::string kept = "kept at ";
    static const std::string smaller = " kbit/s: the source is smaller than ";
    const std::size_t at = line.find(smaller);
    if (line.compare(0, kept.size(), kept) != 0 || at == std::string::npos)
        return line;
    const std::string asked = line.substr(at + smaller.size());
    const auto& qualities = EncodingProfile::QualityList();
    for (std::size_t i = 0; i < qualities.size(); ++i) {
        const std::string rate = kQualityRates[i];
        // What follows the bitrate after "; " (the gain applied) stays as it is.
        const std::string bitrate = rate.substr(0, rate.size() - 3) + " kbit/s";
        if (asked.compare(0, bitrate.size(), bitrate) != 0
            || (asked.size() > bitrate.size() && asked.compare(bitrate.size(), 2, "; ") != 0))
            continue;
        // "1- CD Quality" is "CD Quality" without its entry number.
        const std::string& text = qualities[i];
        const std::size_t name = text.find("- ");
        return line.substr(0, at + smaller.size()) + (name == std::string::npos ? text : text.substr(name + 2))
            + asked.substr(bitrate.size());
    }
    return line;
}

} // namespace vardune
