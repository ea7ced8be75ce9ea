#include "sizeforecast.h"

#include "batchprogress.h"
#include "encodercommand.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vardune {

namespace {
// What the encoder writes at when it is given no bitrate.
constexpr int kEncoderDefaultBitrate = 128000;
} // namespace

namespace {

// One "KEY=VALUE" field of the encoder's tags, its escapes undone; false when it is not one
// the encoder writes.
bool ReadTag(const std::string& field, OutputLayout::Tags& tags)
{
    const auto equals = field.find('=');
    if (equals == std::string::npos)
        return false;
    std::string value;
    for (std::size_t i = equals + 1; i < field.size(); ++i) {
        if (field[i] != '\\') {
            value += field[i];
            continue;
        }
        if (++i == field.size())
            return false;
        switch (field[i]) {
        case 't': value += '\t'; break;
        case 'n': value += '\n'; break;
        case 'r': value += '\r'; break;
        case '\\': value += '\\'; break;
        default: return false;
        }
    }
    const std::string key = field.substr(0, equals);
    std::string* slot = key == "ARTIST"        ? &tags.artist
                        : key == "ALBUMARTIST" ? &tags.albumArtist
                        : key == "ALBUM"       ? &tags.album
                        : key == "TITLE"       ? &tags.title
                        : key == "TRACKNUMBER" ? &tags.track
                        : key == "DISCNUMBER"  ? &tags.disc
                        : key == "DATE"        ? &tags.year
                        : key == "GENRE"       ? &tags.genre
                                               : nullptr;
    if (slot)
        *slot = std::move(value);
    return true;
}

} // namespace

SizeForecast::Facts SizeForecast::Parse(const std::string& line)
{
    Facts facts;
    std::istringstream fields(line);
    std::string field;
    if (!std::getline(fields, field, '\t') || field != "ok" || !std::getline(fields, field, '\t'))
        return facts;
    char* end = nullptr;
    facts.seconds = std::strtod(field.c_str(), &end);
    if (end == field.c_str() || !std::isfinite(facts.seconds) || facts.seconds < 0)
        return {};
    facts.atLeast = *end == '+';
    while (std::getline(fields, field, '\t')) {
        if (field.compare(0, 4, "tag:") == 0) {
            if (!ReadTag(field.substr(4), facts.tags))
                return {};
            continue;
        }
        Facts::Size size;
        long long bitrate = 0, stereo = 0, mono = 0;
        if (std::sscanf(field.c_str(), "%lld:%lld:%lld", &bitrate, &stereo, &mono) != 3 || bitrate <= 0
            || bitrate > 1000000 || stereo < 0 || mono < 0)
            return {};
        facts.sizes.push_back({static_cast<int>(bitrate), static_cast<double>(stereo), static_cast<double>(mono)});
    }
    facts.readable = true;
    return facts;
}

int SizeForecast::Bitrate(const EncodingProfile& profile)
{
    const std::vector<std::string> arguments = EncoderCommand::Arguments("", "", profile);
    for (std::size_t i = 2; i + 1 < arguments.size(); ++i)
        if (arguments[i] == "-br")
            return std::atoi(arguments[i + 1].c_str());
    return kEncoderDefaultBitrate;
}

bool SizeForecast::Mono(const EncodingProfile& profile)
{
    const std::vector<std::string> arguments = EncoderCommand::Arguments("", "", profile);
    for (std::size_t i = 2; i < arguments.size(); ++i)
        if (arguments[i] == "-dm")
            return true;
    return false;
}

SizeForecast::SizeForecast(const EncodingProfile& profile)
    : bitrate_(Bitrate(profile))
    , mono_(Mono(profile))
{
}

void SizeForecast::Add(double sourceBytes, const Facts* facts)
{
    File file;
    file.source = sourceBytes;
    if (facts) {
        // An unreadable source fails at once and writes nothing.
        file.output = 0;
        for (const Facts::Size& size : facts->sizes)
            if (size.bitrate == bitrate_)
                file.output = mono_ ? size.mono : size.stereo;
        ++read_;
        seconds_ += facts->seconds;
        atLeast_ = atLeast_ || facts->atLeast;
        // A file known only in part says nothing of the share the files not read yet come to.
        if (!facts->atLeast) {
            readSource_ += sourceBytes;
            readOutput_ += file.output;
        }
    }
    files_.push_back(file);
}

double SizeForecast::Reckoned(const File& f) const
{
    if (f.output >= 0)
        return f.output;
    return readSource_ > 0 ? f.source * readOutput_ / readSource_ : f.source;
}

double SizeForecast::Bytes() const
{
    double total = 0;
    for (const File& f : files_)
        total += Reckoned(f);
    return total;
}

std::size_t SizeForecast::FittingCount(double freeBytes) const
{
    double used = 0;
    std::size_t n = 0;
    for (const File& f : files_) {
        used += Reckoned(f);
        if (used > freeBytes)
            break;
        ++n;
    }
    return n;
}

std::string SizeForecast::DurationText(double seconds)
{
    const long long s = std::llround(std::max(seconds, 0.0));
    char text[48];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

std::string SizeForecast::Text(std::optional<double> freeBytes) const
{
    if (files_.empty())
        return {};
    const int n = Waiting();
    std::string text = std::to_string(n) + (n == 1 ? " file" : " files") + " waiting";
    if (read_ < n)
        text += " (" + std::to_string(read_) + " read)";
    const std::string least = atLeast_ ? "at least " : "";
    text += ", " + least + DurationText(seconds_) + (read_ < n ? " so far" : " long") + ", "
        + (atLeast_ ? least : "about ") + BatchProgress::SizeText(Bytes());
    if (freeBytes)
        text += "; " + BatchProgress::SizeText(*freeBytes) + " free";
    return text;
}

std::string SizeForecast::Question(double needBytes, double freeBytes, bool atLeast)
{
    return std::string("The files need ") + (atLeast ? "at least " : "about ") + BatchProgress::SizeText(needBytes) + "; the output folder has "
        + BatchProgress::SizeText(freeBytes) + " free. Convert the files that fit?";
}

} // namespace vardune
