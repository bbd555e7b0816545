#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace pealix::test {

// What ffprobe reads from an audio file's first audio stream and container.
struct ProbedAudio
{
    QString codec;
    int channels = 0;
    int sampleRate = 0;
    std::int64_t bitRate = 0;
    QString majorBrand;
    double duration = 0;
};

// Runs ffprobe; nothing when it is missing or cannot read the file.
std::optional<ProbedAudio> probeAudio(const QString &path);

// The types of the file's top-level MPEG-4 boxes in file order ("ftyp", "moov", ...).
QStringList topLevelBoxes(const QString &path);

// Mean volume in dBFS of the decoded audio, by ffmpeg's volumedetect filter.
std::optional<double> decodedMeanVolume(const QString &path);

// Mono 16-bit samples of a sine wave; `amplitude` is relative to full scale.
std::vector<std::int16_t> sineWave(double amplitude, double frequency, double seconds, int rate = 44100);

} // namespace pealix::test
