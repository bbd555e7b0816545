#include "model/Speaker.h"

#include <QHashFunctions>

#include <cmath>

namespace pealix {

namespace {
const QString kSonosRaw = QStringLiteral("sonos");
const QString kChromecastRaw = QStringLiteral("chromecast");
constexpr double kMaximumPort = 65535;
} // namespace

QString rawValue(SpeakerKind kind)
{
    return kind == SpeakerKind::Sonos ? kSonosRaw : kChromecastRaw;
}

std::optional<SpeakerKind> speakerKindFromRawValue(const QString &raw)
{
    if (raw == kSonosRaw)
        return SpeakerKind::Sonos;
    if (raw == kChromecastRaw)
        return SpeakerKind::Chromecast;
    return std::nullopt;
}

QJsonObject Speaker::toJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), id},     {QStringLiteral("kind"), rawValue(kind)},
        {QStringLiteral("name"), name}, {QStringLiteral("host"), host},
        {QStringLiteral("port"), port},
    };
    if (sonosUUID)
        object.insert(QStringLiteral("sonosUUID"), *sonosUUID);
    return object;
}

std::optional<Speaker> Speaker::fromJson(const QJsonObject &object)
{
    const auto text = [&](const char *key) -> std::optional<QString> {
        const QJsonValue value = object.value(QLatin1String(key));
        return value.isString() ? std::optional(value.toString()) : std::nullopt;
    };
    const auto id = text("id");
    const auto kindText = text("kind");
    const auto name = text("name");
    const auto host = text("host");
    const QJsonValue portValue = object.value(QLatin1String("port"));
    if (!id || !kindText || !name || !host || !portValue.isDouble())
        return std::nullopt;
    const auto kind = speakerKindFromRawValue(*kindText);
    // JSON numbers are doubles. Range first: converting a double outside the
    // integer's range is undefined, and no TCP port lies outside 0..65535.
    const double portNumber = portValue.toDouble();
    if (!kind || !(portNumber >= 0 && portNumber <= kMaximumPort) || portNumber != std::floor(portNumber))
        return std::nullopt;

    Speaker speaker{*id, *kind, *name, *host, static_cast<qint64>(portNumber), std::nullopt};
    if (object.contains(QLatin1String("sonosUUID"))) {
        const auto uuid = text("sonosUUID");
        if (!uuid)
            return std::nullopt;
        speaker.sonosUUID = uuid;
    }
    return speaker;
}

size_t qHash(SpeakerKind kind, size_t seed) noexcept
{
    return qHash(rawValue(kind), seed);
}

size_t qHash(const Speaker &speaker, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, speaker.id);
    seed = combine(seed, rawValue(speaker.kind));
    seed = combine(seed, speaker.name);
    seed = combine(seed, speaker.host);
    seed = combine(seed, speaker.port);
    seed = combine(seed, speaker.sonosUUID.has_value() ? 1 : 0);
    if (speaker.sonosUUID)
        seed = combine(seed, *speaker.sonosUUID);
    return seed;
}

} // namespace pealix
