#include "recorder/M4aProbe.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>
#include <numbers>

using namespace Qt::StringLiterals;

namespace pealix::test {

std::optional<QByteArray> runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(findProgram(program), arguments);
    if (process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return process.readAll();
    return std::nullopt;
}

::testing::AssertionResult isMonoAacM4a(const QString &path, double seconds, double tolerance)
{
    const QByteArray json =
        runProgram(u"ffprobe"_s, u"-v error -select_streams a:0 -show_streams -show_format -of json"_s.split(' ')
                                     << path)
            .value_or("ffprobe failed");
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    const QJsonValue stream = root[u"streams"_s][0];
    const QJsonValue format = root[u"format"_s];
    auto near = [](const QJsonValue &value, double expected, double tolerance) {
        return std::abs(value.toString().toDouble() - expected) <= tolerance;
    };
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype moov = bytes.indexOf("moov");
    if (stream[u"codec_name"_s] == u"aac"_s && stream[u"channels"_s] == 1 && stream[u"sample_rate"_s] == u"44100"_s &&
        near(stream[u"bit_rate"_s], 96000, 96000 * 0.2) && format[u"tags"_s][u"major_brand"_s] == u"M4A "_s &&
        near(format[u"duration"_s], seconds, tolerance) && bytes.mid(4, 4) == "ftyp" && moov > 0 &&
        moov < bytes.indexOf("mdat"))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "want " << seconds << " s, moov at " << moov << ", mdat at "
                                         << bytes.indexOf("mdat") << ": " << json.toStdString();
}

std::optional<double> decodedMeanVolume(const QString &path)
{
    const auto log = runProgram(u"ffmpeg"_s, QStringList{u"-nostats"_s, u"-i"_s, path}
                                                 << u"-af volumedetect -f null -"_s.split(' '));
    const auto match = QRegularExpression(u"mean_volume: (-?[0-9.]+) dB"_s).match(QString::fromUtf8(log.value_or("")));
    return match.hasMatch() ? std::optional(match.captured(1).toDouble()) : std::nullopt;
}

std::vector<std::int16_t> sineWave(double amplitude, double frequency, double seconds)
{
    std::vector<std::int16_t> samples(std::size_t(seconds * 44100));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::int16_t(std::lround(
            std::clamp(amplitude * std::sin(2 * std::numbers::pi * frequency * double(i) / 44100) * 32767.0,
                       -32768.0, 32767.0)));
    return samples;
}

} // namespace pealix::test
