#include "recorder/M4aProbe.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtEndian>

#include <cmath>
#include <numbers>

namespace pealix::test {

std::optional<QByteArray> runProgram(const QString &program, const QStringList &arguments, bool wantStderr)
{
    QProcess process;
    process.start(findProgram(program), arguments);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(2000);
        return std::nullopt;
    }
    return wantStderr ? process.readAllStandardError() : process.readAllStandardOutput();
}

namespace {

// The types of the file's top-level MPEG-4 boxes in file order ("ftyp", "moov", ...).
QStringList topLevelBoxes(const QString &path)
{
    QFile file(path);
    QStringList boxes;
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    for (qint64 at = 0; at + 8 <= file.size() && boxes.size() < 64;) {
        file.seek(at);
        const QByteArray head = file.read(8);
        const quint32 length = qFromBigEndian<quint32>(head.constData()); // ours never need 64-bit sizes
        if (length < 8)
            break;
        boxes << QString::fromLatin1(head.mid(4, 4));
        at += length;
    }
    return boxes;
}

} // namespace

::testing::AssertionResult isMonoAacM4a(const QString &path, double seconds, double tolerance,
                                        double bitRateTolerance)
{
    const auto out = runProgram(
        QStringLiteral("ffprobe"),
        QStringLiteral("-v error -select_streams a:0 -show_streams -show_format -of json").split(' ') << path,
        false);
    const QJsonObject root = out ? QJsonDocument::fromJson(*out).object() : QJsonObject();
    const QJsonObject stream = root.value(QStringLiteral("streams")).toArray().first().toObject();
    const QJsonObject format = root.value(QStringLiteral("format")).toObject();
    const QString codec = stream.value(QStringLiteral("codec_name")).toString();
    const int channels = stream.value(QStringLiteral("channels")).toInt();
    const int rate = stream.value(QStringLiteral("sample_rate")).toString().toInt();
    const double bitRate = stream.value(QStringLiteral("bit_rate")).toString().toDouble();
    const QString brand =
        format.value(QStringLiteral("tags")).toObject().value(QStringLiteral("major_brand")).toString();
    const double duration = format.value(QStringLiteral("duration")).toString().toDouble();
    const QStringList boxes = topLevelBoxes(path);
    const qsizetype moov = boxes.indexOf(QStringLiteral("moov"));
    const qsizetype mdat = boxes.indexOf(QStringLiteral("mdat"));
    if (codec == QStringLiteral("aac") && channels == 1 && rate == 44100 && brand == QStringLiteral("M4A ") &&
        std::abs(bitRate - 96000) <= 96000 * bitRateTolerance && std::abs(duration - seconds) <= tolerance &&
        boxes.value(0) == QStringLiteral("ftyp") && moov >= 0 && mdat > moov)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << codec.toStdString() << ' ' << channels << " ch " << rate << " Hz " << bitRate
           << " bit/s brand '" << brand.toStdString() << "' " << duration << " s (want " << seconds
           << "), boxes " << boxes.join(' ').toStdString();
}

std::optional<double> decodedMeanVolume(const QString &path)
{
    const auto err = runProgram(
        QStringLiteral("ffmpeg"),
        QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-nostats"), QStringLiteral("-i"), path}
            << QStringLiteral("-af volumedetect -f null -").split(' '),
        true);
    const auto match = QRegularExpression(QStringLiteral("mean_volume: (-?[0-9.]+) dB"))
                           .match(QString::fromUtf8(err.value_or("")));
    return match.hasMatch() ? std::optional(match.captured(1).toDouble()) : std::nullopt;
}

std::vector<std::int16_t> sineWave(double amplitude, double frequency, double seconds, int rate)
{
    std::vector<std::int16_t> samples(std::size_t(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double value = amplitude * std::sin(2 * std::numbers::pi * frequency * double(i) / rate);
        samples[i] = std::int16_t(std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0)));
    }
    return samples;
}

} // namespace pealix::test
