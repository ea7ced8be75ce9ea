#include "loudnesslevel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vardune {

namespace {

constexpr double kAbsoluteGateLufs = -70.0;
constexpr double kRelativeGateLu = -10.0;

// Loudness of a block's mean square energy (channel weights applied), and back.
double energyOf(double lufs) { return std::pow(10.0, (lufs + 0.691) / 10.0); }
double lufsOf(double energy) { return 10.0 * std::log10(energy) - 0.691; }

double binMiddle(int bin) { return kAbsoluteGateLufs + (bin + 0.5) * LoudnessLevel::kBinLu; }

bool readDouble(const std::string& text, double& out)
{
    if (text.empty() || text.size() > 32)
        return false;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(out);
}

std::vector<std::string> split(const std::string& text, char by)
{
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(by, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return parts;
        from = at + 1;
    }
}

} // namespace

int LoudnessLevel::BinOf(double blockLufs)
{
    if (!(blockLufs >= kAbsoluteGateLufs))
        return -1;
    return std::min(kBins - 1, static_cast<int>((blockLufs - kAbsoluteGateLufs) / kBinLu));
}

std::optional<LoudnessLevel::Measure> LoudnessLevel::Parse(const std::string& line)
{
    const std::vector<std::string> fields = split(line, '\t');
    if (fields.size() != 6 || fields[0] != "ok")
        return std::nullopt;
    Measure m;
    if (fields[1] != "none") {
        if (!readDouble(fields[1], m.lufs) || m.lufs < kAbsoluteGateLufs - 1 || m.lufs > 30)
            return std::nullopt;
        m.loud = true;
    }
    if (!readDouble(fields[2], m.peak) || m.peak < 0 || m.peak > 1e6 || !readDouble(fields[3], m.seconds) || m.seconds < 0)
        return std::nullopt;
    if (!fields[4].empty()) {
        for (const std::string& pair : split(fields[4], ',')) {
            const std::size_t colon = pair.find(':');
            if (colon == std::string::npos || colon == 0 || colon > 4 || pair.size() - colon - 1 > 12
                || pair.find_first_not_of("0123456789:") != std::string::npos)
                return std::nullopt;
            const int bin = std::atoi(pair.substr(0, colon).c_str());
            const std::uint64_t count = std::strtoull(pair.c_str() + colon + 1, nullptr, 10);
            if (bin >= kBins || count == 0 || pair.size() == colon + 1)
                return std::nullopt;
            m.bins[bin] += count;
        }
    }
    m.album = fields[5];
    return m;
}

std::string LoudnessLevel::Line(const Measure& m)
{
    char text[96];
    std::string line = "ok\t";
    if (m.loud) {
        std::snprintf(text, sizeof text, "%.2f", m.lufs);
        line += text;
    } else {
        line += "none";
    }
    std::snprintf(text, sizeof text, "\t%.6f\t%.3f\t", m.peak, m.seconds);
    line += text;
    bool first = true;
    for (const auto& [bin, count] : m.bins) {
        line += (first ? "" : ",") + std::to_string(bin) + ":" + std::to_string(count);
        first = false;
    }
    return line + "\t" + m.album;
}

std::optional<double> LoudnessLevel::GatedLoudness(const std::vector<const Measure*>& measures)
{
    return GatedLoudness(measures, std::vector<double>(measures.size(), 0.0));
}

std::optional<double> LoudnessLevel::GatedLoudness(const std::vector<const Measure*>& measures,
    const std::vector<double>& offsetsDb)
{
    // Blocks by their loudness (a bin's middle, raised by its measure's gain).
    std::map<double, double> blocks;
    for (std::size_t i = 0; i < measures.size(); ++i)
        if (measures[i])
            for (const auto& [bin, count] : measures[i]->bins) {
                const double lufs = binMiddle(bin) + (i < offsetsDb.size() ? offsetsDb[i] : 0.0);
                if (lufs >= kAbsoluteGateLufs)
                    blocks[lufs] += static_cast<double>(count);
            }
    double energy = 0;
    double count = 0;
    for (const auto& [lufs, n] : blocks) {
        energy += energyOf(lufs) * n;
        count += n;
    }
    if (count == 0)
        return std::nullopt;
    const double relativeGate = lufsOf(energy / count) + kRelativeGateLu;
    energy = 0;
    count = 0;
    for (const auto& [lufs, n] : blocks) {
        if (lufs < relativeGate)
            continue;
        energy += energyOf(lufs) * n;
        count += n;
    }
    if (count == 0)
        return std::nullopt;
    return lufsOf(energy / count);
}

double LoudnessLevel::GainDb(std::optional<double> lufs, double peak)
{
    if (!lufs)
        return 0;
    double gain = kReferenceLufs - *lufs;
    if (peak > 0)
        gain = std::min(gain, kPeakLimitDb - 20.0 * std::log10(peak));
    gain = std::clamp(gain, -kMaxGainDb, kMaxGainDb);
    // Rounded towards less gain, so that the peak rule holds for the rounded figure too.
    return std::floor(gain * 100.0) / 100.0;
}

std::vector<double> LoudnessLevel::Gains(Mode mode, const std::vector<const Measure*>& measures)
{
    std::vector<double> gains(measures.size(), 0.0);
    if (mode == Mode::Off)
        return gains;
    if (mode == Mode::Track) {
        for (std::size_t i = 0; i < measures.size(); ++i)
            if (measures[i] && measures[i]->loud)
                gains[i] = GainDb(measures[i]->lufs, measures[i]->peak);
        return gains;
    }
    double peak = 0;
    for (const Measure* m : measures)
        if (m)
            peak = std::max(peak, m->peak);
    const double gain = GainDb(GatedLoudness(measures), peak);
    for (std::size_t i = 0; i < measures.size(); ++i)
        if (measures[i])
            gains[i] = gain;
    return gains;
}

std::vector<LoudnessLevel::Level> LoudnessLevel::Levels(Mode mode, const std::vector<Source>& sources)
{
    std::vector<Level> levels(sources.size());
    if (mode == Mode::Off)
        return levels;
    // The albums: by folder and album tag; an untagged source alone.
    std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> albums;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const Measure* m = sources[i].measure;
        if (!m)
            continue;
        if (m->album.empty())
            albums[{sources[i].folder + "\n" + std::to_string(i), std::string()}].push_back(i);
        else
            albums[{sources[i].folder, m->album}].push_back(i);
    }
    const auto rgGain = [](std::optional<double> lufs) {
        return lufs ? std::clamp(std::round((kReferenceLufs - *lufs) * 100.0) / 100.0, -kMaxGainDb, kMaxGainDb) : 0.0;
    };
    for (const auto& album : albums) {
        std::vector<const Measure*> members;
        double albumPeak = 0;
        for (const std::size_t i : album.second) {
            members.push_back(sources[i].measure);
            albumPeak = std::max(albumPeak, sources[i].measure->peak);
        }
        const std::optional<double> albumLufs = GatedLoudness(members);
        const double albumGain = GainDb(albumLufs, albumPeak);
        std::vector<double> gains;
        for (const std::size_t i : album.second) {
            const Measure& m = *sources[i].measure;
            const std::optional<double> lufs = m.loud ? std::optional<double>(m.lufs) : std::nullopt;
            Level& level = levels[i];
            level.measured = true;
            level.gainDb = mode == Mode::Album ? albumGain : GainDb(lufs, m.peak);
            level.peak = std::min(m.peak, 100.0);
            level.trackGainDb = rgGain(lufs);
            level.trackPeak = level.peak;
            gains.push_back(level.gainDb);
        }
        // The album of the outputs: its loudness and highest peak with each track's gain.
        std::optional<double> outputLufs = GatedLoudness(members, gains);
        double outputPeak = 0;
        for (std::size_t k = 0; k < gains.size(); ++k)
            outputPeak = std::max(outputPeak, members[k]->peak * std::pow(10.0, gains[k] / 20.0));
        for (std::size_t k = 0; k < gains.size(); ++k) {
            Level& level = levels[album.second[k]];
            const double factor = std::pow(10.0, gains[k] / 20.0);
            level.albumGainDb = std::clamp(rgGain(outputLufs) + gains[k], -kMaxGainDb, kMaxGainDb);
            level.albumPeak = std::min(outputPeak / factor, 100.0);
        }
    }
    return levels;
}

namespace {

std::string fixed(const char* format, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value == 0 ? 0.0 : value);
    return text;
}

} // namespace

std::vector<std::string> LoudnessLevel::Arguments(const Level& level)
{
    if (!level.measured)
        return {};
    return {"-gain", fixed("%.2f", level.gainDb), "-peak", fixed("%.6f", level.peak),
            "-rg-track", fixed("%.2f", level.trackGainDb) + "," + fixed("%.6f", level.trackPeak),
            "-rg-album", fixed("%.2f", level.albumGainDb) + "," + fixed("%.6f", level.albumPeak)};
}

std::string LoudnessLevel::ProfileSuffix(const Level& level)
{
    return level.measured ? ",gain" + fixed("%+06.2f", level.gainDb) : std::string();
}

std::string LoudnessLevel::ModeText(Mode mode)
{
    switch (mode) {
    case Mode::Track: return "track";
    case Mode::Album: return "album";
    case Mode::Off: break;
    }
    return std::string();
}

LoudnessLevel::Mode LoudnessLevel::ModeFrom(const std::string& text)
{
    if (text == "track")
        return Mode::Track;
    if (text == "album")
        return Mode::Album;
    return Mode::Off;
}

std::string LoudnessLevel::GainText(double gainDb)
{
    char text[32];
    const double shown = std::round(gainDb * 10.0) / 10.0;
    std::snprintf(text, sizeof text, shown > 0 ? "+%.1f dB" : "%.1f dB", shown == 0 ? 0.0 : shown);
    return text;
}

} // namespace vardune
