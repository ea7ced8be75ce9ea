#include "sizeforecast.h"

#include "batchprogress.h"
#include "encodercommand.h"
#include "sourcemark.h"

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

SizeForecast::SizeForecast(const EncodingProfile& profile, bool levelling)
    : bitrate_(Bitrate(profile))
    , mono_(Mono(profile))
    , levelling_(levelling)
    , markProfile_(EncoderCommand::MarkProfile(profile))
{
}

void SizeForecast::Add(double sourceBytes, const Facts* facts)
{
    Add(sourceBytes, facts, Standing {});
}

void SizeForecast::Add(double sourceBytes, const Facts* facts, const Standing& standing, std::uint64_t entry)
{
    File file;
    file.entry = entry;
    file.source = sourceBytes;
    file.standing = standing;
    if (facts) {
        // An unreadable source fails at once and writes nothing: it has no sizes.
        file.read = true;
        file.atLeast = facts->atLeast;
        file.seconds = facts->seconds;
        if (facts->readable)
            file.sizes = facts->sizes;
        ++read_;
        atLeast_ = atLeast_ || facts->atLeast;
    }
    files_.push_back(std::move(file));
}

bool SizeForecast::IsUpToDate(const File& f, const std::string& markProfile) const
{
    // Levelled, an output may be made again at another gain: it is never counted as up to date.
    return !levelling_ && !markProfile.empty() && f.standing.profile == markProfile;
}

int SizeForecast::UpToDate() const
{
    return static_cast<int>(std::count_if(files_.begin(), files_.end(),
                                          [this](const File& f) { return IsUpToDate(f, markProfile_); }));
}

std::vector<std::uint64_t> SizeForecast::ToConvert() const
{
    std::vector<std::uint64_t> entries;
    for (const File& f : files_)
        if (!IsUpToDate(f, markProfile_))
            entries.push_back(f.entry);
    return entries;
}

double SizeForecast::Seconds() const
{
    double seconds = 0;
    for (const File& f : files_)
        if (!IsUpToDate(f, markProfile_))
            seconds += f.seconds;
    return seconds;
}

double SizeForecast::Output(const File& f, int bitrate) const
{
    if (!f.read)
        return -1;
    for (const Facts::Size& size : f.sizes)
        if (size.bitrate == bitrate)
            return mono_ ? size.mono : size.stereo;
    return 0;
}

double SizeForecast::Share(int bitrate) const
{
    // A file known only in part says nothing of the share the files not read yet come to.
    double source = 0, output = 0;
    for (const File& f : files_)
        if (f.read && !f.atLeast) {
            source += f.source;
            output += Output(f, bitrate);
        }
    return source > 0 ? output / source : 1.0;
}

double SizeForecast::Need(int bitrate, const std::string& markProfile) const
{
    const double share = Share(bitrate);
    double grows = 0;
    double beside = 0;
    for (const File& f : files_) {
        if (IsUpToDate(f, markProfile))
            continue;
        double output = Output(f, bitrate);
        if (output < 0)
            output = f.source * share;
        grows += std::max(0.0, output - f.standing.bytes);
        // Written beside the output it replaces until it is whole.
        if (f.standing.bytes > 0)
            beside = std::max(beside, std::min(f.standing.bytes, output));
    }
    return grows + beside;
}

double SizeForecast::BytesAt(int bitrate) const
{
    return Need(bitrate, SourceMark::Profile(bitrate, mono_));
}

std::vector<std::uint64_t> SizeForecast::Fitting(double freeBytes) const
{
    const double share = Share(bitrate_);
    std::vector<std::uint64_t> taken;
    double grows = 0;
    double beside = 0;
    for (const File& f : files_) {
        if (IsUpToDate(f, markProfile_)) {
            taken.push_back(f.entry);
            continue;
        }
        double output = Output(f, bitrate_);
        if (output < 0)
            output = f.source * share;
        const double grown = grows + std::max(0.0, output - f.standing.bytes);
        const double besideNow = f.standing.bytes > 0 ? std::max(beside, std::min(f.standing.bytes, output)) : beside;
        if (grown + besideNow > freeBytes)
            continue;
        grows = grown;
        beside = besideNow;
        taken.push_back(f.entry);
    }
    return taken;
}

std::optional<int> SizeForecast::FittingBitrate(double freeBytes) const
{
    const auto& rates = EncodingProfile::Mp3Bitrates();
    for (auto kbps = rates.rbegin(); kbps != rates.rend(); ++kbps)
        if (*kbps * 1000 < bitrate_ && BytesAt(*kbps * 1000) <= freeBytes)
            return *kbps * 1000;
    return std::nullopt;
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
    const int upToDate = UpToDate();
    const int n = Waiting() - upToDate;
    std::string text;
    if (n == 0) {
        text = std::to_string(upToDate) + (upToDate == 1 ? " file" : " files") + " waiting, all up to date";
    } else {
        int read = 0;
        for (const File& f : files_)
            read += f.read && !IsUpToDate(f, markProfile_) ? 1 : 0;
        text = std::to_string(n) + (n == 1 ? " file" : " files") + (upToDate > 0 ? " to convert" : " waiting");
        if (read < n)
            text += " (" + std::to_string(read) + " read)";
        if (upToDate > 0)
            text += ", " + std::to_string(upToDate) + " up to date";
        const std::string least = atLeast_ ? "at least " : "";
        text += ", " + least + DurationText(Seconds()) + (read < n ? " so far" : " long") + ", "
            + (atLeast_ ? least : "about ") + BatchProgress::SizeText(Bytes());
    }
    if (freeBytes)
        text += "; " + BatchProgress::SizeText(*freeBytes) + " free";
    return text;
}

std::string SizeForecast::Question(double needBytes, double freeBytes, bool atLeast, std::optional<int> fitBitrate)
{
    std::string text = std::string("The files need ") + (atLeast ? "at least " : "about ") + BatchProgress::SizeText(needBytes)
        + "; the output folder has " + BatchProgress::SizeText(freeBytes) + " free. Convert the files that fit?";
    if (fitBitrate)
        text += " All of them fit at " + std::to_string(*fitBitrate / 1000) + " kbit/s.";
    return text;
}

} // namespace vardune
