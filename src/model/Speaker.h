#pragma once

#include <QHash>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <functional>
#include <optional>

namespace pealix {

// The two device families; each has its own control path.
enum class SpeakerKind { Sonos, Chromecast };

QString rawValue(SpeakerKind kind);
std::optional<SpeakerKind> speakerKindFromRawValue(const QString &raw);

// One playback device as discovery found it. Ids begin with "sonos:" or "cast:",
// in agreement with `kind`; the id is the key of the user's selection.
struct Speaker
{
    QString id;
    SpeakerKind kind = SpeakerKind::Sonos;
    QString name;
    QString host;
    qint64 port = 0;
    std::optional<QString> sonosUUID;

    friend bool operator==(const Speaker &, const Speaker &) = default;

    QJsonObject toJson() const;
    // No value unless every member is present with the right type, the kind is
    // known and the port is a whole number from 0 to 65535.
    static std::optional<Speaker> fromJson(const QJsonObject &object);
};

size_t qHash(SpeakerKind kind, size_t seed = 0) noexcept;
size_t qHash(const Speaker &speaker, size_t seed = 0) noexcept;

} // namespace pealix

template <> struct std::hash<pealix::Speaker>
{
    size_t operator()(const pealix::Speaker &speaker) const noexcept { return pealix::qHash(speaker); }
};

Q_DECLARE_METATYPE(pealix::Speaker)
