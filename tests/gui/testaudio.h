#pragma once
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>

#include <algorithm>
#include <cmath>
#include <functional>

// Audio files for the tests, benchmarks and screenshots, written here so nothing is taken
// from elsewhere. sample(frame, channel) gives a value in [-1, 1]; 16-bit PCM, little endian.
inline bool WriteWav(const QString& path, int frames, int channels, int rate,
                     const std::function<double(int, int)>& sample)
{
    QByteArray pcm;
    pcm.reserve(frames * channels * 2);
    for (int i = 0; i < frames; ++i) {
        for (int channel = 0; channel < channels; ++channel) {
            const auto s = static_cast<qint16>(std::lround(std::clamp(sample(i, channel), -1.0, 1.0) * 32767));
            pcm.append(reinterpret_cast<const char*>(&s), 2);
        }
    }
    const auto u32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char*>(&v), 2); };
    const auto block = static_cast<quint16>(channels * 2);
    QFile file(path);
    return file.open(QIODevice::WriteOnly)
        && file.write("RIFF" + u32(36 + pcm.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(static_cast<quint16>(channels))
                      + u32(rate) + u32(rate * block) + u16(block) + u16(16) + "data" + u32(pcm.size()) + pcm) > 0;
}

// A stereo tone of the given pitch and length at 44.1 kHz.
inline bool WriteToneWav(const QString& path, double seconds, double pitch = 440)
{
    const int rate = 44100;
    return WriteWav(path, static_cast<int>(seconds * rate), 2, rate, [&](int i, int) {
        return 0.25 * std::sin(2 * M_PI * pitch * i / rate) + 0.1 * std::sin(2 * M_PI * pitch * 1.5 * i / rate);
    });
}

// A short tone with RIFF INFO tags (IART artist, IPRD album, INAM title, IPRT track...), as
// many WAV taggers write them: the tags output names are made of.
inline bool WriteTaggedWav(const QString& path, const QList<QPair<QByteArray, QByteArray>>& tags)
{
    if (!WriteToneWav(path, 0.2))
        return false;
    QByteArray info = "INFO";
    for (const auto& [id, text] : tags) {
        QByteArray value = text + '\0';
        const quint32 size = static_cast<quint32>(value.size());
        if (value.size() % 2)
            value += '\0';
        info += id + QByteArray(reinterpret_cast<const char*>(&size), 4) + value;
    }
    const quint32 infoSize = static_cast<quint32>(info.size());
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    file.seek(file.size());
    file.write("LIST" + QByteArray(reinterpret_cast<const char*>(&infoSize), 4) + info);
    const quint32 riff = static_cast<quint32>(file.size() - 8);
    file.seek(4);
    return file.write(reinterpret_cast<const char*>(&riff), 4) == 4;
}
