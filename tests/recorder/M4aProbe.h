#pragma once

#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

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
    const bool ok = process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit;
    return ok && process.exitCode() == 0 ? std::optional(process.readAll()) : std::nullopt;
}

// Success when ffprobe reads `path` as mono 44.1 kHz AAC near 96 kbit/s in an
// "M4A " file whose index (moov) precedes the audio (mdat), lasting `seconds`
// within `tolerance`.
inline ::testing::AssertionResult isMonoAacM4a(const QString &path, double seconds, double tolerance)
{
    QStringList arguments = u"-v error -of default=nw=1 -show_entries stream=codec_name,sample_rate,"
                            u"channels,bit_rate:format=duration:format_tags=major_brand"_s.split(' ');
    const QString info = QString::fromUtf8(runProgram(u"ffprobe"_s, arguments << path).value_or(""));
    const auto found = QRegularExpression(u"codec_name=aac\nsample_rate=44100\nchannels=1\nbit_rate=(\\d+)\n"
                                          u"duration=(\\S+)\nTAG:major_brand=M4A \n"_s)
                           .match(info);
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype moov = bytes.indexOf("moov");
    if (found.hasMatch() && std::abs(found.captured(1).toDouble() - 96000) <= 19200 &&
        std::abs(found.captured(2).toDouble() - seconds) <= tolerance && moov > 0 &&
        moov < bytes.indexOf("mdat"))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "want " << seconds << " s, moov first: " << info.toStdString();
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
