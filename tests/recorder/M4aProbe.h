#pragma once

#include "support/TestEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

namespace pealix::test {

using namespace Qt::StringLiterals;

// The output (standard output and error) of a program that finished successfully, or none.
inline std::optional<QByteArray> runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(findProgram(program), arguments);
    if (process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return process.readAll();
    return std::nullopt;
}

// Success when ffprobe reads `path` as mono 44.1 kHz AAC near 96 kbit/s in an
// "M4A " file whose index (moov) precedes the audio (mdat), lasting `seconds`
// within `tolerance`.
inline ::testing::AssertionResult isMonoAacM4a(const QString &path, double seconds, double tolerance)
{
    const QByteArray json =
        runProgram(u"ffprobe"_s, u"-v error -show_streams -show_format -of json"_s.split(' ') << path)
            .value_or("ffprobe failed");
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const QJsonValue stream = root[u"streams"_s][0], format = root[u"format"_s];
    const double bitRate = stream[u"bit_rate"_s].toString().toDouble();
    const double duration = format[u"duration"_s].toString().toDouble();
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype moov = bytes.indexOf("moov");
    if (stream[u"codec_name"_s] == u"aac"_s && stream[u"channels"_s] == 1 &&
        stream[u"sample_rate"_s] == u"44100"_s && std::abs(bitRate - 96000) <= 96000 * 0.2 &&
        format[u"tags"_s][u"major_brand"_s] == u"M4A "_s && std::abs(duration - seconds) <= tolerance &&
        bytes.mid(4, 4) == "ftyp" && moov > 0 && moov < bytes.indexOf("mdat"))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "want " << seconds << " s, moov before mdat: " << json.toStdString();
}

// Mean volume in dBFS of the decoded audio, by ffmpeg's volumedetect filter;
// none when ffmpeg cannot decode the file.
inline std::optional<double> decodedMeanVolume(const QString &path)
{
    const auto log = runProgram(u"ffmpeg"_s, QStringList{u"-nostats"_s, u"-i"_s, path}
                                                 << u"-af volumedetect -f null -"_s.split(' '));
    const auto match =
        QRegularExpression(u"mean_volume: (-?[0-9.]+) dB"_s).match(QString::fromUtf8(log.value_or("")));
    return match.hasMatch() ? std::optional(match.captured(1).toDouble()) : std::nullopt;
}

// Mono 16-bit samples of a 44.1 kHz sine wave; `amplitude` is relative to full scale.
inline std::vector<std::int16_t> sineWave(double amplitude, double frequency, double seconds)
{
    std::vector<std::int16_t> samples(std::size_t(seconds * 44100));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::int16_t(
            std::lround(amplitude * 32767 * std::sin(2 * std::numbers::pi * frequency * i / 44100)));
    return samples;
}

} // namespace pealix::test
