#pragma once

#include <QStringList>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace pealix::test {

// Success when ffprobe reads `path` as mono 44.1 kHz AAC near 96 kbit/s in an
// "M4A " file whose index (moov) precedes the audio (mdat), lasting `seconds`
// within `tolerance`.
::testing::AssertionResult isMonoAacM4a(const QString &path, double seconds, double tolerance);

// The output (standard output and error) of a program that finished successfully, or none.
std::optional<QByteArray> runProgram(const QString &program, const QStringList &arguments);

// Mean volume in dBFS of the decoded audio, by ffmpeg's volumedetect filter;
// none when ffmpeg cannot decode the file.
std::optional<double> decodedMeanVolume(const QString &path);

// Mono 16-bit samples of a 44.1 kHz sine wave; `amplitude` is relative to full scale.
std::vector<std::int16_t> sineWave(double amplitude, double frequency, double seconds);

} // namespace pealix::test
