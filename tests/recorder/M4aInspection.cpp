#include "recorder/M4aInspection.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>
#include <numbers>

namespace pealix::test {

namespace {

std::optional<QByteArray> run(const QString &program, const QStringList &arguments, bool wantStderr)
{
    const QString path = findProgram(program);
    if (path.isEmpty())
        return std::nullopt;
    QProcess process;
    process.start(path, arguments);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(2000);
        return std::nullopt;
    }
    return wantStderr ? process.readAllStandardError() : process.readAllStandardOutput();
}

} // namespace

std::optional<ProbedAudio> probeAudio(const QString &path)
{
    const auto out = run(QStringLiteral("ffprobe"),
                         {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                          QStringLiteral("a:0"), QStringLiteral("-show_streams"), QStringLiteral("-show_format"),
                          QStringLiteral("-of"), QStringLiteral("json"), path},
                         false);
    if (!out)
        return std::nullopt;
    const QJsonObject root = QJsonDocument::fromJson(*out).object();
    const QJsonArray streams = root.value(QStringLiteral("streams")).toArray();
    if (streams.isEmpty())
        return std::nullopt;
    const QJsonObject stream = streams.first().toObject();
    const QJsonObject format = root.value(QStringLiteral("format")).toObject();
    ProbedAudio probed;
    probed.codec = stream.value(QStringLiteral("codec_name")).toString();
    probed.channels = stream.value(QStringLiteral("channels")).toInt();
    probed.sampleRate = stream.value(QStringLiteral("sample_rate")).toString().toInt();
    probed.bitRate = stream.value(QStringLiteral("bit_rate")).toString().toLongLong();
    probed.majorBrand = format.value(QStringLiteral("tags")).toObject().value(QStringLiteral("major_brand")).toString();
    probed.duration = format.value(QStringLiteral("duration")).toString().toDouble();
    return probed;
}

QStringList topLevelBoxes(const QString &path)
{
    QFile file(path);
    QStringList boxes;
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    const qint64 size = file.size();
    qint64 at = 0;
    while (at + 8 <= size && boxes.size() < 64) {
        file.seek(at);
        const QByteArray head = file.read(16);
        if (head.size() < 8)
            break;
        auto be32 = [&](int i) {
            return (quint64(quint8(head[i])) << 24) | (quint64(quint8(head[i + 1])) << 16)
                | (quint64(quint8(head[i + 2])) << 8) | quint64(quint8(head[i + 3]));
        };
        quint64 length = be32(0);
        if (length == 1 && head.size() == 16)
            length = (be32(8) << 32) | be32(12);
        else if (length == 0)
            length = quint64(size - at);
        if (length < 8)
            break;
        boxes << QString::fromLatin1(head.mid(4, 4));
        at += qint64(length);
    }
    return boxes;
}

std::optional<double> decodedMeanVolume(const QString &path)
{
    const auto err = run(QStringLiteral("ffmpeg"),
                         {QStringLiteral("-hide_banner"), QStringLiteral("-nostats"), QStringLiteral("-i"), path,
                          QStringLiteral("-af"), QStringLiteral("volumedetect"), QStringLiteral("-f"),
                          QStringLiteral("null"), QStringLiteral("-")},
                         true);
    if (!err)
        return std::nullopt;
    const auto match = QRegularExpression(QStringLiteral("mean_volume: (-?[0-9.]+) dB")).match(QString::fromUtf8(*err));
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toDouble();
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
